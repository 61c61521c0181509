#pragma once

#include "operacion/ProgramState.h"
#include "operacion/Shell.h"

namespace pontix {

// The table builders of Exportar, each rebuilding its working table from the administration
// document (or from the tables built before it), in the order they run.
void buildAsignomt(ProgramState& state, Shell& shell);    // subjects and activities
void buildProft(ProgramState& state, Shell& shell);       // teacher posts
void buildAulat(ProgramState& state, Shell& shell);       // rooms
void buildCursost(ProgramState& state, Shell& shell);     // courses and the assignment passes
void buildGrupost(ProgramState& state, Shell& shell);     // groups and the subject map MATIB
void buildAsigt(ProgramState& state, Shell& shell);       // subject lines
void buildDiashorast(ProgramState& state, Shell& shell);  // the empty days-and-hours grid

}  // namespace pontix

#pragma once

#include "exportar/ProgramState.h"

namespace pontix {

// The table builders of Exportar, each rebuilding its working table from the administration
// document (or from the tables built before it).
void buildAsignomt(ProgramState& state);    // subjects and activities
void buildProft(ProgramState& state);       // teacher posts
void buildAulat(ProgramState& state);       // rooms
void buildDiashorast(ProgramState& state);  // the empty days-and-hours grid

}  // namespace pontix

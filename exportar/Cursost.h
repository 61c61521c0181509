#pragma once

// The courses table CURSOST and the level and course assignment that completes it.

#include "exportar/ProgramState.h"
#include "platform/dbase/Table.h"

namespace pontix {

// The assignment's OK check on an open CURSOST, from its first record: false at the first
// record whose NIVEL or CURSO is blank once blanks and control characters are trimmed.
bool coursesComplete(dbase::Table& cursos);

}  // namespace pontix

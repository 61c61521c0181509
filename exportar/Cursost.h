#pragma once

// The courses table CURSOST and the level and course assignment that completes it.

#include <string_view>
#include <vector>

#include "operacion/ProgramState.h"
#include "platform/dbase/Table.h"

namespace pontix {

// The fields of CURSOST, in their order.
const std::vector<dbase::FieldDef>& cursostFields();

// Whether a level or course number as read from CURSOST counts as missing: nothing but blanks
// and control characters.
bool missingAssignment(std::string_view text);

// The assignment's OK check on an open CURSOST, from its first record: false at the first
// record whose NIVEL or CURSO is missing.
bool coursesComplete(dbase::Table& cursos);

}  // namespace pontix

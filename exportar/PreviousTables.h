#pragma once

// The previous generation of the working tables. Before Exportar replaces a working table it
// moves the table's .DBF and .MDX into ANTERIOR inside the working folder, replacing what an
// earlier run left there, so that the subject lines and the days-and-hours grid a user edited
// in the timetabling program are never lost for good.

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>

#include "exportar/RunReport.h"
#include "platform/dbase/Table.h"

namespace pontix {

// The folder of previous tables inside the working folder (need not exist).
std::filesystem::path previousTablesFolder(const std::filesystem::path& workingDirectory);

// Moves the table's files into the folder of previous tables, noting in the report the table
// kept or why it could not be. Never throws for what concerns the copy: a table that cannot
// be kept is replaced all the same. A table that does not exist leaves an earlier copy as it is
// (it may be the only one left after a run that failed halfway); one another program holds
// open stays where it is.
void keepPreviousTable(const dbase::Table& table, const std::filesystem::path& workingDirectory,
                       RunReport& report) noexcept;

// The level and course number each course code had in the previous CURSOST (the first record
// of a code, where it had either): what the user typed in the run before.
struct PreviousLevel {
  std::string level, number;  // ANSI; blank when the user left it blank
};
using PreviousLevels = std::unordered_map<std::string, PreviousLevel>;
// Empty when there is no previous CURSOST; a damaged one throws pontix::Error.
PreviousLevels previousCourseLevels(const std::filesystem::path& workingDirectory);
// Whether a course of the open CURSOST has a code the previous levels know.
bool hasPreviousLevels(dbase::Table& cursos, const PreviousLevels& previous);
// Fills the blank NIVEL and CURSO of the open CURSOST from the previous levels; values typed
// stay. Returns how many courses changed.
std::size_t fillFromPreviousLevels(dbase::Table& cursos, const PreviousLevels& previous);

// Puts the previous version of a table back in the working folder, and the working one in its
// place, so that doing it again undoes it. `name`: "ASIGT" or "asigt.dbf". Throws
// pontix::Error when there is no previous version or either is open by another program.
// Returns the text that tells what was done.
std::string restorePreviousTable(const std::filesystem::path& workingDirectory, std::string_view name);

}  // namespace pontix

#pragma once

// The levels and course numbers the user gave before: what the level and course dialog (or
// pontix-cli --niveles) left for each course code is remembered in the working folder as soon as
// the dialog closes, however it closes, so that it outlives runs that did not complete; the
// previous CURSOST in ANTERIOR answers for codes never remembered.

#include <filesystem>
#include <string>
#include <unordered_map>

#include "platform/dbase/Table.h"

namespace pontix {

struct PreviousLevel {
  std::string level, number;  // ANSI; blank when never given
};
using PreviousLevels = std::unordered_map<std::string, PreviousLevel>;

// For each course code, the most recent level and course number given (each on its own): the
// remembered ones over those of the previous CURSOST. Empty when there are none; a damaged
// previous CURSOST throws pontix::Error.
PreviousLevels previousCourseLevels(const std::filesystem::path& workingDirectory);
// Remembers the levels and course numbers given in the open CURSOST: for each code, each value
// that is not blank replaces the one remembered. Throws pontix::Error when the file that
// remembers them cannot be written.
void rememberCourseLevels(dbase::Table& cursos, const std::filesystem::path& workingDirectory);
// Whether a course of the open CURSOST has a code the previous levels know.
bool hasPreviousLevels(dbase::Table& cursos, const PreviousLevels& previous);
// Fills the blank NIVEL and CURSO of the open CURSOST from the previous levels; values typed
// stay. Returns how many courses changed.
std::size_t fillFromPreviousLevels(dbase::Table& cursos, const PreviousLevels& previous);

}  // namespace pontix

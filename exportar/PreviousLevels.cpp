#include "exportar/PreviousLevels.h"

#include <algorithm>
#include <map>
#include <system_error>
#include <utility>

#include "exportar/Cursost.h"
#include "operacion/WorkingSet.h"
#include "platform/AnsiText.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/WinPath.h"

namespace pontix {
namespace {

namespace fs = std::filesystem;

// One line a code, "CODI<tab>NIVEL<tab>CURSO" in UTF-8 after a heading line; a tab, line end or
// backslash inside a value is written as \t, \n, \r or \\.
constexpr const char* kLevelsFile = "PONTIX.NIVELES";
constexpr const char* kLevelsHeading = "CODI\tNIVEL\tCURSO";

std::string escaped(const std::string& ansi) {
  std::string out;
  for (char c : ansi::toUtf8(ansi)) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::string unescaped(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    char c = utf8[i];
    if (c == '\\' && i + 1 < utf8.size()) {
      const char next = utf8[++i];
      c = next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    out += c;
  }
  return ansi::fromUtf8(out);
}

// Sorted by code, so that the file changes only where the values do.
using Remembered = std::map<std::string, PreviousLevel>;

// A file that cannot be read as such remembers nothing: it only ever helps.
Remembered readRemembered(const fs::path& file) {
  Remembered remembered;
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return remembered;
  std::string text;
  try {
    text = io::readWholeFile(file);
  } catch (const Error&) {
    return remembered;
  }
  std::string_view rest = text;
  bool heading = true;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (std::exchange(heading, false)) {
      if (line != kLevelsHeading) return {};
      continue;
    }
    const std::size_t a = line.find('\t'), b = a == std::string_view::npos ? a : line.find('\t', a + 1);
    if (b == std::string_view::npos || line.find('\t', b + 1) != std::string_view::npos) continue;
    remembered[unescaped(line.substr(0, a))] = {unescaped(line.substr(a + 1, b - a - 1)),
                                                unescaped(line.substr(b + 1))};
  }
  return remembered;
}

PreviousLevels levelsOfPreviousTable(const fs::path& workingDirectory) {
  PreviousLevels levels;
  const fs::path folder = previousTablesFolder(workingDirectory);
  std::error_code ec;
  if (!fs::is_regular_file(resolveIgnoringCase(folder, "CURSOST.DBF"), ec)) return levels;
  dbase::Table previous(folder, "CURSOST");
  previous.open(dbase::OpenMode::Shared);
  dbase::Field CODI = previous.field("CODI"), NIVEL = previous.field("NIVEL"),
               CURSO = previous.field("CURSO");
  for (previous.first(); !previous.eof(); previous.next()) {
    PreviousLevel level{NIVEL.asText(), CURSO.asText()};
    if (!missingAssignment(level.level) || !missingAssignment(level.number))
      levels.try_emplace(CODI.asText(), std::move(level));
  }
  previous.close();
  return levels;
}

}  // namespace

PreviousLevels previousCourseLevels(const fs::path& workingDirectory) {
  PreviousLevels levels = levelsOfPreviousTable(workingDirectory);
  for (const auto& [code, given] : readRemembered(workingDirectory / kLevelsFile)) {
    PreviousLevel& level = levels[code];
    if (!missingAssignment(given.level)) level.level = given.level;
    if (!missingAssignment(given.number)) level.number = given.number;
  }
  return levels;
}

void rememberCourseLevels(dbase::Table& cursos, const fs::path& workingDirectory) {
  const fs::path file = workingDirectory / kLevelsFile;
  Remembered remembered = readRemembered(file);
  bool changed = false;
  dbase::Field CODI = cursos.field("CODI"), NIVEL = cursos.field("NIVEL"), CURSO = cursos.field("CURSO");
  for (cursos.first(); !cursos.eof(); cursos.next()) {
    const std::string level = NIVEL.asText(), number = CURSO.asText();
    const bool hasLevel = !missingAssignment(level), hasNumber = !missingAssignment(number);
    if (!hasLevel && !hasNumber) continue;
    PreviousLevel& kept = remembered[CODI.asText()];
    if (hasLevel && kept.level != level) kept.level = level, changed = true;
    if (hasNumber && kept.number != number) kept.number = number, changed = true;
  }
  if (!changed) return;
  std::string text = std::string(kLevelsHeading) + "\n";
  for (const auto& [code, level] : remembered)
    text += escaped(code) + "\t" + escaped(level.level) + "\t" + escaped(level.number) + "\n";
  io::writeFileAtomically(file, text);
}

bool hasPreviousLevels(dbase::Table& cursos, const PreviousLevels& previous) {
  if (previous.empty()) return false;
  dbase::Field CODI = cursos.field("CODI");
  for (cursos.first(); !cursos.eof(); cursos.next())
    if (previous.contains(CODI.asText())) return true;
  return false;
}

std::size_t fillFromPreviousLevels(dbase::Table& cursos, const PreviousLevels& previous) {
  if (previous.empty()) return 0;
  dbase::Field CODI = cursos.field("CODI"), NIVEL = cursos.field("NIVEL"), CURSO = cursos.field("CURSO");
  std::size_t changed = 0;
  for (cursos.first(); !cursos.eof(); cursos.next()) {
    auto found = previous.find(CODI.asText());
    if (found == previous.end()) continue;
    const bool level = missingAssignment(NIVEL.asText()) && !missingAssignment(found->second.level);
    const bool number = missingAssignment(CURSO.asText()) && !missingAssignment(found->second.number);
    if (!level && !number) continue;
    cursos.edit();
    if (level) NIVEL.setText(found->second.level);
    if (number) CURSO.setText(found->second.number);
    cursos.post();
    ++changed;
  }
  return changed;
}

}  // namespace pontix

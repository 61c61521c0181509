#include "app/CliShell.h"

#include <ostream>

#include "exportar/ProgramState.h"
#include "platform/AnsiText.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/dbase/DbfValue.h"

namespace pontix::cli {
namespace {

std::string_view trimBlanks(std::string_view text) {
  const char* blanks = " \t\r";
  std::size_t start = text.find_first_not_of(blanks);
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(blanks) - start + 1);
}

std::vector<std::string> splitFields(std::string_view line) {
  char separator = line.find(';') != std::string_view::npos ? ';' : ',';
  std::vector<std::string> fields;
  for (std::size_t start = 0;;) {
    std::size_t end = line.find(separator, start);
    fields.emplace_back(trimBlanks(line.substr(start, end - start)));
    if (end == std::string_view::npos) return fields;
    start = end + 1;
  }
}

}  // namespace

std::vector<CourseLevel> readLevelsFile(const std::filesystem::path& file) {
  std::string contents = io::readWholeFile(file);
  if (contents.starts_with("\xEF\xBB\xBF")) contents.erase(0, 3);
  std::vector<CourseLevel> levels;
  std::string_view rest = contents;
  bool first = true;
  for (int number = 1; !rest.empty(); ++number) {
    std::size_t end = rest.find('\n');
    std::string_view line = trimBlanks(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.empty()) continue;
    std::vector<std::string> fields = splitFields(line);
    bool header = first && ansi::equalsIgnoreCase(fields[0], "CODI");
    first = false;
    if (header) continue;
    if (fields.size() != 3)
      throw Error(ErrorKind::InvalidArgument, "El archivo de niveles " + file.string() +
                                                  " tiene un error en la línea " + std::to_string(number) +
                                                  ": se esperaba CODI;NIVEL;CURSO");
    levels.push_back({fields[0], fields[1], fields[2]});
  }
  return levels;
}

bool CliShell::chooseXmlFile(std::string& path) {
  path = options_.document;
  return true;
}

void CliShell::showMessage(const std::string& text) {
  if (text == "No existe archivo")
    err_ << text << ": " << options_.document << '\n';
  else
    err_ << text << '\n';
}

CourseAssignmentPass CliShell::runCourseAssignmentPass(ProgramState& state) {
  dbase::Table table(state.workingDirectory, "CURSOST");
  table.open(dbase::OpenMode::Exclusive);
  const auto codeWidth = static_cast<std::size_t>(table.field("CODI").width());
  std::vector<std::string> incomplete;
  for (table.first(); !table.eof(); table.next()) {
    const std::string code = table.field("CODI").asText();
    for (const CourseLevel& line : options_.levels) {
      if (dbase::value::storedText(ansi::fromUtf8(line.code), codeWidth) != code) continue;
      table.edit();
      table.field("NIVEL").setText(ansi::fromUtf8(line.level));
      table.field("CURSO").setText(ansi::fromUtf8(line.course));
      table.post();
      break;
    }
    if (trimBlanks(table.field("NIVEL").asText()).empty() ||
        trimBlanks(table.field("CURSO").asText()).empty())
      incomplete.push_back(code);
  }
  table.close();
  if (incomplete.empty() || options_.allowIncomplete) return {};
  err_ << "Hay cursos sin nivel o sin curso (se pueden completar con --niveles):\n";
  for (const std::string& code : incomplete) out_ << ansi::toUtf8(code) << '\n';
  return {.FaltaDato = false, .Salida = "fuera"};
}

}  // namespace pontix::cli

#include "app/CliShell.h"

#include <ostream>
#include <unordered_map>

#include "exportar/Cursost.h"
#include "exportar/PreviousLevels.h"
#include "operacion/ProgramState.h"
#include "operacion/RunReport.h"
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
  auto refuse = [&](const std::string& why) {
    throw Error(ErrorKind::InvalidArgument, "El archivo de niveles " + file.string() + " " + why,
                "Corríjalo (una línea CODI;NIVEL;CURSO por curso) y repita la orden.");
  };
  // A pipe or a device would be waited on for ever, or read without end.
  std::error_code ec;
  const std::filesystem::file_status status = std::filesystem::status(file, ec);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    refuse(
        "no es un archivo de texto (es una carpeta, una tubería o un dispositivo): indique el archivo con "
        "las líneas CODI;NIVEL;CURSO");
  std::string contents = io::readWholeFile(file);
  // Spreadsheets and editors add the mark; Notepad's "Unicode" is UTF-16, which would only
  // give codes that match nothing.
  if (contents.starts_with("\xEF\xBB\xBF")) contents.erase(0, 3);
  if (contents.starts_with("\xFF\xFE") || contents.starts_with("\xFE\xFF") ||
      contents.find('\0') != std::string::npos)
    refuse("está en UTF-16: guárdelo como texto UTF-8");
  std::vector<CourseLevel> levels;
  struct Seen {
    std::size_t entry;
    int line;
  };
  std::unordered_map<std::string, Seen> seen;  // by code
  std::string_view rest = contents;
  bool first = true;
  for (int number = 1; !rest.empty(); ++number) {
    std::size_t end = rest.find('\n');
    std::string_view line = trimBlanks(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!ansi::isUtf8(line))
      refuse("no está en UTF-8 (línea " + std::to_string(number) + "): guárdelo como texto UTF-8");
    if (line.empty()) continue;
    std::vector<std::string> fields = splitFields(line);
    bool header = first && ansi::equalsIgnoreCase(fields[0], "CODI");
    first = false;
    if (header) continue;
    if (fields.size() != 3)
      refuse("tiene un error en la línea " + std::to_string(number) + ": se esperaba CODI;NIVEL;CURSO");
    auto [it, isNew] = seen.try_emplace(fields[0], Seen{levels.size(), number});
    if (isNew) {
      levels.push_back({fields[0], fields[1], fields[2]});
      continue;
    }
    const CourseLevel& before = levels[it->second.entry];
    if (before.level != fields[1] || before.course != fields[2])
      refuse("da valores distintos al curso " + fields[0] + " en las líneas " +
             std::to_string(it->second.line) + " y " + std::to_string(number));
  }
  return levels;
}

bool CliShell::chooseXmlFile(std::string& path) {
  path = options_.document;
  return true;
}

bool CliShell::confirmEmptyDocument() {
  if (options_.emptyAllowed) return true;
  err_ << "El documento " << options_.document
       << " no contiene materias, profesores, aulas ni cursos: no se ha cambiado ninguna tabla de trabajo.\n"
          "Si de verdad quiere vaciar las tablas de trabajo, repita la orden con --vaciar.\n";
  return false;
}

void CliShell::showMessage(const std::string& text) {
  if (text == "No existe archivo")
    err_ << text << ": " << options_.document << '\n';
  else
    err_ << text << '\n';
}

void CliShell::showFinished(const std::string& text, const RunReport& report) {
  showMessage(text);
  for (const std::string& line : report.summary().lines) err_ << line << '\n';
}

// The levels file fills CURSOST where the dialog's grid would; the pass loop is the core's.
CourseAssignmentPass CliShell::runCourseAssignmentPass(ProgramState& state) {
  dbase::Table table(state.wwTableCursos.filePath().parent_path(), "CURSOST", "wwTableCursosT");
  table.open(dbase::OpenMode::Exclusive);
  // A level or course number cut to its field, or with characters the code page lacks, is told.
  table.observe(&state.report);
  if (options_.previousLevels) {
    const PreviousLevels previous = previousCourseLevels(state.workingDirectory);
    if (previous.empty())
      err_ << "No hay niveles anteriores que recuperar en " << state.workingDirectory.string() << '\n';
    const std::size_t filled = fillFromPreviousLevels(table, previous);
    if (!previous.empty())
      err_ << "Niveles anteriores recuperados: " << filled << (filled == 1 ? " curso" : " cursos") << '\n';
  }
  dbase::Field CODI = table.field("CODI"), NIVEL = table.field("NIVEL"), CURSO = table.field("CURSO");
  // By the code as the table stores it, so that a code cut to the field's width still matches.
  std::unordered_map<std::string, const CourseLevel*> byCode;
  for (const CourseLevel& line : options_.levels)
    byCode.emplace(
        dbase::value::storedText(ansi::fromUtf8(line.code), static_cast<std::size_t>(CODI.width())), &line);
  std::vector<std::string> incomplete;
  for (table.first(); !table.eof(); table.next()) {
    const std::string code = CODI.asText();
    if (auto it = byCode.find(code); it != byCode.end()) {
      table.edit();
      for (auto [field, given] :
           {std::pair{&NIVEL, &it->second->level}, std::pair{&CURSO, &it->second->course}}) {
        std::string text;
        std::size_t replaced = 0;
        ansi::fromUtf8(*given, text, replaced);
        if (replaced) state.report.noteReplaced("CURSOST." + field->name(), *given, text, replaced);
        field->setText(text);
      }
      table.post();
    }
    if (missingAssignment(NIVEL.asText()) || missingAssignment(CURSO.asText())) incomplete.push_back(code);
  }
  table.close();
  if (incomplete.empty() || options_.allowIncomplete) return {};
  err_ << "Hay cursos sin nivel o sin curso (se pueden completar con --niveles):\n";
  for (const std::string& code : incomplete) out_ << ansi::toUtf8(code) << '\n';
  return {.FaltaDato = false, .Salida = "fuera"};
}

}  // namespace pontix::cli

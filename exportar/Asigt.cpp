#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <unordered_map>

#include "exportar/Builders.h"
#include "exportar/Conventions.h"
#include "exportar/SubjectLines.h"

namespace pontix {

using dbase::FieldKind;

std::optional<double> weeklyHours(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return std::nullopt;
  // Either separator, whatever the system's: "2.5" and "2,5" are two and a half hours.
  std::string number(text);
  for (char& c : number)
    if (c == ',') c = '.';
  double value = 0;
  auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(value)) return 1.0;
  return value;
}

std::string lessonPattern(std::optional<double> hours) {
  const double n = std::ceil(hours.value_or(0));
  if (n <= 0) return "";
  if (n <= 13) return std::string(static_cast<std::size_t>(n), '1');
  char digits[400];
  std::snprintf(digits, sizeof digits, "%.0f", n - 13);
  return digits + std::string(13, '1');
}

void buildAsigt(ProgramState& state, Shell& shell) {
  dbase::Table table(state.workingDirectory, "ASIGT.DBF");
  createWorkingTable(state, table,
                     {{"CASIG", FieldKind::Text, 10},
                      {"CPROF", FieldKind::Text, 10},
                      {"CGRUP", FieldKind::Text, 10},
                      {"CAULA", FieldKind::Text, 10},
                      {"TURNO", FieldKind::Text, 1},
                      {"NIVEL", FieldKind::Text, 5},
                      {"CURSO", FieldKind::Text, 3},
                      {"GRUPO", FieldKind::Text, 2},
                      {"HORAS", FieldKind::Float, 0},
                      {"SESIONES", FieldKind::Text, 20},
                      {"NCONEX", FieldKind::Text, 4},
                      {"CTAREA", FieldKind::Text, 10}});
  ScopedOpen grupos(state.wwTableGrupos, dbase::OpenMode::Exclusive);
  ScopedOpen asignaturas(state.wwTableNomAsg, dbase::OpenMode::Exclusive);
  if (!shell.confirmSubjectLines()) {
    table.close();
    return;
  }

  // The subjects of each course, in record order: their code and hours, one after the other
  // in a pool rather than as strings each, for there may be hundreds of thousands.
  struct Subject {
    std::size_t at;
    std::uint32_t codeLength, hoursLength;
  };
  std::string pool;
  std::unordered_map<std::string, std::vector<Subject>> byCourse;
  {
    dbase::Table& t = state.wwTableNomAsg;
    dbase::Field CODICURS = t.field("CODICURS"), COD = t.field("COD"), HORAS = t.field("HORAS");
    for (t.first(); !t.eof(); t.next()) {
      const std::string code = COD.asText(), hours = HORAS.asText();
      byCourse[CODICURS.asText()].push_back(
          {pool.size(), static_cast<std::uint32_t>(code.size()), static_cast<std::uint32_t>(hours.size())});
      pool += code;
      pool += hours;
    }
  }
  auto codeOf = [&pool](const Subject& s) { return std::string_view(pool).substr(s.at, s.codeLength); };
  auto hoursOf = [&pool](const Subject& s) {
    return std::string_view(pool).substr(s.at + s.codeLength, s.hoursLength);
  };

  dbase::Field CASIG = table.field("CASIG"), CPROF = table.field("CPROF"), CGRUP = table.field("CGRUP"),
               CAULA = table.field("CAULA"), TURNO = table.field("TURNO"), NIVEL = table.field("NIVEL"),
               CURSO = table.field("CURSO"), GRUPO = table.field("GRUPO"), HORAS = table.field("HORAS"),
               SESIONES = table.field("SESIONES");
  dbase::Table& g = state.wwTableGrupos;
  dbase::Field ABREV = g.field("ABREV"), GTURNO = g.field("TURNO"), GNIVEL = g.field("NIVEL"),
               GCURSO = g.field("CURSO"), GGRUPO = g.field("GRUPO"), GCODICURS = g.field("CODICURS");
  for (g.first(); !g.eof(); g.next()) {
    auto subjects = byCourse.find(GCODICURS.asText());
    if (subjects == byCourse.end()) continue;
    const std::string abrev = ABREV.asText(), turno = GTURNO.asText(), nivel = GNIVEL.asText(),
                      curso = GCURSO.asText(), grupo = GGRUPO.asText();
    for (const Subject& subject : subjects->second) {
      const std::optional<double> hours = weeklyHours(hoursOf(subject));
      table.append();
      CASIG.setText(codeOf(subject));
      CPROF.setText("");
      CGRUP.setText(abrev);
      CAULA.setText("");
      TURNO.setText(turno);
      NIVEL.setText(nivel);
      CURSO.setText(curso);
      GRUPO.setText(grupo);
      if (hours) HORAS.setFloat(*hours);
      SESIONES.setText(lessonPattern(hours));
      table.post();
    }
  }
  table.close();
}

}  // namespace pontix

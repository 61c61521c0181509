#include <unordered_map>

#include "exportar/Abbreviations.h"
#include "exportar/Builders.h"
#include "exportar/Conventions.h"
#include "exportar/Cursost.h"
#include "platform/dbase/DbfValue.h"

namespace pontix {
namespace {

using dbase::FieldKind;

struct Course {
  std::string level, number, description;
};

// CURSOST by CODI, as the main window's table object reads it: the first record of a code wins.
// The courses the user left without level or course number go to the report.
std::unordered_map<std::string, Course> coursesByCode(dbase::Table& cursos, RunReport& report) {
  ScopedOpen open(cursos, dbase::OpenMode::Exclusive);
  dbase::Field CODI = cursos.field("CODI"), NIVEL = cursos.field("NIVEL"), CURSO = cursos.field("CURSO"),
               DESCRIPCIO = cursos.field("DESCRIPCIO");
  std::unordered_map<std::string, Course> courses;
  for (cursos.first(); !cursos.eof(); cursos.next()) {
    Course course{NIVEL.asText(), CURSO.asText(), DESCRIPCIO.asText()};
    if (missingAssignment(course.level) || missingAssignment(course.number))
      report.note(RunReport::Kind::CourseWithoutLevel, "", CODI.asText());
    courses.try_emplace(CODI.asText(), std::move(course));
  }
  return courses;
}

void buildGroups(ProgramState& state) {
  const std::unordered_map<std::string, Course> courses = coursesByCode(state.wwTableCursos, state.report);
  dbase::Table table(state.workingDirectory, "GRUPOST.DBF");
  createWorkingTable(state, table,
                     {{"ABREV", FieldKind::Text, 10},
                      {"TURNO", FieldKind::Text, 1},
                      {"NIVEL", FieldKind::Text, 5},
                      {"CURSO", FieldKind::Text, 3},
                      {"GRUPO", FieldKind::Text, 2},
                      {"CODI", FieldKind::Text, 20},
                      {"CODICURS", FieldKind::Text, 20},
                      {"DESCRIP", FieldKind::Text, 80}});
  dbase::Field ABREV = table.field("ABREV"), NIVEL = table.field("NIVEL"), CURSO = table.field("CURSO"),
               GRUPO = table.field("GRUPO"), CODI = table.field("CODI"), CODICURS = table.field("CODICURS"),
               DESCRIP = table.field("DESCRIP");
  const auto codeWidth = static_cast<std::size_t>(CODICURS.width());
  CandidateAbbreviations used;

  for (const xml::Element& curs : selectElements(state, "/CENTRE/CURSOS/CURS")) {
    const std::string courseCode = readAttribute(curs, "codi", state.report);
    // Looked up as CURSOST stores the code: one cut to the field's width still finds the level
    // and course number the user gave it.
    auto found = courses.find(dbase::value::storedText(courseCode, codeWidth));
    const Course course = found == courses.end() ? Course{} : found->second;
    const std::vector<xml::Element> groups = curs.children("GRUP");
    if (groups.empty()) state.report.note(RunReport::Kind::CourseWithoutGroups, "", courseCode);
    for (const xml::Element& grup : groups) {
      std::vector<std::string> a = readAttributes(grup, {"codi", "nom"}, state.report);
      const std::string &code = a[0], &name = a[1];
      const std::string base = std::string(ansi::firstChars(course.level, 5)) +
                               std::string(ansi::firstChars(course.number, 2)) + name;
      table.append();
      const std::string abbreviation = used.take(base, ansi::firstChars(base, 9));
      if (used.numbered())
        state.report.note(RunReport::Kind::NumberedAbbreviation, "GRUPOST", base, abbreviation);
      ABREV.setText(abbreviation);
      NIVEL.setText(course.level);
      CURSO.setText(course.number);
      GRUPO.setText(name);
      CODI.setText(code);
      CODICURS.setText(courseCode);
      DESCRIP.setText("(" + code + ") " + course.description + " - " + name);
      table.post();
    }
  }
  table.close();
}

// One MATIB record per subject whose course has a group, with the level and course number of
// the course's first group.
void buildSubjectMap(ProgramState& state) {
  dbase::Table matib(state.workingDirectory, "MATIB.DBF");
  createWorkingTable(state, matib,
                     {{"ABREV", FieldKind::Text, 10},
                      {"ABREV8", FieldKind::Text, 10},
                      {"NOMBRE", FieldKind::Text, 80},
                      {"NIVEL", FieldKind::Text, 5},
                      {"CURSO", FieldKind::Text, 3}},
                     {{"ABREV", "ABREV"}});
  dbase::Field ABREV = matib.field("ABREV"), ABREV8 = matib.field("ABREV8"), NOMBRE = matib.field("NOMBRE"),
               NIVEL = matib.field("NIVEL"), CURSO = matib.field("CURSO");

  struct Level {
    std::string level, number;
  };
  std::unordered_map<std::string, Level> byCourse;
  {
    ScopedOpen open(state.wwTableGrupos, dbase::OpenMode::Exclusive);
    dbase::Table& grupos = state.wwTableGrupos;
    dbase::Field CODICURS = grupos.field("CODICURS"), GNIVEL = grupos.field("NIVEL"),
                 GCURSO = grupos.field("CURSO");
    for (grupos.first(); !grupos.eof(); grupos.next())
      byCourse.try_emplace(CODICURS.asText(), Level{GNIVEL.asText(), GCURSO.asText()});
  }

  ScopedOpen open(state.wwTableNomAsg, dbase::OpenMode::Exclusive);
  dbase::Table& asignaturas = state.wwTableNomAsg;
  dbase::Field CODICURS = asignaturas.field("CODICURS"), COD = asignaturas.field("COD"),
               CODLARGO = asignaturas.field("CODLARGO"), ANOMBRE = asignaturas.field("NOMBRE"),
               ESTAREA = asignaturas.field("ESTAREA");
  for (asignaturas.first(); !asignaturas.eof(); asignaturas.next()) {
    auto found = byCourse.find(CODICURS.asText());
    if (found == byCourse.end()) {
      // Activities belong to no course; a subject left out is worth telling.
      if (!ESTAREA.asLogical())
        state.report.note(RunReport::Kind::SubjectWithoutMatib, "",
                          COD.asText() + " (curso " + CODICURS.asText() + ")");
      continue;
    }
    matib.append();
    ABREV.setText(COD.asText());
    ABREV8.setText(CODLARGO.asText());
    NOMBRE.setText(ANOMBRE.asText());
    NIVEL.setText(found->second.level);
    CURSO.setText(found->second.number);
    matib.post();
  }
  matib.close();
}

}  // namespace

void buildGrupost(ProgramState& state, Shell&) {
  buildGroups(state);
  buildSubjectMap(state);
}

}  // namespace pontix

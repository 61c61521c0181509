#include "exportar/Cursost.h"

#include <algorithm>

#include "exportar/Builders.h"
#include "exportar/Conventions.h"
#include "exportar/PreviousLevels.h"

namespace pontix {

using dbase::FieldKind;

const std::vector<dbase::FieldDef>& cursostFields() {
  static const std::vector<dbase::FieldDef> fields = {{"CODI", FieldKind::Text, 20},
                                                      {"DESCRIPCIO", FieldKind::Text, 100},
                                                      {"NIVEL", FieldKind::Text, 5},
                                                      {"CURSO", FieldKind::Text, 3}};
  return fields;
}

bool missingAssignment(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

bool coursesComplete(dbase::Table& cursos) {
  dbase::Field NIVEL = cursos.field("NIVEL"), CURSO = cursos.field("CURSO");
  for (cursos.first(); !cursos.eof(); cursos.next())
    if (missingAssignment(NIVEL.asText()) || missingAssignment(CURSO.asText())) return false;
  return true;
}

void buildCursost(ProgramState& state, Shell& shell) {
  {
    dbase::Table table(state.workingDirectory, "CURSOST.DBF");
    createWorkingTable(state, table, cursostFields());
    dbase::Field CODI = table.field("CODI"), DESCRIPCIO = table.field("DESCRIPCIO"),
                 NIVEL = table.field("NIVEL"), CURSO = table.field("CURSO");
    for (const xml::Element& curs : selectElements(state, "/CENTRE/CURSOS/CURS")) {
      std::vector<std::string> a = readAttributes(curs, {"codi", "descripcio"}, state.report);
      table.append();
      CODI.setText(a[0]);
      DESCRIPCIO.setText(a[1]);
      NIVEL.setText("");
      CURSO.setText("");
      table.post();
    }
    table.close();
  }

  // Only a person (or pontix-cli's levels file) can give levels and course numbers: pass
  // after pass until the OK check finds none missing, the close box ends the passes, or the
  // user forces the exit.
  // What was typed is remembered as soon as a pass ends, however it ends: a run that does not
  // complete puts the courses table back as it was, and the typing would be lost with it.
  auto remember = [&state] {
    dbase::Table cursos(state.workingDirectory, "CURSOST.DBF");
    cursos.open(dbase::OpenMode::Shared);
    rememberCourseLevels(cursos, state.workingDirectory);
    cursos.close();
  };
  for (;;) {
    CourseAssignmentPass pass;
    try {
      pass = shell.runCourseAssignmentPass(state);
    } catch (...) {
      try {
        remember();
      } catch (...) {
        // The pass's own failure is the one to tell.
      }
      throw;
    }
    remember();
    if (pass.FaltaDato) {
      state.CursosIncompletos = 1;
      continue;
    }
    if (pass.Salida == "fuera") {
      state.forcedExit = true;
      shell.closeMainWindow();
    }
    return;
  }
}

}  // namespace pontix

#include "exportar/Abbreviations.h"
#include "exportar/Builders.h"
#include "exportar/Conventions.h"

namespace pontix {

using dbase::FieldKind;

void buildAsignomt(ProgramState& state, Shell&) {
  dbase::Table table(state.workingDirectory, "ASIGNOMT.DBF");
  createWorkingTable(state, table,
                     {{"COD", FieldKind::Text, 10},
                      {"CODLARGO", FieldKind::Text, 10},
                      {"NOMBRE", FieldKind::Text, 80},
                      {"CODI", FieldKind::Text, 20},
                      {"HORAS", FieldKind::Text, 8},
                      {"CODICURS", FieldKind::Text, 20},
                      {"ESTAREA", FieldKind::Logical, 0}});
  dbase::Field COD = table.field("COD"), CODLARGO = table.field("CODLARGO"), NOMBRE = table.field("NOMBRE"),
               CODI = table.field("CODI"), HORAS = table.field("HORAS"), CODICURS = table.field("CODICURS"),
               ESTAREA = table.field("ESTAREA");
  {
    StoredAbbreviations used;
    const std::vector<xml::Element> materies = selectElements(state, "/CENTRE/MATERIES/MATERIA");
    used.reserve(materies.size());

    std::vector<std::string> a;
    for (const xml::Element& materia : materies) {
      readAttributes(materia, {"codi", "curs", "descripcio", "curta"}, state.report, a);
      const std::string &codi = a[0], &curs = a[1], &descripcio = a[2], &curta = a[3];
      std::string longCode =
          curta.size() > 10 ? std::string(ansi::firstChars(curta, 9)) + std::string(ansi::lastChars(curta, 1))
                            : curta;
      if (longCode != curta)
        state.report.note(RunReport::Kind::CutValue, "ASIGNOMT.CODLARGO", curta, longCode);
      std::string code = used.take(longCode, ansi::firstChars(longCode, 9));
      if (used.numbered()) state.report.note(RunReport::Kind::NumberedAbbreviation, "ASIGNOMT", curta, code);
      table.append();
      COD.setText(code);
      CODLARGO.setText(longCode);
      NOMBRE.setText(descripcio);
      CODI.setText(codi);
      CODICURS.setText(curs);
      HORAS.setText("4");
      ESTAREA.setLogical(false);
      table.post();
    }
  }  // the subjects and their abbreviations go before the activities come

  // Activities keep their own code and stay out of the list.
  std::vector<std::string> a;
  for (const xml::Element& activitat : selectElements(state, "/CENTRE/ACTIVITATS/ACTIVITAT")) {
    readAttributes(activitat, {"codi", "descripcio", "curta"}, state.report, a);
    const std::string &codi = a[0], &descripcio = a[1], &curta = a[2];
    table.append();
    COD.setText(codi);
    CODLARGO.setText(curta);  // its first 10 characters
    NOMBRE.setText(descripcio);
    CODI.setText(codi);
    CODICURS.setText("");
    HORAS.setText("4");
    ESTAREA.setLogical(true);
    table.post();
  }
  table.close();
}

}  // namespace pontix

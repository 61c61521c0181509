#include "exportar/Abbreviations.h"
#include "exportar/Builders.h"
#include "exportar/Conventions.h"

namespace pontix {

using dbase::FieldKind;

void buildAulat(ProgramState& state, Shell&) {
  dbase::Table table(state.workingDirectory, "AULAT.DBF");
  createWorkingTable(state, table,
                     {{"ABREV", FieldKind::Text, 10},
                      {"NOMBRE", FieldKind::Text, 80},
                      {"EDIFICIO", FieldKind::Text, 1},
                      {"MAXALUM", FieldKind::Integer, 0},
                      {"CODI", FieldKind::Text, 60}});
  dbase::Field ABREV = table.field("ABREV"), NOMBRE = table.field("NOMBRE"), CODI = table.field("CODI");
  CandidateAbbreviations used;
  const std::vector<xml::Element> aules = selectElements(state, "/CENTRE/AULES/AULA");
  used.reserve(aules.size());

  std::vector<std::string> a;
  for (const xml::Element& aula : aules) {
    readAttributes(aula, {"codi", "descripcio"}, state.report, a);
    const std::string &codi = a[0], &descripcio = a[1];
    // The abbreviation comes from the description; rooms have no short name.
    std::string_view first = ansi::firstChars(descripcio, 10);
    std::string abbreviation = used.take(first, ansi::firstChars(first, 9));
    if (used.numbered())
      state.report.note(RunReport::Kind::NumberedAbbreviation, "AULAT", first, abbreviation);
    table.append();
    ABREV.setText(abbreviation);
    NOMBRE.setText("(" + codi + ") " + descripcio);
    CODI.setText(codi);
    table.post();
  }
  table.close();
}

}  // namespace pontix

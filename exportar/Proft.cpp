#include "exportar/Abbreviations.h"
#include "exportar/Builders.h"
#include "exportar/Conventions.h"

namespace pontix {

using dbase::FieldKind;

void buildProft(ProgramState& state, Shell&) {
  dbase::Table table(state.workingDirectory, "PROFT.DBF");
  createWorkingTable(state, table,
                     {{"ABREV", FieldKind::Text, 10},
                      {"NOMBRE", FieldKind::Text, 80},
                      {"DEPART", FieldKind::Text, 40},
                      {"DNI", FieldKind::Integer, 0},
                      {"CODI", FieldKind::Text, 40}});
  dbase::Field ABREV = table.field("ABREV"), NOMBRE = table.field("NOMBRE"), DEPART = table.field("DEPART"),
               CODI = table.field("CODI");
  StoredAbbreviations used;
  const std::vector<xml::Element> places = selectElements(state, "/CENTRE/PLACES/PLACA");
  used.reserve(places.size());

  std::vector<std::string> a;
  for (const xml::Element& placa : places) {
    readAttributes(placa, {"codi", "descripcio", "curta"}, state.report, a);
    const std::string &codi = a[0], &descripcio = a[1], &curta = a[2];
    std::string name = descripcio.size() > 80 ? std::string(ansi::firstChars(descripcio, 75)) +
                                                    std::string(ansi::lastChars(descripcio, 5))
                                              : descripcio;
    std::string abbreviation = curta.size() > 10 ? std::string(ansi::firstChars(curta, 9)) : curta;
    // The field cuts DEPART itself, and says so.
    if (name != descripcio) state.report.note(RunReport::Kind::CutValue, "PROFT.NOMBRE", descripcio, name);
    if (abbreviation != curta)
      state.report.note(RunReport::Kind::CutValue, "PROFT.ABREV", curta, abbreviation);
    abbreviation = used.take(abbreviation, abbreviation.empty() ? "P" : abbreviation);
    if (used.numbered())
      state.report.note(RunReport::Kind::NumberedAbbreviation, "PROFT", curta, abbreviation);
    table.append();
    ABREV.setText(abbreviation);
    NOMBRE.setText(name);
    DEPART.setText(name);
    CODI.setText(codi);
    table.post();
  }
  table.close();
}

}  // namespace pontix

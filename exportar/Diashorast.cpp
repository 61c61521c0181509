#include "exportar/Builders.h"
#include "exportar/Conventions.h"

namespace pontix {

using dbase::FieldKind;

// The timetabling program fills the grid; Exportar only lays it out, empty.
void buildDiashorast(ProgramState& state, Shell&) {
  dbase::Table table(state.workingDirectory, "DIASHORAST.DBF");
  replaceWorkingTable(state, table,
                      {{"DIHO", FieldKind::Text, 10},
                       {"CODDIHO", FieldKind::Text, 10},
                       {"DIA", FieldKind::Text, 20},
                       {"TEXTODIA", FieldKind::Text, 20},
                       {"HORA", FieldKind::Text, 8},
                       {"HORADESDE", FieldKind::Text, 8},
                       {"HORAHASTA", FieldKind::Text, 8},
                       {"MINUTOS", FieldKind::Text, 8}});
  state.report.written("DIASHORAST", 0);
}

}  // namespace pontix

#include "importar/Importar.h"

#include "exportar/Exportar.h"

namespace pontix {

std::filesystem::path solutionFilePath(const std::string& selectedFileName) {
  return std::filesystem::path(selectedFileName).parent_path() / "SolucioHorari.xml";
}

void exportSolution(ProgramState&, const std::filesystem::path&) {
  throw Error(ErrorKind::InvalidArgument, "Importar todavía no está disponible en esta versión de Pontix");
}

void BImportarClick(ProgramState& state, Shell& shell) {
  if (!chooseExistingFile(state, shell, 0)) return;
  exportSolution(state, solutionFilePath(state.selectedFileName));
  finishOperation(state, shell);
}

}  // namespace pontix

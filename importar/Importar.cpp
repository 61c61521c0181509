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
  shell.chooseXmlFile(state.selectedFileName);
  if (!selectedFileExists(state.selectedFileName)) {
    shell.showMessage("No existe archivo");
    if (state.hostDriven) {
      state.resultFlag = 0;
      shell.closeMainWindow();
    }
    return;
  }
  exportSolution(state, solutionFilePath(state.selectedFileName));
  shell.restoreCursor();
  state.resultFlag = 1;
  shell.showMessage("Proceso finalizado");
  shell.disableOperationButtons();
  if (state.hostDriven) shell.closeMainWindow();
}

}  // namespace pontix

#include "operacion/Operation.h"

#include <system_error>

namespace pontix {

bool chooseExistingFile(ProgramState& state, Shell& shell, std::int32_t flagWhenMissing) {
  shell.chooseXmlFile(state.selectedFileName);
  std::error_code ec;
  if (!state.selectedFileName.empty() && std::filesystem::is_regular_file(state.selectedFileName, ec))
    return true;
  shell.showMessage("No existe archivo");
  if (state.hostDriven) {
    state.resultFlag = flagWhenMissing;
    shell.closeMainWindow();
  }
  return false;
}

void finishOperation(ProgramState& state, Shell& shell) {
  shell.restoreCursor();
  state.resultFlag = 1;
  shell.showFinished("Proceso finalizado", state.report);
  shell.disableOperationButtons();
  shell.operationCompleted();
  if (state.hostDriven) shell.closeMainWindow();
}

FolderLock startOperation(ProgramState& state, FolderLock::Purpose purpose) {
  FolderLock lock(state.workingDirectory, purpose);
  if (!lock.held()) {
    // A folder that takes no change: what a stopped run left there cannot be put right, and its
    // tables are half made.
    if (hasUnfinishedOperation(state.workingDirectory))
      throw Error(ErrorKind::IOError,
                  "Una operación de Pontix no terminó en la carpeta " + state.workingDirectory.string() +
                      " y no se puede deshacer porque la carpeta no admite cambios",
                  "Consiga permiso de escritura en ella y vuelva a intentarlo.");
    return lock;
  }
  if (std::optional<std::string> recovered = recoverWorkingFolder(state.workingDirectory))
    state.report.noteRecovered(*recovered);
  return lock;
}

}  // namespace pontix

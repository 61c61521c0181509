#include "exportar/Exportar.h"

#include <system_error>

#include "exportar/Builders.h"

namespace pontix {

const ExportarBuilders& exportarBuilders() {
  static const ExportarBuilders builders{
      .subjects = [](ProgramState& state, Shell&) { buildAsignomt(state); },
      .teacherPosts = [](ProgramState& state, Shell&) { buildProft(state); },
      .rooms = [](ProgramState& state, Shell&) { buildAulat(state); },
      .courses = [](ProgramState&, Shell&) { return false; },
      .groups = [](ProgramState&, Shell&) {},
      .subjectLines = [](ProgramState&, Shell&) {},
      .daysAndHours = [](ProgramState& state, Shell&) { buildDiashorast(state); },
  };
  return builders;
}

bool selectedFileExists(const std::string& selectedFileName) {
  if (selectedFileName.empty()) return false;
  std::error_code ec;
  return std::filesystem::is_regular_file(selectedFileName, ec);
}

xml::Document loadAdministrationDocument(const std::filesystem::path& file) {
  xml::Document document = xml::Document::load(file);
  std::optional<xml::Element> root = document.root();
  if (!root || root->name() != "CENTRE")
    throw Error(
        ErrorKind::InvalidArgument,
        "El archivo " + file.string() + " no contiene un documento de Scolaria (falta el elemento CENTRE)");
  return document;
}

void BExportarClick(ProgramState& state, Shell& shell, const ExportarBuilders& builders) {
  shell.chooseXmlFile(state.selectedFileName);
  if (!selectedFileExists(state.selectedFileName)) {
    shell.showMessage("No existe archivo");
    if (state.hostDriven) {
      state.resultFlag = -1;
      shell.closeMainWindow();
    }
    return;
  }

  // A document that cannot be read stops here, before the cursor changes or a table is
  // touched: taking it as empty would wipe every working table.
  state.document.reset();
  state.document = loadAdministrationDocument(state.selectedFileName);

  shell.setWaitCursor();
  builders.subjects(state, shell);
  builders.teacherPosts(state, shell);
  builders.rooms(state, shell);
  if (builders.courses(state, shell)) return;  // the main window is already closing
  builders.groups(state, shell);
  builders.subjectLines(state, shell);
  builders.daysAndHours(state, shell);
  shell.restoreCursor();

  state.resultFlag = 1;
  shell.showMessage("Proceso finalizado");
  shell.disableOperationButtons();
  if (state.hostDriven) shell.closeMainWindow();
}

}  // namespace pontix

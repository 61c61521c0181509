#include "exportar/Exportar.h"

#include <system_error>

#include "exportar/Builders.h"
#include "exportar/PreviousTables.h"

namespace pontix {

const ExportarBuilders& exportarBuilders() {
  static const ExportarBuilders builders{
      .subjects = buildAsignomt,
      .teacherPosts = buildProft,
      .rooms = buildAulat,
      .courses = buildCursost,
      .groups = buildGrupost,
      .subjectLines = buildAsigt,
      .daysAndHours = buildDiashorast,
  };
  return builders;
}

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

const std::vector<std::string> kAdministrationPaths = {
    "/CENTRE/MATERIES/MATERIA", "/CENTRE/ACTIVITATS/ACTIVITAT", "/CENTRE/PLACES/PLACA",
    "/CENTRE/AULES/AULA",       "/CENTRE/CURSOS/CURS",          "/CENTRE/CURSOS/CURS/GRUP",
};

xml::Document loadAdministrationDocument(const std::filesystem::path& file) {
  xml::Document document = xml::Document::load(file, kAdministrationPaths);
  std::optional<xml::Element> root = document.root();
  if (!root || root->name() != "CENTRE")
    throw Error(ErrorKind::InvalidArgument,
                "El archivo " + file.string() +
                    " no contiene un documento de Scolaria: el elemento raíz es " +
                    (root ? root->name() + " (línea " + std::to_string(root->line()) + ")" : "ninguno") +
                    "; se esperaba CENTRE");
  return document;
}

void BExportarClick(ProgramState& state, Shell& shell, const ExportarBuilders& builders) {
  state.report.start("exportar");
  state.report.setPreviousFolder(previousTablesFolder(state.workingDirectory).string());
  if (!chooseExistingFile(state, shell, -1)) return;

  // A document that cannot be read stops here, before the cursor changes or a table is
  // touched: taking it as empty would wipe every working table.
  state.document.reset();
  state.document = loadAdministrationDocument(state.selectedFileName);

  shell.setWaitCursor();
  state.forcedExit = false;
  // Each path goes as soon as the last builder that reads it is done: a large document's memory
  // makes room for the tables being built.
  auto done = [&state](std::initializer_list<std::string_view> paths) {
    for (std::string_view path : paths) state.document->release(path);
  };
  builders.subjects(state, shell);
  done({"/CENTRE/MATERIES/MATERIA", "/CENTRE/ACTIVITATS/ACTIVITAT"});
  builders.teacherPosts(state, shell);
  done({"/CENTRE/PLACES/PLACA"});
  builders.rooms(state, shell);
  done({"/CENTRE/AULES/AULA"});
  builders.courses(state, shell);
  if (state.forcedExit) return;  // the main window is already closing
  builders.groups(state, shell);
  done({"/CENTRE/CURSOS/CURS", "/CENTRE/CURSOS/CURS/GRUP"});
  builders.subjectLines(state, shell);
  builders.daysAndHours(state, shell);
  finishOperation(state, shell);
}

}  // namespace pontix

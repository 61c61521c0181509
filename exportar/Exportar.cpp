#include "exportar/Exportar.h"

#include "exportar/Builders.h"
#include "operacion/WorkingSet.h"

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

const std::vector<std::string> kAdministrationPaths = {
    "/CENTRE/MATERIES/MATERIA", "/CENTRE/ACTIVITATS/ACTIVITAT", "/CENTRE/PLACES/PLACA",
    "/CENTRE/AULES/AULA",       "/CENTRE/CURSOS/CURS",          "/CENTRE/CURSOS/CURS/GRUP",
};

xml::Document loadAdministrationDocument(const std::filesystem::path& file) {
  xml::Document document = xml::Document::load(file, kAdministrationPaths);
  std::optional<xml::Element> root = document.root();
  if (!root || root->name() != "CENTRE")
    throw Error(
        ErrorKind::InvalidArgument,
        "El archivo " + file.string() + " no contiene un documento de Scolaria: el elemento raíz es " +
            (root ? root->name() + " (línea " + std::to_string(root->line()) + ")" : "ninguno") +
            "; se esperaba CENTRE",
        "Elija el archivo que Scolaria prepara para Horalia (su primer elemento es CENTRE) y vuelva a "
        "exportar.");
  return document;
}

namespace {

bool carriesNothing(const xml::Document& document) {
  for (const char* path :
       {"/CENTRE/MATERIES/MATERIA", "/CENTRE/PLACES/PLACA", "/CENTRE/AULES/AULA", "/CENTRE/CURSOS/CURS"})
    if (document.selectSingle(path)) return false;
  return true;
}

// What to do after a run that changed nothing, by what stopped it, when its error does not say.
const char* remedyFor(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Locked:
      return "Cierre Horalia (o el programa que tenga abierta la tabla) y vuelva a exportar.";
    case ErrorKind::IOError:
      return "Compruebe que queda espacio en el disco y que la carpeta admite cambios, y vuelva a exportar.";
    default: return "Corrija lo que se indica y vuelva a exportar.";
  }
}

// The message of a run stopped after its tables were set aside: the cause, that nothing changed
// (or, when the tables could not be put back yet, that the next operation will), what to do.
Error unchanged(ExportTransaction& transaction, ErrorKind kind, const std::string& cause,
                const std::string& remedy) {
  try {
    transaction.rollback();
  } catch (const std::exception& e) {
    return Error(kind,
                 cause + "\nLas tablas de trabajo no se han podido dejar todavía como estaban (" + e.what() +
                     "); la próxima operación de Pontix en esta carpeta lo hará",
                 "Cierre antes los programas que las tengan abiertas.");
  }
  return Error(kind, cause + "\n" + kNothingChanged, remedy.empty() ? remedyFor(kind) : remedy);
}

}  // namespace

void runExportar(ProgramState& state, Shell& shell, const ExportarBuilders& builders) {
  state.report.start("exportar");
  state.report.setPreviousFolder(previousTablesFolder(state.workingDirectory).string());
  if (!chooseExistingFile(state, shell, -1)) return;
  // One operation at a time in the folder, and none before what the last one left is put right.
  const FolderLock lock = startOperation(state, FolderLock::Purpose::Change);

  // A document that cannot be read stops here, before the cursor changes or a table is
  // touched: taking it as empty would wipe every working table.
  state.document.reset();
  state.document = loadAdministrationDocument(state.selectedFileName);
  shell.checkOutputs();
  if (carriesNothing(*state.document) && !shell.confirmEmptyDocument()) {
    if (state.hostDriven) shell.closeMainWindow();
    return;
  }

  // From here on the run changes all the tables or none.
  ExportTransaction transaction(state.workingDirectory);
  shell.setWaitCursor();
  state.forcedExit = false;
  std::vector<std::string> kept;
  try {
    buildAll(state, shell, builders);
    if (state.forcedExit) {
      transaction.rollback();  // the main window is already closing
      return;
    }
    kept = transaction.commit();
  } catch (const Error& e) {
    if (!transaction.isOpen()) throw;  // completed: it says what is left to do
    throw unchanged(transaction, e.kind(), e.message(), e.remedy());
  } catch (const std::bad_alloc&) {
    throw unchanged(transaction, ErrorKind::InvalidArgument, kNoMemory, kNoMemoryRemedy);
  } catch (...) {
    try {
      transaction.rollback();
    } catch (...) {
      // The journal stays: the next operation in the folder puts the tables back.
    }
    throw;
  }
  for (const std::string& table : kept) state.report.keptPrevious(table);
  finishOperation(state, shell);
}

void buildAll(ProgramState& state, Shell& shell, const ExportarBuilders& builders) {
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
  if (state.forcedExit) return;
  builders.groups(state, shell);
  done({"/CENTRE/CURSOS/CURS", "/CENTRE/CURSOS/CURS/GRUP"});
  builders.subjectLines(state, shell);
  builders.daysAndHours(state, shell);
}

}  // namespace pontix

#pragma once

#include <filesystem>

#include "operacion/ProgramState.h"
#include "operacion/Shell.h"

namespace pontix {

// The Importar operation behind BImportar: the file dialog only chooses the folder of
// "SolucioHorari.xml". Errors propagate as pontix::Error; the caller shows them.
void runImportar(ProgramState& state, Shell& shell);

// Writes the timetable solution of SOLUC to outputFile as HORARI/SESSIONS/SESSIO, one SESSIO
// per entry whose DIA is not 0, translated through PROFT, GRUPOST, DIASHORAST, AULAT and
// ASIGNOMT. The six tables are opened exclusively through the state's table objects and are
// closed again whatever happens. Each SESSIO is written as its entry is read, so memory does
// not grow with SOLUC; the file is replaced only once complete, and any error leaves it as it
// was, with no temporary file beside it.
void exportSolution(ProgramState& state, const std::filesystem::path& outputFile);

// The folder of the selected file name (up to its last separator) + "SolucioHorari.xml".
std::filesystem::path solutionFilePath(const std::string& selectedFileName);

}  // namespace pontix

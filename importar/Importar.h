#pragma once

#include <filesystem>

#include "exportar/ProgramState.h"
#include "exportar/Shell.h"

namespace pontix {

// The Importar operation behind BImportar: the file dialog only chooses the folder of
// "SolucioHorari.xml". Errors propagate as pontix::Error; the caller shows them.
void BImportarClick(ProgramState& state, Shell& shell);

// The timetable solution file of the working tables, written to outputFile.
void exportSolution(ProgramState& state, const std::filesystem::path& outputFile);

// The folder of the selected file name (up to its last separator) + "SolucioHorari.xml".
std::filesystem::path solutionFilePath(const std::string& selectedFileName);

}  // namespace pontix

#include "operacion/ProgramState.h"

#include "platform/WinPath.h"

namespace pontix {

// The courses table object names the folder from the root of the current drive; the mapping
// puts that root on drive C:, so it sees the tables the builders write.
ProgramState::ProgramState() : ProgramState(mapWindowsPath("c:\\ktemp"), mapWindowsPath("\\ktemp")) {}

ProgramState::ProgramState(const std::filesystem::path& workingDirectory)
    : ProgramState(workingDirectory, workingDirectory) {}

ProgramState::ProgramState(std::filesystem::path directory, const std::filesystem::path& coursesDirectory)
    : workingDirectory(std::move(directory)),
      wwTableNomAsg(workingDirectory, "ASIGNOMT", "wwTableNomAsg"),
      wwTableProfesor(workingDirectory, "PROFT", "wwTableProfesor"),
      wwTableAulas(workingDirectory, "AULAT", "wwTableAulas"),
      wwTableCursos(coursesDirectory, "CURSOST", "wwTableCursos"),
      wwTableGrupos(workingDirectory, "GRUPOST", "wwTableGrupos"),
      wwTableDiasHoras(workingDirectory, "DIASHORAST", "wwTableDiasHoras"),
      wwTableSoluc(workingDirectory, "SOLUC", "wwTableSoluc") {}

}  // namespace pontix

#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "operacion/RunReport.h"
#include "platform/dbase/Table.h"
#include "platform/xml/Document.h"

namespace pontix {

// The program-wide state owned by the main window's unit, alive for the whole run. The
// operations read and change it; the front ends (window, command line) own it.
struct ProgramState {
  // Working directory "C:\KTEMP" through the Windows-path mapping.
  ProgramState();
  // A working directory given explicitly (pontix-cli --trabajo).
  explicit ProgramState(const std::filesystem::path& workingDirectory);

  ProgramState(const ProgramState&) = delete;
  ProgramState& operator=(const ProgramState&) = delete;

  std::filesystem::path workingDirectory;

  std::int32_t resultFlag = 0;  // for the host: 1 completed, -1 Exportar found no file
  bool hostDriven = false;
  std::string selectedFileName;  // last path confirmed in the file dialog
  std::optional<xml::Document> document;
  std::uint8_t CursosIncompletos = 0;
  // Set by the courses builder when the user forced the exit of the assignment: the running
  // Exportar ends there, unfinished.
  bool forcedExit = false;
  // What the last operation did to the data, for the person who ran it.
  RunReport report;

  // The main window's table objects; the operations that read through them open and close them.
  dbase::Table wwTableNomAsg;
  dbase::Table wwTableProfesor;
  dbase::Table wwTableAulas;
  dbase::Table wwTableCursos;
  dbase::Table wwTableGrupos;
  dbase::Table wwTableDiasHoras;
  dbase::Table wwTableSoluc;

 private:
  ProgramState(std::filesystem::path workingDirectory, const std::filesystem::path& coursesDirectory);
};

}  // namespace pontix

#pragma once

#include <functional>

#include "operacion/Operation.h"

namespace pontix {

// The seven table builders of Exportar, in the order they run; each may read the tables of
// those before it. The courses builder sets state.forcedExit when the user forced the exit.
struct ExportarBuilders {
  using Builder = std::function<void(ProgramState&, Shell&)>;
  Builder subjects;      // ASIGNOMT
  Builder teacherPosts;  // PROFT
  Builder rooms;         // AULAT
  Builder courses;       // CURSOST and the assignment passes
  Builder groups;        // GRUPOST and MATIB
  Builder subjectLines;  // ASIGT
  Builder daysAndHours;  // DIASHORAST
};

const ExportarBuilders& exportarBuilders();

// The Exportar operation behind BExportar: choose the administration document, hold the working
// folder, load the document, rebuild the working tables (each path of the document let go once
// the last builder that reads it is done), report. All or nothing: a run that does not complete
// (an error, a forced exit) leaves the working tables and ANTERIOR as they were. Errors
// propagate as pontix::Error, saying that nothing changed, with the result flag and the buttons
// as they were; the caller shows them.
void runExportar(ProgramState& state, Shell& shell, const ExportarBuilders& builders = exportarBuilders());
// The builders in their order, each path of the document let go after its last reader; stops
// after the courses builder when the user forced the exit.
void buildAll(ProgramState& state, Shell& shell, const ExportarBuilders& builders = exportarBuilders());

// What the builders read of the administration document: the elements on these paths. The
// rest is checked and let go.
extern const std::vector<std::string> kAdministrationPaths;

// Loads the administration document; throws unless it is well-formed XML with root CENTRE.
xml::Document loadAdministrationDocument(const std::filesystem::path& file);

}  // namespace pontix

#include <gtest/gtest.h>

#include "FakeShell.h"
#include "TestSupport.h"
#include "exportar/Builders.h"
#include "exportar/Conventions.h"
#include "exportar/Exportar.h"
#include "importar/Importar.h"

namespace pontix {
namespace {

using test::FakeShell;
using test::TempDir;
using Events = std::vector<std::string>;

const char* const kDocument =
    "<?xml version='1.0'?><CENTRE><MATERIES><MATERIA codi='M1' curta='M'/></MATERIES></CENTRE>";

// Each builder records its name and writes a one-field table named after it; `failing`
// throws instead, the way a builder fails when the engine does.
struct Fixture {
  TempDir work;
  TempDir docs;
  ProgramState state{work.path()};
  FakeShell shell;
  bool forcedExit = false;
  std::string failing;

  ExportarBuilders builders() {
    auto builder = [this](std::string table) {
      return [this, table](ProgramState& s, Shell&) {
        shell.events.push_back("build:" + table);
        if (table == failing)
          throw Error(ErrorKind::Locked, "La tabla " + table + " está abierta por otro programa");
        dbase::Table t(s.workingDirectory, table);
        createWorkingTable(s, t, {{"CODI", dbase::FieldKind::Text, 10}});
        t.close();
      };
    };
    ExportarBuilders b{builder("ASIGNOMT"), builder("PROFT"), builder("AULAT"),     nullptr,
                       builder("GRUPOST"),  builder("ASIGT"), builder("DIASHORAST")};
    b.courses = [this, cursost = builder("CURSOST")](ProgramState& s, Shell& sh) {
      cursost(s, sh);
      if (!forcedExit) return;
      s.forcedExit = true;
      sh.closeMainWindow();
    };
    return b;
  }
  std::string document(std::string_view contents = kDocument) {
    std::filesystem::path path = docs / "centre.xml";
    test::writeFile(path, contents);
    return path.string();
  }
  void exportar() { runExportar(state, shell, builders()); }
  bool tableExists(const char* name) const {
    return std::filesystem::exists(work / (std::string(name) + ".DBF"));
  }
};

const Events kAllBuilders = {"build:ASIGNOMT", "build:PROFT", "build:AULAT",     "build:CURSOST",
                             "build:GRUPOST",  "build:ASIGT", "build:DIASHORAST"};

Events concat(std::initializer_list<Events> parts) {
  Events all;
  for (const Events& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(ExportarDriver, CompletedRunBuildsEveryTableInOrderThenReports) {
  for (bool host : {false, true}) {
    Fixture f;
    f.state.hostDriven = host;
    f.shell.dialogAnswers = {f.document()};
    f.exportar();
    Events expected = concat({{"dialog", "wait"},
                              kAllBuilders,
                              {"restore", "message:Proceso finalizado", "disable", "completed"}});
    if (host) expected.push_back("close");
    EXPECT_EQ(f.shell.events, expected) << "host-driven " << host;
    EXPECT_EQ(f.state.resultFlag, 1);
    ASSERT_TRUE(f.state.document.has_value());
    EXPECT_EQ(f.state.document->root()->name(), "CENTRE");
  }
}

TEST(ExportarDriver, NoFileReportsAndOnlyTheHostDrivenWindowCloses) {
  struct Case {
    const char* what;
    bool host;
    std::optional<std::string> answer;  // nothing: cancelled
    Events events;
    int flag;
  };
  const Case cases[] = {
      {"cancelled, interactive", false, std::nullopt, {"dialog", "message:No existe archivo"}, 0},
      {"cancelled, host-driven", true, std::nullopt, {"dialog", "message:No existe archivo", "close"}, -1},
      {"typed name, interactive", false, "nada.xml", {"dialog", "message:No existe archivo"}, 0},
      {"a folder, host-driven", true, "/", {"dialog", "message:No existe archivo", "close"}, -1},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.state.hostDriven = c.host;
    f.shell.dialogAnswers = {c.answer};
    f.exportar();
    EXPECT_EQ(f.shell.events, c.events) << c.what;
    EXPECT_EQ(f.state.resultFlag, c.flag) << c.what;
    EXPECT_TRUE(std::filesystem::is_empty(f.work.path())) << c.what;
  }
}

TEST(ExportarDriver, CancelledDialogReusesTheNameOfAnEarlierAttempt) {
  Fixture f;
  const std::string missing = (f.docs / "falta.xml").string();
  f.shell.dialogAnswers = {missing, std::nullopt};
  f.exportar();
  f.exportar();
  EXPECT_EQ(f.state.selectedFileName, missing);
  EXPECT_EQ(f.shell.events,
            (Events{"dialog", "message:No existe archivo", "dialog", "message:No existe archivo"}));

  // Once the file is there, cancelling uses it.
  f.document();
  std::filesystem::rename(f.docs / "centre.xml", missing);
  f.shell.events.clear();
  f.exportar();
  EXPECT_EQ(f.state.resultFlag, 1);
  EXPECT_EQ(f.shell.events.back(), "completed");
}

// The tables built before the error go with the run: a working set of two generations would
// mislead the timetabling program.
TEST(ExportarDriver, ErrorMidwayKeepsFlagButtonsWindowAndChangesNoTable) {
  Fixture f;
  f.state.hostDriven = true;
  f.failing = "AULAT";
  const std::string file = f.document();
  f.shell.dialogAnswers = {file};
  try {
    f.exportar();
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("\nNo se ha cambiado ninguna tabla de trabajo.\n"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(f.shell.events, (Events{"dialog", "wait", "build:ASIGNOMT", "build:PROFT", "build:AULAT"}));
  EXPECT_EQ(f.state.resultFlag, 0);
  EXPECT_TRUE(std::filesystem::is_empty(f.work.path()));

  // The next attempt, dialog cancelled, uses the same document.
  f.failing.clear();
  f.shell.events.clear();
  f.exportar();
  EXPECT_EQ(f.state.selectedFileName, file);
  EXPECT_EQ(f.state.resultFlag, 1);
  EXPECT_EQ(f.shell.events.back(), "close");
}

TEST(ExportarDriver, ForcedExitRunsNoLaterBuilderAndReportsNothing) {
  Fixture f;
  f.state.hostDriven = true;
  f.forcedExit = true;
  f.shell.dialogAnswers = {f.document()};
  f.exportar();
  EXPECT_EQ(f.shell.events, (Events{"dialog", "wait", "build:ASIGNOMT", "build:PROFT", "build:AULAT",
                                    "build:CURSOST", "close"}));
  EXPECT_EQ(f.state.resultFlag, 0);
  EXPECT_FALSE(f.tableExists("GRUPOST"));

  // The courses builder itself, forced out in its second pass.
  Fixture g;
  g.state.hostDriven = true;
  g.shell.dialogAnswers = {
      g.document("<CENTRE><CURSOS><CURS codi='ESO1' descripcio='1r'/></CURSOS></CENTRE>")};
  g.shell.passes = {{.FaltaDato = true, .Salida = ""}, {.FaltaDato = false, .Salida = "fuera"}};
  ExportarBuilders builders = g.builders();
  builders.courses = buildCursost;
  runExportar(g.state, g.shell, builders);
  EXPECT_EQ(g.shell.events, (Events{"dialog", "wait", "build:ASIGNOMT", "build:PROFT", "build:AULAT", "pass",
                                    "pass", "close"}));
  EXPECT_EQ(g.state.resultFlag, 0);
  EXPECT_EQ(g.state.CursosIncompletos, 1);
  EXPECT_FALSE(g.tableExists("CURSOST"));
  EXPECT_FALSE(g.tableExists("ASIGNOMT"));
}

TEST(ExportarDriver, TheProgramsChainRebuildsAllEightTablesThenReports) {
  Fixture f;
  f.state.hostDriven = true;
  const char* const tables[] = {"ASIGNOMT", "PROFT", "AULAT", "CURSOST",
                                "GRUPOST",  "MATIB", "ASIGT", "DIASHORAST"};
  for (const char* table : tables) test::writeFile(f.work / (std::string(table) + ".DBF"), "earlier run");
  f.shell.dialogAnswers = {f.document()};
  runExportar(f.state, f.shell);
  EXPECT_EQ(f.shell.events, (Events{"dialog", "wait", "pass", "lines?", "restore",
                                    "message:Proceso finalizado", "disable", "completed", "close"}));
  EXPECT_EQ(f.state.resultFlag, 1);
  for (const char* table : tables)
    EXPECT_NE(test::readFile(f.work / (std::string(table) + ".DBF")), "earlier run") << table;
  EXPECT_TRUE(std::filesystem::exists(f.work / "MATIB.MDX"));
}

TEST(ExportarDriver, UnreadableDocumentIsAnErrorBeforeAnythingIsTouched) {
  struct Case {
    const char* contents;
    std::string message;  // after "El archivo <path> "
  };
  const Case cases[] = {
      {"<CENTRE><MATERIES></CENTRE>",
       "no es un documento XML válido: la etiqueta de cierre </CENTRE> no corresponde a <MATERIES>"},
      {"", "no es un documento XML válido"},
      {"<?xml version='1.0'?>\n<HORARI><SESSIONS/></HORARI>",
       "no contiene un documento de Scolaria: el elemento raíz es HORARI (línea 2); se esperaba CENTRE"},
      {"<centre/>",
       "no contiene un documento de Scolaria: el elemento raíz es centre (línea 1); se esperaba CENTRE"},
  };
  for (const Case& c : cases) {
    Fixture f;
    f.state.hostDriven = true;
    test::writeFile(f.work / "PROFT.DBF", "earlier run");
    const std::string file = f.document(c.contents);
    f.shell.dialogAnswers = {file};
    try {
      f.exportar();
      ADD_FAILURE() << "no error for " << c.contents;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind("El archivo " + file + " " + c.message, 0), 0u) << e.what();
    }
    EXPECT_EQ(f.shell.events, Events{"dialog"}) << c.contents;
    EXPECT_EQ(f.state.resultFlag, 0);
    EXPECT_EQ(test::readFile(f.work / "PROFT.DBF"), "earlier run");
  }
}

TEST(ImportarDriver, NoFileLeavesFlagZeroAndClosesOnlyTheHostDrivenWindow) {
  for (bool host : {false, true}) {
    Fixture f;
    f.state.hostDriven = host;
    f.state.resultFlag = 5;  // shows whether the operation set it
    runImportar(f.state, f.shell);
    Events expected = {"dialog", "message:No existe archivo"};
    if (host) expected.push_back("close");
    EXPECT_EQ(f.shell.events, expected);
    EXPECT_EQ(f.state.resultFlag, host ? 0 : 5);
  }
}

TEST(ImportarDriver, SolutionFileGoesBesideTheSelectedFile) {
  EXPECT_EQ(solutionFilePath("/datos/saga/horario.xml"),
            std::filesystem::path("/datos/saga/SolucioHorari.xml"));
  EXPECT_EQ(solutionFilePath("/datos/saga/SolucioHorari.xml"),
            std::filesystem::path("/datos/saga/SolucioHorari.xml"));
}

// A well-formed document with no subjects, posts, rooms or courses is almost always the wrong
// file: the run asks before emptying every table, and by default changes nothing.
TEST(ExportarDriver, ADocumentWithNothingInItAsksFirst) {
  for (bool host : {false, true}) {
    Fixture f;
    f.state.hostDriven = host;
    f.shell.dialogAnswers = {f.document("<CENTRE><MATERIES/><ACTIVITATS/><CURSOS/></CENTRE>")};
    f.exportar();
    EXPECT_EQ(f.shell.events, host ? (Events{"dialog", "empty?", "close"}) : (Events{"dialog", "empty?"}));
    EXPECT_EQ(f.state.resultFlag, 0);
    EXPECT_TRUE(std::filesystem::is_empty(f.work.path()));
  }
  Fixture f;
  f.shell.emptyAnswer = true;
  f.shell.dialogAnswers = {f.document("<CENTRE/>")};
  f.exportar();
  EXPECT_EQ(f.shell.events.back(), "completed");
}

}  // namespace
}  // namespace pontix

// Exportar and Importar in a working folder that is not what they expect: each ends in a clear
// Spanish error, without a crash, and leaves the tables sound and an earlier solution file whole.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>

#include "FakeShell.h"
#include "FaultSupport.h"
#include "TestSupport.h"
#include "exportar/Exportar.h"
#include "importar/Importar.h"
#include "platform/Error.h"

namespace pontix {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using test::shellQuote;

const char* const kEarlierSolution = "<?xml version=\"1.0\"?>\n<HORARI><SESSIONS/></HORARI>\n";

// A document with `subjects` subjects of one course with one group, a teacher post and a room.
std::string document(int subjects) {
  std::string xml = "<?xml version='1.0' encoding='UTF-8'?>\n<CENTRE>\n<MATERIES>\n";
  for (int i = 0; i < subjects; ++i)
    xml += "<MATERIA codi='M" + std::to_string(i) + "' curs='ESO1' descripcio='Matèria número " +
           std::to_string(i) + " del primer curs' curta='MAT" + std::to_string(i) + "'/>\n";
  xml +=
      "</MATERIES>\n<PLACES><PLACA codi='P1' descripcio='Núria Puig' curta='PUIG'/></PLACES>\n"
      "<AULES><AULA codi='A1' descripcio='Laboratori'/></AULES>\n"
      "<CURSOS><CURS codi='ESO1' descripcio='1r d&apos;ESO'><GRUP codi='ESO1A' nom='A'/></CURS></CURSOS>\n"
      "</CENTRE>\n";
  return xml;
}

// The working folder after a completed Exportar, with the timetable's solution in it too, and
// an earlier SolucioHorari.xml in the folder Importar writes to.
struct Work {
  test::TempDir root;
  fs::path work = root / "KTEMP", saga = root / "saga", centre = root / "centre.xml";
  ProgramState state{work};
  test::FakeShell shell;

  explicit Work(int subjects = 5) {
    fs::create_directory(work);
    fs::create_directory(saga);
    test::writeSolutionTables(work, 50);
    test::writeFile(centre, document(subjects));
    exportar();
    EXPECT_EQ(shell.events.back(), "completed");
    shell.events.clear();
    test::writeFile(saga / "horario.xml", "");
    test::writeFile(saga / "SolucioHorari.xml", kEarlierSolution);
  }

  void exportar() {
    shell.dialogAnswers.push_back(centre.string());
    runExportar(state, shell);
  }
  void importar() {
    shell.dialogAnswers.push_back((saga / "horario.xml").string());
    runImportar(state, shell);
  }
};

std::string errorOf(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const Error& e) {
    return e.what();
  }
  return "(sin error)";
}

TEST(HostileStates, EachEndsInAnErrorThatNamesIt) {
  struct Case {
    const char* state;
    std::function<void(Work&)> spoil;
    std::function<std::string(Work&)> exportarError, importarError;  // what each says
  } cases[] = {
      {"missing working folder", [](Work& w) { fs::remove_all(w.work); },
       [](Work& w) { return "No existe la carpeta de trabajo " + w.work.string(); },
       [](Work& w) { return "No existe la carpeta de trabajo " + w.work.string(); }},
      {"a table replaced by a folder",
       [](Work& w) {
         fs::remove(w.work / "PROFT.DBF");
         fs::create_directory(w.work / "PROFT.DBF");
         test::writeFile(w.work / "PROFT.DBF" / "dentro.txt", "x");
       },
       [](Work& w) {
         return "No se pudo crear el archivo '" + (w.work / "PROFT.DBF").string() + "': es una carpeta";
       },
       [](Work& w) {
         return "En lugar de la tabla " + (w.work / "PROFT.DBF").string() +
                " hay una carpeta.\nCámbiele el nombre a la carpeta o llévela a otro sitio";
       }},
      {"a symbolic-link loop in place of a table",
       [](Work& w) {
         fs::remove(w.work / "PROFT.DBF");
         fs::create_symlink("PROFT.DBF", w.work / "PROFT.DBF");
       },
       nullptr,  // the link is a table file to replace like any other
       [](Work& w) { return "No se encuentra la tabla " + (w.work / "PROFT.DBF").string(); }},
  };
  for (const Case& c : cases) {
    for (bool isExportar : {true, false}) {
      SCOPED_TRACE(std::string(c.state) + (isExportar ? ", Exportar" : ", Importar"));
      Work w;
      c.spoil(w);
      const std::string error = errorOf([&] { isExportar ? w.exportar() : w.importar(); });
      const auto& expected = isExportar ? c.exportarError : c.importarError;
      if (expected) {
        // Exportar adds that it changed nothing, and what to do.
        EXPECT_EQ(error.substr(0, expected(w).size()), expected(w));
        if (isExportar && fs::is_directory(w.work)) {
          EXPECT_NE(error.find("\nNo se ha cambiado ninguna tabla de trabajo.\n"), std::string::npos)
              << error;
        }
        EXPECT_EQ(std::count(w.shell.events.begin(), w.shell.events.end(), "completed"), 0);
      } else {
        EXPECT_EQ(error, "(sin error)");
        EXPECT_EQ(w.shell.events.back(), "completed");
      }
      EXPECT_EQ(test::readFile(w.saga / "SolucioHorari.xml"), kEarlierSolution);
      if (fs::is_directory(w.work)) {
        EXPECT_EQ(test::folderFault(w.work), "");
        EXPECT_EQ(test::temporaryFiles(w.work), Strings{});
      }
    }
  }
}

// Another program cuts a table the operation has open and has not read to the end: the rest
// is not there to read, and taking what lies past the end for records would be worse.
TEST(HostileStates, ATableThatShrinksWhileOpenIsAnError) {
  struct CuttingShell : test::FakeShell {
    std::function<void()> cut;
    bool confirmSubjectLines() override {
      cut();
      return FakeShell::confirmSubjectLines();
    }
  };
  Work w(2000);  // ASIGNOMT of 300 KB: more than the engine reads at once
  CuttingShell shell;
  const fs::path asignomt = w.work / "ASIGNOMT.DBF";
  // The subject-lines question comes with ASIGNOMT open and its first records read.
  shell.cut = [&] { fs::resize_file(asignomt, 1000); };
  shell.dialogAnswers.push_back(w.centre.string());
  const std::string error = errorOf([&] { runExportar(w.state, shell); });
  EXPECT_EQ(
      error,
      "La tabla " + asignomt.string() +
          " está dañada: el archivo se ha acortado mientras estaba abierto\n"
          "No se ha cambiado ninguna tabla de trabajo.\nCierre el otro programa que la estaba cambiando y "
          "vuelva a intentarlo; si la tabla queda mal, vuelva a crearla.");
  EXPECT_EQ(std::count(shell.events.begin(), shell.events.end(), "completed"), 0);
  // The table cut was the run's own: the one before it is back.
  EXPECT_EQ(test::tableRows(w.work, "ASIGNOMT").size(), 2000u);
  EXPECT_EQ(test::folderFault(w.work), "");
}

// A working folder the user may read but not change. An administrator is let through by the
// system, so then the operations run through pontix-cli as an unprivileged user.
TEST(HostileStates, AReadOnlyWorkingFolderStopsTheOperationsAndKeepsEverything) {
  Work w;
  test::writeFile(w.work / "SolucioHorari.xml", kEarlierSolution);
  std::string prefix;
  if (geteuid() == 0) {
    if (!fs::exists("/usr/bin/setpriv"))
      GTEST_SKIP() << "running as root, where a read-only folder does not stop writes, and without "
                      "setpriv to run the operations as another user";
    prefix = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups ";
    // The user's own folder and files, where the user may go.
    fs::permissions(w.root.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                       fs::perms::others_read | fs::perms::others_exec);
    for (const fs::path& p : {w.work, w.saga}) {
      ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
      for (const fs::directory_entry& e : fs::directory_iterator(p))
        ASSERT_EQ(::chown(e.path().c_str(), 65534, 65534), 0);
    }
  }
  fs::permissions(w.work, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  if (test::run(prefix + "test -w " + shellQuote(w.work.string())).exitCode == 0)
    GTEST_SKIP() << "the system lets this user write in a folder without write permission";

  std::map<std::string, std::string> before;
  for (const char* name : {"MATIB.DBF", "MATIB.MDX"}) before[name] = test::readFile(w.work / name);
  const std::string cli = prefix + test::cli(PONTIX_CLI);
  const std::string work = " --trabajo " + shellQuote(w.work.string());
  test::writeFile(w.root / "niveles.csv", "ESO1;ESO;1\n");

  test::CommandResult exported = test::run(cli + " exportar " + shellQuote(w.centre.string()) + work +
                                           " --niveles " + shellQuote((w.root / "niveles.csv").string()));
  EXPECT_EQ(exported.exitCode, 1) << exported.output;
  // Refused before a table is touched, saying what to do.
  EXPECT_EQ(exported.output,
            "No se puede trabajar en la carpeta " + w.work.string() +
                ": permiso denegado. No se ha cambiado ninguna tabla de trabajo.\nConsiga permiso "
                "de escritura en esa carpeta (o quite la marca de solo lectura al archivo) y vuelva a "
                "intentarlo.\n");
  for (const char* name : {"MATIB.DBF", "MATIB.MDX"})
    EXPECT_TRUE(test::readFile(w.work / name) == before[name]) << name << " changed";

  test::CommandResult imported = test::run(cli + " importar" + work);
  EXPECT_EQ(imported.exitCode, 1) << imported.output;
  EXPECT_EQ(imported.output, "No se pudo escribir el archivo '" + (w.work / "SolucioHorari.xml").string() +
                                 "': permiso denegado.\nConsiga permiso de escritura en esa carpeta (o quite "
                                 "la marca de solo lectura al archivo) y vuelva a intentarlo.\n");
  EXPECT_EQ(test::readFile(w.work / "SolucioHorari.xml"), kEarlierSolution);

  EXPECT_EQ(test::folderFault(w.work), "");
  EXPECT_EQ(test::temporaryFiles(w.work), Strings{});
}

}  // namespace
}  // namespace pontix

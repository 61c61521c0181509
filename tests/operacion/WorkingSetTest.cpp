// The working tables as one set: an Exportar that does not complete leaves the working folder
// and ANTERIOR as they were, whatever stops it; one operation at a time in a folder; what a
// stopped run left is put right by the next operation; the previous generation comes back whole;
// typed levels outlive the runs that lose them.

#include "operacion/WorkingSet.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <optional>

#include "FakeShell.h"
#include "TestSupport.h"
#include "exportar/Builders.h"
#include "exportar/Exportar.h"
#include "exportar/PreviousLevels.h"
#include "importar/Importar.h"
#include "platform/Error.h"
#include "platform/FileIo.h"

namespace pontix {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;  // relative path -> bytes
using Rows = std::vector<std::vector<std::string>>;

const std::string kDocument =
    "<?xml version='1.0' encoding='UTF-8'?><CENTRE>"
    "<MATERIES><MATERIA codi='M1' curs='ESO1' descripcio='Matemàtiques' curta='MAT'/>"
    "<MATERIA codi='M2' curs='ESO2' descripcio='Català' curta='CAT'/></MATERIES>"
    "<PLACES><PLACA codi='P1' descripcio='Núria Puig' curta='PUIG'/></PLACES>"
    "<AULES><AULA codi='A1' descripcio='Laboratori'/></AULES>"
    "<CURSOS><CURS codi='ESO1' descripcio='1r'><GRUP codi='G1' nom='A'/></CURS>"
    "<CURS codi='ESO2' descripcio='2n'><GRUP codi='G2' nom='A'/></CURS></CURSOS></CENTRE>";

// Types these levels (code -> level, course number) into CURSOST, as a person in the dialog.
void typeLevels(const fs::path& work,
                const std::map<std::string, std::pair<std::string, std::string>>& levels) {
  dbase::Table cursos(work, "CURSOST");
  cursos.open(dbase::OpenMode::Exclusive);
  for (; !cursos.eof(); cursos.next()) {
    auto it = levels.find(cursos.field("CODI").asText());
    if (it == levels.end()) continue;
    cursos.edit();
    cursos.field("NIVEL").setText(it->second.first);
    cursos.field("CURSO").setText(it->second.second);
    cursos.post();
  }
  cursos.close();
}

struct TypingShell : test::FakeShell {
  std::map<std::string, std::pair<std::string, std::string>> levels = {{"ESO1", {"ESO", "1"}},
                                                                       {"ESO2", {"ESO", "2"}}};
  std::string salida;                      // "fuera": the user forces the exit
  std::function<void()> duringAssignment;  // what else happens while the dialog is open
  CourseAssignmentPass runCourseAssignmentPass(ProgramState& state) override {
    events.push_back("pass");
    typeLevels(state.workingDirectory, levels);
    if (duringAssignment) duringAssignment();
    return {.FaltaDato = false, .Salida = salida};
  }
};

// Every file of a folder and of its subfolders, with its bytes.
Files snapshot(const fs::path& folder) {
  Files files;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(e.path(), folder).string();
    if (name == "centre.xml") continue;
    files[name] = e.is_directory() ? "(carpeta)" : test::readFile(e.path());
  }
  return files;
}

// A working folder exported twice, then worked on in the timetabling program: subject lines and
// the days-and-hours grid of the user's own that exist nowhere else.
struct Folder {
  test::TempDir dir;
  ProgramState state{dir.path()};
  TypingShell shell;

  Folder() {
    test::writeFile(dir / "centre.xml", kDocument);
    EXPECT_EQ(exportar(), "");
    EXPECT_EQ(exportar(), "");
    test::writeTable(dir.path(), "ASIGT", {{"CASIG", dbase::FieldKind::Text, 10}}, {{"EDITADA"}});
    test::writeTable(dir.path(), "DIASHORAST", {{"DIHO", dbase::FieldKind::Text, 4}}, {{"11"}, {"12"}});
    shell.events.clear();
  }
  // The error a run ends in, "" when it completed.
  std::string exportar(const ExportarBuilders& builders = exportarBuilders()) {
    shell.dialogAnswers.push_back((dir / "centre.xml").string());
    try {
      runExportar(state, shell, builders);
    } catch (const Error& e) {
      return e.what();
    }
    return shell.events.back() == "completed" ? "" : "(no terminó)";
  }
  Files files() { return snapshot(dir.path()); }
};

// Nothing of a run that stopped stays behind it.
std::vector<std::string> leftovers(const fs::path& work) {
  std::vector<std::string> found;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(work)) {
    const std::string name = e.path().filename().string();
    if (name.starts_with("PONTIX.") && name != "PONTIX.NIVELES") found.push_back(name);
    if (name.starts_with(".") || name.ends_with(".nueva") || name.ends_with(".restaurando"))
      found.push_back(name);
  }
  return found;
}

TEST(AllOrNothing, EveryWayARunEndsEarlyLeavesTheTablesAndTheirPreviousVersionAsTheyWere) {
  // The builders as they are, the one at `failAt` failing once it has written its table.
  auto failingAfter = [](int failAt) {
    ExportarBuilders b = exportarBuilders();
    ExportarBuilders::Builder* all[] = {&b.subjects, &b.courses,      &b.groups,      &b.teacherPosts,
                                        &b.rooms,    &b.subjectLines, &b.daysAndHours};
    ExportarBuilders::Builder real = *all[failAt];
    *all[failAt] = [real](ProgramState& state, Shell& shell) {
      real(state, shell);
      throw Error(ErrorKind::IOError, "No se pudo escribir en el archivo 'X': no queda espacio en el disco");
    };
    return b;
  };
  struct Case {
    std::string what;
    std::function<std::string(Folder&)> run;  // the error it ends in
  };
  std::vector<Case> cases;
  for (int i = 0; i < 7; ++i)
    cases.push_back({"an error after builder " + std::to_string(i),
                     [=](Folder& f) { return f.exportar(failingAfter(i)); }});
  cases.push_back({"Forzar Salida", [](Folder& f) {
                     f.shell.salida = "fuera";
                     return f.exportar();
                   }});
  cases.push_back({"a table open in another program", [](Folder& f) {
                     dbase::Table held(f.dir.path(), "DIASHORAST");
                     held.open(dbase::OpenMode::Shared);
                     return f.exportar();
                   }});
  cases.push_back({"the host window gone while the dialog is open", [](Folder& f) {
                     struct Gone {};
                     f.shell.duringAssignment = [] { throw Gone{}; };
                     try {
                       return f.exportar();
                     } catch (const Gone&) {
                       return std::string("(la ventana se ha cerrado)");
                     }
                   }});
  // A full disk at writes spread over the run: the tables, the index, the journal, the levels.
  for (std::uint64_t bytes : {0, 100, 2000, 5000, 9000, 13000, 20000, 40000})
    cases.push_back({"disk full after " + std::to_string(bytes) + " bytes", [=](Folder& f) {
                       io::ScopedWriteFailure full(bytes);
                       return f.exportar();
                     }});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Folder f;
    const Files before = f.files();
    const std::string error = c.run(f);
    if (error.empty()) continue;  // a disk that filled only past the run's last write
    if (error[0] != '(') {
      EXPECT_NE(error.find(std::string(kNothingChanged) + "\n"), std::string::npos) << error;
    }
    Files after = f.files();
    after.erase("PONTIX.NIVELES");  // what was typed is remembered, whatever happened
    Files expected = before;
    expected.erase("PONTIX.NIVELES");
    EXPECT_EQ(after, expected);
    EXPECT_EQ(leftovers(f.dir.path()), std::vector<std::string>{});

    // The next run completes and keeps the user's tables in ANTERIOR.
    f.shell.salida.clear();
    f.shell.duringAssignment = nullptr;
    ASSERT_EQ(f.exportar(), "");
    EXPECT_EQ(test::tableRows(f.dir / "ANTERIOR", "ASIGT"), (Rows{{"EDITADA"}}));
    EXPECT_EQ(test::tableRows(f.dir / "ANTERIOR", "DIASHORAST"), (Rows{{"11"}, {"12"}}));
    EXPECT_EQ(test::readFile(f.dir / "ANTERIOR" / "PROFT.DBF"), before.at("PROFT.DBF"));
  }
}

TEST(AllOrNothing, WhatCannotBeKeptStopsTheRunBeforeATableIsTouched) {
  struct Case {
    std::string what;
    std::function<void(Folder&)> spoil;
    std::string message;  // how the error starts ("{}" stands for the folder)
  } cases[] = {
      {"a file named anterior",
       [](Folder& f) {
         fs::rename(f.dir / "ANTERIOR", f.dir / "guardada");
         test::writeFile(f.dir / "anterior", "notas");
       },
       "En la carpeta de trabajo hay un archivo {}/anterior donde Pontix guarda la versión anterior de las "
       "tablas. No se ha cambiado ninguna tabla de trabajo.\nCámbielo de nombre o llévelo a otra carpeta y "
       "vuelva a exportar."},
      {"a read-only copy in ANTERIOR",
       [](Folder& f) {
         fs::permissions(f.dir / "ANTERIOR" / "ASIGT.DBF", fs::perms::owner_read | fs::perms::group_read);
       },
       "La copia anterior {}/ANTERIOR/ASIGT.DBF es de solo lectura y esta exportación la sustituiría. No se "
       "ha cambiado ninguna tabla de trabajo.\nQuítele la marca de solo lectura o llévela a otra carpeta y "
       "vuelva a exportar."},
      {"a read-only working table",
       [](Folder& f) { fs::permissions(f.dir / "GRUPOST.DBF", fs::perms::owner_read); },
       "La tabla {}/GRUPOST.DBF es de solo lectura. No se ha cambiado ninguna tabla de trabajo."},
      {"a folder named like a table in ANTERIOR",
       [](Folder& f) {
         fs::remove(f.dir / "ANTERIOR" / "ASIGT.DBF");
         fs::create_directory(f.dir / "ANTERIOR" / "ASIGT.DBF");
       },
       "En la carpeta de la versión anterior hay una carpeta {}/ANTERIOR/ASIGT.DBF con el nombre de una "
       "tabla. "
       "No se ha cambiado ninguna tabla de trabajo.\nCámbiele el nombre a esa carpeta o llévela a otro "
       "sitio, y "
       "vuelva a exportar."},
      {"no room for the journal", nullptr,
       "No se pudo escribir en el archivo '{}/PONTIX.DIARIO': no queda espacio en el disco. No se ha "
       "cambiado ninguna tabla de trabajo.\nLibere espacio en el disco y vuelva a intentarlo."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Folder f;
    if (c.spoil) c.spoil(f);
    const Files before = f.files();
    std::string error;
    if (c.spoil) {
      error = f.exportar();
    } else {
      io::ScopedWriteFailure full(0);
      error = f.exportar();
    }
    std::string message = c.message;
    message.replace(message.find("{}"), 2, f.dir.path().string());
    EXPECT_EQ(error.substr(0, message.size()), message);
    EXPECT_EQ(f.files(), before);
    EXPECT_EQ(f.shell.events, (std::vector<std::string>{"dialog"}));  // not even the wait cursor
  }
}

// ANTERIOR moved to another file system (a link into a memory-backed folder): the tables
// could only be copied there, and a copy cut short by a full disk would be a backup that is not.
TEST(AllOrNothing, APreviousFolderOnAnotherFileSystemIsRefused) {
  Folder f;
  std::optional<test::TempDir> shm;
  {
    test::ScopedEnv memory("TMPDIR", "/dev/shm");
    shm.emplace();
  }
  const test::TempDir& elsewhere = *shm;
  if (io::probeMove(f.dir.path(), elsewhere.path()) != EXDEV)
    GTEST_SKIP() << "/dev/shm is not another file system here";
  fs::rename(f.dir / "ANTERIOR", f.dir / "guardada");
  fs::create_directory_symlink(elsewhere.path(), f.dir / "ANTERIOR");
  const Files before = f.files();
  const std::string error = f.exportar();
  EXPECT_EQ(error.rfind("La carpeta " + (f.dir / "ANTERIOR").string() +
                            " está en otro disco o sistema de archivos que la carpeta de trabajo",
                        0),
            0u)
      << error;
  EXPECT_EQ(f.files(), before);
  EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}

TEST(FolderLock, OneOperationAtATimeInAFolder) {
  Folder f;
  const Files before = f.files();
  const std::string busy = "Otra operación de Pontix está en marcha en la carpeta " + f.dir.path().string() +
                           ".\nEspere a que termine y vuelva a intentarlo.";
  {
    FolderLock other(f.dir.path(), FolderLock::Purpose::Change);
    EXPECT_EQ(f.exportar(), busy);
    // Another process: the lock is the file's, as another program sees it.
    const std::string work = " --trabajo " + test::shellQuote(f.dir.path().string());
    for (const char* command : {" restaurar", " importar", " restaurar ASIGT"}) {
      const test::CommandResult r = test::run(test::cli(PONTIX_CLI) + command + work);
      EXPECT_EQ(r.exitCode, 1) << command;
      EXPECT_EQ(r.output, busy + "\n") << command;
    }
  }
  EXPECT_EQ(f.files(), before);  // the lock file is gone with its holder
  EXPECT_EQ(f.exportar(), "");
}

// A run killed in the middle (here, while the user types levels): nothing unwinds, the journal
// stays. The next operation, whichever it is, puts the tables back before anything else.
TEST(Recovery, TheNextOperationUndoesARunThatWasKilled) {
  Folder f;
  const Files before = f.files();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    f.shell.duringAssignment = [] { ::_exit(9); };
    f.exportar();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(WEXITSTATUS(status), 9);
  EXPECT_TRUE(fs::exists(f.dir / "PONTIX.DIARIO"));
  EXPECT_NE(f.files(), before);

  test::writeFile(f.dir / "horario.xml", "");
  f.shell.dialogAnswers.push_back((f.dir / "horario.xml").string());
  std::string error;
  try {
    runImportar(f.state, f.shell);  // SOLUC is missing: Importar itself fails, after putting things right
  } catch (const Error& e) {
    error = e.what();
  }
  EXPECT_NE(error.find("SOLUC"), std::string::npos) << error;
  ASSERT_EQ(f.state.report.recovered().size(), 1u);
  EXPECT_EQ(f.state.report.recovered()[0].rfind("Se ha deshecho una exportación que no terminó (", 0), 0u);
  fs::remove(f.dir / "horario.xml");
  Files after = f.files();
  after.erase("PONTIX.NIVELES");
  Files expected = before;
  expected.erase("PONTIX.NIVELES");
  EXPECT_EQ(after, expected);
  EXPECT_EQ(leftovers(f.dir.path()), std::vector<std::string>{});
  EXPECT_EQ(recoverWorkingFolder(f.dir.path()), std::nullopt);  // nothing left to do
}

// What earlier versions left when they were stopped: the user's table on its way into ANTERIOR
// (newer than the copy there) takes that copy's place; temporary files go.
TEST(Recovery, LeftoversOfEarlierVersionsAreTidied) {
  Folder f;
  test::writeFile(f.dir / "ANTERIOR" / "ASIGT.DBF.nueva", test::readFile(f.dir / "ASIGT.DBF"));
  test::writeFile(f.dir / ".MATIB.MDX.123456.tmp", "medio índice");
  test::writeFile(f.dir / ".notas.txt", "del usuario");
  EXPECT_EQ(recoverWorkingFolder(f.dir.path()), std::nullopt);
  EXPECT_EQ(test::tableRows(f.dir / "ANTERIOR", "ASIGT"), (Rows{{"EDITADA"}}));
  EXPECT_FALSE(fs::exists(f.dir / ".MATIB.MDX.123456.tmp"));
  EXPECT_FALSE(fs::exists(f.dir / "ANTERIOR" / "ASIGT.DBF.nueva"));
  EXPECT_TRUE(fs::exists(f.dir / ".notas.txt"));
}

TEST(Restore, TheWholePreviousGenerationComesBackAndGoesAgain) {
  Folder f;
  ASSERT_EQ(f.exportar(), "");  // ANTERIOR: the user's ASIGT and DIASHORAST with the rest
  const Files working = snapshot(f.dir.path()), previous = snapshot(f.dir / "ANTERIOR");
  auto tablesOf = [](const Files& all) {
    Files tables;
    for (const auto& [name, bytes] : all)
      if (name.find('/') == std::string::npos && name != "PONTIX.NIVELES" && name != "ANTERIOR")
        tables[name] = bytes;
    return tables;
  };
  EXPECT_EQ(restorePrevious(f.dir.path(), ""),
            "Restauradas las tablas ASIGNOMT, PROFT, AULAT, CURSOST, GRUPOST, MATIB, ASIGT, DIASHORAST en " +
                f.dir.path().string() + " desde " + (f.dir / "ANTERIOR").string() +
                ".\nLas que había quedan en " + (f.dir / "ANTERIOR").string() +
                ": vuelva a restaurar las tablas para deshacer el cambio.");
  EXPECT_EQ(tablesOf(snapshot(f.dir.path())), previous);
  EXPECT_EQ(snapshot(f.dir / "ANTERIOR"), tablesOf(working));
  restorePrevious(f.dir.path(), "");
  EXPECT_EQ(snapshot(f.dir.path()), working);

  // One table held elsewhere: nothing moves.
  dbase::Table held(f.dir / "ANTERIOR", "MATIB");
  held.open(dbase::OpenMode::Shared);
  try {
    restorePrevious(f.dir.path(), "");
    ADD_FAILURE() << "restored";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(),
              "La tabla " + (f.dir / "ANTERIOR" / "MATIB.DBF").string() + " está abierta por otro programa");
  }
  EXPECT_EQ(snapshot(f.dir.path()), working);
}

// Typed in a completed run, then a run the user left by "Forzar Salida" after typing other
// values for one course: both are remembered, the most recent first, for "Recuperar niveles".
TEST(TypedLevels, OutliveRunsThatDidNotComplete) {
  Folder f;  // its runs typed ESO1 = ESO 1 and ESO2 = ESO 2
  f.shell.levels = {{"ESO1", {"BAT", ""}}};
  f.shell.salida = "fuera";
  EXPECT_EQ(f.exportar(), "(no terminó)");
  fs::remove_all(f.dir / "ANTERIOR");  // even without the previous tables
  const PreviousLevels levels = previousCourseLevels(f.dir.path());
  EXPECT_EQ(levels.at("ESO1").level, "BAT");
  EXPECT_EQ(levels.at("ESO1").number, "1");
  EXPECT_EQ(levels.at("ESO2").level, "ESO");
  EXPECT_EQ(levels.at("ESO2").number, "2");
}

TEST(TypedLevels, ValuesCutOrReplacedByTheLevelsFileAreReported) {
  test::TempDir dir;
  test::writeFile(dir / "centre.xml", kDocument);
  test::writeFile(dir / "niveles.csv", "ESO1;SECUNDARIA;PRIMERO\nESO2;ESŌ;2\n");
  const test::CommandResult r =
      test::run(test::cli(PONTIX_CLI) + " exportar " + test::shellQuote((dir / "centre.xml").string()) +
                " --trabajo " + test::shellQuote(dir.path().string()) + " --niveles " +
                test::shellQuote((dir / "niveles.csv").string()));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  for (const char* line :
       {"  CURSOST.NIVEL: 1\n    «SECUNDARIA» → «SECUN»\n", "  CURSOST.CURSO: 1\n    «PRIMERO» → «PRI»\n",
        "  CURSOST.NIVEL: 1\n    «ESŌ» → «ESO»\n"})
    EXPECT_NE(r.output.find(line), std::string::npos) << line << "\n" << r.output;
}

}  // namespace
}  // namespace pontix

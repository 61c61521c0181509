// A real full disk, once: a file system of 1 MB that the operations fill up. Mounting it needs
// an administrator; elsewhere the test is skipped and the injected faults stand in for it.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

// A tmpfs mounted on a folder for one scope, unmounted whatever happens.
class ScopedTmpfs {
 public:
  ScopedTmpfs(fs::path folder, const char* options) : folder_(std::move(folder)) {
    if (::mount("tmpfs", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options) == 0)
      mounted_ = true;
    else
      error_ = errno;
  }
  ~ScopedTmpfs() {
    if (mounted_ && ::umount2(folder_.c_str(), 0) != 0) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  ScopedTmpfs(const ScopedTmpfs&) = delete;
  ScopedTmpfs& operator=(const ScopedTmpfs&) = delete;

  bool mounted() const { return mounted_; }
  int error() const { return error_; }

 private:
  fs::path folder_;
  bool mounted_ = false;
  int error_ = 0;
};

// Subjects of one course with one group: ASIGNOMT and MATIB alone take more than 1 MB.
std::string bigDocument() {
  std::string xml = "<?xml version='1.0' encoding='UTF-8'?>\n<CENTRE>\n<MATERIES>\n";
  for (int i = 0; i < 4000; ++i)
    xml += "<MATERIA codi='M" + std::to_string(i) + "' curs='BAT1' descripcio='Matèria optativa número " +
           std::to_string(i) + "' curta='OPT" + std::to_string(i) + "'/>\n";
  return xml +
         "</MATERIES>\n<CURSOS><CURS codi='BAT1' descripcio='1r de batxillerat'><GRUP "
         "codi='BAT1A'/></CURS></CURSOS>\n</CENTRE>\n";
}

TEST(RealFullDisk, ExportarAndImportarEndInAnErrorAndLeaveEverythingSound) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a 1 MB tmpfs needs an administrator";
  test::TempDir root;
  const fs::path disk = root / "disco";
  fs::create_directory(disk);
  ScopedTmpfs tmpfs(disk, "size=1m");
  if (!tmpfs.mounted()) GTEST_SKIP() << "a tmpfs could not be mounted: " << std::strerror(tmpfs.error());

  const fs::path work = disk / "KTEMP", saga = disk / "saga";
  fs::create_directory(work);
  fs::create_directory(saga);
  const std::string earlier = "<?xml version=\"1.0\"?>\n<HORARI><SESSIONS/></HORARI>\n";
  test::writeFile(saga / "SolucioHorari.xml", earlier);
  test::writeFile(saga / "horario.xml", "");
  test::writeFile(root / "centre.xml", bigDocument());

  {
    ProgramState state(work);
    test::FakeShell shell;
    shell.dialogAnswers.push_back((root / "centre.xml").string());
    try {
      runExportar(state, shell);
      ADD_FAILURE() << "Exportar completed on a full disk";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("no queda espacio en el disco"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(work.string()), std::string::npos) << e.what();
    }
    EXPECT_EQ(std::count(shell.events.begin(), shell.events.end(), "completed"), 0);
    EXPECT_EQ(state.resultFlag, 0);
  }
  EXPECT_EQ(test::folderFault(work), "");
  EXPECT_EQ(test::temporaryFiles(work), Strings{});

  // Importar reads its tables elsewhere and writes more than the disk holds.
  test::TempDir tables;
  test::writeSolutionTables(tables.path(), 8000);
  ProgramState state(tables.path());
  test::FakeShell shell;
  shell.dialogAnswers.push_back((saga / "horario.xml").string());
  try {
    runImportar(state, shell);
    ADD_FAILURE() << "Importar completed on a full disk";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "No se pudo escribir en el archivo '" + (saga / "SolucioHorari.xml").string() +
                               "': no queda espacio en el disco");
  }
  EXPECT_EQ(test::readFile(saga / "SolucioHorari.xml"), earlier);
  EXPECT_EQ(test::temporaryFiles(saga), Strings{});
  EXPECT_EQ(shell.events, Strings{"dialog"});
}

}  // namespace
}  // namespace pontix

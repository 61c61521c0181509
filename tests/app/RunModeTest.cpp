#include "app/RunMode.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"
#include "platform/Error.h"
#include "platform/FileIo.h"

namespace pontix {
namespace {

namespace fs = std::filesystem;

TEST(RunMode, HostHandleIsHexadecimalWrappingToSigned32Bits) {
  struct Case {
    const char* argument;
    std::optional<std::int32_t> handle;
  };
  const Case cases[] = {
      {"1a2B", 0x1A2B},
      {"1A2b", 0x1A2B},
      {"0", 0},
      {"7FFFFFFF", 0x7FFFFFFF},
      {"80000000", INT32_MIN},
      {"FFFFFFFF", -1},
      {"000000001C00007", 0x1C00007},  // leading zeros are not significant
      {"100000000", std::nullopt},     // nine digits
      {"0x12", std::nullopt},
      {"", std::nullopt},
      {"12 ", std::nullopt},
      {" 12", std::nullopt},
      {"-1", std::nullopt},
      {"+1", std::nullopt},
      {"G1", std::nullopt},
      {"$12", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(parseHostHandle(c.argument), c.handle) << '"' << c.argument << '"';
  EXPECT_EQ(invalidHandleText("0x12"), "'$0x12' no es un valor entero válido");
}

TEST(RunMode, OperationNamesIgnoreTheCaseOfAToZOnly) {
  struct Case {
    const char* argument;
    bool exportar;
    bool importar;
  };
  const Case cases[] = {
      {"exportar", true, false},          {"EXPORTAR", true, false}, {"Exportar", true, false},
      {"importar", false, true},          {"ImPoRtAr", false, true}, {"exportar ", false, false},
      {" exportar", false, false},        {"export", false, false},  {"", false, false},
      {"EXPORTAR\xC3\x89", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(namesOperation(c.argument, "exportar"), c.exportar) << c.argument;
    EXPECT_EQ(namesOperation(c.argument, "importar"), c.importar) << c.argument;
  }
}

// An installed program (real/bin/pontix), a link to it beside the host (host/pontix), and a
// Wine prefix whose drive C: holds the host's folder.
class LaunchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(real);
    test::writeFile(real / "pontix", "#!/bin/sh\n");
    fs::permissions(real / "pontix", fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::create_directories(host);
    fs::create_symlink(real / "pontix", host / "pontix");
    fs::create_directories(tmp / "wine" / "drive_c" / "Horalia");
    fs::create_directories(tmp / "wine" / "dosdevices");
    fs::create_symlink("../drive_c", tmp / "wine" / "dosdevices" / "c:");
    env.currentFolder = tmp.path();
    env.executable = real / "pontix";
    env.winePrefix = tmp / "wine";
  }

  test::TempDir tmp;
  const fs::path real = tmp / "real" / "bin";
  const fs::path host = tmp / "host";
  LaunchEnvironment env;
};

TEST_F(LaunchFolder, APathKeepsTheFolderAsLaunchedWithoutResolvingLinks) {
  EXPECT_EQ(launchFolder((host / "pontix").string(), env), host);
  EXPECT_EQ(launchFolder("host/./pontix", env), host);
  EXPECT_EQ(launchFolder("host//pontix", env), host);
  env.currentFolder = host;
  EXPECT_EQ(launchFolder("./pontix", env), host);
  // ".." is left to the system: past a link it is not the lexical parent.
  env.currentFolder = real;
  EXPECT_EQ(launchFolder("../../host/pontix", env), real / ".." / ".." / "host");
  EXPECT_TRUE(fs::equivalent(launchFolder("../../host/pontix", env), host));
}

TEST_F(LaunchFolder, ABareNameIsTheFirstPathEntryWithAnExecutableOfThatName) {
  // Passed over: a folder without it, a file that is not executable, a folder of that name.
  fs::create_directories(tmp / "none");
  fs::create_directories(tmp / "plain");
  test::writeFile(tmp / "plain" / "pontix", "");
  fs::permissions(tmp / "plain" / "pontix", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_directories(tmp / "folder" / "pontix");
  env.path = (tmp / "none").string() + ":" + (tmp / "plain").string() + ":" + (tmp / "folder").string() +
             ":" + host.string() + ":" + real.string();
  EXPECT_EQ(launchFolder("pontix", env), host);

  // Relative and empty entries are the current folder's.
  env.path = "none:host";
  EXPECT_EQ(launchFolder("pontix", env), host);
  env.currentFolder = host;
  env.path = "/nonexistent::" + real.string();
  EXPECT_EQ(launchFolder("pontix", env), host);
}

TEST_F(LaunchFolder, AWindowsPathGoesThroughWinesDriveLinks) {
  EXPECT_EQ(launchFolder("C:\\HORALIA\\pontix.exe", env), tmp / "wine" / "dosdevices" / "c:" / "Horalia");
  EXPECT_EQ(launchFolder("c:/horalia/pontix.exe", env), tmp / "wine" / "dosdevices" / "c:" / "Horalia");
  EXPECT_EQ(launchFolder("C:\\pontix.exe", env), tmp / "wine" / "dosdevices" / "c:");
  // A drive or folder Wine does not have: the executable's own folder.
  EXPECT_EQ(launchFolder("D:\\Horalia\\pontix.exe", env), real);
  EXPECT_EQ(launchFolder("C:\\Otro\\pontix.exe", env), real);
}

TEST_F(LaunchFolder, OtherwiseTheExecutablesOwnFolder) {
  env.path = host.string();
  EXPECT_EQ(launchFolder("", env), real);
  EXPECT_EQ(launchFolder("pontix-otro", env), real);
  env.path.reset();
  EXPECT_EQ(launchFolder("pontix", env), real);
  env.executable.clear();
  EXPECT_EQ(launchFolder("pontix", env), tmp.path());

  // This process's own: its executable from /proc, PATH and the current folder as they are.
  const fs::path self = fs::read_symlink("/proc/self/exe");
  EXPECT_EQ(launchFolder(""), self.parent_path());
  EXPECT_EQ(launchFolder(self.string()), self.parent_path());
}

// The result file's folder as an unprivileged user finds it: an administrator is let through
// by the system, so then the write runs in a child process as user 65534.
std::string resultFlagFailure(const fs::path& iniFile) {
  auto attempt = [&]() -> std::string {
    try {
      writeResultFlag(iniFile, 1);
      return "";
    } catch (const Error& e) {
      return e.what();
    }
  };
  if (geteuid() != 0) return attempt();
  int channel[2];
  if (pipe(channel) != 0) return "pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    std::string text = setgid(65534) == 0 && setuid(65534) == 0 ? attempt() : "setuid";
    const ssize_t written = write(channel[1], text.data(), text.size());
    _exit(written == static_cast<ssize_t>(text.size()) ? 0 : 1);
  }
  close(channel[1]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return text;
}

TEST(RunMode, AResultFolderWithoutWritePermissionIsNamedWithHowToPlaceThePrograms) {
  test::TempDir tmp;
  const fs::path folder = tmp / "bin";
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(tmp.path(), fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
  EXPECT_EQ(resultFlagFailure(folder / "Horalia.ini"),
            "No se puede dejar el resultado para Horalia en la carpeta " + folder.string() +
                ": no tiene permiso de escritura.\nPonga pontix junto a Horalia (un enlace simbólico o una "
                "copia en su carpeta).");
  EXPECT_FALSE(fs::exists(folder / "Horalia.ini"));
  fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add);
}

TEST(RunMode, OtherFailuresToWriteTheResultKeepTheSystemText) {
  test::TempDir tmp;
  fs::create_directories(tmp / "Horalia.ini");  // a folder where the file should be
  for (const fs::path& iniFile : {tmp / "Horalia.ini", tmp / "falta" / "Horalia.ini"}) {
    try {
      writeResultFlag(iniFile, 1);
      ADD_FAILURE() << "written: " << iniFile;
    } catch (const Error& e) {
      EXPECT_EQ(e.message(), "Unable to write to " + iniFile.string());
    }
  }
  writeResultFlag(tmp / "Horalia2.ini", 7);
  EXPECT_NE(test::readFile(tmp / "Horalia2.ini").find("Transformado=7"), std::string::npos);
}

TEST(RunMode, TheHelpFileIsBesideTheExecutableElseWhereAnInstallKeepsIt) {
  test::TempDir tmp;
  const fs::path executable = tmp / "bin" / "pontix";
  fs::create_directories(tmp / "bin");
  EXPECT_EQ(helpFileLocation("Scolaria.chm", executable), "Scolaria.chm");  // neither: named beside it
  fs::create_directories(tmp / "share" / "pontix");
  test::writeFile(tmp / "share" / "pontix" / "Scolaria.chm", "x");
  EXPECT_EQ(helpFileLocation("Scolaria.chm", executable),
            (tmp / "share" / "pontix" / "Scolaria.chm").string());
  EXPECT_EQ(helpFileLocation("otra/Scolaria.chm", executable), "otra/Scolaria.chm");
  EXPECT_EQ(helpFileLocation("", executable), "");
  test::writeFile(tmp / "bin" / "Scolaria.chm", "x");
  EXPECT_EQ(helpFileLocation("Scolaria.chm", executable), "Scolaria.chm");
}

// What the Wine launcher waits on: the marker says the program started, stays locked while
// it runs, and goes when it exits; killed, it leaves the marker unlocked.
TEST(RunMode, TheEndMarkerIsHeldWhileTheProgramRunsAndGoesWithIt) {
  test::TempDir dir;
  const fs::path marker = dir / "ptx1.tmp";
  auto lockedByAnother = [&] {
    const int fd = ::open(marker.c_str(), O_RDWR | O_CLOEXEC);
    const bool refused = fd >= 0 && !io::recordLock(fd, F_WRLCK, 0, 1);
    if (fd >= 0) ::close(fd);
    return refused;
  };
  for (const bool killed : {false, true}) {
    test::writeFile(marker, "");
    int toChild[2], fromChild[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(fromChild), 0);
    const pid_t child = fork();
    if (child == 0) {
      ::setenv("PONTIX_MARCA_FIN", marker.c_str(), 1);
      holdEndMarker();
      char c = ::getenv("PONTIX_MARCA_FIN") ? 'e' : 'h';  // not passed on to what it starts
      if (write(fromChild[1], &c, 1) != 1 || read(toChild[0], &c, 1) != 1) _exit(2);
      std::exit(0);  // as the program ends: its exit handlers run
    }
    char c = 0;
    ASSERT_EQ(read(fromChild[0], &c, 1), 1);
    EXPECT_EQ(c, 'h');
    EXPECT_EQ(test::readFile(marker), "pontix\n");
    EXPECT_TRUE(lockedByAnother());
    if (killed) {
      ::kill(child, SIGKILL);
    } else {
      ASSERT_EQ(write(toChild[1], &c, 1), 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (killed) {
      EXPECT_TRUE(fs::exists(marker));
      EXPECT_FALSE(lockedByAnother());
    } else {
      EXPECT_EQ(WEXITSTATUS(status), 0);
      EXPECT_FALSE(fs::exists(marker));
    }
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) close(fd);
  }
}

TEST(RunMode, WithoutAMarkerOrWithALinkForOneNothingIsTouched) {
  test::TempDir dir;
  test::writeFile(dir / "target", "x");
  fs::create_symlink(dir / "target", dir / "link");
  const pid_t child = fork();
  if (child == 0) {
    ::setenv("PONTIX_MARCA_FIN", (dir / "link").c_str(), 1);
    holdEndMarker();
    std::exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link"));
  EXPECT_EQ(test::readFile(dir / "target"), "x");
}

}  // namespace
}  // namespace pontix

#include "platform/WinPath.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "TestSupport.h"
#include "platform/Error.h"

namespace pontix {
namespace {

using test::ScopedEnv;

TEST(WindowsPath, WorkingDirectorySpellingsMeetInOneFolder) {
  test::TempDir drive;
  ScopedEnv env("PONTIX_DRIVE_C", drive.path().c_str());
  std::filesystem::create_directories(drive / "KTEMP" / "Saga");
  for (const char* spelling : {"C:\\KTEMP", "c:\\ktemp", "\\ktemp", "\\KTEMP", "c:/KTemp/"})
    EXPECT_EQ(mapWindowsPath(spelling), drive / "KTEMP") << spelling;
  EXPECT_EQ(mapWindowsPath("c:\\ktemp\\saga"), drive / "KTEMP" / "Saga");
  // What does not exist keeps the case the program gives.
  EXPECT_EQ(mapWindowsPath("c:\\ktemp\\Nuevo\\X.DBF"), drive / "KTEMP" / "Nuevo" / "X.DBF");
  EXPECT_EQ(mapWindowsPath("C:\\"), drive.path());
}

TEST(WindowsPath, ExactMatchWinsOverOtherCase) {
  test::TempDir drive;
  ScopedEnv env("PONTIX_DRIVE_C", drive.path().c_str());
  std::filesystem::create_directories(drive / "ktemp");
  std::filesystem::create_directories(drive / "KTEMP");
  EXPECT_EQ(mapWindowsPath("c:\\ktemp"), drive / "ktemp");
  EXPECT_EQ(mapWindowsPath("C:\\KTEMP"), drive / "KTEMP");
}

TEST(WindowsPath, DriveRootFallsBackThroughWineToXdg) {
  test::TempDir home;
  ScopedEnv noDrive("PONTIX_DRIVE_C", nullptr);
  ScopedEnv homeEnv("HOME", home.path().c_str());
  ScopedEnv xdg("XDG_DATA_HOME", nullptr);
  ScopedEnv prefix("WINEPREFIX", (home / "prefix").c_str());

  EXPECT_EQ(driveCRoot(), home / ".local" / "share" / "pontix" / "drive_c");
  {
    ScopedEnv data("XDG_DATA_HOME", (home / "data").c_str());
    EXPECT_EQ(driveCRoot(), home / "data" / "pontix" / "drive_c");
  }
  std::filesystem::create_directories(home / ".wine" / "drive_c");
  EXPECT_EQ(driveCRoot(), home / ".wine" / "drive_c");
  std::filesystem::create_directories(home / "prefix" / "drive_c");
  EXPECT_EQ(driveCRoot(), home / "prefix" / "drive_c");
}

TEST(WindowsPath, OtherDrivesAreRefused) {
  try {
    mapWindowsPath("D:\\datos");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::NotFound);
    EXPECT_STREQ(e.what(), "La unidad D: no existe en este sistema");
  }
}

}  // namespace
}  // namespace pontix

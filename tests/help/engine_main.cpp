// Runs the help window's tests: offscreen unless QT_QPA_PLATFORM says otherwise.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QTemporaryDir runtime;  // Qt wants a private runtime folder
  QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 0);
  // The window keeps its size in the settings: the tests' own, never the user's.
  QStandardPaths::setTestModeEnabled(true);
  QApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

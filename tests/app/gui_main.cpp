// Runs the window tests: offscreen unless QT_QPA_PLATFORM says otherwise.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>

#include "app/QtSpanish.h"

#ifdef __SANITIZE_ADDRESS__
// The session bus library keeps a buffer for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
#endif

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QTemporaryDir runtime;  // Qt wants a private runtime folder
  QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 0);
  // Qt's file dialog keeps its columns and history in the user's settings: tests start from
  // none and leave none behind.
  QTemporaryDir settings;
  setenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit().constData(), 1);
  QApplication application(argc, argv);
  application.setApplicationName("Pontix");
  pontix::loadQtSpanish(application);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

// Runs the window tests: offscreen unless QT_QPA_PLATFORM says otherwise.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>

#ifdef __SANITIZE_ADDRESS__
// The session bus library keeps a buffer for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
#endif

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QTemporaryDir runtime;  // Qt wants a private runtime folder
  QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  setenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit().constData(), 0);
  QApplication application(argc, argv);
  application.setApplicationName("Pontix");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

// Pontix: the converter's window.

#include <QApplication>

#include "app/ApplicationHelp.h"
#include "app/MainForm.h"
#include "app/QtSpanish.h"
#include "app/RunMode.h"

#ifdef __SANITIZE_ADDRESS__
// The session bus library keeps a buffer for the life of the process.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }
// Quiet about it: a host-driven run prints nothing on stderr.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif

int main(int argc, char** argv) {
  pontix::holdEndMarker();
  // Horalia reads the result beside the program as it launched it, which may be a link to an
  // installed copy: argv[0] keeps that place, the executable's own path does not.
  const std::filesystem::path launchedFrom = pontix::launchFolder(argc > 0 && argv[0] ? argv[0] : "");
  QApplication application(argc, argv);
  application.setProperty("helpFile", pontix::kHelpFile);
  application.setApplicationName(pontix::kApplicationTitle);
  pontix::loadQtSpanish(application);  // without it Qt's own dialogs stay English
  pontix::ApplicationHelp help;        // started before the main window, which asks it
  pontix::TMForm MForm(application.arguments().mid(1));
  MForm.resultFile = launchedFrom / "Horalia.ini";
  help.serve(MForm);
  // Closing the main window ends the program; quit() would not while it has a foreign parent.
  QObject::connect(&MForm, &pontix::TMForm::closed, &application, [] { QCoreApplication::exit(0); });
  MForm.show();
  return application.exec();
}

#include "app/ApplicationHelp.h"

#include <QApplication>
#include <QFile>
#include <QWidget>

#include "app/MainForm.h"
#include "app/RunMode.h"

namespace pontix {

namespace {

std::string localName(const QString& text) { return QFile::encodeName(text).toStdString(); }

std::string executablePath() { return localName(QCoreApplication::applicationFilePath()); }

// The active form's own help file if it has one, else the application's; a bare name is
// looked for beside the executable, then where an installed copy keeps it.
std::string applicationHelpFile() {
  QString name;
  if (const QWidget* active = QApplication::activeWindow()) name = active->property("helpFile").toString();
  if (name.isEmpty()) name = qApp->property("helpFile").toString();
  return helpFileLocation(localName(name), executablePath());
}

}  // namespace

ApplicationHelp::ApplicationHelp(const help::HelpLibraryLoader& loadLibrary)
    : winHelp(help::TWinHelpViewer::join(*manager)) {
  help::startUp(*manager, *winHelp, loadLibrary, {applicationHelpFile, executablePath});
}

ApplicationHelp::~ApplicationHelp() {
  // The help window goes with the program.
  manager->helpCommand(help::HELP_QUIT, 0, applicationHelpFile());
  help::shutDown();
  manager->shutDown();
}

void ApplicationHelp::serve(TMForm& form) {
  form.helpContext = [this](int helpContext) { context(helpContext); };
  form.helpContents = [this] { contents(); };
}

void ApplicationHelp::context(int helpContext) {
  manager->helpCommand(help::HELP_CONTEXT, static_cast<std::uintptr_t>(helpContext), applicationHelpFile());
}

void ApplicationHelp::contents() { manager->helpCommand(help::HELP_CONTENTS, 0, applicationHelpFile()); }

}  // namespace pontix

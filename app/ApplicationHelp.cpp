#include "app/ApplicationHelp.h"

#include <QApplication>
#include <QFile>
#include <QWidget>

#include "app/MainForm.h"

namespace pontix {

namespace {

std::string localName(const QString& text) { return QFile::encodeName(text).toStdString(); }

// The active form's own help file if it has one, else the application's.
std::string applicationHelpFile() {
  if (const QWidget* active = QApplication::activeWindow()) {
    const QString own = active->property("helpFile").toString();
    if (!own.isEmpty()) return localName(own);
  }
  return localName(qApp->property("helpFile").toString());
}

}  // namespace

ApplicationHelp::ApplicationHelp(const help::HelpLibraryLoader& loadLibrary)
    : winHelp(help::TWinHelpViewer::join(*manager)) {
  help::startUp(*manager, *winHelp, loadLibrary,
                {applicationHelpFile, [] { return localName(QCoreApplication::applicationFilePath()); }});
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

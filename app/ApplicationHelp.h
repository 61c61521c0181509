#pragma once

#include <memory>

#include "help/HelpManager.h"
#include "help/StoHtmlHelp.h"

namespace pontix {

class TMForm;

// The application's help for the life of the program: the help manager, the WinHelp viewer
// that joins it first, and StoHtmlHelp started up after it.
class ApplicationHelp {
 public:
  explicit ApplicationHelp(const help::HelpLibraryLoader& loadLibrary = help::systemHelpLibraryLoader());
  ~ApplicationHelp();
  ApplicationHelp(const ApplicationHelp&) = delete;
  ApplicationHelp& operator=(const ApplicationHelp&) = delete;

  // F1 and "F1 AYUDA" of the window (and of its dialogs) reach the help through here.
  void serve(TMForm& form);
  // Context help with the application's current help file.
  void context(int helpContext);
  // The contents of the application's current help file.
  void contents();

  std::shared_ptr<help::HelpManager> manager = help::HelpManager::create();
  std::shared_ptr<help::TWinHelpViewer> winHelp;
};

}  // namespace pontix

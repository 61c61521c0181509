#pragma once

// The HTML help engine as the viewer calls it: HtmlHelpA(owner, file, command, data).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pontix::help {

// The engine's commands the converter sends, with their numbers in the engine's interface.
enum HtmlHelpCommand : unsigned {
  HH_DISPLAY_TOPIC = 0,    // file "help.chm::/topic.htm", data 0
  HH_DISPLAY_TOC = 1,      // the contents and the default topic, data 0
  HH_DISPLAY_INDEX = 2,    // data points to the keyword, a NUL-terminated text
  HH_HELP_CONTEXT = 15,    // data is the context number
  HH_CLOSE_ALL = 18,       // no owner, no file, data 0
  HH_GET_LAST_ERROR = 20,  // never sent
};

// A window handle as the engine takes it (an HWND on Windows); 0 is none.
using WindowHandle = std::uintptr_t;

// HtmlHelpA. The file is the platform's path text (ANSI on Windows, UTF-8 elsewhere) or null;
// the result, a window handle, is not used by the viewer.
using HtmlHelpFunction =
    std::function<WindowHandle(WindowHandle owner, const char* file, unsigned command, std::uintptr_t data)>;

// A loaded library that may export HtmlHelpA ("HHCtrl.ocx"); freed when the last owner lets go.
class HelpLibrary {
 public:
  virtual ~HelpLibrary() = default;
  // The entry called name, or an empty function when the library has none.
  virtual HtmlHelpFunction find(const std::string& name) = 0;
};

// Loads a library by its name; null when it cannot be loaded.
using HelpLibraryLoader = std::function<std::shared_ptr<HelpLibrary>(const std::string& name)>;

}  // namespace pontix::help

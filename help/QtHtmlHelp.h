#pragma once

// The HTML help engine of this platform: a help window inside the program, over a compiled
// help file read with chmlib.

#include <cstdint>

#include "help/HtmlHelp.h"

namespace pontix::help {

class HelpWindow;

// HtmlHelpA of this platform: the in-app help window. Returns the window's id or 0.
// file: "path.chm", or "path.chm::/topic.htm#anchor" for HH_DISPLAY_TOPIC. A file that cannot
// be read, or a topic, context or keyword it lacks, shows nothing new and returns 0. While a
// modal dialog is open the window belongs to it, so that the dialog does not block it.
WindowHandle qtHtmlHelp(WindowHandle owner, const char* file, unsigned command, std::uintptr_t data);

// The help window, when one exists (it may be hidden).
HelpWindow* helpWindow();

}  // namespace pontix::help

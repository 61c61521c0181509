#pragma once

#include <cstdint>

class QWidget;

namespace pontix {

enum class EmbedResult {
  Embedded,      // a frameless child of the host window, following its size
  NoSuchWindow,  // the handle names no window; nothing changed
  Unsupported,   // this window system cannot take foreign parents; made frameless only
};

// Puts the main window inside the host window `handle` (an X11 window id). While it lives
// there it takes the host's size, and the program ends when the host window goes away.
EmbedResult embedInHostWindow(QWidget* window, std::uint32_t handle);

}  // namespace pontix

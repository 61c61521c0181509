#pragma once

#include <cstdint>
#include <functional>

class QWidget;

namespace pontix {

enum class EmbedResult {
  Embedded,      // a frameless child of the host window, following its size
  NoSuchWindow,  // the handle names no window; nothing changed
  Unsupported,   // this window system cannot take foreign parents; made frameless only
};

// Puts the main window inside the host window `handle` (an X11 window id). While it lives
// there it takes the host's size, and the program ends when the host window goes away:
// `hostGone` runs first, then the event loops are told to end.
EmbedResult embedInHostWindow(QWidget* window, std::uint32_t handle, std::function<void()> hostGone = {});

// Asks the window manager for a fixed dialog frame with a close box only: no resizing, no
// minimise or maximise. Qt always offers resizing in these hints, so they are written over
// Qt's; call it after the native window exists and before it is mapped.
void requestFixedDialogFrame(QWidget* window);

}  // namespace pontix

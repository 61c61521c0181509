#include "app/HostWindow.h"

#include <xcb/xcb.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <memory>
#include <utility>

namespace pontix {
namespace {

xcb_connection_t* xcbConnection() {
  if (QGuiApplication::platformName() != "xcb") return nullptr;
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->connection() : nullptr;
}

// Asked on Qt's own connection; the error goes to the reply, not to Qt's error handler.
bool windowExists(xcb_connection_t* connection, std::uint32_t window) {
  xcb_generic_error_t* error = nullptr;
  std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> reply(
      xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, window), &error),
      &std::free);
  std::free(error);
  return reply != nullptr;
}

// Follows the host window: its size becomes ours, and its end ends the program (the X
// server destroys our window with it, and nothing else would stop the process). Qt leaves
// foreign windows alone, so the events are selected on our connection and read here; a slow
// poll covers an event that never comes.
class HostWatcher : public QObject, public QAbstractNativeEventFilter {
 public:
  HostWatcher(QWidget* window, xcb_connection_t* connection, std::uint32_t host, std::function<void()> gone)
      : QObject(window), window_(window), connection_(connection), host_(host), onGone_(std::move(gone)) {
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, host_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
    qApp->installNativeEventFilter(this);
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this] {
      if (!windowExists(connection_, host_)) hostGone();
    });
    poll->start(1000);
  }
  ~HostWatcher() override { qApp->removeNativeEventFilter(this); }

  void followSize(int width, int height) {
    if (width > 0 && height > 0) window_->setGeometry(0, 0, width, height);
  }

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
    if (eventType != "xcb_generic_event_t") return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7F) {
      case XCB_CONFIGURE_NOTIFY: {
        auto* configure = reinterpret_cast<xcb_configure_notify_event_t*>(event);
        if (configure->window == host_) followSize(configure->width, configure->height);
        break;
      }
      case XCB_DESTROY_NOTIFY:
        if (reinterpret_cast<xcb_destroy_notify_event_t*>(event)->window == host_) hostGone();
        break;
    }
    return false;
  }

 private:
  void hostGone() {
    if (gone_) return;
    gone_ = true;
    if (onGone_) onGone_();
    // quit() does nothing while a window has a foreign parent.
    QCoreApplication::exit(0);
  }

  QWidget* window_;
  xcb_connection_t* connection_;
  std::uint32_t host_;
  std::function<void()> onGone_;
  bool gone_ = false;
};

}  // namespace

EmbedResult embedInHostWindow(QWidget* window, std::uint32_t handle, std::function<void()> hostGone) {
  xcb_connection_t* connection = xcbConnection();
  if (connection && !windowExists(connection, handle)) return EmbedResult::NoSuchWindow;

  window->setMinimumSize(0, 0);
  window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  // Title and system-menu hints would win over frameless.
  window->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  if (!connection) return EmbedResult::Unsupported;

  window->winId();
  window->windowHandle()->setParent(QWindow::fromWinId(handle));
  auto* watcher = new HostWatcher(window, connection, handle, std::move(hostGone));
  xcb_generic_error_t* error = nullptr;
  std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
      xcb_get_geometry_reply(connection, xcb_get_geometry(connection, handle), &error), &std::free);
  std::free(error);
  if (geometry) watcher->followSize(geometry->width, geometry->height);
  return EmbedResult::Embedded;
}

void requestFixedDialogFrame(QWidget* window) {
  xcb_connection_t* connection = xcbConnection();
  if (!connection) return;
  // Motif window-manager hints: flags, functions, decorations, input mode, status.
  enum : std::uint32_t { kFunctions = 1, kDecorations = 2 };
  enum : std::uint32_t { kMove = 4, kClose = 32 };
  enum : std::uint32_t { kBorder = 2, kTitle = 8, kMenu = 16 };
  const std::uint32_t hints[5] = {kFunctions | kDecorations, kMove | kClose, kBorder | kTitle | kMenu, 0, 0};
  static constexpr char kName[] = "_MOTIF_WM_HINTS";
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
      xcb_intern_atom_reply(connection, xcb_intern_atom(connection, false, sizeof kName - 1, kName), nullptr),
      &std::free);
  if (!atom) return;
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()),
                      atom->atom, atom->atom, 32, 5, hints);
  xcb_flush(connection);
}

}  // namespace pontix

#include "help/QtHtmlHelp.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QVariant>
#include <memory>
#include <optional>

#include "help/ChmArchive.h"
#include "help/HelpWindow.h"

namespace pontix::help {

namespace {

QPointer<HelpWindow>& theWindow() {
  static QPointer<HelpWindow> window;
  return window;
}

// A window of its own is the program's to delete; one that belongs to a dialog goes with it.
void deleteOwnWindow() {
  QPointer<HelpWindow>& window = theWindow();
  if (window && !window->parentWidget()) delete window.data();
}

std::string toStd(const QString& text) { return text.toUtf8().toStdString(); }

// What the file argument names: "path.chm" or "path.chm::/topic.htm#anchor", either maybe
// followed by ">window".
struct Target {
  QString file;
  QString topic;
};

Target target(const char* file) {
  QString text = QFile::decodeName(file).trimmed();
  for (const auto prefix : {QLatin1String("ms-its:"), QLatin1String("mk:@MSITStore:")})
    if (text.startsWith(prefix, Qt::CaseInsensitive)) text = text.mid(prefix.size());
  Target t;
  const qsizetype separator = text.indexOf(QLatin1String("::"));
  t.file = separator < 0 ? text : text.left(separator);
  t.topic = separator < 0 ? QString() : text.mid(separator + 2);
  t.topic = t.topic.section(QLatin1Char('>'), 0, 0);
  const qsizetype window = t.file.lastIndexOf(QLatin1Char('>'));
  if (window > 0 && t.file.left(window).endsWith(QLatin1String(".chm"), Qt::CaseInsensitive))
    t.file = t.file.left(window);
  return t;
}

bool hasTopic(const ChmArchive& archive, const QString& topic) {
  return archive.find(toStd(topic.section(QLatin1Char('#'), 0, 0))).has_value();
}

// A form that has a page of its own in the help names it in its "helpTopic" property.
std::optional<QString> formTopic(const ChmArchive& archive) {
  QWidget* form = QApplication::activeModalWidget();
  if (!form) form = QApplication::activeWindow();
  if (!form) return std::nullopt;
  const QString topic = form->property("helpTopic").toString().trimmed();
  if (topic.isEmpty() || !hasTopic(archive, topic)) return std::nullopt;
  return topic;
}

// The window, made or moved so that it can be used now. A modal dialog blocks every other
// window but its own: while one is open, the help window is one of its windows.
HelpWindow* usableWindow() {
  QPointer<HelpWindow>& window = theWindow();
  QWidget* modal = QApplication::activeModalWidget();
  if (modal && window && (modal == window || window->isAncestorOf(modal))) modal = window->parentWidget();
  if (!window) {
    window = new HelpWindow(modal);
    static const bool registered = (qAddPostRoutine(deleteOwnWindow), true);
    (void)registered;
  } else if (window->parentWidget() != modal) {
    const QSize size = window->size();
    window->setParent(modal, Qt::Window);
    window->resize(size);
  }
  return window;
}

}  // namespace

HelpWindow* helpWindow() { return theWindow(); }

WindowHandle qtHtmlHelp(WindowHandle /*owner*/, const char* file, unsigned command, std::uintptr_t data) {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return 0;
  if (command == HH_CLOSE_ALL) {
    if (HelpWindow* window = theWindow()) window->hide();
    return 0;
  }
  if (command != HH_DISPLAY_TOC && command != HH_DISPLAY_TOPIC && command != HH_DISPLAY_INDEX &&
      command != HH_HELP_CONTEXT)
    return 0;
  if (!file) return 0;
  const Target request = target(file);
  const QFileInfo info(request.file);
  if (!info.isFile()) return 0;

  // The window keeps the file it shows while it is unchanged on disk, with its history.
  HelpWindow* existing = theWindow();
  std::shared_ptr<const ChmArchive> archive =
      existing && existing->showsFile(info) ? existing->archive() : nullptr;
  const bool fresh = !archive;
  if (fresh) archive = ChmArchive::open(QFile::encodeName(info.absoluteFilePath()).toStdString());
  if (!archive) return 0;

  std::optional<QString> topic;
  if (command == HH_DISPLAY_TOPIC && !request.topic.isEmpty()) {
    if (!hasTopic(*archive, request.topic)) return 0;
    topic = request.topic;
  } else if (command == HH_HELP_CONTEXT) {
    topic = formTopic(*archive);
    if (!topic) {
      const auto mapped = archive->contextTopic(static_cast<std::uint32_t>(data));
      if (!mapped) return 0;
      topic = QString::fromUtf8(mapped->c_str());
    }
  }

  HelpWindow* window = usableWindow();
  if (fresh) window->setArchive(archive, info);
  if (command == HH_DISPLAY_INDEX) {
    const char* keyword = reinterpret_cast<const char*>(data);
    const bool found =
        window->showKeyword(keyword ? QString::fromUtf8(decodeText(keyword).c_str()) : QString());
    if (!found && (fresh || window->currentTopic().isEmpty())) window->showDefaultTopic();
  } else if (topic) {
    window->showTopic(*topic);
  } else {
    if (command == HH_DISPLAY_TOC) window->showContentsTab();
    window->showDefaultTopic();
  }
  window->show();
  window->raise();
  window->activateWindow();
  return static_cast<WindowHandle>(window->winId());
}

}  // namespace pontix::help

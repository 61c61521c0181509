// The window under a real X server: its frame, and host-driven runs inside a foreign host
// window.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QProcess>
#include <QWidget>
#include <QWindow>
#include <regex>

#include "ModalDriver.h"
#include "TestSupport.h"
#include "app/MainForm.h"

namespace pontix {
namespace {

using test::ModalDriver;
using test::waitFor;

std::string hex(WId id) { return QString::number(id, 16).toStdString(); }

// The X11 children of a window, from xwininfo.
std::vector<std::string> childrenOf(WId window) {
  test::CommandResult r = test::run("xwininfo -children -id 0x" + hex(window));
  std::vector<std::string> ids;
  static const std::regex child(R"(^\s+(0x[0-9a-f]+) )");
  std::istringstream lines(r.output);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_search(line, m, child)) ids.push_back(m[1]);
  }
  return ids;
}

int xwininfoNumber(const std::string& id, const std::string& key) {
  test::CommandResult r = test::run("xwininfo -id " + id);
  std::smatch m;
  return std::regex_search(r.output, m, std::regex(key + R"(:\s+(-?\d+))")) ? std::stoi(m[1]) : -1;
}

// The windows with exactly this title. (Exit codes are lost: Qt's process handling reaps
// every child, so only the output tells.)
std::string windowsNamed(const std::string& title) {
  return test::run("xdotool search --onlyvisible --name '^" + title + "$'").output;
}

// Sends a key to the window with exactly this title once it shows up, then waits until it
// has gone.
bool pressKeyIn(const std::string& title, const std::string& key) {
  std::string id;
  if (!waitFor([&] { return !(id = windowsNamed(title)).empty(); })) return false;
  id = id.substr(0, id.find('\n'));
  // Through the server (not sent to the window), so that the key is released even when the
  // press has closed the window; a key left down would repeat into later windows.
  test::run("xdotool windowfocus --sync " + id + " key " + key);
  return waitFor([&] { return windowsNamed(title).find(id) == std::string::npos; });
}

struct Program {
  test::TempDir dir;
  test::TempDir drive;
  QProcess process;
  std::filesystem::path ini() const { return dir / "Horalia.ini"; }

  // A copy of the program of its own, so that its "Horalia.ini" is this test's.
  void start(const QStringList& arguments) {
    std::filesystem::copy_file(PONTIX_GUI, dir / "pontix");
    std::filesystem::create_directories(drive / "KTEMP");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PONTIX_DRIVE_C", QString::fromStdString(drive.path().string()));
    env.insert("QT_QPA_PLATFORM", "xcb");
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    process.start(QString::fromStdString((dir / "pontix").string()), arguments);
    ASSERT_TRUE(process.waitForStarted());
  }
  bool finished() {
    return waitFor([&] { return process.state() == QProcess::NotRunning; });
  }
  // What the program said on stderr: Qt's warnings, for one.
  std::string errors() { return process.readAllStandardError().toStdString(); }
  ~Program() {
    if (process.state() != QProcess::NotRunning) {
      process.kill();
      process.waitForFinished();
    }
  }
};

struct Host {
  QWidget window;
  Host() {
    window.setWindowTitle("Anfitrion");
    window.resize(800, 600);
    window.show();
    waitFor([&] { return window.isVisible(); });
  }
  WId id() { return window.winId(); }
};

TEST(Embedding, CancelledExportarInsideTheHostWritesMinusOne) {
  Host host;
  Program pontix;
  test::writeFile(pontix.ini(), "[Horalia]\r\nIdioma=ES\r\n");
  pontix.start({"exportar", QString::fromStdString(hex(host.id()))});

  ASSERT_TRUE(waitFor([&] { return childrenOf(host.id()).size() == 1; })) << "not inside the host";
  const std::string child = childrenOf(host.id())[0];
  EXPECT_TRUE(waitFor([&] { return xwininfoNumber(child, "Width") == 800; }));
  EXPECT_EQ(xwininfoNumber(child, "Height"), 600);
  // Motif hints: flags, functions, decorations; no decorations is frameless.
  test::CommandResult hints = test::run("xprop -id " + child + " _MOTIF_WM_HINTS");
  EXPECT_TRUE(std::regex_search(hints.output, std::regex(R"(= 0x[0-9a-f]+, 0x[0-9a-f]+, 0x0\b)")))
      << hints.output;

  host.window.resize(700, 500);
  EXPECT_TRUE(waitFor([&] { return xwininfoNumber(child, "Width") == 700; })) << "does not follow the host";

  ASSERT_TRUE(pressKeyIn("Archivo XML", "Escape"));
  ASSERT_TRUE(pressKeyIn("Pontix", "Return"));  // "No existe archivo"
  ASSERT_TRUE(pontix.finished());
  EXPECT_EQ(pontix.process.exitCode(), 0);
  EXPECT_EQ(test::readFile(pontix.ini()),
            "[Horalia]\r\nIdioma=ES\r\n[Transformadores]\r\nTransformado=-1\r\n");
  EXPECT_EQ(pontix.errors(), "");
}

// As when it goes while the window is idle: no flag of a cancelled dialog, nothing written.
TEST(Embedding, TheHostGoingWhileTheFileDialogIsOpenEndsTheProgramWritingNothing) {
  auto host = std::make_unique<Host>();
  Program pontix;
  test::writeFile(pontix.ini(), "[Horalia]\r\nIdioma=ES\r\n");
  pontix.start({"exportar", QString::fromStdString(hex(host->id()))});
  ASSERT_TRUE(waitFor([&] { return !windowsNamed("Archivo XML").empty(); }));
  host.reset();
  ASSERT_TRUE(pontix.finished());
  EXPECT_EQ(pontix.process.exitCode(), 0);
  EXPECT_EQ(test::readFile(pontix.ini()), "[Horalia]\r\nIdioma=ES\r\n");
  EXPECT_EQ(pontix.errors(), "");
}

TEST(Embedding, TheProgramEndsWithItsHostWindow) {
  auto host = std::make_unique<Host>();
  Program pontix;
  pontix.start({"ninguna", QString::fromStdString(hex(host->id()))});
  ASSERT_TRUE(waitFor([&] { return childrenOf(host->id()).size() == 1; }));
  host.reset();
  ASSERT_TRUE(pontix.finished());
  EXPECT_EQ(pontix.process.exitCode(), 0);
  EXPECT_EQ(pontix.errors(), "");
}

// A fixed dialog frame with a close box only: Motif functions move and close, decorations
// border, title and menu; no resizing, minimising or maximising.
TEST(MainWindowFrame, AsksForAFixedDialogFrameWithACloseBoxOnly) {
  TMForm form({});
  form.show();
  ASSERT_TRUE(waitFor([&] { return form.windowHandle()->isExposed(); }));
  test::CommandResult props =
      test::run("xprop -id 0x" + hex(form.winId()) + " _MOTIF_WM_HINTS _NET_WM_WINDOW_TYPE WM_NORMAL_HINTS");
  EXPECT_NE(props.output.find("_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x3, 0x24, 0x1a, 0x0, 0x0\n"),
            std::string::npos)
      << props.output;
  EXPECT_NE(props.output.find("= _NET_WM_WINDOW_TYPE_DIALOG"), std::string::npos) << props.output;
  EXPECT_NE(props.output.find("minimum size: 632 by 266\n"), std::string::npos) << props.output;
  EXPECT_NE(props.output.find("maximum size: 632 by 266\n"), std::string::npos) << props.output;
}

TEST(Embedding, AHandleThatNamesNoWindowIsReportedAndTheRunIsInteractive) {
  test::TempDir drive;
  test::ScopedEnv env("PONTIX_DRIVE_C", drive.path().c_str());
  ModalDriver driver({ModalDriver::pressOk()});
  TMForm form({"ninguna", "1"});  // ids this low belong to no client
  EXPECT_EQ(driver.seen, std::vector<std::string>{"QMessageBox:critical|Pontix|No existe la ventana 1"});
  EXPECT_FALSE(form.state().hostDriven);
  EXPECT_FALSE(form.windowFlags().testFlag(Qt::FramelessWindowHint));
}

}  // namespace
}  // namespace pontix

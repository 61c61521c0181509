#include "help/QtHtmlHelp.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFocusEvent>
#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <fstream>
#include <iterator>

#include "help/BuiltHelp.h"
#include "help/HelpWindow.h"

namespace pontix::help {
namespace {

using testing::builtHelpFile;
using testing::writeScratchFile;

// Receives the links that leave the help for the desktop.
class LinkCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.append(url); }
};

class QtHtmlHelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_ = builtHelpFile();
    ASSERT_FALSE(file_.empty()) << "chmcmd made no help file";
    qtHtmlHelp(0, nullptr, HH_CLOSE_ALL, 0);
  }
  void TearDown() override { qtHtmlHelp(0, nullptr, HH_CLOSE_ALL, 0); }

  WindowHandle call(unsigned command, std::uintptr_t data = 0, const std::string& suffix = {}) {
    const std::string argument = file_ + suffix;
    return qtHtmlHelp(0, argument.c_str(), command, data);
  }
  WindowHandle keyword(const char* text) {
    return call(HH_DISPLAY_INDEX, reinterpret_cast<std::uintptr_t>(text));
  }

  static HelpWindow& window() { return *helpWindow(); }
  static QString shown() { return window().page()->source().path(); }
  static QString anchor() { return window().page()->source().fragment(); }
  static QString currentContentsEntry() {
    const QTreeWidgetItem* item = window().contents()->currentItem();
    return item ? item->text(0) : QString();
  }

  std::string file_;
};

// Clicks the link with this text in the page, as a person would.
void clickLink(QTextBrowser* page, const QString& text) {
  const QTextCursor found = page->document()->find(text);
  ASSERT_FALSE(found.isNull()) << text.toStdString();
  QTextCursor middle(page->document());
  middle.setPosition((found.selectionStart() + found.selectionEnd()) / 2);
  ASSERT_FALSE(middle.charFormat().anchorHref().isEmpty()) << text.toStdString() << " is no link";
  QTest::mouseClick(page->viewport(), Qt::LeftButton, {}, page->cursorRect(middle).center());
}

TEST_F(QtHtmlHelpTest, ContentsShowsTheTreeAndTheDefaultTopic) {
  EXPECT_NE(call(HH_DISPLAY_TOC), 0u);
  ASSERT_TRUE(helpWindow());
  EXPECT_TRUE(window().isVisible());
  EXPECT_EQ(window().windowTitle(), "Guía de prueba");
  EXPECT_EQ(window().tabs()->currentWidget(), window().contents());
  EXPECT_EQ(window().tabs()->tabText(1), "Índice");
  const QTreeWidget* tree = window().contents();
  ASSERT_EQ(tree->topLevelItemCount(), 3);
  EXPECT_EQ(tree->topLevelItem(0)->text(0), "Bienvenida");
  EXPECT_EQ(tree->topLevelItem(1)->child(0)->text(0), "Grupos");
  EXPECT_EQ(tree->topLevelItem(2)->text(0), "Asignación de niveles");
  EXPECT_EQ(shown(), "/inicio.htm");
  EXPECT_TRUE(window().page()->toPlainText().contains("Introducción"));  // a page in Windows-1252
  EXPECT_EQ(currentContentsEntry(), "Bienvenida");
}

TEST_F(QtHtmlHelpTest, TopicsAndContextsShowWhatTheyName) {
  const struct {
    unsigned command;
    std::uintptr_t data;
    const char* suffix;
    const char* page;
    const char* anchor;
    const char* entry;
  } cases[] = {
      {HH_HELP_CONTEXT, 1, "", "/cursos.htm", "", "Cursos y grupos"},
      {HH_HELP_CONTEXT, 2, "", "/niveles.htm", "", "Asignación de niveles"},
      {HH_DISPLAY_TOPIC, 0, "::/cursos.htm#grupos", "/cursos.htm", "grupos", "Grupos"},
      {HH_DISPLAY_TOPIC, 0, "::/NIVELES.HTM>main", "/niveles.htm", "", "Asignación de niveles"},
      {HH_DISPLAY_TOPIC, 0, "", "/inicio.htm", "", "Bienvenida"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.page + std::string(c.suffix));
    EXPECT_NE(call(c.command, c.data, c.suffix), 0u);
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(shown(), c.page);
    EXPECT_EQ(anchor(), c.anchor);
    EXPECT_EQ(currentContentsEntry(), c.entry);
  }
}

TEST_F(QtHtmlHelpTest, WhatTheFileLacksChangesNothing) {
  call(HH_HELP_CONTEXT, 2);
  EXPECT_EQ(call(HH_HELP_CONTEXT, 99), 0u);
  EXPECT_EQ(call(HH_DISPLAY_TOPIC, 0, "::/nada.htm"), 0u);
  EXPECT_EQ(shown(), "/niveles.htm");
}

TEST_F(QtHtmlHelpTest, IndexSelectsTheKeywordAndShowsItsTopic) {
  const struct {
    const char* typed;
    const char* selected;  // null: none
    const char* page;
  } cases[] = {
      {"Nivel", "Nivel", "/niveles.htm"},  // not "Nivel y curso", listed before it
      {"GRUPO", "Grupo", "/cursos.htm"},
      {"per", "Período escolar", "/cursos.htm"},
      {"Zzz", nullptr, "/cursos.htm"},  // the page stays
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    EXPECT_NE(keyword(c.typed), 0u);
    EXPECT_TRUE(window().isVisible());
    EXPECT_EQ(window().tabs()->currentIndex(), 1);
    EXPECT_EQ(window().indexField()->text(), c.typed);
    const QListWidgetItem* current = window().indexList()->currentItem();
    if (c.selected) {
      ASSERT_TRUE(current);
      EXPECT_EQ(current->text(), c.selected);
      EXPECT_TRUE(current->isSelected());
    } else {
      EXPECT_TRUE(window().indexList()->selectedItems().isEmpty());
    }
    EXPECT_EQ(shown(), c.page);
  }
}

TEST_F(QtHtmlHelpTest, UnreadableFilesShowNoWindow) {
  std::ifstream in(file_, std::ios::binary);
  const std::string whole(std::istreambuf_iterator<char>(in), {});
  const std::string truncated = writeScratchFile("cortado.chm", whole.substr(0, whole.size() * 2 / 3));
  const std::string garbage = writeScratchFile("basura.chm", std::string(5000, '\x5A'));
  const std::string missing = file_ + ".no";
  for (const std::string& path : {truncated, garbage, missing}) {
    for (const unsigned command : {HH_DISPLAY_TOC, HH_DISPLAY_TOPIC, HH_HELP_CONTEXT}) {
      EXPECT_EQ(qtHtmlHelp(0, path.c_str(), command, 1), 0u) << path;
      EXPECT_TRUE(!helpWindow() || !window().isVisible()) << path;
    }
  }
  EXPECT_EQ(qtHtmlHelp(0, nullptr, HH_DISPLAY_TOC, 0), 0u);
  EXPECT_EQ(qtHtmlHelp(0, "", HH_DISPLAY_TOC, 0), 0u);
  EXPECT_NE(keyword(nullptr), 0u);  // no keyword: the index, nothing chosen
}

TEST_F(QtHtmlHelpTest, AnotherFileReplacesWhatTheWindowShows) {
  call(HH_HELP_CONTEXT, 1);
  call(HH_HELP_CONTEXT, 2);
  std::ifstream in(file_, std::ios::binary);
  const std::string other = writeScratchFile("otra.chm", std::string(std::istreambuf_iterator<char>(in), {}));
  EXPECT_NE(qtHtmlHelp(0, other.c_str(), HH_DISPLAY_INDEX, reinterpret_cast<std::uintptr_t>("Zzz")), 0u);
  EXPECT_EQ(shown(), "/inicio.htm");  // nothing of the other file's pages stays
  EXPECT_FALSE(window().page()->isBackwardAvailable());
  EXPECT_EQ(window().indexList()->count(), 5);
  // The same file again keeps its history.
  EXPECT_NE(qtHtmlHelp(0, (other + "::/cursos.htm").c_str(), HH_DISPLAY_TOPIC, 0), 0u);
  window().page()->backward();
  EXPECT_EQ(shown(), "/inicio.htm");
}

TEST_F(QtHtmlHelpTest, CloseAllHidesTheWindowAndKeepsItsSize) {
  QSettings(QStringLiteral("Pontix"), QStringLiteral("Pontix")).remove(QStringLiteral("ayuda"));
  call(HH_DISPLAY_TOC);
  window().resize(640, 480);
  EXPECT_EQ(qtHtmlHelp(0, nullptr, HH_CLOSE_ALL, 0), 0u);
  EXPECT_FALSE(window().isVisible());
  EXPECT_EQ(QSettings(QStringLiteral("Pontix"), QStringLiteral("Pontix")).value("ayuda/tamano").toSize(),
            QSize(640, 480));
}

TEST_F(QtHtmlHelpTest, LinksOpenPagesPicturesAndTheWeb) {
  LinkCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
  call(HH_DISPLAY_TOC);
  QTextBrowser* page = window().page();

  const QImage logo = QImage::fromData(
      page->loadResource(QTextDocument::ImageResource, QUrl("imagenes/logo.png")).toByteArray());
  EXPECT_EQ(logo.size(), QSize(40, 24));
  // The page links its style sheet without saying its type.
  EXPECT_EQ(page->document()->find("Introducción").charFormat().foreground().color(),
            QColor(0x2a, 0x6f, 0xb5));

  clickLink(page, "Soporte en la web");
  EXPECT_EQ(catcher.urls, QList<QUrl>{QUrl("https://ejemplo.invalid/soporte")});
  EXPECT_EQ(shown(), "/inicio.htm");

  clickLink(page, "Los grupos");  // "cursos.htm#grupos"
  EXPECT_EQ(shown(), "/cursos.htm");
  EXPECT_EQ(anchor(), "grupos");
  page->backward();
  clickLink(page, "Niveles");
  EXPECT_EQ(shown(), "/niveles.htm");
  clickLink(page, "Cursos y grupos");  // "ms-its:ayuda.chm::/cursos.htm"
  EXPECT_EQ(shown(), "/cursos.htm");
  EXPECT_EQ(currentContentsEntry(), "Cursos y grupos");
  QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

// Were the contents tree behind the page, it would show its own current entry's page the
// moment it gets the focus.
TEST_F(QtHtmlHelpTest, ContentsTreeFollowsThePageShown) {
  call(HH_DISPLAY_TOC);
  call(HH_HELP_CONTEXT, 2);
  QFocusEvent focus(QEvent::FocusIn, Qt::TabFocusReason);
  QApplication::sendEvent(window().contents(), &focus);
  EXPECT_EQ(shown(), "/niveles.htm");
  window().contents()->setCurrentItem(window().contents()->topLevelItem(1));  // as the arrow keys do
  EXPECT_EQ(shown(), "/cursos.htm");
}

TEST_F(QtHtmlHelpTest, SearchFindsPagesHoldingEveryWord) {
  call(HH_DISPLAY_TOC);
  const struct {
    const char* typed;
    QStringList titles;
  } cases[] = {
      {"periodo", {"Cursos y grupos"}},
      {"  ASIGNACION   dialogo ", {"Niveles y cursos"}},
      {"cursos", {"Cursos y grupos", "Bienvenida", "Niveles y cursos"}},
      {"periodo dialogo", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    window().searchField()->setText(c.typed);
    QTest::keyClick(window().searchField(), Qt::Key_Return);
    QStringList titles;
    for (int i = 0; i < window().searchResults()->count(); ++i)
      titles << window().searchResults()->item(i)->text();
    EXPECT_EQ(titles, c.titles);
  }
  window().searchField()->setText("asignación");
  QTest::keyClick(window().searchField(), Qt::Key_Return);
  ASSERT_EQ(window().searchResults()->count(), 1);
  const QListWidget* results = window().searchResults();
  emit window().searchResults()->itemClicked(results->item(0));
  EXPECT_EQ(shown(), "/niveles.htm");
}

// The level-and-course dialog is modal and has its own page; the help opened from it must
// be usable while it stays open, and outlive it.
TEST_F(QtHtmlHelpTest, ModalDialogGetsItsOwnPageInAWindowItDoesNotBlock) {
  const struct {
    const char* property;
    const char* page;
  } cases[] = {{"niveles.htm", "/niveles.htm"}, {"nada.htm", "/cursos.htm"}, {"", "/cursos.htm"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.property);
    auto dialog = std::make_unique<QDialog>();
    dialog->setProperty("helpTopic", QString::fromUtf8(c.property));
    bool asked = false;
    QTimer::singleShot(0, dialog.get(), [&] {
      asked = true;
      EXPECT_NE(call(HH_HELP_CONTEXT, 1), 0u);
      EXPECT_EQ(window().parentWidget(), dialog.get());
      EXPECT_TRUE(window().isWindow());
      EXPECT_TRUE(window().isVisible());
      EXPECT_EQ(shown(), c.page);
      dialog->accept();
    });
    dialog->exec();
    EXPECT_TRUE(asked);
    dialog.reset();  // takes the help window with it
    EXPECT_FALSE(helpWindow());
  }
  EXPECT_NE(call(HH_HELP_CONTEXT, 2), 0u);
  ASSERT_TRUE(helpWindow());
  EXPECT_FALSE(window().parentWidget());
  EXPECT_EQ(shown(), "/niveles.htm");
}

}  // namespace
}  // namespace pontix::help

#include "QtHtmlHelpTest.moc"

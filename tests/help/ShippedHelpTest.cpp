// The shipped Scolaria.chm in the help window, as a user first opens it.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextEdit>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include "help/HelpWindow.h"
#include "help/QtHtmlHelp.h"

namespace pontix::help {
namespace {

HelpWindow& freshWindow() {
  qtHtmlHelp(0, nullptr, HH_CLOSE_ALL, 0);
  delete helpWindow();
  QSettings(QStringLiteral("Pontix"), QStringLiteral("Pontix")).remove(QStringLiteral("ayuda"));
  EXPECT_NE(qtHtmlHelp(0, SCOLARIA_CHM, HH_DISPLAY_TOC, 0), 0u);
  QApplication::processEvents();
  return *helpWindow();
}

// At the window's first size no page needs scrolling sideways, and every title of the contents
// is read whole.
TEST(ShippedHelp, PagesAndContentsFitTheWindowAsItFirstOpens) {
  HelpWindow& window = freshWindow();
  for (const char* page : {"index.htm", "exportar.htm", "niveles.htm", "importar.htm", "trabajo.htm",
                           "mensajes.htm", "anfitrion.htm", "linea-de-ordenes.htm"}) {
    ASSERT_NE(qtHtmlHelp(0, (std::string(SCOLARIA_CHM) + "::/" + page).c_str(), HH_DISPLAY_TOPIC, 0), 0u);
    // The page is laid out a piece at a time: all of it, down to its end.
    QScrollBar* down = window.page()->verticalScrollBar();
    for (int last = -1; down->maximum() != last;) {
      last = down->maximum();
      down->setValue(down->maximum());
      QTest::qWait(50);
    }
    // Nothing is hidden past the right edge (a table filling the width is one pixel wider).
    EXPECT_LE(window.page()->document()->size().width(), window.page()->viewport()->width() + 1) << page;
  }
  QTreeWidget* contents = window.contents();
  contents->expandAll();
  QApplication::processEvents();
  // A title too long for the pane takes as many lines as it needs.
  const int icon = contents->iconSize().width() > 0 ? contents->iconSize().width() : 16;
  for (QTreeWidgetItemIterator it(contents); *it; ++it) {
    const QRect cell = contents->visualItemRect(*it);
    const QRect text = contents->fontMetrics().boundingRect(QRect(0, 0, cell.width() - icon - 8, 10000),
                                                            Qt::TextWordWrap, (*it)->text(0));
    EXPECT_LE(text.height(), cell.height()) << (*it)->text(0).toStdString();
    EXPECT_LE(cell.right(), contents->viewport()->width()) << (*it)->text(0).toStdString();
  }
}

// A page opened from the search's results shows where the words are.
TEST(ShippedHelp, SearchMarksTheWordsInThePageItOpens) {
  HelpWindow& window = freshWindow();
  window.searchField()->setText(QStringLiteral("PERIODO"));
  QTest::keyClick(window.searchField(), Qt::Key_Return);
  ASSERT_GT(window.searchResults()->count(), 0);
  QListWidgetItem* first = window.searchResults()->item(0);
  QTest::mouseClick(window.searchResults()->viewport(), Qt::LeftButton, {},
                    window.searchResults()->visualItemRect(first).center());
  const QList<QTextEdit::ExtraSelection> marks = window.page()->extraSelections();
  ASSERT_FALSE(marks.isEmpty());
  for (const QTextEdit::ExtraSelection& mark : marks) {
    const QString word = mark.cursor.selectedText().toLower();
    EXPECT_TRUE(word == QStringLiteral("periodo") || word == QStringLiteral("período")) << word.toStdString();
  }
  // Gone with the next page.
  window.showDefaultTopic();
  EXPECT_TRUE(window.page()->extraSelections().isEmpty());
}

}  // namespace
}  // namespace pontix::help

#pragma once

// The help window: contents, index and search beside the page, over one compiled help file.

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <memory>
#include <vector>

class QFileInfo;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QSplitter;
class QTabWidget;
class QTextBrowser;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace pontix::help {

class ChmArchive;
class HelpBrowser;

class HelpWindow : public QWidget {
  Q_OBJECT

 public:
  explicit HelpWindow(QWidget* parent = nullptr);
  ~HelpWindow() override;

  // Shows this archive, read from file: its title, contents and index. The page stays empty
  // until a topic is shown.
  void setArchive(std::shared_ptr<const ChmArchive> archive, const QFileInfo& file);
  std::shared_ptr<const ChmArchive> archive() const { return archive_; }
  // Whether the window shows this file as it is now on disk.
  bool showsFile(const QFileInfo& file) const;

  // Shows a topic of the archive ("/dir/page.htm#anchor", any case); false when it has none.
  bool showTopic(const QString& topic);
  void showDefaultTopic();
  void showContentsTab();
  // The Index tab with the keyword typed; the first entry it matches (whole, else as its
  // start; ignoring case) is selected and its topic shown. False when no entry matches.
  bool showKeyword(const QString& keyword);

  // The archive's path of the page shown ("/dir/page.htm"), empty before the first.
  QString currentTopic() const;

  // The parts, for the engine's tests.
  QTabWidget* tabs() const { return tabs_; }
  QTreeWidget* contents() const { return contents_; }
  QLineEdit* indexField() const { return indexField_; }
  QListWidget* indexList() const { return indexList_; }
  QLineEdit* searchField() const { return searchField_; }
  QListWidget* searchResults() const { return searchResults_; }
  QTextBrowser* page() const;

 protected:
  void hideEvent(QHideEvent* event) override;

 private:
  struct SearchablePage {
    QString path;
    QString title;
    QString foldedText;
  };

  void buildLayout();
  void restoreLayout();
  void markSearchedWords();
  void saveLayout() const;
  QUrl topicUrl(const QString& local) const;
  void follow(const QUrl& link);
  void showUrl(const QUrl& url);
  void keepContentsInStep(const QUrl& shown);
  void selectKeyword(const QString& typed);
  void search();
  void indexPages();

  std::shared_ptr<const ChmArchive> archive_;
  QString filePath_;
  QDateTime fileModified_;
  qint64 fileSize_ = -1;
  int generation_ = 0;
  bool syncing_ = false;
  bool historyStartsAnew_ = false;
  std::vector<SearchablePage> searchable_;
  bool searchableBuilt_ = false;

  QToolButton* back_ = nullptr;
  QToolButton* forward_ = nullptr;
  QToolButton* home_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  QTreeWidget* contents_ = nullptr;
  QLineEdit* indexField_ = nullptr;
  QListWidget* indexList_ = nullptr;
  QLineEdit* searchField_ = nullptr;
  QLabel* searchStatus_ = nullptr;
  QListWidget* searchResults_ = nullptr;
  HelpBrowser* page_ = nullptr;
};

}  // namespace pontix::help

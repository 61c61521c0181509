#include "help/HelpWindow.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QStringDecoder>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <optional>

#include "help/ChmArchive.h"
#include "platform/AnsiText.h"

namespace pontix::help {

namespace {

// Pages of the open archive: "pontixchm://ayudaN/dir/page.htm". The host changes with every
// archive opened, so that a page of the previous one is never taken for the same page.
const QString kScheme = QStringLiteral("pontixchm");
constexpr int kUrlRole = Qt::UserRole;
constexpr int kKeywordRole = Qt::UserRole + 1;

QString fromUtf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toStd(const QString& text) { return text.toUtf8().toStdString(); }

// A page's text by the charset it declares; old help files declare none and are Windows-1252.
QString decodePage(const std::string& bytes) {
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) return fromUtf8(bytes.substr(3));
  const std::string charset = declaredCharset(bytes);
  if (charset.empty()) return fromUtf8(decodeText(bytes));
  if (charset == "utf-8" || charset == "utf8") return fromUtf8(bytes);
  if (charset == "windows-1252" || charset == "iso-8859-1" || charset == "latin1" || charset == "us-ascii" ||
      charset == "cp1252")
    return fromUtf8(ansi::toUtf8(bytes));
  QStringDecoder decoder(charset.c_str());
  if (!decoder.isValid()) return fromUtf8(ansi::toUtf8(bytes));
  return decoder(QByteArray::fromStdString(bytes));
}

// Qt's HTML reader takes a linked style sheet only when the link gives its type, which
// pages written for browsers often leave out.
QString withStyleSheetTypes(QString html) {
  static const QRegularExpression link(QStringLiteral("<link\\b[^>]*>"),
                                       QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression styleSheet(QStringLiteral("\\brel\\s*=\\s*[\"']?stylesheet"),
                                             QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression type(QStringLiteral("\\btype\\s*="),
                                       QRegularExpression::CaseInsensitiveOption);
  qsizetype from = 0;
  for (auto match = link.match(html); match.hasMatch(); match = link.match(html, from)) {
    from = match.capturedEnd();
    const QString tag = match.captured();
    if (!tag.contains(styleSheet) || tag.contains(type)) continue;
    html.insert(match.capturedStart() + 5, QStringLiteral(" type=\"text/css\""));
    from += 16;
  }
  return html;
}

// Case and accents set aside: "Período" and "periodo" read the same.
QString folded(const QString& text) {
  const QString decomposed = text.normalized(QString::NormalizationForm_D);
  QString out;
  out.reserve(decomposed.size());
  for (const QChar c : decomposed)
    if (c.category() != QChar::Mark_NonSpacing) out += c;
  return out.toCaseFolded();
}

// The topic part of "ms-its:file.chm::/topic.htm" or "mk:@MSITStore:file.chm::/topic.htm".
struct StoreLink {
  QString file;
  QString topic;
};
std::optional<StoreLink> storeLink(const QUrl& url) {
  const QString scheme = url.scheme().toLower();
  if (scheme != QLatin1String("ms-its") && scheme != QLatin1String("mk")) return std::nullopt;
  QString rest = url.path(QUrl::FullyDecoded);
  if (rest.startsWith(QLatin1String("@MSITStore:"), Qt::CaseInsensitive)) rest = rest.mid(11);
  const qsizetype separator = rest.indexOf(QLatin1String("::"));
  if (separator < 0) return std::nullopt;
  return StoreLink{rest.left(separator), rest.mid(separator + 2)};
}

QString settingsKey(const char* name) { return QStringLiteral("ayuda/") + QLatin1String(name); }

// Rows of the contents as tall as their titles need, wrapped to the pane's width: QTreeView
// wraps the text it paints but gives each row one line.
class WrappingTitles final : public QStyledItemDelegate {
 public:
  explicit WrappingTitles(QTreeView* view)
      : QStyledItemDelegate(view), view_(view), viewport_(view->viewport()) {
    viewport_->installEventFilter(this);
  }

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);
    int depth = 1;
    for (QModelIndex parent = index.parent(); parent.isValid(); parent = parent.parent()) ++depth;
    const int room = std::max(
        60, view_->viewport()->width() - depth * view_->indentation() - item.decorationSize.width() - 12);
    const QRect text = item.fontMetrics.boundingRect(QRect(0, 0, room, 100000), Qt::TextWordWrap, item.text);
    const QSize one = QStyledItemDelegate::sizeHint(option, index);
    return {std::min(one.width(), room), std::max(one.height(), text.height() + 4)};
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    // Nothing of the view is asked for before the event is known to be a resize: the filter also
    // sees the viewport's last events while the view is being destroyed.
    if (event->type() == QEvent::Resize && watched == viewport_) view_->doItemsLayout();
    return false;
  }

 private:
  QTreeView* view_;
  QWidget* viewport_;
};

// The tabs' first width: room for the search and index fields' hints.
constexpr int kContentsWidth = 300;

}  // namespace

// The page view: every page, picture and style sheet comes from the archive.
class HelpBrowser : public QTextBrowser {
 public:
  using Loader = std::function<QVariant(int type, const QUrl& url)>;
  HelpBrowser(Loader loader, QWidget* parent) : QTextBrowser(parent), loader_(std::move(loader)) {
    setOpenLinks(false);
  }

  QVariant loadResource(int type, const QUrl& name) override {
    // Pictures and style sheets come with names relative to the page that is being loaded.
    QUrl url = name.isRelative() ? page_.resolved(name) : name;
    if (type == QTextDocument::HtmlResource) {
      page_ = url;
      page_.setFragment(QString());
    }
    return loader_(type, url);
  }

 private:
  Loader loader_;
  QUrl page_;
};

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Ayuda"));
  buildLayout();
  restoreLayout();
}

HelpWindow::~HelpWindow() {
  // Taken down with the dialog it belonged to: no hide event comes then.
  if (isVisible()) saveLayout();
}

QTextBrowser* HelpWindow::page() const { return page_; }

void HelpWindow::buildLayout() {
  back_ = new QToolButton;
  back_->setText(QStringLiteral("Atrás"));
  back_->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
  forward_ = new QToolButton;
  forward_->setText(QStringLiteral("Adelante"));
  forward_->setIcon(style()->standardIcon(QStyle::SP_ArrowForward));
  home_ = new QToolButton;
  home_->setText(QStringLiteral("Inicio"));
  home_->setIcon(style()->standardIcon(QStyle::SP_DirHomeIcon));
  for (QToolButton* button : {back_, forward_, home_}) {
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
  }
  back_->setEnabled(false);
  forward_->setEnabled(false);
  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(0, 0, 0, 0);
  buttons->addWidget(back_);
  buttons->addWidget(forward_);
  buttons->addWidget(home_);
  buttons->addStretch();

  contents_ = new QTreeWidget;
  contents_->setHeaderHidden(true);
  contents_->setColumnCount(1);
  // A long title takes two lines rather than losing its end.
  contents_->setWordWrap(true);
  contents_->setTextElideMode(Qt::ElideNone);
  contents_->setUniformRowHeights(false);
  contents_->setItemDelegate(new WrappingTitles(contents_));

  indexField_ = new QLineEdit;
  indexField_->setPlaceholderText(QStringLiteral("Escriba la palabra clave que busca"));
  indexList_ = new QListWidget;
  auto* indexPage = new QWidget;
  auto* indexLayout = new QVBoxLayout(indexPage);
  indexLayout->addWidget(indexField_);
  indexLayout->addWidget(indexList_);

  searchField_ = new QLineEdit;
  searchField_->setPlaceholderText(QStringLiteral("Escriba las palabras que busca"));
  auto* searchButton = new QPushButton(QStringLiteral("Buscar"));
  searchButton->setAutoDefault(false);
  searchStatus_ = new QLabel;
  searchStatus_->setWordWrap(true);
  searchResults_ = new QListWidget;
  auto* searchPage = new QWidget;
  auto* searchLayout = new QVBoxLayout(searchPage);
  // The field has the pane's whole width, so that its hint is read whole.
  searchLayout->addWidget(searchField_);
  auto* searchRow = new QHBoxLayout;
  searchRow->addWidget(searchStatus_, 1);
  searchRow->addWidget(searchButton, 0, Qt::AlignTop);
  searchLayout->addLayout(searchRow);
  searchLayout->addWidget(searchResults_);

  tabs_ = new QTabWidget;
  tabs_->addTab(contents_, QStringLiteral("Contenido"));
  tabs_->addTab(indexPage, QStringLiteral("Índice"));
  tabs_->addTab(searchPage, QStringLiteral("Buscar"));

  page_ = new HelpBrowser(
      [this](int type, const QUrl& url) -> QVariant {
        if (!archive_) return {};
        QString path = url.path();
        if (const auto link = storeLink(url))
          path = link->topic;
        else if (url.scheme() != kScheme)
          return {};
        const auto bytes = archive_->read(toStd(path));
        if (!bytes) return {};
        if (type == QTextDocument::HtmlResource) return withStyleSheetTypes(decodePage(*bytes));
        if (type == QTextDocument::StyleSheetResource) return fromUtf8(decodeText(*bytes));
        return QByteArray::fromStdString(*bytes);
      },
      nullptr);

  page_->document()->setDocumentMargin(10);
  // The pages are written to fit any width (the help's test checks it); a scroll bar would only
  // come for the one pixel too many Qt gives a table that fills the width.
  page_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  splitter_ = new QSplitter(Qt::Horizontal);
  splitter_->addWidget(tabs_);
  splitter_->addWidget(page_);
  splitter_->setStretchFactor(1, 1);
  splitter_->setChildrenCollapsible(false);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  layout->addLayout(buttons);
  layout->addWidget(splitter_, 1);

  connect(back_, &QToolButton::clicked, page_, &QTextBrowser::backward);
  connect(forward_, &QToolButton::clicked, page_, &QTextBrowser::forward);
  connect(home_, &QToolButton::clicked, this, &HelpWindow::showDefaultTopic);
  connect(page_, &QTextBrowser::backwardAvailable, back_, &QToolButton::setEnabled);
  connect(page_, &QTextBrowser::forwardAvailable, forward_, &QToolButton::setEnabled);
  connect(page_, &QTextBrowser::anchorClicked, this, &HelpWindow::follow);
  connect(page_, &QTextBrowser::sourceChanged, this, &HelpWindow::keepContentsInStep);
  // Marks of a search belong to the page it opened.
  connect(page_, &QTextBrowser::sourceChanged, this, [this] { page_->setExtraSelections({}); });

  // A page opens when an entry becomes current by click or keys, and on a click on the
  // current one; the view's own changes (see keepContentsInStep) open nothing.
  const auto openItem = [this](QTreeWidgetItem* item) {
    if (!syncing_ && item) showUrl(item->data(0, kUrlRole).toUrl());
  };
  connect(contents_, &QTreeWidget::currentItemChanged, this,
          [openItem](QTreeWidgetItem* item) { openItem(item); });
  connect(contents_, &QTreeWidget::itemClicked, this, [openItem](QTreeWidgetItem* item) { openItem(item); });

  const auto openEntry = [this](QListWidgetItem* item) {
    if (item) showUrl(item->data(kUrlRole).toUrl());
  };
  connect(indexField_, &QLineEdit::textEdited, this, &HelpWindow::selectKeyword);
  connect(indexField_, &QLineEdit::returnPressed, this,
          [this, openEntry] { openEntry(indexList_->currentItem()); });
  connect(indexList_, &QListWidget::itemClicked, this, openEntry);
  connect(indexList_, &QListWidget::itemActivated, this, openEntry);

  connect(searchField_, &QLineEdit::returnPressed, this, &HelpWindow::search);
  connect(searchButton, &QPushButton::clicked, this, &HelpWindow::search);
  const auto openFound = [this, openEntry](QListWidgetItem* item) {
    openEntry(item);
    if (item) markSearchedWords();
  };
  connect(searchResults_, &QListWidget::itemClicked, this, openFound);
  connect(searchResults_, &QListWidget::itemActivated, this, openFound);
}

void HelpWindow::restoreLayout() {
  QSettings settings(QStringLiteral("Pontix"), QStringLiteral("Pontix"));
  QSize size = settings.value(settingsKey("tamano")).toSize();
  if (!size.isValid()) size = QSize(900, 620);
  resize(size);
  // Centred, like the main window; otherwise a window manager may put it in a corner.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect available = screen->availableGeometry();
    size = size.boundedTo(available.size());
    resize(size);
    move(available.center() - QPoint(size.width() / 2, size.height() / 2));
  }
  if (!splitter_->restoreState(settings.value(settingsKey("division")).toByteArray()))
    splitter_->setSizes({kContentsWidth, size.width() - kContentsWidth});
}

// The words of the last search, marked in the page opened from its results.
void HelpWindow::markSearchedWords() {
  QList<QTextEdit::ExtraSelection> marks;
  const QStringList words =
      folded(searchField_->text()).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
  QTextDocument* document = page_->document();
  const QString text = document->toPlainText();
  // The page folded as the search folds it, each folded character knowing where it came from.
  QString foldedText;
  std::vector<int> origin;
  for (int i = 0; i < text.size(); ++i)
    for (const QChar c : folded(QString(text[i]))) {
      foldedText += c;
      origin.push_back(i);
    }
  QTextCharFormat mark;
  mark.setBackground(QColor(0xFF, 0xE0, 0x66));
  for (const QString& word : words)
    for (qsizetype at = foldedText.indexOf(word); at >= 0; at = foldedText.indexOf(word, at + word.size())) {
      QTextCursor cursor(document);
      cursor.setPosition(origin[static_cast<std::size_t>(at)]);
      cursor.setPosition(origin[static_cast<std::size_t>(at + word.size() - 1)] + 1, QTextCursor::KeepAnchor);
      marks.push_back({cursor, mark});
    }
  std::sort(marks.begin(), marks.end(),
            [](const QTextEdit::ExtraSelection& a, const QTextEdit::ExtraSelection& b) {
              return a.cursor.selectionStart() < b.cursor.selectionStart();
            });
  page_->setExtraSelections(marks);
  if (marks.isEmpty()) return;
  QTextCursor first = marks.front().cursor;
  first.clearSelection();
  page_->setTextCursor(first);
  page_->ensureCursorVisible();
}

void HelpWindow::saveLayout() const {
  QSettings settings(QStringLiteral("Pontix"), QStringLiteral("Pontix"));
  settings.setValue(settingsKey("tamano"), size());
  settings.setValue(settingsKey("division"), splitter_->saveState());
}

void HelpWindow::hideEvent(QHideEvent* event) {
  if (!event->spontaneous()) saveLayout();
  QWidget::hideEvent(event);
}

void HelpWindow::setArchive(std::shared_ptr<const ChmArchive> archive, const QFileInfo& file) {
  archive_ = std::move(archive);
  filePath_ = file.canonicalFilePath();
  fileModified_ = file.lastModified();
  fileSize_ = file.size();
  ++generation_;
  searchable_.clear();
  searchableBuilt_ = false;
  searchResults_->clear();
  searchStatus_->clear();
  // The history starts again with the first page of this archive (see showUrl).
  page_->clear();
  historyStartsAnew_ = true;

  const QString title = fromUtf8(archive_->system().title).trimmed();
  setWindowTitle(title.isEmpty() ? QStringLiteral("Ayuda") : title);

  {
    const QSignalBlocker blocker(contents_);
    contents_->clear();
    const auto contentsFile = archive_->contentsFile();
    const auto bytes = contentsFile ? archive_->read(*contentsFile) : std::nullopt;
    const std::vector<SitemapEntry> entries = bytes ? parseSitemap(*bytes) : std::vector<SitemapEntry>{};
    const QIcon book = style()->standardIcon(QStyle::SP_DirIcon);
    const QIcon leaf = style()->standardIcon(QStyle::SP_FileIcon);
    std::function<void(const std::vector<SitemapEntry>&, QTreeWidgetItem*)> add =
        [&](const std::vector<SitemapEntry>& list, QTreeWidgetItem* parent) {
          for (const auto& entry : list) {
            auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(contents_);
            const std::string& name =
                !entry.name.empty() || entry.topics.empty() ? entry.name : entry.topics.front().local;
            item->setText(0, fromUtf8(name));
            item->setToolTip(0, fromUtf8(name));
            item->setIcon(0, entry.children.empty() ? leaf : book);
            if (!entry.topics.empty())
              item->setData(0, kUrlRole, topicUrl(fromUtf8(entry.topics.front().local)));
            add(entry.children, item);
          }
        };
    add(entries, nullptr);
  }

  indexField_->clear();
  indexList_->clear();
  const auto indexFile = archive_->indexFile();
  const auto bytes = indexFile ? archive_->read(*indexFile) : std::nullopt;
  std::function<void(const std::vector<SitemapEntry>&, int)> add = [&](const std::vector<SitemapEntry>& list,
                                                                       int depth) {
    for (const auto& entry : list) {
      const QString keyword = fromUtf8(entry.name);
      auto* item = new QListWidgetItem(QString(depth * 4, QLatin1Char(' ')) + keyword, indexList_);
      item->setData(kKeywordRole, keyword);
      if (!entry.topics.empty()) item->setData(kUrlRole, topicUrl(fromUtf8(entry.topics.front().local)));
      add(entry.children, depth + 1);
    }
  };
  if (bytes) add(parseSitemap(*bytes), 0);
}

bool HelpWindow::showsFile(const QFileInfo& file) const {
  return archive_ && file.canonicalFilePath() == filePath_ && file.lastModified() == fileModified_ &&
         file.size() == fileSize_;
}

// The page a sitemap's "Local" names; external links stay as they are.
QUrl HelpWindow::topicUrl(const QString& local) const {
  QString topic = local.trimmed();
  const QUrl asUrl(topic);
  if (const auto link = storeLink(asUrl))
    topic = link->topic;
  else if (asUrl.scheme().size() > 1)
    return asUrl;  // http:, mailto: ... (one letter is a drive)
  const qsizetype hash = topic.indexOf(QLatin1Char('#'));
  const auto path = archive_ ? archive_->find(toStd(topic.left(hash))) : std::nullopt;
  if (!path) return {};
  QUrl url;
  url.setScheme(kScheme);
  url.setHost(QStringLiteral("ayuda%1").arg(generation_));
  url.setPath(fromUtf8(*path));
  if (hash >= 0) url.setFragment(topic.mid(hash + 1));
  return url;
}

bool HelpWindow::showTopic(const QString& topic) {
  const QUrl url = topicUrl(topic);
  if (url.scheme() != kScheme) return false;
  showUrl(url);
  return true;
}

void HelpWindow::showDefaultTopic() {
  if (!archive_) return;
  if (const auto topic = archive_->defaultTopic()) showTopic(fromUtf8(*topic));
}

void HelpWindow::showContentsTab() { tabs_->setCurrentWidget(contents_); }

QString HelpWindow::currentTopic() const { return page_->source().path(); }

void HelpWindow::showUrl(const QUrl& url) {
  if (!url.isValid()) return;
  if (url.scheme() == kScheme) {
    page_->setSource(url);
    if (historyStartsAnew_) {
      historyStartsAnew_ = false;
      page_->clearHistory();  // keeps only the page shown
    }
  } else {
    follow(url);
  }
}

void HelpWindow::follow(const QUrl& link) {
  const QUrl url = link.isRelative() ? page_->source().resolved(link) : link;
  const QString scheme = url.scheme().toLower();
  if (scheme == kScheme) {
    showTopic(url.path() + (url.hasFragment() ? QLatin1Char('#') + url.fragment() : QString()));
  } else if (const auto store = storeLink(url)) {
    const QString name =
        QFileInfo(QString(store->file).replace(QLatin1Char('\\'), QLatin1Char('/'))).fileName();
    if (!name.isEmpty() && name.compare(QFileInfo(filePath_).fileName(), Qt::CaseInsensitive) != 0) {
      // Another help file beside this one.
      const QFileInfo other(QFileInfo(filePath_).dir(), name);
      auto archive = other.isFile() ? ChmArchive::open(toStd(other.absoluteFilePath())) : nullptr;
      if (!archive || !archive->find(toStd(store->topic.section(QLatin1Char('#'), 0, 0)))) return;
      setArchive(std::move(archive), other);
    }
    showTopic(store->topic);
  } else if (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
             scheme == QLatin1String("mailto") || scheme == QLatin1String("ftp")) {
    QDesktopServices::openUrl(url);
  }
}

// The contents view follows the page shown. Were it left behind, it would put its first
// entry's page back as soon as it gets the focus, or reopen a stale one on a click.
void HelpWindow::keepContentsInStep(const QUrl& shown) {
  QUrl page = shown;
  page.setFragment(QString());
  QTreeWidgetItem* exact = nullptr;
  QTreeWidgetItem* samePage = nullptr;
  for (QTreeWidgetItemIterator it(contents_); *it && !exact; ++it) {
    const QUrl url = (*it)->data(0, kUrlRole).toUrl();
    if (url == shown) exact = *it;
    QUrl withoutFragment = url;
    withoutFragment.setFragment(QString());
    if (!samePage && withoutFragment == page) samePage = *it;
  }
  QTreeWidgetItem* match = exact ? exact : samePage;
  syncing_ = true;
  for (QTreeWidgetItem* up = match ? match->parent() : nullptr; up; up = up->parent()) up->setExpanded(true);
  contents_->setCurrentItem(match);
  if (!match) contents_->clearSelection();
  syncing_ = false;
}

bool HelpWindow::showKeyword(const QString& keyword) {
  tabs_->setCurrentIndex(1);
  indexField_->setText(keyword);
  selectKeyword(keyword);
  QListWidgetItem* item = indexList_->currentItem();
  if (!item) return false;
  showUrl(item->data(kUrlRole).toUrl());
  return true;
}

// Selects the first entry that is the typed text, else the first that starts with it.
void HelpWindow::selectKeyword(const QString& typed) {
  const QString text = typed.trimmed();
  QListWidgetItem* prefix = nullptr;
  QListWidgetItem* whole = nullptr;
  for (int i = 0; i < indexList_->count() && !whole && !text.isEmpty(); ++i) {
    QListWidgetItem* item = indexList_->item(i);
    const QString keyword = item->data(kKeywordRole).toString();
    if (keyword.compare(text, Qt::CaseInsensitive) == 0)
      whole = item;
    else if (!prefix && keyword.startsWith(text, Qt::CaseInsensitive))
      prefix = item;
  }
  QListWidgetItem* match = whole ? whole : prefix;
  indexList_->setCurrentItem(match);
  if (match)
    indexList_->scrollToItem(match, QAbstractItemView::PositionAtTop);
  else
    indexList_->clearSelection();
}

void HelpWindow::indexPages() {
  searchableBuilt_ = true;
  if (!archive_) return;
  for (const auto& file : archive_->files()) {
    const QString path = fromUtf8(file);
    if (!path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive) &&
        !path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive))
      continue;
    const auto bytes = archive_->read(file);
    if (!bytes) continue;
    QTextDocument document;
    // Only the text counts; a page's pictures and style sheets are not looked for on disk.
    document.setResourceProvider([](const QUrl&) { return QVariant(QByteArray()); });
    document.setHtml(decodePage(*bytes));
    QString title = document.metaInformation(QTextDocument::DocumentTitle).simplified();
    if (title.isEmpty()) title = QFileInfo(path).fileName();
    searchable_.push_back({path, title, folded(title + QLatin1Char('\n') + document.toPlainText())});
  }
}

// The pages holding every word typed, by their titles.
void HelpWindow::search() {
  if (!searchableBuilt_) indexPages();
  searchResults_->clear();
  const QStringList words =
      folded(searchField_->text()).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
  if (words.isEmpty()) {
    searchStatus_->clear();
    return;
  }
  for (const auto& page : searchable_) {
    const bool all = std::all_of(words.begin(), words.end(),
                                 [&](const QString& w) { return page.foldedText.contains(w); });
    if (!all) continue;
    auto* item = new QListWidgetItem(page.title, searchResults_);
    item->setData(kUrlRole, topicUrl(page.path));
  }
  const int found = searchResults_->count();
  searchStatus_->setText(found == 0   ? QStringLiteral("Ningún tema contiene esas palabras.")
                         : found == 1 ? QStringLiteral("1 tema encontrado.")
                                      : QStringLiteral("%1 temas encontrados.").arg(found));
}

}  // namespace pontix::help

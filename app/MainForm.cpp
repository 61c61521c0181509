#include "app/MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLabel>
#include <QLinearGradient>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <QWindow>

#include "app/ControlCursos.h"
#include "app/HostWindow.h"
#include "app/RunMode.h"
#include "exportar/Exportar.h"
#include "importar/Importar.h"
#include "platform/WinPath.h"

namespace pontix {
namespace {

constexpr int kHelpContext = 1;

// Thrown out of the Shell when the host window has gone while one of our dialogs was open:
// it ends the operation without running any more of it. Not an error for the user to read.
struct HostGone {};

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, QRect geometry) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setGeometry(geometry);
  // Enter presses the focused button, as Space does; this window has no default button.
  button->setAutoDefault(true);
  return button;
}

// The box that ends a run. QMessageBox fixes its size whenever it shows or its details button
// is pressed, and its details to six lines; this one lets the details grow with the window, and
// shows the report's lines unwrapped, as they were written.
class FinishedBox final : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

  void setReport(const QString& text) {
    setDetailedText(text);
    auto* details = findChild<QTextEdit*>();
    if (!details) return;
    details->setLineWrapMode(QTextEdit::NoWrap);
    // Wide enough for the longest line, within the screen.
    int widest = 0;
    for (const QString& line : text.split('\n'))
      widest = std::max(widest, details->fontMetrics().horizontalAdvance(line));
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int room = screen ? screen->availableGeometry().width() * 2 / 3 : 640;
    details->setMinimumWidth(std::min(widest + 40, room));
    setSizeGripEnabled(true);
    // Queued: QMessageBox fixes the size in its own handler of the same click.
    for (QAbstractButton* button : findChildren<QAbstractButton*>())
      if (buttonRole(button) == QMessageBox::ActionRole)
        connect(button, &QAbstractButton::clicked, this, &FinishedBox::letGrow, Qt::QueuedConnection);
  }

 protected:
  void showEvent(QShowEvent* e) override {
    QMessageBox::showEvent(e);
    letGrow();
  }
  // Past the first showing, a new layout would fix the size again and undo the user's.
  bool event(QEvent* e) override {
    if (e->type() == QEvent::LayoutRequest && isVisible()) return QDialog::event(e);
    return QMessageBox::event(e);
  }

 private:
  void letGrow() {
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (auto* details = findChild<QTextEdit*>()) {
      details->setMaximumHeight(QWIDGETSIZE_MAX);
      details->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    // The details grow the box to the right and down: it keeps its centre, all of it on the screen.
    if (const QScreen* screen = this->screen(); screen && isVisible()) {
      const QRect room = screen->availableGeometry();
      QRect frame = frameGeometry();
      if (centre_.isNull()) centre_ = frame.center();
      frame.moveCenter(centre_);
      frame.moveRight(std::min(frame.right(), room.right()));
      frame.moveBottom(std::min(frame.bottom(), room.bottom()));
      frame.moveLeft(std::max(frame.left(), room.left()));
      frame.moveTop(std::max(frame.top(), room.top()));
      move(frame.topLeft());
    }
  }

  QPoint centre_;
};

// The file dialog's size, type and date columns in Spanish whatever the system's locale:
// Qt writes them with the system's (English dates, "Folder") and not the program's.
class SpanishFileColumns final : public QIdentityProxyModel {
 public:
  using QIdentityProxyModel::QIdentityProxyModel;

  QVariant data(const QModelIndex& index, int role) const override {
    const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
    if (role != Qt::DisplayRole || !files || index.column() < 1 || index.column() > 3)
      return QIdentityProxyModel::data(index, role);
    const QFileInfo info = files->fileInfo(mapToSource(index));
    const QLocale spanish(QLocale::Spanish, QLocale::Spain);
    switch (index.column()) {
      case 1: return info.isDir() ? QVariant(QString()) : QVariant(spanish.formattedDataSize(info.size()));
      case 2:
        return info.isDir() ? QVariant(QStringLiteral("Carpeta")) : QIdentityProxyModel::data(index, role);
      default: return spanish.toString(info.lastModified(), QStringLiteral("dd/MM/yyyy HH:mm"));
    }
  }
};

}  // namespace

void widenForTitle(QMessageBox& box) {
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (!grid) return;
  QFont title = box.font();
  title.setBold(true);
  // The window manager's title bar holds its icon and buttons besides the caption.
  const int width = QFontMetrics(title).horizontalAdvance(box.windowTitle()) + 160;
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                std::max(1, grid->columnCount()));
}

namespace {

// The nearest folder that exists, walking up from `folder`.
QString existingFolder(std::filesystem::path folder) {
  std::error_code ec;
  while (!folder.empty() && !std::filesystem::is_directory(folder, ec) && folder != folder.parent_path())
    folder = folder.parent_path();
  return QFile::decodeName(folder.c_str());
}

}  // namespace

QFont pickFont(const QString& family, int pixelSize, bool bold) {
  QFont font(family);
  if (QFontInfo(font).family().compare(family, Qt::CaseInsensitive) != 0)
    font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

GradientPanel::GradientPanel(QWidget* parent, QColor start, QColor middle, QColor end)
    : QWidget(parent), start(start), middle(middle), end(end) {}

void GradientPanel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QLinearGradient gradient(0, 0, 0, height());
  gradient.setColorAt(0, start);
  gradient.setColorAt(0.5, middle);
  gradient.setColorAt(1, end);
  painter.fillRect(rect(), gradient);
}

TMForm::TMForm(QStringList arguments, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      arguments_(std::move(arguments)) {
  setObjectName("MForm");
  setWindowTitle("Exportar e importar datos entre Horalia y Scolaria");
  setFixedSize(632, 266);
  QPalette buttonFace = palette();
  buttonFace.setColor(QPalette::Window, buttonFace.color(QPalette::Button));
  setPalette(buttonFace);
  setFont(pickFont("MS Sans Serif", 11, false));
  resultFile = QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString() + "/Horalia.ini";

  const QColor warmStart("#F9D37D"), warmMiddle("#FFFFFF"), warmEnd("#FFEEDD");
  auto* Draw3D2 = new GradientPanel(this, warmStart, warmMiddle, warmEnd);
  Draw3D2->setObjectName("Draw3D2");
  Draw3D2->setGeometry(0, -1, 315, 169);
  auto* Draw3D3 = new GradientPanel(this, warmStart, warmMiddle, warmEnd);
  Draw3D3->setObjectName("Draw3D3");
  Draw3D3->setGeometry(315, 0, 317, 169);
  auto* Draw3D1 = new GradientPanel(this, QColor("#C2CDFE"), QColor("#CFF2FE"), QColor("#CCD8E6"));
  Draw3D1->setObjectName("Draw3D1");
  Draw3D1->setGeometry(0, 168, 633, 97);

  const QFont headingFont = pickFont("Arial", 16, true);
  QLabel* Label3 =
      makeLabel(Draw3D2, "Label3", "Transformar datos desde Scolaria hacia Horalia ", {24, 24, 265, 57});
  QLabel* Label4 =
      makeLabel(Draw3D3, "Label4", "Transformar datos desde Horalia hacia Scolaria", {8, 24, 305, 57});
  for (QLabel* label : {Label3, Label4}) {
    label->setFont(headingFont);
    label->setWordWrap(true);
  }
  QLabel* Label1 = makeLabel(Draw3D1, "Label1", "Pontix para HZ13 V-1.0", {8, 72, 222, 13});
  QFont versionFont = font();
  versionFont.setBold(true);
  Label1->setFont(versionFont);
  QPalette red = Label1->palette();
  red.setColor(QPalette::WindowText, Qt::red);
  Label1->setPalette(red);

  BExportar_ = makeButton(Draw3D2, "BExportar", "Aceptar", {96, 120, 89, 25});
  BImportar_ = makeButton(Draw3D3, "BImportar", "Aceptar", {96, 120, 89, 25});
  for (QPushButton* button : {BExportar_, BImportar_})
    button->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
  QPushButton* BClose = makeButton(Draw3D1, "BClose", "&Salir", {256, 32, 89, 25});
  BClose->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
  QPushButton* Button1 = makeButton(Draw3D1, "Button1", "F1 AYUDA", {265, 67, 75, 18});

  setTabOrder(BClose, Button1);
  setTabOrder(Button1, BExportar_);
  setTabOrder(BExportar_, BImportar_);
  BClose->setFocus();

  setProperty("helpContext", kHelpContext);
  for (QWidget* child : findChildren<QWidget*>()) child->setProperty("helpContext", kHelpContext);
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  f1->setContext(Qt::WindowShortcut);
  connect(f1, &QShortcut::activated, this, [this] { helpContext(kHelpContext); });

  connect(BExportar_, &QPushButton::clicked, this, &TMForm::BExportarClick);
  connect(BImportar_, &QPushButton::clicked, this, &TMForm::BImportarClick);
  connect(BClose, &QPushButton::clicked, this, &QWidget::close);
  connect(Button1, &QPushButton::clicked, this, &TMForm::Button1Click);

  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));

  FormCreate();
}

void TMForm::FormCreate() {
  state_.resultFlag = 0;
  if (arguments_.size() != 2) return;
  const std::string handleText = arguments_[1].toStdString();
  std::optional<std::int32_t> handle = parseHostHandle(handleText);
  if (!handle) {
    showError(QString::fromStdString(invalidHandleText(handleText)));
    return;
  }
  if (embedInHostWindow(this, static_cast<std::uint32_t>(*handle), [this] { hostGone_ = true; }) ==
      EmbedResult::NoSuchWindow) {
    showError("No existe la ventana " + arguments_[1]);
    return;
  }
  state_.hostDriven = true;
}

void TMForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (shown_) return;
  shown_ = true;
  // Sent before the window is mapped, so the window manager reads these hints at once.
  if (!embedded()) requestFixedDialogFrame(this);
  if (!embedded() && !state_.hostDriven) centreFrame(10);
  // Queued so that the operation runs inside the event loop, which it may have to end.
  QMetaObject::invokeMethod(this, &TMForm::FormShow, Qt::QueuedConnection);
}

// The frame, title bar included, is centred once the window manager has given it its size; a
// window manager that draws no frame leaves the window where it was placed.
void TMForm::centreFrame(int triesLeft) {
  QScreen* screen = this->screen();
  if (!screen || embedded()) return;
  const QRect frame = frameGeometry();
  if (frame.size() == size()) {
    if (triesLeft > 0) QTimer::singleShot(20, this, [this, triesLeft] { centreFrame(triesLeft - 1); });
    return;
  }
  move(screen->availableGeometry().center() - QPoint(frame.width() / 2, frame.height() / 2));
}

void TMForm::FormShow() {
  if (arguments_.size() != 2) return recoverAtStart();
  const std::string operation = arguments_[0].toStdString();
  if (namesOperation(operation, "importar")) BImportarClick();
  if (namesOperation(operation, "exportar")) BExportarClick();
}

// What an operation that did not end left in the working folder is put right as soon as the
// window opens, and said; an operation started by the host does it itself. A folder another
// operation holds, or one that takes no change, is left to the operation that comes.
void TMForm::recoverAtStart() {
  std::error_code ec;
  if (!std::filesystem::is_directory(state_.workingDirectory, ec)) return;
  std::optional<FolderLock> lock;
  try {
    lock.emplace(state_.workingDirectory, FolderLock::Purpose::Change);
  } catch (const std::exception&) {
    return;
  }
  try {
    if (std::optional<std::string> done = recoverWorkingFolder(state_.workingDirectory)) showMessage(*done);
  } catch (const HostGone&) {
  } catch (const std::exception& e) {
    showError(QString::fromStdString(userMessage(e)));
  }
}

void TMForm::checkOutputs() {
  if (state_.hostDriven && !hostGone_) checkResultFolder(resultFile);
}

// Minimising is not offered, but a window manager may offer it all the same; the window would
// then be lost, having no task-bar entry.
void TMForm::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && isMinimized())
    QTimer::singleShot(0, this, [this] {
      setWindowState(windowState() & ~Qt::WindowMinimized);
      activateWindow();
    });
}

void TMForm::closeEvent(QCloseEvent* event) {
  FormClose();
  event->accept();
  emit closed();
}

void TMForm::FormClose() {
  if (!state_.hostDriven || hostGone_) return;
  try {
    writeResultFlag(resultFile, state_.resultFlag);
  } catch (const std::exception& e) {
    showError(QString::fromStdString(userMessage(e)));
  }
}

void TMForm::BExportarClick() {
  runOperation([this] { pontix::runExportar(state_, *this); });
}

void TMForm::BImportarClick() {
  runOperation([this] { pontix::runImportar(state_, *this); });
}

void TMForm::Button1Click() {
  qApp->setProperty("helpFile", kHelpFile);
  helpContents();
}

// Every error ends the operation here and shows in the standard error box.
void TMForm::runOperation(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const HostGone&) {
    restoreCursor();
  } catch (const std::bad_alloc& e) {
    restoreCursor();
    showError(QString::fromStdString(userMessage(e)));
  } catch (const std::exception& e) {
    restoreCursor();
    // What the operation put right before it failed is said too: nobody would read it otherwise.
    std::string text = userMessage(e);
    for (const std::string& line : state_.report.recovered()) text += "\n\n" + line;
    showError(QString::fromStdString(text));
  }
}

void TMForm::showError(const QString& text) {
  QMessageBox box(QMessageBox::Critical, kApplicationTitle, text, QMessageBox::Ok, dialogParent());
  runModal(box);
}

// Inside a host window: our window is then no top-level window.
bool TMForm::embedded() const { return windowHandle() && windowHandle()->parent(); }

// Qt takes only a top-level window as a dialog's owner (and warns about any other), so inside
// a host window our dialogs are made without a parent and runModal gives them to the host.
QWidget* TMForm::dialogParent() { return embedded() ? nullptr : this; }

int TMForm::runModal(QDialog& dialog) {
  if (auto* box = qobject_cast<QMessageBox*>(&dialog)) widenForTitle(*box);
  if (embedded()) {
    dialog.winId();
    dialog.windowHandle()->setTransientParent(windowHandle()->parent());
  }
  return dialog.exec();
}

void TMForm::stopIfHostGone() const {
  if (hostGone_) throw HostGone{};
}

bool TMForm::chooseXmlFile(std::string& path) {
  QFileDialog OpenDialogXML(dialogParent(), "Archivo XML", existingFolder(mapWindowsPath("c:\\ktemp\\saga")),
                            "*.xml (*.xml)");
  OpenDialogXML.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails);
  OpenDialogXML.setDefaultSuffix("xml");
  OpenDialogXML.setFileMode(QFileDialog::AnyFile);
  OpenDialogXML.setAcceptMode(QFileDialog::AcceptOpen);
  OpenDialogXML.setProxyModel(new SpanishFileColumns(&OpenDialogXML));
  // Qt gives the size, type and date columns the width of short English texts, and cuts ours;
  // they take their contents' width, the name what is left of a wider dialog.
  if (auto* view = OpenDialogXML.findChild<QTreeView*>("treeView")) {
    QHeaderView* header = view->header();
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int column = 1; column < header->count(); ++column)
      header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
  }
  OpenDialogXML.resize(760, OpenDialogXML.sizeHint().height());
  const int accepted = runModal(OpenDialogXML);
  stopIfHostGone();
  if (accepted != QDialog::Accepted || OpenDialogXML.selectedFiles().isEmpty()) return false;
  path = QFile::encodeName(OpenDialogXML.selectedFiles().front()).toStdString();
  return true;
}

void TMForm::showMessage(const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, QString::fromStdString(text), QMessageBox::Ok,
                  dialogParent());
  runModal(box);
  stopIfHostGone();
}

void TMForm::showFinished(const std::string& text, const RunReport& report) {
  // A clean run ends with the plain box; findings that change what the other program will see
  // are said above the details, so that they do not pass for a plain success.
  const RunReport::Summary summary = report.summary();
  QStringList lines;
  for (const std::string& line : summary.lines) lines << QString::fromStdString(line);
  if (!report.outputFile().empty())
    lines << "Archivo escrito: " + QFile::decodeName(QByteArray::fromStdString(report.outputFile()));
  const QMessageBox::Icon icon = summary.warning          ? QMessageBox::Warning
                                 : !summary.lines.empty() ? QMessageBox::Information
                                                          : QMessageBox::NoIcon;
  FinishedBox box(icon, kApplicationTitle, QString::fromStdString(text), QMessageBox::Ok, dialogParent());
  if (!lines.isEmpty()) box.setInformativeText(lines.join('\n'));
  // Behind "Mostrar los detalles…", for whoever wants to know what the conversion changed.
  box.setReport(QString::fromStdString(report.text()));
  runModal(box);
  stopIfHostGone();
}

bool TMForm::confirmEmptyDocument() {
  QMessageBox box(
      QMessageBox::Warning, kApplicationTitle,
      "El documento no contiene materias, profesores, aulas ni cursos. ¿Vaciar de todos modos las "
      "tablas de trabajo?",
      QMessageBox::Yes | QMessageBox::No, dialogParent());
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  const int answer = runModal(box);
  stopIfHostGone();
  return answer == QMessageBox::Yes;
}

bool TMForm::confirmSubjectLines() {
  // Each line break of the text is one: Qt would break at "\n" and again at "\r".
  QString text =
      "¿Quiere crear automáticamente las Líneas de Asignaturas \n\r"
      "que esta aplicación estime necesarias para cada Grupo? \n\r"
      "Seguramente se crearán más líneas de las necesarias, \n\r"
      "pero podrá eliminar las que considere innecesarias. \n\r"
      "                            ¿Crear Líneas?";
  text.replace("\n\r", "\n");
  QMessageBox box(QMessageBox::Warning, "Creación automática de Líneas de Asignaturas", text,
                  QMessageBox::Ok | QMessageBox::Cancel, dialogParent());
  box.setDefaultButton(QMessageBox::Ok);
  const int answer = runModal(box);
  stopIfHostGone();
  return answer == QMessageBox::Ok;
}

// The wait cursor of the operation stays on over the dialog, as over the rest of the run.
CourseAssignmentPass TMForm::runCourseAssignmentPass(ProgramState& state) {
  TControlCursos ControlCursos(state, dialogParent());
  ControlCursos.helpContext = [this](int context) { helpContext(context); };
  runModal(ControlCursos);
  stopIfHostGone();
  if (ControlCursos.error) std::rethrow_exception(ControlCursos.error);
  return {.FaltaDato = ControlCursos.FaltaDato == 1, .Salida = ControlCursos.Salida};
}

void TMForm::setWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void TMForm::restoreCursor() {
  while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
}

void TMForm::disableOperationButtons() {
  BExportar_->setEnabled(false);
  BImportar_->setEnabled(false);
}

}  // namespace pontix

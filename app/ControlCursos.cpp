#include "app/ControlCursos.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QValidator>

#include "app/CursosModel.h"
#include "app/HostWindow.h"
#include "app/MainForm.h"
#include "exportar/Cursost.h"
#include "exportar/PreviousLevels.h"
#include "platform/AnsiText.h"

namespace pontix {
namespace {

constexpr int kHelpContext = 1;

// Characters the table can hold as they are: a character Windows-1252 lacks would be stored
// as another one, or as '?', so it is not taken.
class Cp1252Validator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    const std::string utf8 = input.toStdString();
    return ansi::toUtf8(ansi::fromUtf8(utf8)) == utf8 ? Acceptable : Invalid;
  }
};

// Cell editors limited to the field's width; Enter leaves the cell as Tab does.
class CursosDelegate : public QStyledItemDelegate {
 public:
  CursosDelegate(CursosModel* model, QObject* parent) : QStyledItemDelegate(parent), model_(model) {}

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
      line->setMaxLength(model_->fieldWidth(index.column()));
      line->setValidator(new Cp1252Validator(line));
    }
    return editor;
  }

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        auto* editor = qobject_cast<QWidget*>(object);
        emit commitData(editor);
        emit closeEditor(editor, key->modifiers() & Qt::ShiftModifier ? EditPreviousItem : EditNextItem);
        return true;
      }
    }
    return QStyledItemDelegate::eventFilter(object, event);
  }

 private:
  CursosModel* model_;
};

enum class Glyph { First, PriorPage, Prior, Next, NextPage, Last, Edit, Post, Cancel, Refresh };

void paintGlyph(QPainter& p, Glyph glyph) {
  p.setRenderHint(QPainter::Antialiasing);
  const QColor ink(0x20, 0x20, 0x20);
  p.setPen(Qt::NoPen);
  p.setBrush(ink);
  auto left = [&](double x) { p.drawPolygon(QPolygonF({{x + 5, 3}, {x + 5, 13}, {x, 8}})); };
  auto right = [&](double x) { p.drawPolygon(QPolygonF({{x, 3}, {x, 13}, {x + 5, 8}})); };
  switch (glyph) {
    case Glyph::First: p.drawRect(QRectF(4, 3, 2, 10)), left(6.5); break;
    case Glyph::PriorPage: left(3), left(8); break;
    case Glyph::Prior: left(5.5); break;
    case Glyph::Next: right(5.5); break;
    case Glyph::NextPage: right(3), right(8); break;
    case Glyph::Last: right(4.5), p.drawRect(QRectF(10, 3, 2, 10)); break;
    case Glyph::Edit:  // a pencil
      p.drawPolygon(QPolygonF({{11, 2}, {14, 5}, {6, 13}, {3, 10}}));
      p.drawPolygon(QPolygonF({{3, 10}, {6, 13}, {2, 14}}));
      break;
    case Glyph::Post:
      p.setPen(QPen(QColor(0x1E, 0x7B, 0x1E), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(Qt::NoBrush);
      p.drawPolyline(QPolygonF({{3, 8.5}, {6.5, 12}, {13, 4}}));
      break;
    case Glyph::Cancel:
      p.setPen(QPen(QColor(0xB0, 0x10, 0x10), 2.2, Qt::SolidLine, Qt::RoundCap));
      p.drawLine(QPointF(4, 4), QPointF(12, 12));
      p.drawLine(QPointF(12, 4), QPointF(4, 12));
      break;
    case Glyph::Refresh: {
      p.setPen(QPen(ink, 1.8));
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRectF(3, 3, 10, 10), 100 * 16, 280 * 16);
      p.setPen(Qt::NoPen);
      p.setBrush(ink);
      p.drawPolygon(QPolygonF({{7, 0.5}, {11, 3}, {7, 5.5}}));
      break;
    }
  }
}

// Drawn for the screen's scale, so that the glyphs stay sharp at 200 %.
QIcon navigatorIcon(Glyph glyph) {
  QIcon icon;
  for (int scale : {1, 2, 3}) {
    QPixmap pixmap(16 * scale, 16 * scale);
    pixmap.fill(Qt::transparent);
    pixmap.setDevicePixelRatio(scale);
    QPainter painter(&pixmap);
    paintGlyph(painter, glyph);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

void setBackground(QLabel* label, QColor colour) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::Window, colour);
  label->setPalette(palette);
  label->setAutoFillBackground(true);
}

}  // namespace

// ---- CursosGrid ----

CursosGrid::CursosGrid(QWidget* parent) : QTableView(parent) {
  setEditTriggers(AnyKeyPressed | DoubleClicked | EditKeyPressed | SelectedClicked);
  setSelectionMode(SingleSelection);
  setSelectionBehavior(SelectItems);
  setTabKeyNavigation(true);
  setWordWrap(false);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

QModelIndex CursosGrid::nextEditable(const QModelIndex& from, bool forward) const {
  if (!model() || !from.isValid()) return {};
  const int columns = model()->columnCount();
  const long long end = static_cast<long long>(model()->rowCount()) * columns;
  for (long long at = from.row() * static_cast<long long>(columns) + from.column() + (forward ? 1 : -1);
       at >= 0 && at < end; at += forward ? 1 : -1) {
    QModelIndex index = model()->index(static_cast<int>(at / columns), static_cast<int>(at % columns));
    if (index.flags() & Qt::ItemIsEditable) return index;
  }
  return {};
}

QModelIndex CursosGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
  if (action == MoveNext || action == MovePrevious) return nextEditable(currentIndex(), action == MoveNext);
  return QTableView::moveCursor(action, modifiers);
}

void CursosGrid::keyPressEvent(QKeyEvent* event) {
  // Enter would otherwise reach the dialog and press its OK button.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && state() != EditingState) {
    QAbstractItemView::focusNextPrevChild(!(event->modifiers() & Qt::ShiftModifier));
    event->accept();
    return;
  }
  // Past the last editable cell (before the first, going back) Tab leaves the grid for the next
  // control, as Ctrl+Tab always does: the keyboard alone must reach the buttons.
  if ((event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) && state() != EditingState) {
    const bool forward = event->key() == Qt::Key_Tab && !(event->modifiers() & Qt::ShiftModifier);
    if ((event->modifiers() & Qt::ControlModifier) || !nextEditable(currentIndex(), forward).isValid()) {
      QWidget::focusNextPrevChild(forward);
      event->accept();
      return;
    }
  }
  QTableView::keyPressEvent(event);
}

void CursosGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
  const bool forward = hint == QAbstractItemDelegate::EditNextItem;
  if ((forward || hint == QAbstractItemDelegate::EditPreviousItem) &&
      !nextEditable(currentIndex(), forward).isValid()) {
    // Past the last editable cell the keyboard goes on to the buttons.
    QTableView::closeEditor(editor, QAbstractItemDelegate::NoHint);
    QWidget::focusNextPrevChild(forward);
    return;
  }
  QTableView::closeEditor(editor, hint);
}

void CursosGrid::commitTyping() {
  if (state() != EditingState) return;
  if (QWidget* editor = indexWidget(currentIndex())) {
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
  }
}

void CursosGrid::revertTyping() {
  if (state() != EditingState) return;
  if (QWidget* editor = indexWidget(currentIndex()))
    closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
}

// ---- TControlCursos ----

TControlCursos::TControlCursos(ProgramState& state, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      state_(state),
      wwTableCursosT(std::make_unique<dbase::Table>(state.wwTableCursos.filePath().parent_path(), "CURSOST",
                                                    "wwTableCursosT")) {
  setObjectName("ControlCursos");
  setWindowTitle("Asignación de Niveles y Cursos");
  setFixedSize(678, 499);
  // Its place, unless the screen is too small for it there (a large scale on a small screen):
  // then as far up and left as it takes to show it whole.
  QPoint place(283, 200);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect room = screen->availableGeometry();
    place.setX(std::max(room.left(), std::min(place.x(), room.right() + 1 - width())));
    place.setY(std::max(room.top(), std::min(place.y(), room.bottom() + 1 - height())));
  }
  move(place);
  setFont(pickFont("MS Sans Serif", 11, false));

  auto* background = new GradientPanel(this, Qt::red, Qt::yellow, Qt::red);
  background->setGeometry(0, 0, 678, 499);

  auto* Label1 = makeLabel(background, "Label1", "ASIGNACIÓN DE NIVELES Y CURSOS");
  QFont heading = pickFont("Arial", 19, true);
  heading.setUnderline(true);
  Label1->setFont(heading);
  Label1->setWordWrap(false);
  Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  Label1->setGeometry(0, 3, 678, 25);

  wwDataSource1 = new CursosModel(this);
  wwDataSource1->onError = [this](std::exception_ptr failure) { fail(failure); };
  CursosTDBGrid = new CursosGrid(background);
  CursosTDBGrid->setObjectName("CursosTDBGrid");
  CursosTDBGrid->setGeometry(7, 56, 448, 433);
  CursosTDBGrid->setModel(wwDataSource1);
  CursosTDBGrid->setItemDelegate(new CursosDelegate(wwDataSource1, CursosTDBGrid));
  buildNavigator();

  // Columns as wide as their display width in characters, titles bold on two lines; the
  // description gives up what the grid lacks.
  const QFontMetrics cells(CursosTDBGrid->font());
  QFont titleFont = CursosTDBGrid->font();
  titleFont.setBold(true);
  const QFontMetrics titles(titleFont);
  QHeaderView* header = CursosTDBGrid->horizontalHeader();
  header->setFont(titleFont);
  header->setFixedHeight(2 * titles.lineSpacing() + 6);
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->setHighlightSections(false);
  QHeaderView* indicator = CursosTDBGrid->verticalHeader();
  indicator->setSectionResizeMode(QHeaderView::Fixed);
  indicator->setDefaultSectionSize(cells.height() + 6);
  indicator->setFixedWidth(cells.height() + 4);
  indicator->setDefaultAlignment(Qt::AlignCenter);
  int widths[CursosModel::ColumnCount];
  int total = 0;
  for (int column = 0; column < CursosModel::ColumnCount; ++column) {
    int title = 0;
    for (const QString& line :
         wwDataSource1->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString().split('\n'))
      title = std::max(title, titles.horizontalAdvance(line));
    widths[column] = std::max(CursosModel::displayWidth(column) * cells.horizontalAdvance('0'), title) + 10;
    total += widths[column];
  }
  const int room = CursosTDBGrid->width() - 2 * CursosTDBGrid->frameWidth() - indicator->width() -
                   CursosTDBGrid->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, CursosTDBGrid);
  if (total > room)
    widths[CursosModel::DESCRIPCIO] = std::max(60, widths[CursosModel::DESCRIPCIO] - (total - room));
  for (int column = 0; column < CursosModel::ColumnCount; ++column)
    CursosTDBGrid->setColumnWidth(column, widths[column]);

  // The column on the right, top to bottom.
  struct Text {
    const char* name;
    const char* text;
    QColor background;
    bool bold;
  };
  const Text texts[] = {
      {"Label3", "INCIDENCIAS EN EL TRASPASO", Qt::white, true},
      {"Label2",
       "Se ha detectado que falta por indicar algún NIVEL  o CURSO. Complete el/los datos que falten, para "
       "poder "
       "concluir el proceso, antes de Salir.",
       Qt::yellow, false},
      {"Label4", "¡ IMPORTANTE !", {}, true},
      {"Label5",
       "Las Abreviaturas de sus Grupos (Unidades), se formarán, en función del NIVEL y CURSO, del siguiente "
       "modo: ",
       {},
       false},
      {"Label6", "Por ejemplo, NIVEL=ESO y CURSO=1 daría como resultado", {}, false},
      {"Label10", "Abreviatura del Grupo = ESO1A", {}, true},
      {"Label7",
       "y así secuencialmente para el resto de Grupos del mismo NIVEL y CURSO, ESO1B, ESO1C.",
       {},
       false},
      {"Label11",
       "Ejemplos de Niveles: BCT=Bach.C.T., BHC=Bach.Hum., BT=Bach.Tecnol., LS=Leng.Signos, GAD=Gest.Admin., "
       "EDSO=ESO Diversificación, etc...",
       Qt::white, false},
      {"Label9",
       "Luego es de vital IMPORTANCIA que para cada NIVEL sus 5 Primeros caracteres sean DISTINTOS.",
       QColor(0xA6, 0xCA, 0xF0), false},
  };
  const int left = 461, width = 212;
  int y = 32;
  for (const Text& t : texts) {
    QLabel* label = makeLabel(background, t.name, QString::fromUtf8(t.text));
    if (t.bold) {
      QFont bold = label->font();
      bold.setBold(true);
      label->setFont(bold);
    }
    if (t.background.isValid()) {
      setBackground(label, t.background);
      label->setMargin(2);
    }
    const int height = label->heightForWidth(width);
    label->setGeometry(left, y, width, height);
    y += height + 5;
    if (std::string_view(t.name) == "Label2") Label2 = label;
    if (std::string_view(t.name) == "Label3") Label3 = label;
  }

  BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "Aceptar", background);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setGeometry(514, 397, 105, 25);
  BitBtn1->setDefault(true);
  BitBtn2 = new QPushButton("&Forzar Salida Sin Terminar Proceso ", background);
  BitBtn2->setObjectName("BitBtn2");
  BitBtn2->setGeometry(458, 424, 217, 24);
  QPalette red = BitBtn2->palette();
  red.setColor(QPalette::ButtonText, Qt::red);
  BitBtn2->setPalette(red);
  Label8 = makeLabel(background, "Label8",
                     "¡ Atención ! Si fuerza la Salida, los Datos recogidos serán INCOHERENTES.");
  setBackground(Label8, Qt::yellow);
  Label8->setMargin(2);
  Label8->setGeometry(458, 452, 217, Label8->heightForWidth(217));
  // In the navigator's row, the one free strip wide enough. Its right end lies where the
  // incidences heading stands, which shows only while the missing-data box closes the dialog;
  // the button steps aside then.
  BRecuperarNiveles = new QPushButton("&Recuperar niveles anteriores", background);
  BRecuperarNiveles->setObjectName("BRecuperarNiveles");
  BRecuperarNiveles->setToolTip(
      "Completa el NIVEL y el CURSO que falten con los últimos que se escribieron para estos cursos, "
      "también en exportaciones que no terminaron (o con los de la copia de CURSOST en la carpeta ANTERIOR). "
      "Lo ya escrito no cambia.");
  BRecuperarNiveles->setGeometry(351, 29, std::min(BRecuperarNiveles->sizeHint().width(), 675 - 351), 25);
  BRecuperarNiveles->setEnabled(false);
  for (QWidget* hidden : {static_cast<QWidget*>(Label3), static_cast<QWidget*>(Label2),
                          static_cast<QWidget*>(BitBtn2), static_cast<QWidget*>(Label8)})
    hidden->hide();

  setTabOrder(CursosTDBGrid, BitBtn1);
  setTabOrder(BitBtn1, BitBtn2);
  setTabOrder(BitBtn2, BRecuperarNiveles);
  CursosTDBGrid->setFocus();

  for (QWidget* widget :
       {static_cast<QWidget*>(this), static_cast<QWidget*>(CursosTDBGrid), static_cast<QWidget*>(BitBtn1)})
    widget->setProperty("helpContext", kHelpContext);
  // The help window opens at this dialog's page when F1 is pressed here.
  setProperty("helpTopic", "niveles.htm");
  auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
  f1->setContext(Qt::WindowShortcut);
  connect(f1, &QShortcut::activated, this, [this] {
    for (QWidget* w = focusWidget(); w; w = w->parentWidget())
      if (w->property("helpContext").isValid()) return helpContext(w->property("helpContext").toInt());
    helpContext(kHelpContext);
  });

  connect(qApp, &QApplication::focusChanged, this, &TControlCursos::focusChanged);
  connect(CursosTDBGrid->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current, const QModelIndex& previous) {
            guarded([&] {
              // Moving to another record posts the one being edited.
              if (current.row() != previous.row() && wwDataSource1->editRow() >= 0 &&
                  wwDataSource1->editRow() != current.row())
                wwDataSource1->post();
              wwDataSource1->setCurrentRow(current.row());
              if (shown_ && current.isValid() && previous.isValid() && current.column() != previous.column())
                CursosTDBGridColEnter();
            });
            updateNavigator();
          });
  connect(wwDataSource1, &CursosModel::stateChanged, this, &TControlCursos::updateNavigator);
  connect(BitBtn1, &QPushButton::clicked, this, &TControlCursos::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TControlCursos::BitBtn2Click);
  connect(BRecuperarNiveles, &QPushButton::clicked, this, &TControlCursos::recoverPreviousLevels);
}

TControlCursos::~TControlCursos() {
  // Focus moves while the widgets go away; by then this is no dialog to tell.
  disconnect(qApp, nullptr, this, nullptr);
  // The model must not read a table that is going away.
  wwDataSource1->setTable(nullptr);
}

void TControlCursos::buildNavigator() {
  wwDBNavigator1 = new QWidget(CursosTDBGrid->parentWidget());
  wwDBNavigator1->setObjectName("wwDBNavigator1");
  struct Button {
    const char* name;
    Glyph glyph;
    const char* hint;
  };
  const Button buttons[] = {
      {"First", Glyph::First, "Move to first record"},
      {"PriorPage", Glyph::PriorPage, "Move backward 10 records"},
      {"Prior", Glyph::Prior, "Move to prior record"},
      {"Next", Glyph::Next, "Move to next record"},
      {"NextPage", Glyph::NextPage, "Move forward 10 records"},
      {"Last", Glyph::Last, "Move to last record"},
      {"Edit", Glyph::Edit, "Edit current record"},
      {"Post", Glyph::Post, "Post changes of current record"},
      {"Cancel", Glyph::Cancel, "Cancel changes made to current record"},
      {"Refresh", Glyph::Refresh, "Refresh the contents of the dataset"},
  };
  const int buttonWidth = 24, buttonHeight = 25;
  for (int i = 0; i < 10; ++i) {
    auto* button = new QToolButton(wwDBNavigator1);
    button->setObjectName(buttons[i].name);
    button->setIcon(navigatorIcon(buttons[i].glyph));
    button->setIconSize(QSize(16, 16));
    button->setToolTip(buttons[i].hint);
    button->setGeometry(i * buttonWidth, 0, buttonWidth, buttonHeight);
    // As a navigator's buttons do, they leave the focus, and the record being edited, alone.
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoRaise(false);
    navigatorButtons_[i] = button;
  }
  wwDBNavigator1->setGeometry(105, 29, 10 * buttonWidth, buttonHeight);

  auto row = [this] {
    return CursosTDBGrid->currentIndex().isValid() ? CursosTDBGrid->currentIndex().row() : 0;
  };
  auto moveBy = [this, row](int delta) { navigate(row() + delta); };
  connect(navigatorButtons_[0], &QToolButton::clicked, this, [this] { navigate(0); });
  connect(navigatorButtons_[1], &QToolButton::clicked, this, [moveBy] { moveBy(-10); });
  connect(navigatorButtons_[2], &QToolButton::clicked, this, [moveBy] { moveBy(-1); });
  connect(navigatorButtons_[3], &QToolButton::clicked, this, [moveBy] { moveBy(1); });
  connect(navigatorButtons_[4], &QToolButton::clicked, this, [moveBy] { moveBy(10); });
  connect(navigatorButtons_[5], &QToolButton::clicked, this,
          [this] { navigate(wwDataSource1->rowCount() - 1); });
  connect(navigatorButtons_[6], &QToolButton::clicked, this, [this, row] {
    guarded([&] {
      QModelIndex current = CursosTDBGrid->currentIndex();
      if (!current.isValid()) return;
      wwDataSource1->edit(row());
      if (!(current.flags() & Qt::ItemIsEditable)) current = current.siblingAtColumn(CursosModel::NIVEL);
      CursosTDBGrid->setFocus();
      CursosTDBGrid->setCurrentIndex(current);
      CursosTDBGrid->edit(current);
    });
  });
  connect(navigatorButtons_[7], &QToolButton::clicked, this, [this] { guarded([&] { postTyping(); }); });
  connect(navigatorButtons_[8], &QToolButton::clicked, this, [this] {
    guarded([&] {
      CursosTDBGrid->revertTyping();
      wwDataSource1->cancel();
    });
  });
  connect(navigatorButtons_[9], &QToolButton::clicked, this, [this] {
    guarded([&] {
      const QModelIndex current = CursosTDBGrid->currentIndex();
      CursosTDBGrid->commitTyping();
      wwDataSource1->refresh();
      if (wwDataSource1->rowCount() > 0 && current.isValid())
        CursosTDBGrid->setCurrentIndex(
            wwDataSource1->index(std::min(current.row(), wwDataSource1->rowCount() - 1), current.column()));
    });
  });
  updateNavigator();
}

void TControlCursos::navigate(int row) {
  const int rows = wwDataSource1->rowCount();
  if (rows == 0) return;
  guarded([&] {
    CursosTDBGrid->commitTyping();
    const QModelIndex current = CursosTDBGrid->currentIndex();
    const int column = current.isValid() ? current.column() : static_cast<int>(CursosModel::NIVEL);
    CursosTDBGrid->setCurrentIndex(wwDataSource1->index(std::clamp(row, 0, rows - 1), column));
  });
}

void TControlCursos::updateNavigator() {
  const int rows = wwDataSource1->rowCount();
  const int row = CursosTDBGrid->currentIndex().isValid() ? CursosTDBGrid->currentIndex().row() : -1;
  const bool editing = wwDataSource1->state() == dbase::TableState::Edit;
  const bool atFirst = rows == 0 || row <= 0, atLast = rows == 0 || row >= rows - 1;
  const bool enabled[10] = {!atFirst,
                            !atFirst,
                            !atFirst,
                            !atLast,
                            !atLast,
                            !atLast,
                            rows > 0 && !editing,
                            editing,
                            editing,
                            wwDataSource1->table() != nullptr};
  for (int i = 0; i < 10; ++i) navigatorButtons_[i]->setEnabled(enabled[i]);
}

void TControlCursos::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shown_) return;
  requestFixedDialogFrame(this);
  guarded([&] { FormShow(); });
  shown_ = true;
}

void TControlCursos::FormShow() {
  wwTableCursosT->open(dbase::OpenMode::Shared);
  wwDataSource1->setTable(wwTableCursosT.get());
  if (wwDataSource1->rowCount() > 0)
    CursosTDBGrid->setCurrentIndex(wwDataSource1->index(0, CursosModel::NIVEL));
  if (state_.CursosIncompletos == 1) {
    BitBtn2->show();
    Label8->show();
  }
  try {
    BRecuperarNiveles->setEnabled(
        hasPreviousLevels(*wwTableCursosT, previousCourseLevels(state_.workingDirectory)));
  } catch (const std::exception&) {
    // A previous table that cannot be read offers nothing; the assignment goes on without it.
  }
}

void TControlCursos::recoverPreviousLevels() {
  guarded([&] {
    postTyping();
    fillFromPreviousLevels(*wwTableCursosT, previousCourseLevels(state_.workingDirectory));
    const QModelIndex at = CursosTDBGrid->currentIndex();
    wwDataSource1->refresh();
    if (at.isValid()) CursosTDBGrid->setCurrentIndex(wwDataSource1->index(at.row(), at.column()));
    CursosTDBGrid->setFocus();
  });
}

bool TControlCursos::inGrid(QWidget* widget) const {
  return widget && (widget == CursosTDBGrid || CursosTDBGrid->isAncestorOf(widget));
}

// The grid's enter and exit are those of the focus, whichever of its parts (the cells or a
// cell's editor) holds it. A window losing the activation is no exit.
void TControlCursos::focusChanged(QWidget* old, QWidget* now) {
  if (!now || !shown_ || !wwDataSource1->table()) return;
  const bool was = inGrid(old), is = inGrid(now);
  if (!was && is) guarded([&] { CursosTDBGridEnter(); });
  if (was && !is) guarded([&] { CursosTDBGridExit(); });
}

void TControlCursos::CursosTDBGridEnter() {
  if (wwDataSource1->state() == dbase::TableState::Edit) return;
  const QModelIndex current = CursosTDBGrid->currentIndex();
  if (current.isValid()) wwDataSource1->edit(current.row());
}

void TControlCursos::CursosTDBGridExit() {
  if (wwDataSource1->state() == dbase::TableState::Edit) wwDataSource1->post();
}

void TControlCursos::CursosTDBGridColEnter() {
  BitBtn2->hide();
  Label8->hide();
}

void TControlCursos::postTyping() {
  CursosTDBGrid->commitTyping();
  wwDataSource1->post();
}

void TControlCursos::BitBtn1Click() {
  guarded([&] {
    postTyping();
    FaltaDato = 0;
    if (!coursesComplete(*wwTableCursosT)) FaltaDato = 1;
    if (FaltaDato == 1) {
      BRecuperarNiveles->hide();
      Label3->show();
      Label2->show();
      QMessageBox message(QMessageBox::NoIcon, kApplicationTitle, "¡Atención! Falta algún Dato",
                          QMessageBox::Ok, this);
      widenForTitle(message);
      message.exec();
      BitBtn2->show();
    }
    releaseTable();
  });
  if (!error) done(Accepted);
}

void TControlCursos::BitBtn2Click() {
  guarded([&] {
    postTyping();
    releaseTable();
  });
  FaltaDato = 0;
  Salida = "fuera";
  if (!error) QDialog::reject();
}

void TControlCursos::reject() {
  if (wwTableCursosT)
    guarded([&] {
      postTyping();
      releaseTable();
    });
  QDialog::reject();
}

// Escape drops what is being typed in a cell and nothing more: it must not end the assignment
// without its check. The close box still does.
void TControlCursos::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Cancel)) {
    CursosTDBGrid->revertTyping();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TControlCursos::releaseTable() {
  if (!wwTableCursosT) return;
  std::unique_ptr<dbase::Table> table = std::move(wwTableCursosT);
  wwDataSource1->setTable(nullptr);
  table->close();
}

void TControlCursos::guarded(const std::function<void()>& handler) {
  if (error) return;
  try {
    handler();
  } catch (...) {
    fail(std::current_exception());
  }
}

// Queued: a failure while the dialog is being shown comes before its event loop runs.
void TControlCursos::fail(std::exception_ptr failure) {
  if (error) return;
  error = failure;
  QMetaObject::invokeMethod(
      this, [this] { QDialog::done(Rejected); }, Qt::QueuedConnection);
}

}  // namespace pontix

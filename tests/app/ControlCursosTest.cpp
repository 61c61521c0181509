#include "app/ControlCursos.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>

#include "ModalDriver.h"
#include "TestSupport.h"
#include "app/CursosModel.h"
#include "app/MainForm.h"
#include "platform/AnsiText.h"

namespace pontix {
namespace {

using dbase::FieldKind;
using test::ModalDriver;
using Course = std::array<std::string, 4>;  // CODI, DESCRIPCIO, NIVEL, CURSO in UTF-8

// A drive C: whose working directory holds a CURSOST as the courses builder leaves it.
struct Courses {
  test::TempDir drive;
  test::ScopedEnv env{"PONTIX_DRIVE_C", drive.path().c_str()};
  std::filesystem::path ktemp = drive / "KTEMP";

  explicit Courses(const std::vector<Course>& courses) {
    std::filesystem::create_directories(ktemp);
    dbase::Table table(ktemp, "CURSOST");
    table.create({{"CODI", FieldKind::Text, 20},
                  {"DESCRIPCIO", FieldKind::Text, 100},
                  {"NIVEL", FieldKind::Text, 5},
                  {"CURSO", FieldKind::Text, 3}});
    table.open(dbase::OpenMode::Exclusive);
    for (const Course& c : courses) {
      table.append();
      for (int i = 0; i < 4; ++i) table.fieldAt(static_cast<std::size_t>(i)).setText(ansi::fromUtf8(c[i]));
      table.post();
    }
    table.close();
  }
  // Exclusive, so it also shows that the dialog let the table go.
  std::vector<Course> read() const {
    dbase::Table table(ktemp, "CURSOST");
    table.open(dbase::OpenMode::Exclusive);
    std::vector<Course> out;
    for (; !table.eof(); table.next()) {
      Course c;
      for (int i = 0; i < 4; ++i) c[i] = ansi::toUtf8(table.fieldAt(static_cast<std::size_t>(i)).asText());
      out.push_back(c);
    }
    return out;
  }
};

const std::vector<Course> kThree = {{"ESO1", "1r d'ESO", "", ""},
                                    {"BAT1", "1r de Batxillerat", "", ""},
                                    {"CFGM", "Gestió administrativa", "", ""}};

template <typename T>
T* child(QWidget& window, const char* name) {
  T* widget = window.findChild<T*>(name);
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

// What a person does at the keyboard: keys go to the widget with the focus.
void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {}) {
  QWidget* target = QApplication::focusWidget();
  ASSERT_NE(target, nullptr);
  QKeyEvent down(QEvent::KeyPress, key, modifiers, text);
  QApplication::sendEvent(target, &down);
  if (QWidget* now = QApplication::focusWidget()) {
    QKeyEvent up(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(now, &up);
  }
}

void type(const QString& text) {
  for (QChar c : text) {
    const QChar upper = c.toUpper();
    const auto key = upper >= 'A' && upper <= 'Z' ? Qt::Key(upper.unicode()) : Qt::Key(c.unicode());
    press(key, Qt::NoModifier, QString(c));
  }
}

// The dialog of one pass, shown (not modally, so that the test drives it from here) and
// active with the grid in the focus, as the user finds it.
struct Pass {
  ProgramState state;
  TControlCursos dialog{state, nullptr};
  CursosGrid* grid = child<CursosGrid>(dialog, "CursosTDBGrid");

  explicit Pass(std::uint8_t cursosIncompletos = 0) {
    // On a real X server a key another program left held down would go on repeating into
    // the grid.
    if (QGuiApplication::platformName() == "xcb") test::run("xdotool keyup Return KP_Enter Tab Escape");
    state.CursosIncompletos = cursosIncompletos;
    dialog.show();
    dialog.activateWindow();
    EXPECT_TRUE(test::waitFor([&] { return dialog.isActiveWindow() && grid->hasFocus(); }, 5000));
  }
  QModelIndex current() const { return grid->currentIndex(); }
  std::pair<int, int> cell() const { return {current().row(), current().column()}; }
  bool visible(const char* name) { return child<QWidget>(dialog, name)->isVisible(); }
  void click(const char* name) { child<QAbstractButton>(dialog, name)->click(); }
};

TEST(ControlCursos, LayoutTextsAndNavigator) {
  Courses desk(kThree);
  Pass pass;
  TControlCursos& d = pass.dialog;
  EXPECT_EQ(d.windowTitle(), "Asignación de Niveles y Cursos");
  EXPECT_EQ(d.size(), QSize(678, 499));
  EXPECT_EQ(d.minimumSize(), d.maximumSize());
  // At (283, 200) where the screen has room for it there (the offscreen one has not).
  const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
  if (room.contains(QRect(QPoint(283, 200), d.size()))) {
    EXPECT_EQ(d.pos(), QPoint(283, 200));
  } else {
    EXPECT_TRUE(room.contains(QRect(d.pos(), d.size())) && d.pos().y() <= 200);
  }
  EXPECT_TRUE(d.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(d.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));

  struct Place {
    const char* name;
    QRect geometry;
  };
  for (const Place& p :
       {Place{"wwDBNavigator1", {105, 29, 240, 25}}, Place{"CursosTDBGrid", {7, 56, 448, 433}},
        Place{"BitBtn1", {514, 397, 105, 25}}, Place{"BitBtn2", {458, 424, 217, 24}}})
    EXPECT_EQ(child<QWidget>(d, p.name)->geometry(), p.geometry) << p.name;

  struct Text {
    const char* name;
    const char* text;
    bool shown;
    QColor background;
  };
  const Text texts[] = {
      {"Label1", "ASIGNACIÓN DE NIVELES Y CURSOS", true, {}},
      {"Label3", "INCIDENCIAS EN EL TRASPASO", false, Qt::white},
      {"Label2",
       "Se ha detectado que falta por indicar algún NIVEL  o CURSO. Complete el/los datos que falten, para "
       "poder "
       "concluir el proceso, antes de Salir.",
       false, Qt::yellow},
      {"Label4", "¡ IMPORTANTE !", true, {}},
      {"Label5",
       "Las Abreviaturas de sus Grupos (Unidades), se formarán, en función del NIVEL y CURSO, del siguiente "
       "modo: ",
       true,
       {}},
      {"Label6", "Por ejemplo, NIVEL=ESO y CURSO=1 daría como resultado", true, {}},
      {"Label10", "Abreviatura del Grupo = ESO1A", true, {}},
      {"Label7",
       "y así secuencialmente para el resto de Grupos del mismo NIVEL y CURSO, ESO1B, ESO1C.",
       true,
       {}},
      {"Label11",
       "Ejemplos de Niveles: BCT=Bach.C.T., BHC=Bach.Hum., BT=Bach.Tecnol., LS=Leng.Signos, GAD=Gest.Admin., "
       "EDSO=ESO Diversificación, etc...",
       true, Qt::white},
      {"Label9",
       "Luego es de vital IMPORTANCIA que para cada NIVEL sus 5 Primeros caracteres sean DISTINTOS.", true,
       QColor(0xA6, 0xCA, 0xF0)},
      {"Label8", "¡ Atención ! Si fuerza la Salida, los Datos recogidos serán INCOHERENTES.", false,
       Qt::yellow},
  };
  const QRect buttons = child<QWidget>(d, "BitBtn1")->geometry();
  for (const Text& t : texts) {
    QLabel* label = child<QLabel>(d, t.name);
    EXPECT_EQ(label->text(), QString::fromUtf8(t.text)) << t.name;
    EXPECT_EQ(label->isVisible(), t.shown) << t.name;
    if (t.background.isValid()) {
      EXPECT_TRUE(label->autoFillBackground()) << t.name;
      EXPECT_EQ(label->palette().color(QPalette::Window), t.background) << t.name;
    }
    // Every text is whole, inside the window, and clear of the grid and the buttons.
    const QRect r = label->geometry();
    EXPECT_TRUE(QRect(0, 0, 678, 499).contains(r)) << t.name;
    EXPECT_GE(r.height(), label->heightForWidth(r.width())) << t.name;
    if (std::string_view(t.name) != "Label1") {
      EXPECT_GT(r.left(), 455) << t.name;
      EXPECT_FALSE(r.intersects(buttons)) << t.name;
    }
  }
  QFont heading = child<QLabel>(d, "Label1")->font();
  EXPECT_TRUE(heading.bold() && heading.underline());
  EXPECT_GT(heading.pixelSize(), d.font().pixelSize());
  EXPECT_FALSE(child<QWidget>(d, "BitBtn2")->isVisible());
  EXPECT_EQ(child<QPushButton>(d, "BitBtn1")->text(), "Aceptar");
  EXPECT_TRUE(child<QPushButton>(d, "BitBtn1")->isDefault());
  EXPECT_EQ(child<QPushButton>(d, "BitBtn2")->text(), "&Forzar Salida Sin Terminar Proceso ");
  EXPECT_EQ(child<QWidget>(d, "BitBtn2")->palette().color(QPalette::ButtonText), QColor(Qt::red));

  for (QWidget* w :
       {static_cast<QWidget*>(&d), child<QWidget>(d, "CursosTDBGrid"), child<QWidget>(d, "BitBtn1")})
    EXPECT_EQ(w->property("helpContext").toInt(), 1) << w->objectName().toStdString();
  std::vector<int> help;
  d.helpContext = [&](int context) { help.push_back(context); };
  emit d.findChild<QShortcut*>()->activated();
  EXPECT_EQ(help, std::vector<int>{1});

  std::vector<std::string> tips;
  for (QToolButton* button : child<QWidget>(d, "wwDBNavigator1")->findChildren<QToolButton*>()) {
    tips.push_back(button->toolTip().toStdString());
    EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
    EXPECT_FALSE(button->icon().isNull());
  }
  EXPECT_EQ(tips, (std::vector<std::string>{
                      "Move to first record", "Move backward 10 records", "Move to prior record",
                      "Move to next record", "Move forward 10 records", "Move to last record",
                      "Edit current record", "Post changes of current record",
                      "Cancel changes made to current record", "Refresh the contents of the dataset"}));

  // The grid: four columns, two-line bold titles, only NIVEL and CURSO editable, each column
  // at least as wide as its display width in characters (the description gives up what
  // does not fit), and no horizontal scrolling.
  CursosGrid* grid = pass.grid;
  QAbstractItemModel* model = grid->model();
  ASSERT_EQ(model->columnCount(), 4);
  ASSERT_EQ(model->rowCount(), 3);
  const char* titles[] = {"CÓD.SCOLARIA", "DESCRIPCIÓN", "NIVEL", "CURSO"};
  const int widths[] = {10, 40, 5, 3};
  const int zero = QFontMetrics(grid->font()).horizontalAdvance('0');
  for (int column = 0; column < 4; ++column) {
    EXPECT_EQ(model->headerData(column, Qt::Horizontal).toString().remove('\n'),
              QString::fromUtf8(titles[column]));
    const bool editable = model->index(0, column).flags() & Qt::ItemIsEditable;
    EXPECT_EQ(editable, column >= 2) << column;
    if (column != 1) {
      EXPECT_GE(grid->columnWidth(column), widths[column] * zero) << column;
    }
  }
  EXPECT_TRUE(grid->horizontalHeader()->font().bold());
  EXPECT_GE(grid->horizontalHeader()->height(),
            2 * QFontMetrics(grid->horizontalHeader()->font()).lineSpacing());
  EXPECT_LE(grid->horizontalHeader()->length(), grid->viewport()->width());
  EXPECT_EQ(model->data(model->index(2, 1)).toString(), "Gestió administrativa");
  d.reject();
}

// What the user sees, pixel by pixel: under X11 the screen where the dialog was placed,
// offscreen the dialog's own drawing.
TEST(ControlCursos, WidgetsAreDrawnWhereTheyStand) {
  Courses desk(kThree);
  for (std::uint8_t incompletos : {0, 1}) {
    SCOPED_TRACE(int(incompletos));
    Pass pass(incompletos);
    TControlCursos& d = pass.dialog;
    test::waitFor([] { return false; }, 200);  // painted
    const bool x11 = QGuiApplication::platformName() == "xcb";
    const QImage image = x11 ? d.screen()->grabWindow(0, 283, 200, 678, 499).toImage() : d.grab().toImage();
    ASSERT_EQ(image.size(), QSize(678, 499));
    auto at = [&](const char* name, QPoint offset) {
      QWidget* w = child<QWidget>(d, name);
      return image.pixelColor(w->mapTo(&d, QPoint(0, 0)) + offset);
    };
    auto gradient = [](QColor c) { return c.red() > 200 && c.blue() < 80; };
    auto grey = [](QColor c) {
      return std::abs(c.red() - c.green()) < 24 && std::abs(c.green() - c.blue()) < 24;
    };
    EXPECT_EQ(image.pixelColor(7 + 300, 56 + 400),
              pass.grid->palette().color(QPalette::Base));  // an empty row
    EXPECT_TRUE(gradient(image.pixelColor(676, 250)));
    EXPECT_TRUE(grey(at("BitBtn1", {100, 4}))) << at("BitBtn1", {100, 4}).name().toStdString();
    EXPECT_EQ(at("Label9", {child<QWidget>(d, "Label9")->width() - 2, 1}), QColor(0xA6, 0xCA, 0xF0));
    EXPECT_EQ(at("Label11", {child<QWidget>(d, "Label11")->width() - 2, 1}), QColor(Qt::white));
    EXPECT_TRUE(grey(at("First", {2, 12})));
    // Hidden at first: the background shows where they stand.
    EXPECT_TRUE(gradient(at("Label2", {1, 1})));
    EXPECT_EQ(grey(at("BitBtn2", {212, 4})), incompletos == 1);
    EXPECT_EQ(at("Label8", {1, 1}) == QColor(Qt::yellow), incompletos == 1);
    d.reject();
  }
}

// Typing levels and course numbers with the keyboard alone: Enter moves on as Tab does,
// through the editable cells only, and leaves the grid for the OK button after the last one.
// Typing is held to the field's width and to what Windows-1252 can store.
TEST(ControlCursos, KeyboardFillsTheTableAndOkClosesWithoutMessage) {
  Courses desk(kThree);
  Pass pass;
  EXPECT_EQ(pass.cell(), std::make_pair(0, int(CursosModel::NIVEL)));
  type("ESO");
  press(Qt::Key_Return);
  EXPECT_EQ(pass.cell(), std::make_pair(0, int(CursosModel::CURSO)));
  type("1");
  press(Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(pass.cell(), std::make_pair(1, int(CursosModel::NIVEL)));
  type("BACHILLER");  // five fit
  press(Qt::Key_Tab);
  type("1");
  press(Qt::Key_Backtab);
  EXPECT_EQ(pass.cell(), std::make_pair(1, int(CursosModel::NIVEL)));
  press(Qt::Key_Tab);
  press(Qt::Key_Tab);
  type(QString::fromUtf8("€Ωñ"));  // Ω has no place in Windows-1252
  press(Qt::Key_Tab);
  type("2");
  press(Qt::Key_Return);
  EXPECT_TRUE(child<QPushButton>(pass.dialog, "BitBtn1")->hasFocus());

  ModalDriver driver({});
  press(Qt::Key_Return);  // the OK button
  EXPECT_TRUE(driver.seen.empty()) << driver.seen.front();
  EXPECT_FALSE(pass.dialog.isVisible());
  EXPECT_EQ(pass.dialog.result(), QDialog::Accepted);
  EXPECT_EQ(pass.dialog.FaltaDato, 0);
  EXPECT_EQ(pass.dialog.Salida, "");
  EXPECT_EQ(desk.read(), (std::vector<Course>{{"ESO1", "1r d'ESO", "ESO", "1"},
                                              {"BAT1", "1r de Batxillerat", "BACHI", "1"},
                                              {"CFGM", "Gestió administrativa", "€ñ", "2"}}));
  EXPECT_EQ(test::readFile(desk.ktemp / "CURSOST.DBF").find(test::ansi("€ñ")) != std::string::npos, true);
}

// A row whose level came from before gets its course number alone: OK finds nothing missing.
TEST(ControlCursos, ACourseNumberTypedAloneCompletesItsRow) {
  Courses desk({{"ESO1", "1r d'ESO", "ESO", ""}});
  Pass pass;
  pass.grid->setCurrentIndex(pass.grid->model()->index(0, CursosModel::CURSO));
  type("1");
  ModalDriver driver({});
  child<QPushButton>(pass.dialog, "BitBtn1")->click();
  EXPECT_TRUE(driver.seen.empty()) << driver.seen.front();
  EXPECT_EQ(pass.dialog.FaltaDato, 0);
  EXPECT_EQ(desk.read(), (std::vector<Course>{{"ESO1", "1r d'ESO", "ESO", "1"}}));
}

// Each way out keeps a value still being typed in its cell: OK, the close box and the
// force-exit button.
TEST(ControlCursos, AValueStillBeingTypedIsKeptByEveryWayOut) {
  struct Case {
    const char* exit;
    std::uint8_t faltaDato;
    const char* salida;
    int result;
  };
  for (const Case& c : {Case{"BitBtn1", 0, "", QDialog::Accepted}, Case{"close", 0, "", QDialog::Rejected},
                        Case{"BitBtn2", 0, "fuera", QDialog::Rejected}}) {
    SCOPED_TRACE(c.exit);
    Courses desk({{"ESO1", "1r d'ESO", "", "4"}});
    Pass pass(1);
    type("ESO");
    ASSERT_TRUE(pass.grid->typing());
    ModalDriver driver({});
    if (std::string_view(c.exit) == "close")
      pass.dialog.close();
    else
      pass.click(c.exit);
    EXPECT_TRUE(driver.seen.empty()) << driver.seen.front();
    EXPECT_FALSE(pass.dialog.isVisible());
    EXPECT_EQ(pass.dialog.result(), c.result);
    EXPECT_EQ(pass.dialog.FaltaDato, c.faltaDato);
    EXPECT_EQ(pass.dialog.Salida, c.salida);
    EXPECT_EQ(desk.read(), (std::vector<Course>{{"ESO1", "1r d'ESO", "ESO", "4"}}));
  }
}

// Escape drops what is being typed in a cell, as in any grid, and nothing more: it never ends
// the assignment without its check. The close box does, keeping what was entered.
TEST(ControlCursos, EscapeDropsTheCellBeingTypedAndNothingMore) {
  Courses desk({{"ESO1", "1r d'ESO", "", ""}});
  Pass pass;
  type("ESO");
  press(Qt::Key_Escape);
  EXPECT_TRUE(pass.dialog.isVisible());
  EXPECT_FALSE(pass.grid->typing());
  EXPECT_EQ(pass.current().data().toString(), "");
  ModalDriver driver({});
  press(Qt::Key_Escape);
  press(Qt::Key_Escape);
  EXPECT_TRUE(pass.dialog.isVisible());
  type("BAT");
  press(Qt::Key_Tab);
  press(Qt::Key_Tab);  // past the last cell, to the OK button
  ASSERT_TRUE(child<QPushButton>(pass.dialog, "BitBtn1")->hasFocus());
  press(Qt::Key_Escape);
  EXPECT_TRUE(pass.dialog.isVisible());

  pass.dialog.close();
  EXPECT_FALSE(pass.dialog.isVisible());
  EXPECT_EQ(pass.dialog.result(), QDialog::Rejected);
  EXPECT_TRUE(driver.seen.empty());
  EXPECT_EQ(pass.dialog.FaltaDato, 0);
  EXPECT_EQ(pass.dialog.Salida, "");
  EXPECT_EQ(desk.read(), (std::vector<Course>{{"ESO1", "1r d'ESO", "BAT", ""}}));
}

// Out of a cell editor too, Tab at the last cell leaves the grid, Shift+Tab comes back, and
// Ctrl+Tab leaves it from anywhere: the keyboard alone reaches the buttons.
TEST(ControlCursos, TabLeavesTheGridAtItsEnd) {
  Courses desk({{"ESO1", "1r d'ESO", "", ""}, {"ESO2", "2n d'ESO", "", ""}});
  Pass pass;
  pass.grid->setCurrentIndex(pass.grid->model()->index(1, CursosModel::CURSO));
  press(Qt::Key_Escape);
  ASSERT_FALSE(pass.grid->typing());
  ASSERT_TRUE(pass.grid->hasFocus());
  press(Qt::Key_Tab);
  EXPECT_TRUE(child<QPushButton>(pass.dialog, "BitBtn1")->hasFocus());
  press(Qt::Key_Backtab, Qt::ShiftModifier);
  EXPECT_TRUE(pass.grid->hasFocus());
  pass.grid->setCurrentIndex(pass.grid->model()->index(0, CursosModel::NIVEL));
  press(Qt::Key_Escape);
  press(Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_FALSE(pass.grid->hasFocus());
  EXPECT_TRUE(pass.dialog.isVisible());
}

// In a later pass the force-exit button and its warning show from the start, until a column
// is entered.
TEST(ControlCursos, EnteringAColumnHidesTheForceExit) {
  for (auto enter :
       {+[](Pass&) { press(Qt::Key_Tab); },
        +[](Pass& p) { p.grid->setCurrentIndex(p.grid->model()->index(0, CursosModel::CODI)); }}) {
    Courses desk(kThree);
    Pass pass(1);
    EXPECT_TRUE(pass.visible("BitBtn2"));
    EXPECT_TRUE(pass.visible("Label8"));
    pass.grid->setCurrentIndex(pass.grid->model()->index(1, CursosModel::NIVEL));  // another row, same column
    EXPECT_TRUE(pass.visible("BitBtn2"));
    enter(pass);
    EXPECT_FALSE(pass.visible("BitBtn2"));
    EXPECT_FALSE(pass.visible("Label8"));
    pass.dialog.reject();
  }
}

// Two passes through the main window, as the courses builder runs them: OK with a blank
// course number reports it and closes; the next dialog starts with the force-exit button and
// its warning, which go away when the user enters a column.
TEST(ControlCursos, MissingDataThenAForcedExitThroughTheMainWindow) {
  Courses desk(kThree);
  TMForm form({});
  form.show();
  std::map<std::string, bool> atMessage;
  ModalDriver driver({[&](QWidget* modal) {
                        auto* d = qobject_cast<TControlCursos*>(modal);
                        ASSERT_NE(d, nullptr);
                        EXPECT_EQ(d->parentWidget(), &form);
                        EXPECT_FALSE(child<QWidget>(*d, "BitBtn2")->isVisible());
                        EXPECT_FALSE(child<QWidget>(*d, "Label8")->isVisible());
                        test::waitFor([&] { return child<QWidget>(*d, "CursosTDBGrid")->hasFocus(); }, 5000);
                        type("ESO");
                        press(Qt::Key_Tab);
                        type("1");
                        press(Qt::Key_Tab);
                        type("BAT");
                        press(Qt::Key_Tab);
                        type(" ");  // only blanks: missing
                        press(Qt::Key_Tab);
                        type("GM");
                        press(Qt::Key_Tab);
                        type("2");
                        QTimer::singleShot(0, child<QPushButton>(*d, "BitBtn1"), &QPushButton::click);
                      },
                      [&](QWidget* modal) {
                        auto* d = qobject_cast<TControlCursos*>(modal->parentWidget());
                        ASSERT_NE(d, nullptr);
                        for (const char* name : {"Label3", "Label2", "BitBtn2"})
                          atMessage[name] = child<QWidget>(*d, name)->isVisible();
                        ModalDriver::pressOk()(modal);
                      },
                      [&](QWidget* modal) {
                        auto* d = qobject_cast<TControlCursos*>(modal);
                        ASSERT_NE(d, nullptr);
                        for (const char* name : {"BitBtn2", "Label8"})
                          EXPECT_TRUE(child<QWidget>(*d, name)->isVisible()) << name;
                        for (const char* name : {"Label2", "Label3"})
                          EXPECT_FALSE(child<QWidget>(*d, name)->isVisible()) << name;
                        test::waitFor([&] { return child<QWidget>(*d, "CursosTDBGrid")->hasFocus(); }, 5000);
                        type("EP");  // over ESO, still being typed when the user leaves by force
                        QTimer::singleShot(0, child<QPushButton>(*d, "BitBtn2"), &QPushButton::click);
                      }});
  CourseAssignmentPass first = form.runCourseAssignmentPass(form.state());
  EXPECT_TRUE(first.FaltaDato);
  EXPECT_EQ(first.Salida, "");
  EXPECT_EQ(atMessage, (std::map<std::string, bool>{{"BitBtn2", false}, {"Label2", true}, {"Label3", true}}));
  EXPECT_EQ(desk.read(), (std::vector<Course>{{"ESO1", "1r d'ESO", "ESO", "1"},
                                              {"BAT1", "1r de Batxillerat", "BAT", ""},
                                              {"CFGM", "Gestió administrativa", "GM", "2"}}));

  form.state().CursosIncompletos = 1;
  CourseAssignmentPass second = form.runCourseAssignmentPass(form.state());
  EXPECT_FALSE(second.FaltaDato);
  EXPECT_EQ(second.Salida, "fuera");
  EXPECT_EQ(driver.seen,
            (std::vector<std::string>{"pontix::TControlCursos|Asignación de Niveles y Cursos|",
                                      "QMessageBox|Pontix|¡Atención! Falta algún Dato",
                                      "pontix::TControlCursos|Asignación de Niveles y Cursos|"}));
  EXPECT_EQ(desk.read(), (std::vector<Course>{{"ESO1", "1r d'ESO", "EP", "1"},
                                              {"BAT1", "1r de Batxillerat", "BAT", ""},
                                              {"CFGM", "Gestió administrativa", "GM", "2"}}));
  EXPECT_TRUE(form.findChildren<TControlCursos*>().empty());
}

TEST(ControlCursos, AnEmptyTablePassesAtOnce) {
  Courses desk({});
  Pass pass;
  ModalDriver driver({});
  pass.click("BitBtn1");
  EXPECT_TRUE(driver.seen.empty());
  EXPECT_EQ(pass.dialog.FaltaDato, 0);
  EXPECT_FALSE(pass.dialog.isVisible());
}

// The navigator moves through the records, edits, posts, cancels what was typed and shows
// records another program added.
TEST(ControlCursos, NavigatorButtons) {
  std::vector<Course> many;
  for (int i = 0; i < 25; ++i)
    many.push_back({"C" + std::to_string(i), "Curso " + std::to_string(i), "", ""});
  Courses desk(many);
  Pass pass;
  auto row = [&] { return pass.current().row(); };
  pass.click("NextPage");
  EXPECT_EQ(row(), 10);
  pass.click("Next");
  EXPECT_EQ(row(), 11);
  pass.click("Last");
  EXPECT_EQ(row(), 24);
  EXPECT_FALSE(child<QWidget>(pass.dialog, "Next")->isEnabled());
  pass.click("PriorPage");
  pass.click("Prior");
  EXPECT_EQ(row(), 13);
  pass.click("First");
  EXPECT_EQ(row(), 0);
  EXPECT_FALSE(child<QWidget>(pass.dialog, "Prior")->isEnabled());

  type("ESO");
  pass.click("Cancel");
  EXPECT_EQ(pass.current().data().toString(), "");
  EXPECT_FALSE(child<QWidget>(pass.dialog, "Cancel")->isEnabled());
  pass.click("Edit");
  EXPECT_TRUE(pass.grid->typing());
  type("BCT");
  pass.click("Post");
  {
    dbase::Table other(desk.ktemp, "CURSOST");
    other.open(dbase::OpenMode::Shared);
    EXPECT_EQ(ansi::toUtf8(other.field("NIVEL").asText()), "BCT");
    other.append();
    other.field("CODI").setText("NUEVO");
    other.post();
    other.close();
  }
  pass.click("Refresh");
  EXPECT_EQ(pass.grid->model()->rowCount(), 26);
  EXPECT_EQ(pass.grid->model()->index(25, 0).data().toString(), "NUEVO");
  pass.dialog.reject();
}

// The previous run's CURSOST (kept in ANTERIOR) fills only the blank cells of the courses it
// had; what the user typed, even still in its cell, stays.
TEST(ControlCursos, RecoversBlankLevelsFromThePreviousRun) {
  Courses desk(
      {{"ESO1", "1r d'ESO", "", ""}, {"BAT1", "1r de Batxillerat", "BT", ""}, {"CFGM", "Gestió", "", ""}});
  auto button = [](Pass& pass) { return child<QPushButton>(pass.dialog, "BRecuperarNiveles"); };
  {
    Pass pass;  // no previous run
    EXPECT_TRUE(pass.visible("BRecuperarNiveles"));
    EXPECT_FALSE(button(pass)->isEnabled());
    pass.dialog.reject();
  }
  std::filesystem::create_directory(desk.ktemp / "ANTERIOR");
  dbase::Table previous(desk.ktemp / "ANTERIOR", "CURSOST");
  previous.create({{"CODI", FieldKind::Text, 20},
                   {"DESCRIPCIO", FieldKind::Text, 100},
                   {"NIVEL", FieldKind::Text, 5},
                   {"CURSO", FieldKind::Text, 3}});
  previous.open(dbase::OpenMode::Exclusive);
  for (const Course& c :
       std::vector<Course>{{"ESO9", "", "X", "9"}, {"ESO1", "", "ESO", "1"}, {"BAT1", "", "BACHI", "1"}}) {
    previous.append();
    for (int i = 0; i < 4; ++i) previous.fieldAt(static_cast<std::size_t>(i)).setText(c[i]);
    previous.post();
  }
  previous.close();

  Pass pass;
  QPushButton* recover = button(pass);
  EXPECT_TRUE(recover->isEnabled());
  // Over none of the dialog's other widgets that show.
  for (QWidget* other : pass.dialog.findChildren<QWidget*>()) {
    if (other != recover && other->isVisible() && other->parentWidget() == recover->parentWidget()) {
      EXPECT_FALSE(other->geometry().intersects(recover->geometry())) << other->objectName().toStdString();
    }
  }
  // Reachable with the keyboard: after the OK button.
  child<QPushButton>(pass.dialog, "BitBtn1")->setFocus();
  press(Qt::Key_Tab);
  EXPECT_TRUE(recover->hasFocus());

  pass.grid->setFocus();
  type("EDSO");  // ESO1's level, still being typed
  recover->click();
  pass.dialog.reject();
  EXPECT_EQ(desk.read(), (std::vector<Course>{{"ESO1", "1r d'ESO", "EDSO", "1"},
                                              {"BAT1", "1r de Batxillerat", "BT", "1"},
                                              {"CFGM", "Gestió", "", ""}}));
}

TEST(ControlCursos, ATableThatCannotBeOpenedEndsThePassWithItsError) {
  Courses desk({});
  std::filesystem::remove(desk.ktemp / "CURSOST.DBF");
  TMForm form({});
  ModalDriver driver({});
  try {
    form.runCourseAssignmentPass(form.state());
    ADD_FAILURE() << "no error";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()), "No se encuentra la tabla " + (desk.ktemp / "CURSOST.DBF").string());
  }
  EXPECT_TRUE(form.findChildren<TControlCursos*>().empty());
}

// The whole window: Exportar builds CURSOST, the user fills it in the dialog, and the groups
// get the levels typed.
TEST(ControlCursos, ExportarTakesTheLevelsTypedIntoTheGroups) {
  Courses desk({});
  std::filesystem::create_directories(desk.ktemp / "saga");
  const std::filesystem::path document = desk.ktemp / "saga" / "centre.xml";
  test::writeFile(document,
                  "<CENTRE><CURSOS><CURS codi=\"ESO1\" descripcio=\"1r d'ESO\"><GRUP codi=\"G1\" nom=\"A\"/>"
                  "</CURS></CURSOS></CENTRE>");
  TMForm form({});
  form.show();
  ModalDriver driver({ModalDriver::chooseFile(QString::fromStdString(document.string())),
                      [&](QWidget* modal) {
                        ASSERT_NE(QApplication::overrideCursor(), nullptr);
                        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
                        test::waitFor([&] { return modal->findChild<CursosGrid*>()->hasFocus(); }, 5000);
                        type("ESO");
                        press(Qt::Key_Return);
                        type("1");
                        press(Qt::Key_Return);
                        press(Qt::Key_Return);
                      },
                      ModalDriver::pressOk(), ModalDriver::pressOk()});
  child<QPushButton>(form, "BExportar")->click();
  ASSERT_EQ(driver.seen.size(), 4u);
  EXPECT_EQ(driver.seen.back(), "QMessageBox|Pontix|Proceso finalizado");
  EXPECT_EQ(desk.read(), (std::vector<Course>{{"ESO1", "1r d'ESO", "ESO", "1"}}));
  dbase::Table grupos(desk.ktemp, "GRUPOST");
  grupos.open(dbase::OpenMode::Shared);
  EXPECT_EQ(grupos.field("ABREV").asText(), "ESO1A");
}

}  // namespace
}  // namespace pontix

#include "app/MainForm.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QShortcut>
#include <QTextEdit>
#include <QTreeView>
#include <map>

#include "ModalDriver.h"
#include "TestSupport.h"
#include "app/ApplicationHelp.h"
#include "help/FakeEngine.h"
#include "operacion/WorkingSet.h"

namespace pontix {
namespace {

using test::ModalDriver;

QString q(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

// A drive C: of its own with an empty working directory, and a document folder.
struct Desk {
  test::TempDir drive;
  test::ScopedEnv env{"PONTIX_DRIVE_C", drive.path().c_str()};
  Desk() { std::filesystem::create_directories(drive / "KTEMP" / "saga"); }
  std::filesystem::path document(std::string_view contents) {
    std::filesystem::path path = drive / "KTEMP" / "saga" / "centre.xml";
    test::writeFile(path, contents);
    return path;
  }
};

// A subject and nothing else: no course, so the assignment dialog has nothing to ask.
const char* const kSmallDocument = "<CENTRE><MATERIES><MATERIA codi='M1' curta='M'/></MATERIES></CENTRE>";

// The assignment dialog's OK: with no course in the document nothing is missing.
ModalDriver::Step acceptCourses() {
  return [](QWidget* modal) { modal->findChild<QPushButton*>("BitBtn1")->click(); };
}

template <typename T>
T* child(QWidget& window, const char* name) {
  T* widget = window.findChild<T*>(name);
  EXPECT_NE(widget, nullptr) << name;
  return widget;
}

TEST(MainWindow, LayoutCaptionsAndTabOrder) {
  Desk desk;
  TMForm form({});
  EXPECT_EQ(form.windowTitle(), "Exportar e importar datos entre Horalia y Scolaria");
  EXPECT_EQ(form.size(), QSize(632, 266));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_FALSE(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(form.font().pixelSize(), 11);

  struct Place {
    const char* name;
    const char* parent;
    QRect geometry;
    const char* text;
  };
  const Place places[] = {
      {"Draw3D2", "MForm", {0, -1, 315, 169}, nullptr},
      {"Draw3D3", "MForm", {315, 0, 317, 169}, nullptr},
      {"Draw3D1", "MForm", {0, 168, 633, 97}, nullptr},
      {"Label3", "Draw3D2", {24, 24, 265, 57}, "Transformar datos desde Scolaria hacia Horalia "},
      {"Label4", "Draw3D3", {8, 24, 305, 57}, "Transformar datos desde Horalia hacia Scolaria"},
      {"BExportar", "Draw3D2", {96, 120, 89, 25}, "Aceptar"},
      {"BImportar", "Draw3D3", {96, 120, 89, 25}, "Aceptar"},
      {"BClose", "Draw3D1", {256, 32, 89, 25}, "&Salir"},
      {"Button1", "Draw3D1", {265, 67, 75, 18}, "F1 AYUDA"},
      {"Label1", "Draw3D1", {8, 72, 222, 13}, "Pontix para HZ13 V-1.0"},
  };
  for (const Place& p : places) {
    QWidget* widget = child<QWidget>(form, p.name);
    if (!widget) continue;
    EXPECT_EQ(widget->parentWidget()->objectName(), p.parent) << p.name;
    EXPECT_EQ(widget->geometry(), p.geometry) << p.name;
    EXPECT_EQ(widget->property("helpContext").toInt(), 1) << p.name;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      EXPECT_EQ(label->text(), p.text) << p.name;
    }
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
      EXPECT_EQ(button->text(), p.text) << p.name;
    }
  }
  for (const char* name : {"BExportar", "BImportar", "BClose"})
    EXPECT_FALSE(child<QPushButton>(form, name)->icon().isNull()) << name;

  for (const char* name : {"Label3", "Label4"}) {
    QFont font = child<QLabel>(form, name)->font();
    EXPECT_EQ(font.pixelSize(), 16);
    EXPECT_TRUE(font.bold());
    EXPECT_TRUE(child<QLabel>(form, name)->wordWrap());
  }
  QLabel* version = child<QLabel>(form, "Label1");
  EXPECT_TRUE(version->font().bold());
  EXPECT_EQ(version->palette().color(version->foregroundRole()), QColor(Qt::red));

  std::vector<QString> order;
  QWidget* w = child<QWidget>(form, "BClose");
  for (int i = 0; i < 4; ++i, w = w->nextInFocusChain()) {
    while (w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
    order.push_back(w->objectName());
  }
  EXPECT_EQ(order, (std::vector<QString>{"BClose", "Button1", "BExportar", "BImportar"}));
}

TEST(MainWindow, HelpButtonAsksForTheContentsOfScolariaChm) {
  TMForm form({});
  int contents = 0;
  form.helpContents = [&] { ++contents; };
  qApp->setProperty("helpFile", QVariant());
  child<QPushButton>(form, "Button1")->click();
  EXPECT_EQ(contents, 1);
  EXPECT_EQ(qApp->property("helpFile").toString(), "Scolaria.chm");

  std::vector<int> contexts;
  form.helpContext = [&](int context) { contexts.push_back(context); };
  auto* f1 = form.findChild<QShortcut*>();
  ASSERT_NE(f1, nullptr);
  EXPECT_EQ(f1->key(), QKeySequence(Qt::Key_F1));
  emit f1->activated();
  EXPECT_EQ(contexts, std::vector<int>{1});
}

// The help file is the one installed beside the program, whatever the working folder.
TEST(MainWindow, HelpReachesTheEngineWithTheHelpFileBesideTheProgram) {
  test::FakeEngine engine;
  const std::string installed = (QCoreApplication::applicationDirPath() + "/Scolaria.chm").toStdString();
  {
    ApplicationHelp help(engine.loader());
    qApp->setProperty("helpFile", kHelpFile);
    TMForm form({});
    help.serve(form);
    emit form.findChild<QShortcut*>()->activated();
    child<QPushButton>(form, "Button1")->click();
    EXPECT_EQ(engine.calls, (std::vector<test::EngineCall>{test::call(installed, help::HH_HELP_CONTEXT, 1),
                                                           test::call(installed, help::HH_DISPLAY_TOC)}));
    engine.calls.clear();
  }
  // The help window goes with the program.
  EXPECT_EQ(engine.calls, std::vector<test::EngineCall>{test::call("(none)", help::HH_CLOSE_ALL)});
  EXPECT_EQ(engine.librariesAlive, 0);
}

TEST(MainWindow, F1InTheAssignmentDialogAsksForContextOne) {
  Desk desk;
  std::filesystem::path document = desk.document(kSmallDocument);
  test::FakeEngine engine;
  ApplicationHelp help(engine.loader());
  qApp->setProperty("helpFile", kHelpFile);
  TMForm form({});
  help.serve(form);
  form.show();
  QString topic;
  ModalDriver driver({ModalDriver::chooseFile(q(document)),
                      [&](QWidget* modal) {
                        topic = modal->property("helpTopic").toString();
                        emit modal->findChild<QShortcut*>()->activated();
                        modal->findChild<QPushButton*>("BitBtn1")->click();
                      },
                      ModalDriver::pressOk(), ModalDriver::pressOk()});
  child<QPushButton>(form, "BExportar")->click();
  ASSERT_TRUE(driver.allStepsTaken());
  const std::string installed = (QCoreApplication::applicationDirPath() + "/Scolaria.chm").toStdString();
  EXPECT_EQ(engine.calls, std::vector<test::EngineCall>{test::call(installed, help::HH_HELP_CONTEXT, 1)});
  // The help window shows the dialog's own page for that context.
  EXPECT_EQ(topic, "niveles.htm");
}

TEST(MainWindow, EnterPressesTheFocusedButton) {
  TMForm form({});
  int contents = 0;
  form.helpContents = [&] { ++contents; };
  form.show();
  auto* button = child<QPushButton>(form, "Button1");
  button->setFocus();
  for (auto [key, modifiers] :
       {std::pair{Qt::Key_Return, Qt::NoModifier}, {Qt::Key_Enter, Qt::KeypadModifier}}) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(button, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(button, &release);
  }
  EXPECT_EQ(contents, 2);
}

// A window manager may offer minimising although the window asks for no such box.
TEST(MainWindow, AMinimisedWindowComesBack) {
  TMForm form({});
  form.show();
  form.setWindowState(Qt::WindowMinimized);
  EXPECT_TRUE(test::waitFor([&] { return !form.isMinimized(); }, 2000));
  EXPECT_TRUE(form.isVisible());
}

TEST(MainWindow, QtsOwnDialogsSpeakSpanish) {
  Desk desk;
  TMForm form({});
  std::vector<std::string> texts;
  ModalDriver driver({[&](QWidget* modal) {
                        auto* dialog = qobject_cast<QFileDialog*>(modal);
                        auto* buttons = dialog->findChild<QDialogButtonBox*>();
                        texts.push_back(dialog->findChild<QLabel*>("lookInLabel")->text().toStdString());
                        texts.push_back(buttons->button(QDialogButtonBox::Open)->text().toStdString());
                        texts.push_back(buttons->button(QDialogButtonBox::Cancel)->text().toStdString());
                        dialog->reject();
                      },
                      [&](QWidget* modal) {
                        auto* box = qobject_cast<QMessageBox*>(modal);
                        texts.push_back(box->button(QMessageBox::Ok)->text().toStdString());
                        box->button(QMessageBox::Ok)->click();
                      }});
  std::string path;
  form.chooseXmlFile(path);
  form.showMessage("Proceso finalizado");
  EXPECT_EQ(texts, (std::vector<std::string>{"Ver en:", "&Abrir", "Cancelar", "Aceptar"}));
  EXPECT_EQ(QLocale().toString(11.85), "11,85");  // the file dialog's sizes
}

TEST(MainWindow, CompletedExportarDisablesBothButtons) {
  Desk desk;
  std::filesystem::path document = desk.document(kSmallDocument);
  TMForm form({});
  form.show();
  ModalDriver driver({ModalDriver::chooseFile(q(document)), acceptCourses(), ModalDriver::pressOk(),
                      ModalDriver::pressOk()});
  child<QPushButton>(form, "BExportar")->click();
  ASSERT_EQ(driver.seen.size(), 4u);
  EXPECT_EQ(driver.seen[2].rfind("QMessageBox|Creación automática de Líneas de Asignaturas|", 0), 0u);
  // One break between lines: a "\r" after each "\n" would show as a blank line.
  EXPECT_NE(driver.seen[2].find("Asignaturas \nque esta aplicación"), std::string::npos) << driver.seen[2];
  EXPECT_EQ(driver.seen[2].find('\r'), std::string::npos);
  EXPECT_EQ(driver.seen[3], "QMessageBox|Pontix|Proceso finalizado");
  EXPECT_FALSE(child<QPushButton>(form, "BExportar")->isEnabled());
  EXPECT_FALSE(child<QPushButton>(form, "BImportar")->isEnabled());
  EXPECT_EQ(form.state().resultFlag, 1);
  EXPECT_EQ(form.state().selectedFileName, document.string());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(form.isVisible());
  for (const char* table : {"ASIGNOMT.DBF", "PROFT.DBF", "AULAT.DBF", "CURSOST.DBF", "GRUPOST.DBF",
                            "MATIB.DBF", "ASIGT.DBF", "DIASHORAST.DBF"})
    EXPECT_TRUE(std::filesystem::exists(desk.drive / "KTEMP" / table)) << table;
}

TEST(MainWindow, CompletedImportarWritesTheSolutionBesideTheChosenFile) {
  Desk desk;
  const std::filesystem::path ktemp = desk.drive / "KTEMP";
  auto table = [&](const char* name, std::vector<dbase::FieldDef> fields, std::vector<std::string> row) {
    test::writeTable(ktemp, name, fields, {row});
  };
  using dbase::FieldKind;
  table("SOLUC",
        {{"DIA", FieldKind::Integer, 0},
         {"HORA", FieldKind::Integer, 0},
         {"PROF", FieldKind::Text, 10},
         {"CODGRUPO", FieldKind::Text, 10},
         {"AULA", FieldKind::Text, 10},
         {"ASIG", FieldKind::Text, 10},
         {"TAREA", FieldKind::Text, 10}},
        {"2", "3", "PUIG", "ESO1A", "LAB", "MAT", ""});
  table("PROFT", {{"ABREV", FieldKind::Text, 10}, {"CODI", FieldKind::Text, 40}}, {"PUIG", "P7"});
  table("AULAT", {{"ABREV", FieldKind::Text, 10}, {"CODI", FieldKind::Text, 60}}, {"LAB", "A3"});
  table("ASIGNOMT", {{"COD", FieldKind::Text, 10}, {"CODI", FieldKind::Text, 20}}, {"MAT", "100001"});
  table("GRUPOST",
        {{"ABREV", FieldKind::Text, 10}, {"CODI", FieldKind::Text, 20}, {"CODICURS", FieldKind::Text, 20}},
        {"ESO1A", "G1", "ESO1"});
  table("DIASHORAST",
        {{"DIHO", FieldKind::Text, 10},
         {"DIA", FieldKind::Text, 20},
         {"HORADESDE", FieldKind::Text, 8},
         {"MINUTOS", FieldKind::Text, 8}},
        {"23", "2", "10:00", "55"});
  const std::filesystem::path chosen = desk.document("");
  TMForm form({});
  form.show();
  QString details, informative;
  QMessageBox::Icon icon = QMessageBox::Critical;
  QSize detailsShown, detailsGrown;
  ModalDriver driver({ModalDriver::chooseFile(q(chosen)), [&](QWidget* widget) {
                        auto* box = static_cast<QMessageBox*>(widget);
                        details = box->detailedText();
                        informative = box->informativeText();
                        icon = box->icon();
                        // The details open, and grow with the box when the user makes it larger.
                        for (QAbstractButton* button : box->findChildren<QAbstractButton*>())
                          if (box->buttonRole(button) == QMessageBox::ActionRole) button->click();
                        QApplication::processEvents();
                        auto* pane = box->findChild<QTextEdit*>();
                        detailsShown = pane->size();
                        box->resize(box->width() + 200, box->height() + 150);
                        QApplication::processEvents();
                        detailsGrown = pane->size();
                        ModalDriver::pressOk()(box);
                      }});
  child<QPushButton>(form, "BImportar")->click();
  // A clean run keeps the plain box, and says where the file went.
  EXPECT_EQ(icon, QMessageBox::NoIcon);
  EXPECT_EQ(informative, "Archivo escrito: " + q(chosen.parent_path() / "SolucioHorari.xml"));
  EXPECT_GE(detailsGrown.width(), detailsShown.width() + 150);
  EXPECT_GE(detailsGrown.height(), detailsShown.height() + 100);
  EXPECT_EQ(driver.seen,
            (std::vector<std::string>{"QFileDialog|Archivo XML|", "QMessageBox|Pontix|Proceso finalizado"}));
  // The run's report waits behind the box's details button.
  EXPECT_TRUE(details.startsWith("Elementos escritos en SolucioHorari.xml:\n  SESSIO: 1\n"))
      << details.toStdString();
  EXPECT_NE(test::readFile(chosen.parent_path() / "SolucioHorari.xml")
                .find("<SESSIO placa=\"P7\" curs=\"ESO1\" grup=\"G1\" dia=\"2\" hora=\"10:00\" durada=\"55\" "
                      "aula=\"A3\" materia=\"100001\" activitat=\"\"/>"),
            std::string::npos);
  EXPECT_FALSE(child<QPushButton>(form, "BExportar")->isEnabled());
  EXPECT_FALSE(child<QPushButton>(form, "BImportar")->isEnabled());
  EXPECT_EQ(form.state().resultFlag, 1);
}

TEST(MainWindow, FailedOperationsLeaveBothButtonsEnabled) {
  Desk desk;
  std::filesystem::path document = desk.document("<CENTRE>");
  TMForm form({});
  form.show();
  {
    ModalDriver driver({ModalDriver::chooseFile(q(document)), ModalDriver::pressOk()});
    child<QPushButton>(form, "BExportar")->click();
    ASSERT_EQ(driver.seen.size(), 2u);
    EXPECT_EQ(driver.seen[1].rfind("QMessageBox:critical|Pontix|El archivo " + document.string() +
                                       " no es un documento XML válido: ",
                                   0),
              0u)
        << driver.seen[1];
  }
  {
    ModalDriver driver({ModalDriver::chooseFile(q(desk.drive / "falta.xml")), ModalDriver::pressOk()});
    child<QPushButton>(form, "BImportar")->click();
    EXPECT_EQ(driver.seen,
              (std::vector<std::string>{"QFileDialog|Archivo XML|", "QMessageBox|Pontix|No existe archivo"}));
  }
  EXPECT_TRUE(child<QPushButton>(form, "BExportar")->isEnabled());
  EXPECT_TRUE(child<QPushButton>(form, "BImportar")->isEnabled());
  EXPECT_EQ(form.state().resultFlag, 0);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// Qt sizes these columns for "128.88 GB" and cuts "11.23 KiB" and longer types and dates.
TEST(MainWindow, FileDialogShowsSizesTypesAndDatesWhole) {
  Desk desk;
  desk.document(std::string(11500, ' '));
  TMForm form({});
  bool whole = false;
  ModalDriver driver({[&](QWidget* modal) {
    auto* view = modal->findChild<QTreeView*>("treeView");
    // The width the cells and the title of a column need.
    auto needed = [view](int column) {
      return std::max(static_cast<QAbstractItemView*>(view)->sizeHintForColumn(column),
                      view->header()->sectionSizeHint(column));
    };
    whole = test::waitFor(
        [&] {
          if (view->model()->rowCount(view->rootIndex()) != 1) return false;
          for (int column = 1; column < 4; ++column)
            if (view->columnWidth(column) < needed(column)) return false;
          return true;
        },
        5000);
    for (int column = 1; column < 4; ++column) EXPECT_GE(view->columnWidth(column), needed(column)) << column;
    EXPECT_LE(view->header()->length(), view->viewport()->width());
    ModalDriver::cancel()(modal);
  }});
  std::string path;
  form.chooseXmlFile(path);
  EXPECT_TRUE(whole);
}

TEST(MainWindow, FileDialogStartsInTheNearestExistingFolderOfSaga) {
  Desk desk;
  std::filesystem::remove(desk.drive / "KTEMP" / "saga");
  TMForm form({});
  QString directory;
  ModalDriver driver({[&](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    EXPECT_EQ(dialog->nameFilters(), QStringList{"*.xml (*.xml)"});
    EXPECT_EQ(dialog->defaultSuffix(), "xml");
    EXPECT_EQ(dialog->fileMode(), QFileDialog::AnyFile);
    directory = dialog->directory().absolutePath();
    ModalDriver::cancel()(modal);
  }});
  std::string path = "antes.xml";
  EXPECT_FALSE(form.chooseXmlFile(path));
  EXPECT_EQ(path, "antes.xml");
  EXPECT_EQ(directory, q(desk.drive / "KTEMP"));
}

// Whatever the system's locale (the tests run under C), the file list speaks Spanish.
TEST(MainWindow, FileDialogColumnsAreSpanish) {
  Desk desk;
  std::filesystem::create_directories(desk.drive / "KTEMP" / "saga" / "cursos");
  desk.document(std::string(2048, ' '));
  TMForm form({});
  std::map<QString, QStringList> rows;  // name: size, type, date
  ModalDriver driver({[&](QWidget* modal) {
    auto* view = modal->findChild<QTreeView*>("treeView");
    const QAbstractItemModel* model = view->model();
    const QModelIndex folder = view->rootIndex();
    test::waitFor([&] { return model->rowCount(folder) == 2; });
    for (int row = 0; row < model->rowCount(folder); ++row)
      rows[model->index(row, 0, folder).data().toString()] = {model->index(row, 1, folder).data().toString(),
                                                              model->index(row, 2, folder).data().toString(),
                                                              model->index(row, 3, folder).data().toString()};
    ModalDriver::cancel()(modal);
  }});
  std::string path;
  form.chooseXmlFile(path);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows["cursos"].value(1), "Carpeta");
  EXPECT_EQ(rows["centre.xml"].value(0), "2,00 KiB");
  const QRegularExpression spanishDate(R"(^\d\d/\d\d/\d{4} \d\d:\d\d$)");
  for (const auto& [name, columns] : rows)
    EXPECT_TRUE(spanishDate.match(columns.value(2)).hasMatch())
        << name.toStdString() << ": " << columns.value(2).toStdString();
}

// Host-driven runs, offscreen: there is no window to live in, but the flow and the result
// file are those of a host-driven run.
struct HostRun {
  Desk desk;
  test::TempDir programDir;
  std::unique_ptr<TMForm> form;
  bool closed = false;

  void start(QStringList arguments) {
    form = std::make_unique<TMForm>(arguments);
    form->resultFile = programDir / "Horalia.ini";
    QObject::connect(form.get(), &TMForm::closed, [this] { closed = true; });
    form->show();
  }
  std::string ini() const {
    std::error_code ec;
    return std::filesystem::exists(form->resultFile, ec) ? test::readFile(form->resultFile) : "(none)";
  }
};

TEST(HostDriven, CancelledExportarWritesMinusOneAndKeepsOtherSections) {
  HostRun run;
  test::writeFile(run.programDir / "Horalia.ini", "[Horalia]\r\nIdioma=ES\r\n");
  ModalDriver driver({ModalDriver::cancel(), ModalDriver::pressOk()});
  run.start({"EXPORTAR", "1a2B"});
  EXPECT_TRUE(run.form->state().hostDriven);
  EXPECT_TRUE(run.form->windowFlags().testFlag(Qt::FramelessWindowHint))
      << std::hex << run.form->windowFlags().toInt();
  ASSERT_TRUE(test::waitFor([&] { return run.closed; }));
  EXPECT_EQ(driver.seen,
            (std::vector<std::string>{"QFileDialog|Archivo XML|", "QMessageBox|Pontix|No existe archivo"}));
  EXPECT_EQ(run.ini(), "[Horalia]\r\nIdioma=ES\r\n[Transformadores]\r\nTransformado=-1\r\n");
}

TEST(HostDriven, CompletedExportarClosesTheWindowWithOne) {
  HostRun run;
  std::filesystem::path document = run.desk.document(kSmallDocument);
  ModalDriver driver({ModalDriver::chooseFile(q(document)), acceptCourses(), ModalDriver::pressOk(),
                      ModalDriver::pressOk()});
  run.start({"Exportar", "ABCDEF01"});
  ASSERT_TRUE(test::waitFor([&] { return run.closed; }));
  EXPECT_EQ(run.ini(), "[Transformadores]\r\nTransformado=1\r\n");
}

TEST(HostDriven, AnotherWordRunsNothingAndSalirWritesZero) {
  HostRun run;
  ModalDriver driver({});
  run.start({"exportar ", "10"});
  test::waitFor([] { return false; }, 200);
  EXPECT_TRUE(driver.seen.empty());
  child<QPushButton>(*run.form, "BClose")->click();
  EXPECT_TRUE(run.closed);
  EXPECT_EQ(run.ini(), "[Transformadores]\r\nTransformado=0\r\n");
}

TEST(HostDriven, BadHandleIsReportedAndTheRunIsInteractive) {
  HostRun run;
  ModalDriver driver({ModalDriver::pressOk(), ModalDriver::cancel(), ModalDriver::pressOk()});
  run.start({"exportar", "0x12"});
  ASSERT_TRUE(test::waitFor([&] { return driver.allStepsTaken(); }));
  test::waitFor([] { return false; }, 100);
  EXPECT_EQ(driver.seen,
            (std::vector<std::string>{"QMessageBox:critical|Pontix|'$0x12' no es un valor entero válido",
                                      "QFileDialog|Archivo XML|", "QMessageBox|Pontix|No existe archivo"}));
  EXPECT_FALSE(run.form->state().hostDriven);
  EXPECT_FALSE(run.form->windowFlags() & Qt::FramelessWindowHint);
  EXPECT_FALSE(run.closed);
  run.form->close();
  EXPECT_EQ(run.ini(), "(none)");
}

TEST(HostDriven, UnwritableResultFileIsReportedAndTheWindowStillCloses) {
  HostRun run;
  ModalDriver driver({ModalDriver::pressOk()});
  run.start({"nada", "1"});
  run.form->resultFile = run.programDir / "falta" / "Horalia.ini";
  run.form->close();
  EXPECT_TRUE(run.closed);
  EXPECT_EQ(driver.seen,
            (std::vector<std::string>{"QMessageBox:critical|Pontix|Unable to write to " +
                                      (run.programDir / "falta" / "Horalia.ini").string() +
                                      ".\nCompruebe que la carpeta de Horalia admite cambios y que "
                                      "queda espacio en el disco, y vuelva a intentarlo."}));
}

// A run stopped without unwinding (a kill, a power cut): its tables set aside, one new table
// half made. Opening the window puts the user's tables back and says so.
TEST(MainWindow, OpeningPutsRightARunThatWasStopped) {
  Desk desk;
  const std::filesystem::path work = desk.drive / "KTEMP";
  test::writeTable(work, "ASIGT", {{"CASIG", dbase::FieldKind::Text, 10}}, {{"EDITADA"}});
  // Never destroyed, as a killed process never unwinds; static, so no leak checker minds.
  alignas(ExportTransaction) static unsigned char stopped[sizeof(ExportTransaction)];
  new (stopped) ExportTransaction(work);
  test::writeTable(work, "ASIGT", {{"CASIG", dbase::FieldKind::Text, 10}}, {{"NUEVA"}});

  ModalDriver driver({ModalDriver::pressOk()});
  TMForm form({});
  form.show();
  EXPECT_TRUE(test::waitFor([&] { return driver.allStepsTaken(); }));
  ASSERT_EQ(driver.seen.size(), 1u);
  EXPECT_EQ(driver.seen[0].rfind("QMessageBox|Pontix|Se ha deshecho una exportación que no terminó (", 0), 0u)
      << driver.seen[0];
  EXPECT_EQ(test::tableRows(work, "ASIGT"), (std::vector<std::vector<std::string>>{{"EDITADA"}}));
  EXPECT_FALSE(std::filesystem::exists(work / "PONTIX.DIARIO"));
  EXPECT_FALSE(std::filesystem::exists(work / "PONTIX.APARTADAS"));
}

}  // namespace
}  // namespace pontix

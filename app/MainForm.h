#pragma once

#include <QStringList>
#include <QWidget>

class QMessageBox;
#include <filesystem>
#include <functional>

#include "operacion/ProgramState.h"
#include "operacion/Shell.h"

class QDialog;
class QLabel;
class QPushButton;

namespace pontix {

// The application's title, the caption of its message boxes, and its help file.
inline constexpr const char* kApplicationTitle = "Pontix";
inline constexpr const char* kHelpFile = "Scolaria.chm";

// The font asked for when this system has it, else the platform's sans font, at that size.
QFont pickFont(const QString& family, int pixelSize, bool bold);
// Makes a message box wide enough for the window manager to show its whole caption.
void widenForTitle(QMessageBox& box);

// A panel painted with a vertical three-colour gradient.
class GradientPanel : public QWidget {
 public:
  GradientPanel(QWidget* parent, QColor start, QColor middle, QColor end);
  QColor start, middle, end;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The main window MForm: the two operations behind their buttons, the two run modes and
// the result flag for the host. It is the operations' Shell.
class TMForm : public QWidget, public Shell {
  Q_OBJECT

 public:
  // arguments: the command line without the program. Runs FormCreate.
  explicit TMForm(QStringList arguments, QWidget* parent = nullptr);

  ProgramState& state() { return state_; }
  // Where FormClose writes the result flag: "Horalia.ini" beside the executable.
  std::filesystem::path resultFile;
  // Help requests: F1 asks for a context, Button1 for the contents.
  std::function<void(int context)> helpContext = [](int) {};
  std::function<void()> helpContents = [] {};

  // Shell
  bool chooseXmlFile(std::string& path) override;
  void showMessage(const std::string& text) override;
  void showFinished(const std::string& text, const RunReport& report) override;
  bool confirmEmptyDocument() override;
  bool confirmSubjectLines() override;
  CourseAssignmentPass runCourseAssignmentPass(ProgramState& state) override;
  void setWaitCursor() override;
  void restoreCursor() override;
  void disableOperationButtons() override;
  void operationCompleted() override {}
  void closeMainWindow() override { close(); }
  void checkOutputs() override;

 signals:
  // The window has closed; the program ends.
  void closed();

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void centreFrame(int triesLeft);
  void recoverAtStart();
  void FormClose();
  void BExportarClick();
  void BImportarClick();
  void Button1Click();
  void runOperation(const std::function<void()>& operation);
  void showError(const QString& text);
  bool embedded() const;
  QWidget* dialogParent();
  int runModal(QDialog& dialog);
  void stopIfHostGone() const;

  QStringList arguments_;
  ProgramState state_;
  bool shown_ = false;
  // The host window has gone: the program is ending, and nothing more may run or be written.
  bool hostGone_ = false;
  QPushButton* BExportar_;
  QPushButton* BImportar_;
};

}  // namespace pontix

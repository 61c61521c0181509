#pragma once

#include <string>

namespace pontix {

struct ProgramState;
class RunReport;

// What one level-and-course assignment pass reports once its dialog has closed.
struct CourseAssignmentPass {
  bool FaltaDato = false;  // OK found a course without level or course number
  std::string Salida;      // "fuera" after a forced exit
};

// Everything the operations need from a person or a window. The main window implements it
// with widgets, pontix-cli without asking anyone, the tests with a recording fake.
class Shell {
 public:
  virtual ~Shell() = default;

  // OpenDialogXML. Returns false when cancelled; path is then left as it was.
  virtual bool chooseXmlFile(std::string& path) = 0;
  // A plain message box captioned with the application title (UTF-8 text).
  virtual void showMessage(const std::string& text) = 0;
  // The box that ends a completed operation: the message, with the run's report for whoever
  // wants to read it.
  virtual void showFinished(const std::string& text, const RunReport& report) {
    (void)report;
    showMessage(text);
  }
  // Checks, before any table is touched, that what the operation writes besides the tables
  // (the result for the host, a report file) can be written; throws pontix::Error when not.
  virtual void checkOutputs() {}
  // Asked when the administration document carries no subjects, teacher posts, rooms or courses:
  // going on would empty every working table, and it is almost always the wrong file. True to
  // go on all the same.
  virtual bool confirmEmptyDocument() = 0;
  // The subject-lines confirmation box; true only for OK.
  virtual bool confirmSubjectLines() = 0;
  // Shows one level and course assignment dialog modally over the main window.
  virtual CourseAssignmentPass runCourseAssignmentPass(ProgramState& state) = 0;
  virtual void setWaitCursor() = 0;
  virtual void restoreCursor() = 0;
  virtual void disableOperationButtons() = 0;
  // The operation has completed: "Proceso finalizado" was shown and the result flag is 1.
  virtual void operationCompleted() = 0;
  // Closes the main window as its own close box does; in host-driven mode that writes the
  // result flag.
  virtual void closeMainWindow() = 0;
};

}  // namespace pontix

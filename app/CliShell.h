#pragma once

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "operacion/Shell.h"

namespace pontix::cli {

// One line of a levels file: the course code and the level and course number the user
// would type for it (UTF-8, trimmed).
struct CourseLevel {
  std::string code;
  std::string level;
  std::string course;
};

// Reads a levels file: lines "CODI;NIVEL;CURSO" (',' also separates), blank lines and a
// header line whose first field is CODI skipped. Throws pontix::Error naming a bad line.
std::vector<CourseLevel> readLevelsFile(const std::filesystem::path& file);

// The Shell of pontix-cli: nobody to ask, so the answers come from the command line.
class CliShell : public Shell {
 public:
  struct Options {
    std::string document;
    std::vector<CourseLevel> levels;
    bool subjectLines = true;      // answer OK to the subject-lines box
    bool allowIncomplete = false;  // leave the assignment as the close box does
    bool previousLevels = false;   // fill blank levels from the previous CURSOST first
    bool emptyAllowed = false;     // a document with nothing in it may empty the tables
  };
  CliShell(Options options, std::ostream& out, std::ostream& err)
      : options_(std::move(options)), out_(out), err_(err) {}

  bool chooseXmlFile(std::string& path) override;
  void showMessage(const std::string& text) override;
  // The message, then the lines that tell the run's findings, as the window's box says them.
  void showFinished(const std::string& text, const RunReport& report) override;
  // Refuses, saying how to go on, unless asked beforehand.
  bool confirmEmptyDocument() override;
  bool confirmSubjectLines() override { return options_.subjectLines; }
  // Fills in CURSOST from the previous CURSOST when asked, then from the levels file. A course left without
  // level or course number ends the run as a forced exit, its code printed, unless incomplete courses are
  // allowed.
  CourseAssignmentPass runCourseAssignmentPass(ProgramState& state) override;
  void setWaitCursor() override {}
  void restoreCursor() override {}
  void disableOperationButtons() override {}
  void operationCompleted() override { completed_ = true; }
  void closeMainWindow() override {}

  bool completed() const { return completed_; }

 private:
  Options options_;
  std::ostream& out_;
  std::ostream& err_;
  bool completed_ = false;
};

}  // namespace pontix::cli

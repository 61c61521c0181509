#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "operacion/Shell.h"

namespace pontix::test {

// A Shell that answers from queues and records, in order, what the operation asked for:
// "dialog", "message:<text>", "empty?", "lines?", "pass", "wait", "restore", "disable",
// "completed", "close".
class FakeShell : public Shell {
 public:
  std::deque<std::optional<std::string>> dialogAnswers;  // nothing: cancel (also when empty)
  std::deque<CourseAssignmentPass> passes;               // empty: a complete OK pass
  bool linesAnswer = true;
  bool emptyAnswer = false;
  std::vector<std::string> events;

  bool chooseXmlFile(std::string& path) override {
    events.push_back("dialog");
    if (dialogAnswers.empty()) return false;
    std::optional<std::string> answer = dialogAnswers.front();
    dialogAnswers.pop_front();
    if (answer) path = *answer;
    return answer.has_value();
  }
  void showMessage(const std::string& text) override { events.push_back("message:" + text); }
  bool confirmEmptyDocument() override {
    events.push_back("empty?");
    return emptyAnswer;
  }
  bool confirmSubjectLines() override {
    events.push_back("lines?");
    return linesAnswer;
  }
  CourseAssignmentPass runCourseAssignmentPass(ProgramState&) override {
    events.push_back("pass");
    if (passes.empty()) return {};
    CourseAssignmentPass pass = passes.front();
    passes.pop_front();
    return pass;
  }
  void setWaitCursor() override { events.push_back("wait"); }
  void restoreCursor() override { events.push_back("restore"); }
  void disableOperationButtons() override { events.push_back("disable"); }
  void operationCompleted() override { events.push_back("completed"); }
  void closeMainWindow() override { events.push_back("close"); }
};

}  // namespace pontix::test

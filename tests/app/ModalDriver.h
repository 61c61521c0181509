#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace pontix::test {

// Answers the modal windows of a GUI test in order, polling for the active modal widget
// (a modal exec() blocks the test). Whatever comes after the last step, or after the time
// runs out, is rejected and recorded, so a test never hangs.
class ModalDriver : public QObject {
 public:
  using Step = std::function<void(QWidget*)>;
  explicit ModalDriver(std::vector<Step> steps, int timeoutMs = 20000);

  // Every modal window met, as "<kind>|<title>|<text>".
  std::vector<std::string> seen;
  bool allStepsTaken() const { return next_ == steps_.size(); }

  // Steps
  static Step chooseFile(const QString& path);  // types the name into the file dialog
  static Step cancel();                         // closes the window without a choice
  static Step pressOk();                        // message box

 private:
  void poll();

  std::vector<Step> steps_;
  std::size_t next_ = 0;
  QWidget* last_ = nullptr;
  QTimer timer_;
  int remainingTicks_;
};

// Processes events until done() holds or the time runs out; returns done().
bool waitFor(const std::function<bool()>& done, int timeoutMs = 20000);

}  // namespace pontix::test

#include "ModalDriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QThread>

namespace pontix::test {

ModalDriver::ModalDriver(std::vector<Step> steps, int timeoutMs)
    : steps_(std::move(steps)), remainingTicks_(timeoutMs / 10) {
  connect(&timer_, &QTimer::timeout, this, &ModalDriver::poll);
  timer_.start(10);
}

void ModalDriver::poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (--remainingTicks_ < 0) {
    if (modal) {
      seen.push_back("timeout");
      if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
    }
    return;
  }
  if (!modal || modal == last_) return;
  last_ = modal;
  std::string kind = modal->metaObject()->className();
  QString text;
  if (auto* box = qobject_cast<QMessageBox*>(modal)) {
    text = box->text();
    if (box->icon() == QMessageBox::Critical) kind += ":critical";
  }
  seen.push_back(kind + "|" + modal->windowTitle().toStdString() + "|" + text.toStdString());
  if (next_ < steps_.size()) {
    steps_[next_++](modal);
  } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
    seen.push_back("unexpected");
    dialog->reject();
  }
}

ModalDriver::Step ModalDriver::chooseFile(const QString& path) {
  return [path](QWidget* modal) {
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!dialog) return qobject_cast<QDialog*>(modal)->reject();
    dialog->findChild<QLineEdit*>("fileNameEdit")->setText(path);
    static_cast<QDialog*>(dialog)->accept();  // public in QDialog; QFileDialog validates the name
  };
}

ModalDriver::Step ModalDriver::cancel() {
  return [](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); };
}

ModalDriver::Step ModalDriver::pressOk() {
  return [](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (!box) return qobject_cast<QDialog*>(modal)->reject();
    box->button(QMessageBox::Ok)->click();
  };
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < timeoutMs) {
    QApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(5);
  }
  return done();
}

}  // namespace pontix::test

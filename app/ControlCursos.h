#pragma once

#include <QDialog>
#include <QTableView>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "operacion/ProgramState.h"
#include "platform/dbase/Table.h"

class QLabel;
class QPushButton;
class QToolButton;

namespace pontix {

class CursosModel;

// The courses grid: Tab and Enter go through the editable cells, row by row, and leave the
// grid after the last one.
class CursosGrid : public QTableView {
  Q_OBJECT

 public:
  explicit CursosGrid(QWidget* parent);
  // Hands what is being typed in a cell to the model, as leaving the cell would.
  void commitTyping();
  // Drops what is being typed in a cell.
  void revertTyping();
  bool typing() const { return state() == EditingState; }

 protected:
  QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

 private:
  QModelIndex nextEditable(const QModelIndex& from, bool forward) const;
};

// ControlCursos: the level and course assignment dialog of one pass. It edits CURSOST in
// place through its own table object; FaltaDato and Salida tell the pass's outcome.
class TControlCursos : public QDialog {
  Q_OBJECT

 public:
  TControlCursos(ProgramState& state, QWidget* owner);
  ~TControlCursos() override;

  std::uint8_t FaltaDato = 0;
  std::string Salida;
  // F1: the help topic of the focused widget's context.
  std::function<void(int context)> helpContext = [](int) {};
  // A table error that ended the dialog; the pass rethrows it.
  std::exception_ptr error;

  // Escape and the close box: what was typed is kept, nothing is checked.
  void reject() override;
  void keyPressEvent(QKeyEvent* event) override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
  void CursosTDBGridEnter();
  void CursosTDBGridExit();
  void CursosTDBGridColEnter();
  void BitBtn1Click();
  void BitBtn2Click();
  // Fills the blank levels and course numbers from the previous CURSOST.
  void recoverPreviousLevels();

  void buildNavigator();
  void updateNavigator();
  void navigate(int row);
  void focusChanged(QWidget* old, QWidget* now);
  bool inGrid(QWidget* widget) const;
  void postTyping();
  void releaseTable();
  // Runs a handler; a table error closes the dialog and is kept for the pass to report.
  void guarded(const std::function<void()>& handler);
  void fail(std::exception_ptr failure);

  ProgramState& state_;
  std::unique_ptr<dbase::Table> wwTableCursosT;
  CursosModel* wwDataSource1;
  CursosGrid* CursosTDBGrid;
  QWidget* wwDBNavigator1;
  QToolButton* navigatorButtons_[10];
  QLabel* Label2;
  QLabel* Label3;
  QLabel* Label8;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;
  QPushButton* BRecuperarNiveles;
  bool shown_ = false;
};

}  // namespace pontix

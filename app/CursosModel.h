#pragma once

#include <QAbstractTableModel>
#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/dbase/Table.h"

namespace pontix {

// The courses grid's view of CURSOST: one row per record that is not deleted, in record
// order, read from the table when a cell is drawn. It plays the part of the data-aware
// dataset: the current record goes into editing, the values typed wait in the model and
// reach the file when the record is posted (leaving the row, the grid or the dialog).
class CursosModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { CODI, DESCRIPCIO, NIVEL, CURSO, ColumnCount };

  explicit CursosModel(QObject* parent = nullptr);

  // The open table to show, or nullptr once it is closed. Drops what was not posted.
  void setTable(dbase::Table* table);
  dbase::Table* table() const { return table_; }

  // The field's width in bytes: what can be typed into it.
  int fieldWidth(int column) const;
  // Display widths in characters, and column titles.
  static int displayWidth(int column);
  static QString title(int column);

  dbase::TableState state() const;
  int editRow() const { return editing_ ? editRow_ : -1; }
  // Puts the record of `row` into editing; a record of another row being edited is posted first.
  void edit(int row);
  // Writes the record being edited, when it changed, and goes back to browsing.
  void post();
  // Forgets what was typed into the record being edited and goes back to browsing.
  void cancel();
  // Re-reads the table: records another program added show up.
  void refresh();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The row the indicator marks.
  void setCurrentRow(int row);

  // Table errors met while the view draws or commits a cell, which cannot throw.
  std::function<void(std::exception_ptr)> onError;

 signals:
  void stateChanged();

 private:
  void reload();
  QVariant read(const QModelIndex& index, int role) const;
  std::string stored(int row, int column) const;

  dbase::Table* table_ = nullptr;
  std::vector<std::uint32_t> records_;  // row -> record number
  std::array<std::optional<dbase::Field>, ColumnCount> fields_;
  bool editing_ = false;
  int editRow_ = -1;
  std::array<std::optional<std::string>, ColumnCount> typed_;  // ANSI, as it will be stored
  int currentRow_ = -1;
};

}  // namespace pontix

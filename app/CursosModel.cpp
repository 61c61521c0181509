#include "app/CursosModel.h"

#include "platform/AnsiText.h"
#include "platform/dbase/DbfValue.h"

namespace pontix {
namespace {

constexpr const char* kFieldNames[] = {"CODI", "DESCRIPCIO", "NIVEL", "CURSO"};
constexpr int kDisplayWidths[] = {10, 40, 5, 3};
constexpr const char* kTitles[] = {"CÓD.SCOLARIA", "DESCRIPCIÓN", "NIVEL", "CURSO"};

bool editable(int column) { return column == CursosModel::NIVEL || column == CursosModel::CURSO; }

QString fromAnsi(const std::string& text) { return QString::fromStdString(ansi::toUtf8(text)); }

}  // namespace

CursosModel::CursosModel(QObject* parent) : QAbstractTableModel(parent) {}

int CursosModel::displayWidth(int column) { return kDisplayWidths[column]; }
QString CursosModel::title(int column) { return QString::fromUtf8(kTitles[column]); }

int CursosModel::fieldWidth(int column) const { return fields_[column] ? fields_[column]->width() : 0; }

void CursosModel::setTable(dbase::Table* table) {
  beginResetModel();
  table_ = table;
  editing_ = false;
  editRow_ = -1;
  typed_ = {};
  reload();
  endResetModel();
  emit stateChanged();
}

void CursosModel::reload() {
  records_.clear();
  fields_ = {};
  if (!table_ || !table_->isOpen()) return;
  for (int column = 0; column < ColumnCount; ++column) fields_[column] = table_->field(kFieldNames[column]);
  for (table_->first(); !table_->eof(); table_->next()) records_.push_back(table_->recordNumber());
}

void CursosModel::refresh() {
  post();
  beginResetModel();
  // Reopened, the table reads again how many records the file holds.
  if (table_ && table_->isOpen()) {
    table_->close();
    table_->open(dbase::OpenMode::Shared);
  }
  reload();
  endResetModel();
  emit stateChanged();
}

dbase::TableState CursosModel::state() const {
  if (!table_ || !table_->isOpen()) return dbase::TableState::Inactive;
  return editing_ ? dbase::TableState::Edit : dbase::TableState::Browse;
}

void CursosModel::edit(int row) {
  if (row < 0 || row >= rowCount()) return;
  if (editing_ && editRow_ == row) return;
  post();
  editing_ = true;
  editRow_ = row;
  emit headerDataChanged(Qt::Vertical, row, row);
  emit stateChanged();
}

void CursosModel::post() {
  if (!editing_) return;
  const int row = editRow_;
  const bool changed = typed_[NIVEL] || typed_[CURSO];
  if (changed) {
    table_->go(records_[static_cast<std::size_t>(row)]);
    table_->edit();
    for (int column : {NIVEL, CURSO})
      if (typed_[column]) fields_[column]->setText(*typed_[column]);
    table_->post();
  }
  editing_ = false;
  editRow_ = -1;
  typed_ = {};
  emit headerDataChanged(Qt::Vertical, row, row);
  emit stateChanged();
}

void CursosModel::cancel() {
  if (!editing_) return;
  const int row = editRow_;
  editing_ = false;
  editRow_ = -1;
  typed_ = {};
  emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
  emit headerDataChanged(Qt::Vertical, row, row);
  emit stateChanged();
}

int CursosModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(records_.size());
}

int CursosModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

std::string CursosModel::stored(int row, int column) const {
  if (editing_ && row == editRow_ && typed_[column]) return *typed_[column];
  table_->go(records_[static_cast<std::size_t>(row)]);
  return fields_[column]->asText();
}

QVariant CursosModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  // Drawing cannot stop for an error: the cell stays empty and the error goes to the dialog.
  try {
    return read(index, role);
  } catch (...) {
    if (onError) onError(std::current_exception());
    return {};
  }
}

QVariant CursosModel::read(const QModelIndex& index, int role) const {
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: return fromAnsi(stored(index.row(), index.column()));
    case Qt::ToolTipRole:
      // A description wider than its column is read here whole.
      return index.column() == DESCRIPCIO ? QVariant(fromAnsi(stored(index.row(), index.column())))
                                          : QVariant();
    default: return {};
  }
}

bool CursosModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !index.isValid() || !editable(index.column()) || index.row() >= rowCount())
    return false;
  try {
    edit(index.row());
  } catch (...) {
    if (onError) onError(std::current_exception());
    return false;
  }
  const std::string text = ansi::fromUtf8(value.toString().toStdString());
  typed_[index.column()] =
      dbase::value::storedText(text, static_cast<std::size_t>(fieldWidth(index.column())));
  emit dataChanged(index, index);
  return true;
}

Qt::ItemFlags CursosModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (editable(index.column())) flags |= Qt::ItemIsEditable;
  return flags;
}

QVariant CursosModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Vertical) {
    // The record indicator: the current record, a pencil while it is being edited.
    if (role == Qt::DisplayRole)
      return section == editRow()     ? QString::fromUtf8("✎")
             : section == currentRow_ ? QString::fromUtf8("▶")
                                      : QString();
    return {};
  }
  if (section < 0 || section >= ColumnCount) return {};
  switch (role) {
    case Qt::DisplayRole:
      // The grid's titles have two lines: one that does not fit the column breaks.
      return section == CODI ? QString::fromUtf8("CÓD.\nSCOLARIA") : title(section);
    case Qt::ToolTipRole: return title(section);
    default: return {};
  }
}

void CursosModel::setCurrentRow(int row) {
  const int old = currentRow_;
  currentRow_ = row;
  if (old >= 0 && old < rowCount()) emit headerDataChanged(Qt::Vertical, old, old);
  if (row >= 0 && row < rowCount()) emit headerDataChanged(Qt::Vertical, row, row);
}

}  // namespace pontix

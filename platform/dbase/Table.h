#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/FileIo.h"
#include "platform/dbase/DbfFormat.h"

namespace pontix::dbase {

enum class FieldKind { Text, Integer, Float, Logical };

struct FieldDef {
  std::string name;  // at most 10 characters; stored in upper case
  FieldKind kind = FieldKind::Text;
  int width = 0;  // text fields only: 1 to 254
};

struct IndexDef {
  std::string name;   // tag name
  std::string field;  // key field, a text field
};

enum class OpenMode { Shared, Exclusive };
enum class TableState { Inactive, Browse, Edit, Insert };

class Table;
class Field;

// Told what a table's writes did to the values given, for a run's report of what a conversion
// changed. Called while the table is open; must not throw.
class TableObserver {
 public:
  // A text longer than its field lost characters other than trailing blanks.
  virtual void valueCut(const Table& table, const Field& field, std::string_view given) noexcept = 0;
  // The table was closed with every posted record written.
  virtual void tableClosed(const Table& table, std::uint32_t records) noexcept = 0;

 protected:
  ~TableObserver() = default;
};

// One field of an open table, bound to its current record. Cheap to copy; valid while the
// table stays open.
class Field {
 public:
  const std::string& name() const;
  char type() const;
  int width() const;

  std::string asText() const;
  double asFloat() const;
  std::int64_t asInteger() const;  // nearest whole number, halves to even
  bool asLogical() const;

  // Writes need the table in state Edit or Insert.
  void setText(std::string_view text);  // cut to the width, first bytes kept
  void setFloat(double value);
  void setInteger(std::int64_t value);
  void setLogical(bool value);

 private:
  friend class Table;
  Field(Table* table, std::size_t index) : table_(table), index_(index) {}
  const format::FieldLayout& layout() const;
  std::string_view bytes() const;
  std::span<char> writableBytes() const;

  Table* table_;
  std::size_t index_;
};

// A dBase table: a .DBF file in a directory, with its production index (.MDX) when it has
// one. Reads dBase III/IV/5/7 and FoxPro tables; writes dBase IV tables (code page 1252).
// Every failure throws pontix::Error with a Spanish message naming the table.
class Table {
 public:
  // name: "PROFT" or "PROFT.DBF" (".DBF" is added when there is no extension). objectName,
  // when given, prefixes the field-not-found error.
  Table(std::filesystem::path directory, std::string name, std::string objectName = {});
  ~Table();  // closes the table; unposted changes are dropped, posted records kept
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  const std::string& objectName() const { return objectName_; }
  // The table's name as given, without its extension ("PROFT").
  std::string tableName() const { return std::filesystem::path(name_).stem().string(); }
  // Reports this table's cut values and its closing; nullptr stops it.
  void observe(TableObserver* observer) { observer_ = observer; }
  // The table's file, matched ignoring letter case when it exists.
  std::filesystem::path filePath() const;
  std::filesystem::path indexPath() const;
  // The index of the table whose file is `dbf`, as filePath() gave it.
  std::filesystem::path indexPathOf(const std::filesystem::path& dbf) const;

  // Throws "La tabla X es de solo lectura" when the table or its index file is marked
  // read-only; such a table is neither replaced nor deleted.
  void requireWritable() const;

  // Writes an empty table with exactly these fields (and a production index with these
  // tags), replacing any table of that name. The table stays closed.
  void create(const std::vector<FieldDef>& fields, const std::vector<IndexDef>& indexes = {});

  // Opens at the first record. Exclusive fails while another program has the table open;
  // shared fails while another program has it open exclusively.
  void open(OpenMode mode);
  // Drops unposted changes, writes what was posted, rebuilds the index after changes.
  void close();
  bool isOpen() const { return file_.isOpen(); }
  TableState state() const { return state_; }

  // Navigation visits the records that are not deleted, in record order. It posts first.
  void first();
  void next();
  bool eof() const { return eof_; }
  // Makes record `index` current (0-based, in record order, deleted records counted), as a
  // grid does when the user picks a row. It posts first.
  void go(std::uint32_t index);
  // The current record's index as go() takes it; 0xFFFFFFFF when there is none.
  std::uint32_t recordNumber() const { return current_; }

  void append();  // a new blank record at the end, state Insert
  void edit();    // the current record, state Edit
  void post();    // writes the record; state Browse

  Field field(std::string_view name);  // throws "No se encuentra el campo 'X'"
  Field fieldAt(std::size_t index);
  std::size_t fieldCount() const { return layout_.fields.size(); }
  std::uint32_t recordCount() const;  // deleted records included

 private:
  friend class Field;

  void requireOpen() const;
  void checkBrowse();
  void loadRecord(std::uint32_t index);
  bool isDeleted(std::uint32_t index);
  void flushAppends();
  // The rest need the append lock held.
  void adoptCountOnDisk();
  void writeAppends();
  void keepWholeRecords(std::uint64_t start) noexcept;
  void writeHeaderCount();
  void finishWrites();
  void dropIndex() noexcept;
  void rebuildIndex();
  std::string_view diskBytes(std::uint32_t index);

  std::filesystem::path directory_;
  std::string name_;
  std::string objectName_;

  io::File file_;
  bool readOnly_ = false;
  format::Layout layout_;
  std::unordered_map<std::string, std::size_t> fieldIndex_;  // upper-case name -> index
  std::string header_;                                       // as on disk

  std::uint32_t diskRecords_ = 0;  // records in the file
  std::string appended_;           // posted records not yet written
  std::string cache_;              // a run of records read from the file
  std::uint32_t cacheFirst_ = 0;
  std::uint32_t cacheCount_ = 0;

  TableState state_ = TableState::Inactive;
  std::uint32_t current_ = 0xFFFFFFFF;  // none
  bool eof_ = true;
  std::string record_;  // the current record's bytes, deletion flag first
  bool modified_ = false;
  TableObserver* observer_ = nullptr;
};

}  // namespace pontix::dbase

#pragma once

// What every table builder of Exportar shares: how a working table is made, how an
// element's attributes are read, and the list of used abbreviations.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "exportar/ProgramState.h"
#include "platform/AnsiText.h"
#include "platform/Error.h"
#include "platform/dbase/Table.h"
#include "platform/xml/Document.h"

namespace pontix {

// Deletes the table's .DBF and .MDX (a table another program holds open stays, and creating
// it then fails with the engine's error), then creates it afresh with these fields and indexes,
// closed, its cut values and record count going to the run's report. A table marked read-only
// is an error, before anything is deleted. The run's transaction has already set aside the
// table the user had.
void replaceWorkingTable(ProgramState& state, dbase::Table& table, const std::vector<dbase::FieldDef>& fields,
                         const std::vector<dbase::IndexDef>& indexes = {});
// replaceWorkingTable, then opens it shared.
void createWorkingTable(ProgramState& state, dbase::Table& table, const std::vector<dbase::FieldDef>& fields,
                        const std::vector<dbase::IndexDef>& indexes = {});

// Opens one of the main window's table objects for a scope, so that an error midway leaves it
// closed for the next operation.
class ScopedOpen {
 public:
  ScopedOpen(dbase::Table& table, dbase::OpenMode mode) : table_(table) { table_.open(mode); }
  // `whenMissing` says what to do when the table is not there.
  ScopedOpen(dbase::Table& table, dbase::OpenMode mode, const char* whenMissing) : table_(table) {
    try {
      table_.open(mode);
    } catch (const Error& e) {
      if (e.kind() != ErrorKind::NotFound || !e.remedy().empty()) throw;
      throw Error(e.kind(), e.message(), whenMissing);
    }
  }
  ~ScopedOpen() {
    try {
      table_.close();
    } catch (...) {
      // Read only: nothing posted to lose.
    }
  }
  ScopedOpen(const ScopedOpen&) = delete;
  ScopedOpen& operator=(const ScopedOpen&) = delete;

 private:
  dbase::Table& table_;
};

// The elements of the loaded administration document at an absolute path.
std::vector<xml::Element> selectElements(const ProgramState& state, std::string_view path);

// The named attribute as ANSI text: trimmed of control characters and blanks, converted to
// Windows-1252 with best fit, the characters replaced going to the report. A missing attribute
// reads as the empty text.
std::string readAttribute(const xml::Element& element, std::string_view name, RunReport& report);
std::vector<std::string> readAttributes(const xml::Element& element,
                                        std::initializer_list<std::string_view> names, RunReport& report);
// The same into `values`, one per name, keeping their room from one element to the next.
void readAttributes(const xml::Element& element, std::initializer_list<std::string_view> names,
                    RunReport& report, std::vector<std::string>& values);

// A builder's list of used abbreviations: kept in the order of addition, membership ignoring
// letter case as the Windows comparison does. Entries are only ever added.
class UsedAbbreviations {
 public:
  bool contains(std::string_view text) const;
  void add(std::string_view text);
  // Adds it unless the list holds it ignoring case; whether it did.
  bool addIfAbsent(std::string_view text);
  // Room for this many entries, so that the list grows without rehashing; and for their texts
  // when none is longer than `longest` bytes, so that it grows without copying them.
  void reserve(std::size_t count, std::size_t longest = 0);
  std::vector<std::string> entries() const;

 private:
  // The entries one after another, each a length and its bytes; and an open-addressing table
  // of where they start (plus one; 0 is free) with the hash of their folded text. A few bytes
  // an entry: lists of hundreds of thousands stay small.
  struct Slot {
    std::uint32_t start = 0;
    std::uint32_t hash = 0;
  };
  static std::uint32_t hashOf(std::string_view folded);
  std::string_view entryAt(std::size_t start) const;
  const Slot* find(std::string_view folded, std::uint32_t hash) const;
  void grow(std::size_t slots);
  bool insert(std::string_view text, bool always);

  std::string texts_;
  std::vector<Slot> slots_;
  std::size_t keys_ = 0;
};

}  // namespace pontix

#pragma once

// What both operations share: their first and last steps, and the table objects they open.

#include <cstdint>

#include "operacion/ProgramState.h"
#include "operacion/Shell.h"
#include "operacion/WorkingSet.h"
#include "platform/Error.h"
#include "platform/dbase/Table.h"

namespace pontix {

// What every operation does first: holds the working folder (refusing when another operation
// has it) and puts right what an operation that did not end left there, noting it in the report.
FolderLock startOperation(ProgramState& state, FolderLock::Purpose purpose);

// The steps both operations start with: the file dialog, then, when no file exists at the
// selected file name, "No existe archivo" (in host-driven mode the result flag becomes
// flagWhenMissing and the window closes). Returns whether the operation goes on.
bool chooseExistingFile(ProgramState& state, Shell& shell, std::int32_t flagWhenMissing);

// The steps both operations end with once completed.
void finishOperation(ProgramState& state, Shell& shell);

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

}  // namespace pontix

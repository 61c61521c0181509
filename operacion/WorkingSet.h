#pragma once

// The working tables as one set. One Pontix operation at a time in a working folder; an
// Exportar changes all of the tables or none of them; ANTERIOR holds the whole set as it was
// before the last completed Exportar. What an operation was doing when it was stopped (a
// kill, a power cut) is written in a journal first, so that the next operation in the folder
// can undo it, or finish it when it had completed.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"

#include "platform/FileIo.h"

namespace pontix {

namespace workingset {
struct Journal;
}

// The working tables Exportar writes, in the order it writes them.
const std::vector<std::string>& workingTableNames();

// The folder of previous tables inside the working folder (need not exist).
std::filesystem::path previousTablesFolder(const std::filesystem::path& workingDirectory);

// The files of the working tables in a folder (.DBF and .MDX, in any letter case; folders of
// those names are not tables), in the order of the tables.
std::vector<std::string> workingSetFiles(const std::filesystem::path& folder);

// The sentence every Exportar that did not complete ends its message with.
inline constexpr const char* kNothingChanged = "No se ha cambiado ninguna tabla de trabajo.";

// Holds a working folder for the whole of one operation, through a lock file inside it that
// Linux programs and Windows programs under Wine both see. A second operation is refused at
// once. A folder that takes no new file is refused for changes; only reading goes on there
// without the lock, since no operation can change its tables either.
class FolderLock {
 public:
  enum class Purpose { Change, Read };
  FolderLock(const std::filesystem::path& workingDirectory, Purpose purpose);
  bool held() const { return file_.isHeld(); }

 private:
  io::LockFile file_;
};

// Undoes an operation that did not end in the folder (or finishes the last step of an Exportar
// that had completed) and removes what earlier runs left behind. The caller holds the folder.
// Returns what was done, for the person to read, or nothing when there was nothing to do.
// Throws pontix::Error when it cannot, the journal staying for the next try.
std::optional<std::string> recoverWorkingFolder(const std::filesystem::path& workingDirectory);
// Whether an operation that did not end left its journal in the folder.
bool hasUnfinishedOperation(const std::filesystem::path& workingDirectory);

// The error for a working folder that does not exist, named as the user knows it: Horalia's
// C:\KTEMP, with the folder that stands for it on this system.
Error missingWorkingFolder(const std::filesystem::path& workingDirectory);

// An Exportar's hold on the working set. Made before any table is touched: it checks that the
// set can be set aside and kept (refusing with a Spanish message that says what to do and that
// nothing was changed), then moves the working tables aside. The builders then write in the
// working folder as always.
class ExportTransaction {
 public:
  explicit ExportTransaction(std::filesystem::path workingDirectory);
  // Neither committed nor rolled back: rolled back quietly.
  ~ExportTransaction();
  ExportTransaction(const ExportTransaction&) = delete;
  ExportTransaction& operator=(const ExportTransaction&) = delete;

  // The run completed: the new tables are flushed to the disk and the set aside becomes ANTERIOR.
  // Returns the tables kept there, in the order of the tables.
  std::vector<std::string> commit();
  // The run did not complete: the new tables go and the set aside comes back. Throws when it
  // cannot; the next operation in the folder then does it.
  void rollback();
  // Until commit has passed the point where the run counts as completed, or rollback is done.
  bool isOpen() const { return open_; }

 private:
  std::filesystem::path workingDirectory_;
  std::unique_ptr<workingset::Journal> journal_;  // as written to the disk
  bool open_ = false;
};

// Puts the previous version of one working table (`table`: "ASIGT" or "asigt.dbf"), or of the
// whole set when `table` is empty, back in the working folder and the current one in ANTERIOR
// in its place, so that doing it again undoes it. All in one step: stopped midway, the next
// operation undoes it. The caller holds the folder. Throws pontix::Error when there is no
// previous version or a table involved is open in another program. Returns what was done.
std::string restorePrevious(const std::filesystem::path& workingDirectory, std::string_view table);

}  // namespace pontix

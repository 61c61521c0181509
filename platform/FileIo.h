#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pontix::io {

// The one place the engine and the document saver touch the disk. Every call is checked;
// failures throw pontix::Error naming the file and the reason in Spanish.
class File {
 public:
  enum class Mode { Read, ReadWrite, Create };  // Create: made when missing, contents kept

  static File open(const std::filesystem::path& path, Mode mode);

  File() = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();  // closes quietly; call close() to see errors

  bool isOpen() const { return fd_ >= 0; }
  int descriptor() const { return fd_; }
  const std::filesystem::path& path() const { return path_; }

  // Reads up to buffer.size() bytes at offset; fewer only at end of file.
  std::size_t readAt(std::uint64_t offset, std::span<char> buffer) const;
  void writeAt(std::uint64_t offset, std::string_view bytes);
  std::uint64_t size() const;
  void truncate(std::uint64_t length);
  void sync();
  // Starts writing what the file holds to the disk without waiting for it, so that a later
  // sync finds it done. Best effort; never fails.
  void startWriteback() noexcept;
  void close();

 private:
  friend class AtomicFile;
  File(std::filesystem::path path, int fd) : path_(std::move(path)), fd_(fd) {}

  std::filesystem::path path_;
  int fd_ = -1;
};

// A file written from start to end that replaces target only at commit(): the bytes go to a
// temporary file in target's folder, renamed over target once they are all on disk. Until then,
// and for good when a write or the commit fails or the object goes away uncommitted, an earlier
// target stays as it was and the temporary file is removed. Keeps the permissions of an
// existing target; refuses a read-only one (no write permission bits) as Windows does.
class AtomicFile {
 public:
  // Creates the temporary file; throws when target is a folder or read-only, or its folder
  // cannot take the file.
  explicit AtomicFile(std::filesystem::path target);
  ~AtomicFile();  // uncommitted: removes the temporary file
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  const std::filesystem::path& target() const { return target_; }

  // Adds bytes at the end. Buffered: a full disk may be reported by a later call or commit().
  void append(std::string_view bytes);
  // Writes what is buffered, syncs and renames the file over target.
  void commit();

 private:
  void writeBuffer();
  void discard() noexcept;
  void requireUnfinished() const;

  std::filesystem::path target_;
  std::filesystem::path temp_;
  File file_;
  std::uint64_t written_ = 0;  // bytes already in the temporary file
  std::string buffer_;
  bool finished_ = false;  // committed or discarded
};

// Replaces target with contents through a temporary file in the same folder and a rename,
// so a failure leaves any earlier file as it was. Keeps the permissions of an existing file;
// refuses a read-only one (no write permission bits) as Windows does.
void writeFileAtomically(const std::filesystem::path& target, std::string_view contents);

// Whether the file exists and is marked read-only (no write permission bits), the way
// Windows marks files it refuses to change or delete, whoever asks.
bool isReadOnly(const std::filesystem::path& path) noexcept;

// Sets (F_WRLCK, F_RDLCK) or clears (F_UNLCK) an open-file-description record lock on the
// bytes [start, start + length) of `fd`, length 0 meaning to the end however far it grows;
// without waiting. False with errno set when it cannot (EAGAIN: another holds it).
bool recordLock(int fd, short type, std::int64_t start, std::int64_t length) noexcept;

// The byte, far past any table's data, that writers sharing a file lock in turn to append.
inline constexpr std::int64_t kAppendTurnByte = 0x7FFFFFFE;

// Locks an open file against other programs for as long as `fd` stays open: flock, which
// Linux programs take, and POSIX record locks over the whole file, which is how Wine shows a
// Windows program's LockFile. kAppendTurnByte stays out. False, with errno EWOULDBLOCK, when another program
// holds either lock; a file system without record locks gets flock alone.
bool lockWholeFile(int fd, bool exclusive) noexcept;

// Deletes a file the way Windows does: not while another program holds it open (locked),
// and not when it is read-only. Returns whether the file is gone; never throws.
bool removeUnlessInUse(const std::filesystem::path& path) noexcept;

// Moves a file the way Windows does: not while another program holds it open (locked).
// Replaces `to`. Absent: there was no file to move. A failing move throws pontix::Error
// naming both files and the reason.
enum class MoveResult { Moved, Absent, InUse };
MoveResult moveUnlessInUse(const std::filesystem::path& from, const std::filesystem::path& to);

// Renames a file or folder, replacing a file at `to`; a failure throws pontix::Error naming both
// and the reason. The rename lasts through a power cut only once syncFolder has run on the
// folders involved.
void renamePath(const std::filesystem::path& from, const std::filesystem::path& to);
// Flushes a folder's entries (names made, renamed, removed) to the disk. Best effort on file
// systems that cannot.
void syncFolder(const std::filesystem::path& folder) noexcept;
// Flushes a file's contents to the disk; errors name the file.
void syncFile(const std::filesystem::path& path);
// Makes a folder. Returns false when one is already there; throws when something else is there
// or it cannot be made.
bool makeFolder(const std::filesystem::path& path);
// 0 when a new file can be made in `from` and renamed into `to` (one is made, moved and
// removed), else the errno: EXDEV when `to` is on another file system or mount.
int probeMove(const std::filesystem::path& from, const std::filesystem::path& to) noexcept;
// Whether a file exists and another program holds it open (locked). Never throws.
bool isInUse(const std::filesystem::path& path) noexcept;

// A file locked against other programs for as long as the object lives, as lockWholeFile locks
// it. Removed when released, so that nothing stays behind; whoever takes it checks that the name
// still leads to the file it locked, since a holder may have just removed it.
class LockFile {
 public:
  enum class Result { Locked, Busy, Failed };
  // Busy: another program holds it. Failed: it cannot be made; `error` is the errno.
  static Result acquire(const std::filesystem::path& path, LockFile& lock, int& error);

  LockFile() = default;
  LockFile(LockFile&& other) noexcept;
  LockFile& operator=(LockFile&& other) noexcept;
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;
  ~LockFile() { release(); }

  bool isHeld() const { return fd_ >= 0; }
  void release() noexcept;

 private:
  std::filesystem::path path_;
  int fd_ = -1;
};

// Reads a whole file; errors name the file.
std::string readWholeFile(const std::filesystem::path& path);

// Test seam: while alive, writes through File fail once `bytes` more bytes have been counted.
// DiskFull counts the bytes that make a file longer: writes that would make a file longer then
// fail with "disk full" (a write crossing the limit is cut short); rewriting bytes a file
// already has and truncating still work, as on a real full disk.
// DeviceError counts every byte written: the one write that would pass the limit fails whole
// with an I/O error, and the writes after it work again, as after a passing fault of the device.
// Scopes nest; the innermost one counts.
class ScopedWriteFailure {
 public:
  enum class Kind { DiskFull, DeviceError };

  explicit ScopedWriteFailure(std::uint64_t bytes, Kind kind = Kind::DiskFull);
  ~ScopedWriteFailure();
  ScopedWriteFailure(const ScopedWriteFailure&) = delete;
  ScopedWriteFailure& operator=(const ScopedWriteFailure&) = delete;

  // What each write through File counted, in order, failed ones included: a run whose limit
  // is never reached tells a test where every write falls.
  const std::vector<std::uint64_t>& writes() const { return writes_; }

 private:
  friend class File;

  std::uint64_t budget_;
  Kind kind_;
  std::vector<std::uint64_t> writes_;
  ScopedWriteFailure* enclosing_;
};

}  // namespace pontix::io

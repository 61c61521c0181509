#include "platform/FileIo.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "platform/Error.h"

namespace pontix::io {
namespace {

ScopedWriteFailure* g_injected = nullptr;  // the innermost ScopedWriteFailure

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& path, int errnum) {
  ErrorKind kind = errnum == ENOENT ? ErrorKind::NotFound : ErrorKind::IOError;
  throw Error(kind, what + " '" + path.string() + "': " + systemErrorText(errnum),
              kind == ErrorKind::NotFound ? std::string() : systemErrorRemedy(errnum));
}

}  // namespace

File File::open(const std::filesystem::path& path, Mode mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::Read: flags |= O_RDONLY; break;
    case Mode::ReadWrite: flags |= O_RDWR; break;
    case Mode::Create: flags |= O_RDWR | O_CREAT; break;
  }
  int fd = ::open(path.c_str(), flags, 0666);
  if (fd < 0)
    fail(mode == Mode::Create ? "No se pudo crear el archivo" : "No se pudo abrir el archivo", path, errno);
  return File(path, fd);
}

File::File(File&& other) noexcept : path_(std::move(other.path_)), fd_(other.fd_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    path_ = std::move(other.path_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

std::size_t File::readAt(std::uint64_t offset, std::span<char> buffer) const {
  std::size_t done = 0;
  while (done < buffer.size()) {
    ssize_t n = ::pread(fd_, buffer.data() + done, buffer.size() - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("No se pudo leer el archivo", path_, errno);
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

void File::writeAt(std::uint64_t offset, std::string_view bytes) {
  std::size_t allowed = bytes.size();
  int injected = 0;
  if (ScopedWriteFailure* failure = g_injected) {
    std::uint64_t counted = allowed;
    if (failure->kind_ == ScopedWriteFailure::Kind::DiskFull) {
      const std::uint64_t size = this->size();
      const std::uint64_t inside = size > offset ? std::min<std::uint64_t>(size - offset, allowed) : 0;
      counted = allowed - inside;
      if (failure->budget_ < counted) {
        allowed = static_cast<std::size_t>(inside + failure->budget_);
        injected = ENOSPC;
      }
    } else if (failure->budget_ < counted) {
      allowed = 0;
      injected = EIO;
    }
    failure->writes_.push_back(counted);
    failure->budget_ -= std::min(failure->budget_, counted);
    if (injected == EIO) failure->budget_ = UINT64_MAX;  // the device works again
  }
  std::size_t done = 0;
  while (done < allowed) {
    ssize_t n = ::pwrite(fd_, bytes.data() + done, allowed - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      fail("No se pudo escribir en el archivo", path_, errno);
    }
    done += static_cast<std::size_t>(n);
  }
  if (injected) fail("No se pudo escribir en el archivo", path_, injected);
}

std::uint64_t File::size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) fail("No se pudo leer el archivo", path_, errno);
  return static_cast<std::uint64_t>(st.st_size);
}

void File::truncate(std::uint64_t length) {
  if (::ftruncate(fd_, static_cast<off_t>(length)) != 0)
    fail("No se pudo escribir en el archivo", path_, errno);
}

void File::sync() {
  if (::fsync(fd_) != 0) fail("No se pudo escribir en el archivo", path_, errno);
}

void File::startWriteback() noexcept {
#ifdef __linux__
  if (fd_ >= 0) ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

void File::close() {
  if (fd_ < 0) return;
  int fd = fd_;
  fd_ = -1;
  // Some file systems report a failed delayed write only here.
  if (::close(fd) != 0 && errno != EINTR) fail("No se pudo cerrar el archivo", path_, errno);
}

namespace {

// Large enough that a disk write costs little per byte, small enough not to matter in memory.
constexpr std::size_t kAtomicBufferBytes = 64 * 1024;

std::filesystem::path folderOf(const std::filesystem::path& target) {
  return target.parent_path().empty() ? "." : target.parent_path();
}

}  // namespace

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target)) {
  const std::filesystem::path folder = folderOf(target_);
  struct stat existing {};
  const bool exists = ::stat(target_.c_str(), &existing) == 0;
  // A read-only file stays as it is, as on Windows, even for an administrator.
  if (exists && S_ISDIR(existing.st_mode)) fail("No se pudo escribir el archivo", target_, EISDIR);
  if (exists && isReadOnly(target_)) fail("No se pudo escribir el archivo", target_, EACCES);
  std::random_device rd;
  for (int attempt = 0;; ++attempt) {
    temp_ = folder / ("." + target_.filename().string() + "." + std::to_string(rd() % 1000000) + ".tmp");
    int fd = ::open(temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      // Its errors name the file the user knows: the temporary one is gone when they are read.
      file_ = File(target_, fd);
      break;
    }
    if (errno != EEXIST || attempt > 100) fail("No se pudo escribir el archivo", target_, errno);
  }
  if (exists) ::fchmod(file_.descriptor(), existing.st_mode & 07777);
}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::requireUnfinished() const {
  if (finished_)
    throw Error(ErrorKind::InvalidArgument,
                "No se puede seguir escribiendo el archivo '" + target_.string() + "'");
}

void AtomicFile::append(std::string_view bytes) {
  requireUnfinished();
  if (buffer_.size() + bytes.size() <= kAtomicBufferBytes) {
    buffer_ += bytes;
    return;
  }
  try {
    writeBuffer();
    if (bytes.size() < kAtomicBufferBytes) {
      buffer_ = bytes;
      return;
    }
    file_.writeAt(written_, bytes);
    written_ += bytes.size();
  } catch (...) {
    discard();
    throw;
  }
}

void AtomicFile::writeBuffer() {
  if (buffer_.empty()) return;
  file_.writeAt(written_, buffer_);
  written_ += buffer_.size();
  buffer_.clear();
}

void AtomicFile::commit() {
  requireUnfinished();
  try {
    writeBuffer();
    file_.sync();
    file_.close();
    if (::rename(temp_.c_str(), target_.c_str()) != 0) fail("No se pudo escribir el archivo", target_, errno);
  } catch (...) {
    discard();
    throw;
  }
  finished_ = true;
  // The rename itself survives a power cut only once the folder is on disk too.
  int dir = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

void AtomicFile::discard() noexcept {
  if (finished_) return;
  finished_ = true;
  file_ = File();
  std::string().swap(buffer_);
  std::error_code ignored;
  std::filesystem::remove(temp_, ignored);
}

void writeFileAtomically(const std::filesystem::path& target, std::string_view contents) {
  AtomicFile file(target);
  file.append(contents);
  file.commit();
}

bool isReadOnly(const std::filesystem::path& path) noexcept {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0;
}

bool recordLock(int fd, short type, std::int64_t start, std::int64_t length) noexcept {
  struct flock range {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = static_cast<off_t>(start);
  range.l_len = static_cast<off_t>(length);
  return ::fcntl(fd, F_OFD_SETLK, &range) == 0;
}

bool lockWholeFile(int fd, bool exclusive) noexcept {
  if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) return false;
  auto both = [&](short type) {
    if (!recordLock(fd, type, 0, kAppendTurnByte)) return false;
    if (recordLock(fd, type, kAppendTurnByte + 1, 0)) return true;
    const int failed = errno;
    recordLock(fd, F_UNLCK, 0, kAppendTurnByte);
    errno = failed;
    return false;
  };
  // A file open for reading only takes no write lock; a read lock still keeps Windows
  // programs from locking any of it.
  if (both(exclusive ? F_WRLCK : F_RDLCK) || (exclusive && errno == EBADF && both(F_RDLCK))) return true;
  if (errno != EAGAIN && errno != EACCES) return true;  // no record locks here
  ::flock(fd, LOCK_UN);
  errno = EWOULDBLOCK;
  return false;
}

bool removeUnlessInUse(const std::filesystem::path& path) noexcept {
  if (isReadOnly(path)) return false;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    std::error_code ec;
    return std::filesystem::remove(path, ec) || !std::filesystem::exists(path, ec);
  }
  // Holding the lock while unlinking keeps another program from opening it in between.
  bool removed = lockWholeFile(fd, true) && ::unlink(path.c_str()) == 0;
  ::close(fd);
  return removed;
}

MoveResult moveUnlessInUse(const std::filesystem::path& from, const std::filesystem::path& to) {
  int fd = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ENOENT) return MoveResult::Absent;
    // Not a file that can be opened (a link, no permission): moved without a lock, or the
    // rename reports why not.
  } else if (!lockWholeFile(fd, true)) {
    ::close(fd);
    return MoveResult::InUse;
  }
  // Holding the lock while renaming keeps another program from opening it in between.
  const int failed = ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
  if (fd >= 0) ::close(fd);
  if (failed)
    throw Error(ErrorKind::IOError,
                "No se pudo mover " + from.string() + " a " + to.string() + ": " + systemErrorText(failed),
                systemErrorRemedy(failed));
  return MoveResult::Moved;
}

void renamePath(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    const int failed = errno;
    throw Error(failed == ENOENT ? ErrorKind::NotFound : ErrorKind::IOError,
                "No se pudo mover " + from.string() + " a " + to.string() + ": " + systemErrorText(failed),
                failed == ENOENT ? std::string() : systemErrorRemedy(failed));
  }
}

void syncFolder(const std::filesystem::path& folder) noexcept {
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  ::fsync(dir);
  ::close(dir);
}

void syncFile(const std::filesystem::path& path) {
  File file = File::open(path, File::Mode::Read);
  file.sync();
  file.close();
}

bool makeFolder(const std::filesystem::path& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  const int failed = errno;
  struct stat st {};
  if (failed == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return false;
  if (failed == EEXIST)
    throw Error(ErrorKind::IOError,
                "No se pudo crear la carpeta " + path.string() + ": hay un archivo con ese nombre",
                "Cámbiele el nombre al archivo o llévelo a otra carpeta, y vuelva a intentarlo.");
  throw Error(ErrorKind::IOError,
              "No se pudo crear la carpeta " + path.string() + ": " + systemErrorText(failed),
              systemErrorRemedy(failed));
}

int probeMove(const std::filesystem::path& from, const std::filesystem::path& to) noexcept {
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = ".pontix." + std::to_string(rd() % 1000000) + ".tmp";
    const std::filesystem::path made = from / name, moved = to / name;
    const int fd = ::open(made.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    ::close(fd);
    struct stat st {};
    if (::lstat(moved.c_str(), &st) == 0) {
      ::unlink(made.c_str());
      continue;
    }
    const int failed = ::rename(made.c_str(), moved.c_str()) == 0 ? 0 : errno;
    ::unlink(failed ? made.c_str() : moved.c_str());
    return failed;
  }
  return EEXIST;
}

bool isInUse(const std::filesystem::path& path) noexcept {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  const bool free = lockWholeFile(fd, true);
  ::close(fd);
  return !free;
}

LockFile::Result LockFile::acquire(const std::filesystem::path& path, LockFile& lock, int& error) {
  lock.release();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
      error = errno;
      return Result::Failed;
    }
    if (!lockWholeFile(fd, true)) {
      error = errno;
      ::close(fd);
      return error == EWOULDBLOCK ? Result::Busy : Result::Failed;
    }
    // The holder before may have removed the file between our open and our lock.
    struct stat held {
    }, named{};
    if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
        held.st_dev == named.st_dev) {
      lock.path_ = path;
      lock.fd_ = fd;
      return Result::Locked;
    }
    ::close(fd);
  }
  error = EAGAIN;
  return Result::Busy;
}

LockFile::LockFile(LockFile&& other) noexcept : path_(std::move(other.path_)), fd_(other.fd_) {
  other.fd_ = -1;
}

LockFile& LockFile::operator=(LockFile&& other) noexcept {
  if (this != &other) {
    release();
    path_ = std::move(other.path_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

void LockFile::release() noexcept {
  if (fd_ < 0) return;
  // Removed while still locked: whoever opens it next finds it gone and makes a new one.
  ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
}

std::string readWholeFile(const std::filesystem::path& path) {
  File file = File::open(path, File::Mode::Read);
  std::string data(file.size(), '\0');
  data.resize(file.readAt(0, data));
  return data;
}

ScopedWriteFailure::ScopedWriteFailure(std::uint64_t bytes, Kind kind)
    : budget_(bytes), kind_(kind), enclosing_(g_injected) {
  g_injected = this;
}
ScopedWriteFailure::~ScopedWriteFailure() { g_injected = enclosing_; }

}  // namespace pontix::io

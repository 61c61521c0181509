#include "FuzzSupport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace pontix::fuzz {
namespace {

std::filesystem::path base() {
  if (const char* dir = std::getenv("PONTIX_FUZZ_DIR"); dir && *dir) return dir;
  std::error_code ec;
  if (std::filesystem::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0) return "/dev/shm";
  return std::filesystem::temp_directory_path();
}

std::filesystem::path makeScratch() {
  std::string pattern = (base() / "pontix-fuzz-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) fail("no se pudo crear la carpeta de trabajo del fuzzer");
  return pattern;
}

}  // namespace

const std::filesystem::path& scratch() {
  static const std::filesystem::path dir = makeScratch();
  static const bool cleanup = [] {
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(scratch(), ec);
    });
    return true;
  }();
  (void)cleanup;
  return dir;
}

void put(const std::filesystem::path& file, std::string_view bytes) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) fail(std::strerror(errno));
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail(std::strerror(errno));
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

void drop(const std::filesystem::path& file) {
  if (::unlink(file.c_str()) != 0 && errno != ENOENT) fail(std::strerror(errno));
}

void note(const std::exception& e) {
  static const bool trace = std::getenv("PONTIX_FUZZ_TRAZA") != nullptr;
  if (trace) std::fprintf(stderr, "fuzz: %s\n", e.what());
}

void fail(const char* what) {
  std::fprintf(stderr, "fuzz: %s\n", what);
  std::abort();
}

}  // namespace pontix::fuzz

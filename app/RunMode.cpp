#include "app/RunMode.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>

#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/Profile.h"
#include "platform/WinPath.h"

namespace pontix {

namespace fs = std::filesystem;

namespace {

// Why a folder takes no new file, when it is for want of permission; nothing otherwise (a
// folder that is not there is the writer's to report).
std::optional<std::string> refusalOf(const fs::path& folder) {
  if (::access(folder.c_str(), W_OK | X_OK) == 0) return std::nullopt;
  if (errno == EACCES || errno == EPERM) return "no tiene permiso de escritura";
  if (errno == EROFS) return "está en un sistema de archivos de solo lectura";
  return std::nullopt;
}

// The path with its "." parts and doubled separators gone. ".." stays: past a symbolic link
// it does not mean the lexical parent.
fs::path withoutDots(const fs::path& path) {
  fs::path out;
  for (const fs::path& part : path)
    if (!part.empty() && part != ".") out /= part;
  return out;
}

fs::path absoluteFrom(const fs::path& folder, const fs::path& path) {
  return withoutDots(path.is_absolute() ? path : folder / path);
}

bool isExecutableFile(const fs::path& file) {
  struct stat st {};
  return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(file.c_str(), X_OK) == 0;
}

// "C:\Horalia\pontix.exe" and the like, as Wine gives a native program it starts.
bool isWindowsPath(std::string_view path) {
  const bool letter =
      path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  return letter && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

// The folder of a Windows path under Wine: the drive through the prefix's dosdevices link,
// each folder below it matched ignoring case as Windows does. Nothing when it is not there.
std::optional<fs::path> wineFolder(std::string_view windowsPath, const fs::path& winePrefix) {
  const char drive = static_cast<char>(windowsPath[0] | 0x20);
  std::string_view rest = windowsPath.substr(3);
  const std::size_t last = rest.find_last_of("\\/");
  rest = last == std::string_view::npos ? std::string_view() : rest.substr(0, last);
  const fs::path folder =
      resolveWindowsFolders(winePrefix / "dosdevices" / (std::string(1, drive) + ":"), rest);
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return std::nullopt;
  return folder;
}

}  // namespace

std::optional<std::int32_t> parseHostHandle(std::string_view argument) {
  if (argument.empty()) return std::nullopt;
  std::uint64_t value = 0;
  int significant = 0;
  for (char c : argument) {
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return std::nullopt;
    if (value != 0 || digit != 0) ++significant;
    if (significant > 8) return std::nullopt;
    value = value * 16 + static_cast<std::uint64_t>(digit);
  }
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::string invalidHandleText(std::string_view argument) {
  return "'$" + std::string(argument) + "' no es un valor entero válido";
}

bool namesOperation(std::string_view argument, std::string_view operation) {
  if (argument.size() != operation.size()) return false;
  for (std::size_t i = 0; i < argument.size(); ++i) {
    char c = argument[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != operation[i]) return false;
  }
  return true;
}

void checkResultFolder(const std::filesystem::path& iniFile) {
  // The file is replaced whole, so the folder must take a new file even when the old one
  // could be written.
  const fs::path folder = iniFile.has_parent_path() ? iniFile.parent_path() : fs::path(".");
  if (const std::optional<std::string> refusal = refusalOf(folder))
    throw Error(
        ErrorKind::IOError,
        "No se puede dejar el resultado para Horalia en la carpeta " + folder.string() + ": " + *refusal,
        "Ponga pontix junto a Horalia (un enlace simbólico o una copia en su carpeta).");
}

void writeResultFlag(const std::filesystem::path& iniFile, std::int32_t flag) {
  checkResultFolder(iniFile);
  writeProfileString(iniFile, "Transformadores", "Transformado", std::to_string(flag));
}

LaunchEnvironment processLaunchEnvironment() {
  LaunchEnvironment environment;
  if (const char* path = std::getenv("PATH")) environment.path = path;
  std::error_code ec;
  environment.currentFolder = fs::current_path(ec);
  environment.executable = fs::read_symlink("/proc/self/exe", ec);
  if (const char* prefix = std::getenv("WINEPREFIX"); prefix && *prefix)
    environment.winePrefix = prefix;
  else if (const char* home = std::getenv("HOME"); home && *home)
    environment.winePrefix = fs::path(home) / ".wine";
  return environment;
}

fs::path launchFolder(std::string_view argv0, const LaunchEnvironment& environment) {
  if (isWindowsPath(argv0) && !environment.winePrefix.empty()) {
    if (std::optional<fs::path> folder = wineFolder(argv0, environment.winePrefix)) return *folder;
  } else if (argv0.find('/') != std::string_view::npos) {
    return absoluteFrom(environment.currentFolder, fs::path(argv0).parent_path());
  } else if (!argv0.empty() && environment.path) {
    // As execvp looks: in order, an empty entry standing for the current folder.
    std::string_view entries = *environment.path;
    while (true) {
      const std::size_t end = std::min(entries.find(':'), entries.size());
      const fs::path folder = absoluteFrom(environment.currentFolder, fs::path(entries.substr(0, end)));
      if (isExecutableFile(folder / argv0)) return folder;
      if (end == entries.size()) break;
      entries.remove_prefix(end + 1);
    }
  }
  if (!environment.executable.empty()) return environment.executable.parent_path();
  return environment.currentFolder;
}

fs::path launchFolder(std::string_view argv0) { return launchFolder(argv0, processLaunchEnvironment()); }

std::string helpFileLocation(const std::string& name, const fs::path& executable) {
  if (name.empty() || name.find_first_of("/\\") != std::string::npos) return name;
  const fs::path folder = executable.parent_path();
  std::error_code ec;
  if (fs::exists(folder / name, ec)) return name;
  const fs::path installed = folder.parent_path() / "share" / "pontix" / name;
  if (fs::exists(installed, ec)) return installed.string();
  return name;
}

namespace {

int endMarkerFd = -1;
std::string endMarkerPath;

void removeEndMarker() {
  if (endMarkerFd < 0) return;
  ::unlink(endMarkerPath.c_str());
  ::close(endMarkerFd);
  endMarkerFd = -1;
}

}  // namespace

void holdEndMarker() {
  const char* path = std::getenv("PONTIX_MARCA_FIN");
  if (!path || !*path || endMarkerFd >= 0) return;
  endMarkerPath = path;
  ::unsetenv("PONTIX_MARCA_FIN");  // for this program alone, not for what it starts
  // Only a file the launcher made: never a link, never anything to create.
  const int fd = ::open(endMarkerPath.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  struct stat st {};
  if (fd < 0) return;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !io::lockWholeFile(fd, true)) {
    ::close(fd);
    return;
  }
  static constexpr char kRunning[] = "pontix\n";
  if (::pwrite(fd, kRunning, sizeof kRunning - 1, 0) != static_cast<ssize_t>(sizeof kRunning - 1)) {
    ::close(fd);
    return;
  }
  endMarkerFd = fd;
  std::atexit(removeEndMarker);
}

}  // namespace pontix

#include "platform/WinPath.h"

#include <cstdlib>
#include <string>
#include <system_error>

#include "platform/Error.h"

namespace pontix {

bool sameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

namespace {

const char* env(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? value : nullptr;
}

bool isDirectory(const std::filesystem::path& p) {
  std::error_code ec;
  return std::filesystem::is_directory(p, ec);
}

}  // namespace

std::filesystem::path driveCRoot() {
  if (const char* drive = env("PONTIX_DRIVE_C")) return drive;
  if (const char* prefix = env("WINEPREFIX")) {
    std::filesystem::path p = std::filesystem::path(prefix) / "drive_c";
    if (isDirectory(p)) return p;
  }
  const char* home = env("HOME");
  if (home) {
    std::filesystem::path p = std::filesystem::path(home) / ".wine" / "drive_c";
    if (isDirectory(p)) return p;
  }
  if (const char* data = env("XDG_DATA_HOME")) return std::filesystem::path(data) / "pontix" / "drive_c";
  return std::filesystem::path(home ? home : ".") / ".local" / "share" / "pontix" / "drive_c";
}

std::filesystem::path resolveIgnoringCase(const std::filesystem::path& folder, std::string_view name) {
  std::filesystem::path exact = folder / std::string(name);
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(exact, ec))) return exact;
  for (std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    std::string entry = it->path().filename().string();
    if (sameIgnoringAsciiCase(entry, name)) return folder / entry;
  }
  return exact;
}

std::filesystem::path mapWindowsPath(std::string_view windowsPath) {
#ifdef _WIN32
  return std::filesystem::path(std::string(windowsPath));
#else
  std::string_view rest = windowsPath;
  if (rest.size() >= 2 && rest[1] == ':') {
    char drive = rest[0];
    if (drive != 'c' && drive != 'C')
      throw Error(ErrorKind::NotFound, "La unidad " + std::string(1, drive) + ": no existe en este sistema");
    rest.remove_prefix(2);
  }
  // Both absolute and drive-relative forms start at the drive root: the converter's working
  // directory never depends on a current directory.
  return resolveWindowsFolders(driveCRoot(), rest);
#endif
}

std::filesystem::path resolveWindowsFolders(const std::filesystem::path& root,
                                            std::string_view windowsFolder) {
  std::filesystem::path result = root;
  std::string_view rest = windowsFolder;
  while (!rest.empty()) {
    std::size_t cut = rest.find_first_of("\\/");
    std::string_view component = rest.substr(0, cut);
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    if (component.empty() || component == ".") continue;
    if (component == "..") {
      if (result != root) result = result.parent_path();
      continue;
    }
    result = resolveIgnoringCase(result, component);
  }
  return result;
}

}  // namespace pontix

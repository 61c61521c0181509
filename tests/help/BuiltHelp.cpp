#include "help/BuiltHelp.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace pontix::help::testing {

namespace fs = std::filesystem;

namespace {

// A private folder, removed when the program ends.
struct ScratchFolder {
  fs::path path;
  ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "pontix-ayuda-XXXXXX").string();
    if (mkdtemp(pattern.data())) path = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
};

ScratchFolder& scratch() {
  static ScratchFolder folder;
  return folder;
}

std::string build() {
  const fs::path project = scratch().path / "proyecto";
  std::error_code error;
  fs::copy(HELP_FIXTURE_DIR, project, fs::copy_options::recursive, error);
  if (error) return {};
  // chmcmd's exit code says nothing: the file it leaves does.
  const std::string command =
      "cd '" + project.string() + "' && '" CHMCMD "' --no-html-scan ayuda.hhp > chmcmd.log 2>&1";
  [[maybe_unused]] const int status = std::system(command.c_str());
  const fs::path chm = project / "ayuda.chm";
  return fs::is_regular_file(chm) && fs::file_size(chm) > 0 ? chm.string() : std::string();
}

}  // namespace

const std::string& builtHelpFile() {
  static const std::string file = build();
  return file;
}

std::string fixtureBytes(const std::string& name) {
  std::ifstream in(fs::path(HELP_FIXTURE_DIR) / name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string writeScratchFile(const std::string& name, const std::string& bytes) {
  const fs::path path = scratch().path / name;
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path.string();
}

}  // namespace pontix::help::testing

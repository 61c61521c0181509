#include "exportar/PreviousTables.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <system_error>
#include <vector>

#include "exportar/Cursost.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/WinPath.h"

namespace pontix {
namespace {

namespace fs = std::filesystem;

bool isThere(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

// A file held for the time of a restore, so that no program opens it in between; refused when
// another program has it open.
class HeldFile {
 public:
  explicit HeldFile(const fs::path& path) {
    if (!isThere(path)) return;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd_ >= 0 && !io::lockWholeFile(fd_, true)) {
      ::close(fd_);
      throw Error(ErrorKind::Locked, "La tabla " + path.string() + " está abierta por otro programa");
    }
  }
  ~HeldFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

 private:
  int fd_ = -1;
};

// Renames done one after the other, undone in reverse when one fails.
class Renames {
 public:
  void add(const fs::path& from, const fs::path& to) {
    if (!isThere(from)) return;
    std::error_code ec;
    fs::rename(from, to, ec);
    if (ec)
      throw Error(ErrorKind::IOError, "No se pudo mover " + from.string() + " a " + to.string() + ": " +
                                          systemErrorText(ec.value()));
    done_.emplace_back(from, to);
  }
  void undo() noexcept {
    for (auto it = done_.rbegin(); it != done_.rend(); ++it) {
      std::error_code ec;
      fs::rename(it->second, it->first, ec);
    }
    done_.clear();
  }

 private:
  std::vector<std::pair<fs::path, fs::path>> done_;
};

std::string tableNameOf(std::string_view name) {
  std::string upper(name);
  std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
  if (upper.size() > 4 && upper.ends_with(".DBF")) upper.resize(upper.size() - 4);
  const bool plain =
      !upper.empty() && upper.size() <= 32 &&
      std::all_of(upper.begin(), upper.end(), [](unsigned char c) { return std::isalnum(c) || c == '_'; });
  if (!plain)
    throw Error(ErrorKind::InvalidArgument,
                "'" + std::string(name) +
                    "' no es el nombre de una tabla de trabajo (por ejemplo ASIGT o DIASHORAST)");
  return upper;
}

}  // namespace

fs::path previousTablesFolder(const fs::path& workingDirectory) {
  return resolveIgnoringCase(workingDirectory, "ANTERIOR");
}

void keepPreviousTable(const dbase::Table& table, const fs::path& workingDirectory,
                       RunReport& report) noexcept {
  std::string name;
  try {
    name = table.tableName();
    const fs::path dbf = table.filePath(), mdx = table.indexPathOf(dbf);
    std::error_code ec;
    if (!fs::is_regular_file(dbf, ec)) return;
    const fs::path folder = previousTablesFolder(workingDirectory);
    if (!fs::create_directory(folder, ec) && !fs::is_directory(folder))
      throw Error(ErrorKind::IOError,
                  "No se pudo crear la carpeta " + folder.string() + ": " +
                      (ec ? systemErrorText(ec.value()) : std::string("existe un archivo con ese nombre")));
    // The table goes in under a temporary name first: one another program holds stays where
    // it is (replacing it then fails and says so), and the earlier copy stays with it.
    const fs::path newDbf = folder / (name + ".DBF.nueva"), newMdx = folder / (name + ".MDX.nueva");
    if (io::moveUnlessInUse(dbf, newDbf) != io::MoveResult::Moved) return;
    if (io::moveUnlessInUse(mdx, newMdx) == io::MoveResult::InUse) {
      io::moveUnlessInUse(newDbf, dbf);
      throw Error(ErrorKind::Locked, "El índice " + mdx.string() + " está abierto por otro programa");
    }
    // Then what an earlier run left goes, also under another letter case, so that a table is
    // never kept with an index that is not its own.
    for (const char* extension : {".DBF", ".MDX"}) {
      const fs::path earlier = resolveIgnoringCase(folder, name + extension);
      if (isThere(earlier) && !io::removeUnlessInUse(earlier))
        throw Error(ErrorKind::Locked,
                    "La copia anterior " + earlier.string() +
                        " está abierta por otro programa o es de solo lectura; la tabla queda en " +
                        newDbf.string());
    }
    io::moveUnlessInUse(newDbf, folder / (name + ".DBF"));
    io::moveUnlessInUse(newMdx, folder / (name + ".MDX"));
    report.keptPrevious(name);
  } catch (const std::exception& e) {
    try {
      report.noteText(RunReport::Kind::PreviousNotKept, name, e.what());
    } catch (...) {
    }
  } catch (...) {
  }
}

PreviousLevels previousCourseLevels(const fs::path& workingDirectory) {
  PreviousLevels levels;
  const fs::path folder = previousTablesFolder(workingDirectory);
  std::error_code ec;
  if (!fs::is_regular_file(resolveIgnoringCase(folder, "CURSOST.DBF"), ec)) return levels;
  dbase::Table previous(folder, "CURSOST");
  previous.open(dbase::OpenMode::Shared);
  dbase::Field CODI = previous.field("CODI"), NIVEL = previous.field("NIVEL"),
               CURSO = previous.field("CURSO");
  for (previous.first(); !previous.eof(); previous.next()) {
    PreviousLevel level{NIVEL.asText(), CURSO.asText()};
    if (!missingAssignment(level.level) || !missingAssignment(level.number))
      levels.try_emplace(CODI.asText(), std::move(level));
  }
  previous.close();
  return levels;
}

bool hasPreviousLevels(dbase::Table& cursos, const PreviousLevels& previous) {
  if (previous.empty()) return false;
  dbase::Field CODI = cursos.field("CODI");
  for (cursos.first(); !cursos.eof(); cursos.next())
    if (previous.contains(CODI.asText())) return true;
  return false;
}

std::size_t fillFromPreviousLevels(dbase::Table& cursos, const PreviousLevels& previous) {
  if (previous.empty()) return 0;
  dbase::Field CODI = cursos.field("CODI"), NIVEL = cursos.field("NIVEL"), CURSO = cursos.field("CURSO");
  std::size_t changed = 0;
  for (cursos.first(); !cursos.eof(); cursos.next()) {
    auto found = previous.find(CODI.asText());
    if (found == previous.end()) continue;
    const bool level = missingAssignment(NIVEL.asText()) && !missingAssignment(found->second.level);
    const bool number = missingAssignment(CURSO.asText()) && !missingAssignment(found->second.number);
    if (!level && !number) continue;
    cursos.edit();
    if (level) NIVEL.setText(found->second.level);
    if (number) CURSO.setText(found->second.number);
    cursos.post();
    ++changed;
  }
  return changed;
}

std::string restorePreviousTable(const fs::path& workingDirectory, std::string_view tableName) {
  const std::string name = tableNameOf(tableName);
  const fs::path folder = previousTablesFolder(workingDirectory);
  const fs::path previousDbf = resolveIgnoringCase(folder, name + ".DBF");
  std::error_code ec;
  if (!fs::is_regular_file(previousDbf, ec))
    throw Error(ErrorKind::NotFound,
                "No hay ninguna versión anterior de la tabla " + name + " en " + folder.string());
  const fs::path previousMdx = resolveIgnoringCase(folder, name + ".MDX");
  const fs::path workingDbf = resolveIgnoringCase(workingDirectory, name + ".DBF");
  const fs::path workingMdx = resolveIgnoringCase(workingDirectory, name + ".MDX");
  HeldFile holds[] = {HeldFile(workingDbf), HeldFile(workingMdx), HeldFile(previousDbf),
                      HeldFile(previousMdx)};

  // The working version waits under a temporary name until the previous one is in its place.
  const fs::path parkedDbf = folder / (name + ".DBF.restaurando"),
                 parkedMdx = folder / (name + ".MDX.restaurando");
  Renames renames;
  try {
    renames.add(workingDbf, parkedDbf);
    renames.add(workingMdx, parkedMdx);
    renames.add(previousDbf, workingDirectory / (name + ".DBF"));
    renames.add(previousMdx, workingDirectory / (name + ".MDX"));
    renames.add(parkedDbf, folder / (name + ".DBF"));
    renames.add(parkedMdx, folder / (name + ".MDX"));
  } catch (...) {
    renames.undo();
    throw;
  }
  std::string done =
      "Restaurada la tabla " + name + " en " + workingDirectory.string() + " desde " + folder.string() + ".";
  if (isThere(folder / (name + ".DBF")))
    done += "\nLa que había queda en " + folder.string() +
            ": vuelva a restaurar la tabla para deshacer el cambio.";
  return done;
}

}  // namespace pontix

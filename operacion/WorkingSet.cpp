#include "operacion/WorkingSet.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <set>
#include <system_error>

#include "platform/Error.h"
#include "platform/WinPath.h"

namespace pontix {

constexpr const char* kJournalFirstLine =
    "Pontix 1: operación sin terminar; la próxima operación de Pontix en esta carpeta la deshace.";

namespace workingset {

// What an operation that may be stopped at any moment is doing, written (and flushed) before
// each step that matters. Paths are relative to the working folder, '/' between a folder and a
// name.
struct Move {
  std::string from, to;
};
struct Journal {
  std::string operation;  // "exportar" or "restaurar"
  std::string started;    // dd/mm/aaaa hh:mm
  std::string phase;      // exportar: "apartando" until it completed, then "confirmando"
  std::string previous;   // the name of the ANTERIOR folder
  std::vector<Move> moves;
  std::size_t done = 0;  // restaurar: the moves made, in order

  std::string text() const {
    std::string out = std::string(kJournalFirstLine) + "\noperacion\t" + operation + "\nfecha\t" + started +
                      "\nfase\t" + phase + "\nanterior\t" + previous + "\nhechos\t" + std::to_string(done) +
                      "\n";
    for (const Move& m : moves) out += "mover\t" + m.from + "\t" + m.to + "\n";
    return out;
  }
};

}  // namespace workingset

namespace {

using workingset::Journal;
using workingset::Move;

namespace fs = std::filesystem;

constexpr const char* kLockName = "PONTIX.LCK";
constexpr const char* kJournalName = "PONTIX.DIARIO";
constexpr const char* kAsideName = "PONTIX.APARTADAS";

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool isThere(const fs::path& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

bool isFolder(const fs::path& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// The table a working-set file belongs to ("ASIGT" for "asigt.dbf"), or "" for any other name.
std::string tableOfFile(std::string_view name) {
  const std::string up = upper(name);
  if (up.size() < 5 || (!up.ends_with(".DBF") && !up.ends_with(".MDX"))) return {};
  const std::string stem = up.substr(0, up.size() - 4);
  const std::vector<std::string>& tables = workingTableNames();
  return std::find(tables.begin(), tables.end(), stem) != tables.end() ? stem : std::string();
}

std::size_t tableOrder(std::string_view name) {
  const std::vector<std::string>& tables = workingTableNames();
  return static_cast<std::size_t>(std::find(tables.begin(), tables.end(), tableOfFile(name)) -
                                  tables.begin());
}

// The entries of a folder whose names equal `name` ignoring letter case.
std::vector<std::string> entriesNamed(const fs::path& folder, std::string_view name) {
  std::vector<std::string> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string entry = it->path().filename().string();
    if (sameIgnoringAsciiCase(entry, name)) found.push_back(entry);
  }
  return found;
}

// Removes a file the way Windows would, or says why not.
void removeFile(const fs::path& path) {
  if (!isThere(path)) return;
  if (io::removeUnlessInUse(path)) return;
  if (io::isInUse(path))
    throw Error(ErrorKind::Locked, "El archivo " + path.string() + " está abierto por otro programa",
                kCloseTheOtherProgram);
  std::error_code ec;
  if (!fs::remove(path, ec) && isThere(path))
    throw Error(
        ErrorKind::IOError,
        "No se pudo borrar el archivo " + path.string() + ": " +
            (ec ? systemErrorText(ec.value()) : std::string("es de solo lectura")),
        ec ? systemErrorRemedy(ec.value()) : "Quítele la marca de solo lectura y vuelva a intentarlo.");
}

void removeEmptyFolder(const fs::path& path) noexcept {
  std::error_code ec;
  if (isFolder(path) && fs::is_empty(path, ec)) fs::remove(path, ec);
}

std::string now() {
  const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%d/%m/%Y %H:%M", &local);
  return text;
}

fs::path journalPath(const fs::path& work) { return work / kJournalName; }

void writeJournal(const fs::path& work, const Journal& journal) {
  io::writeFileAtomically(journalPath(work), journal.text());
}

void removeJournal(const fs::path& work) {
  std::error_code ec;
  fs::remove(journalPath(work), ec);
  if (ec)
    throw Error(ErrorKind::IOError, "No se pudo borrar el archivo " + journalPath(work).string() + ": " +
                                        systemErrorText(ec.value()));
  // Not flushed: a journal that comes back after a power cut only has its finished work done again.
}

// A name or folder/name of the working folder's own: never a way out of it.
bool plainRelative(std::string_view path) {
  if (path.empty() || path.size() > 255) return false;
  int parts = 0;
  for (std::size_t start = 0;;) {
    const std::size_t end = path.find('/', start);
    const std::string_view part = path.substr(start, end - start);
    if (part.empty() || part == "." || part == ".." || part.find('\\') != std::string_view::npos)
      return false;
    ++parts;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return parts <= 2;
}

Journal readJournal(const fs::path& work) {
  const fs::path file = journalPath(work);
  const std::string text = io::readWholeFile(file);
  auto damaged = [&]() -> Error {
    return Error(ErrorKind::Corruption,
                 "El diario de operaciones " + file.string() +
                     " está dañado y no se puede saber qué tablas hay que volver a poner. Las tablas que "
                     "había antes de esa operación están en " +
                     (work / kAsideName).string() + ": compruebe las de esa carpeta, las de " +
                     work.string() +
                     " y las de ANTERIOR, deje en la carpeta de trabajo las que quiera conservar y borre "
                     "después ese archivo y esa carpeta.");
  };
  Journal journal;
  bool first = true;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) throw damaged();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (first) {
      if (line != kJournalFirstLine) throw damaged();
      first = false;
      continue;
    }
    std::vector<std::string> fields;
    for (std::size_t from = 0;;) {
      const std::size_t tab = line.find('\t', from);
      fields.push_back(line.substr(from, tab - from));
      if (tab == std::string::npos) break;
      from = tab + 1;
    }
    const std::string& key = fields[0];
    if (key == "mover" && fields.size() == 3 && plainRelative(fields[1]) && plainRelative(fields[2]))
      journal.moves.push_back({fields[1], fields[2]});
    else if (fields.size() != 2)
      throw damaged();
    else if (key == "operacion")
      journal.operation = fields[1];
    else if (key == "fecha")
      journal.started = fields[1];
    else if (key == "fase")
      journal.phase = fields[1];
    else if (key == "anterior" && (fields[1].empty() || plainRelative(fields[1])))
      journal.previous = fields[1];
    else if (key == "hechos" && !fields[1].empty() && fields[1].size() < 6 &&
             fields[1].find_first_not_of("0123456789") == std::string::npos)
      journal.done = std::stoul(fields[1]);
    else
      throw damaged();
  }
  const bool known =
      (journal.operation == "exportar" && (journal.phase == "apartando" || journal.phase == "confirmando")) ||
      journal.operation == "restaurar";
  if (first || !known || journal.done > journal.moves.size() || journal.previous.empty()) throw damaged();
  return journal;
}

// --- Exportar ---------------------------------------------------------------------------------

// Puts the set aside back: each file still aside returns under its own name, after the new
// table of that name; then every table file the run made goes. Safe to repeat from any point.
void undoExport(const fs::path& work, const Journal& journal) {
  std::set<std::string> originals;
  for (const Move& m : journal.moves) originals.insert(m.from);
  for (auto it = journal.moves.rbegin(); it != journal.moves.rend(); ++it) {
    const fs::path aside = work / it->to;
    if (!isThere(aside)) continue;  // never moved, or already back
    // Whatever has its name now is the run's, but for an original of another letter case already back.
    for (const std::string& made : entriesNamed(work, it->from)) {
      const bool back = made != it->from && originals.count(made) && !isThere(work / kAsideName / made);
      if (!back) removeFile(work / made);
    }
    io::renamePath(aside, work / it->from);
  }
  for (const std::string& file : workingSetFiles(work))
    if (!originals.count(file)) removeFile(work / file);
  io::syncFolder(work);
  removeEmptyFolder(work / kAsideName);
  removeJournal(work);
}

// The last step of a completed Exportar: the set aside becomes ANTERIOR, whose earlier tables go.
// Safe to repeat from any point.
void finishExport(const fs::path& work, const Journal& journal) {
  if (!journal.moves.empty()) {
    const fs::path previous = work / journal.previous;
    std::set<std::string> kept, moved;
    for (const Move& m : journal.moves) {
      kept.insert(upper(m.from));
      moved.insert(m.from);
    }
    // What ANTERIOR holds of the working tables, looked up once: the folder is read a name at a time
    // otherwise.
    const std::vector<std::string> there = workingSetFiles(previous);
    for (const Move& m : journal.moves) {
      const std::string& name = m.from;
      const fs::path aside = work / m.to;
      if (!isThere(aside)) continue;
      for (const std::string& earlier : there) {
        const bool alreadyKept = moved.count(earlier) && !isThere(work / kAsideName / earlier);
        if (sameIgnoringAsciiCase(earlier, name) && earlier != name && !alreadyKept)
          removeFile(previous / earlier);
      }
      io::renamePath(aside, previous / name);
    }
    for (const std::string& file : workingSetFiles(previous))
      if (!kept.count(upper(file))) removeFile(previous / file);
    io::syncFolder(previous);
  }
  removeEmptyFolder(work / kAsideName);
  removeJournal(work);
}

// A run refused before any table was touched: the cause, that nothing changed, what to do.
Error refused(ErrorKind kind, const std::string& cause, const std::string& remedy) {
  return Error(kind, cause + ". " + kNothingChanged, remedy);
}

// The remedy an error already carries, which knows its cause best, or this one.
std::string remedyOr(const Error& e, const std::string& fallback) {
  return e.remedy().empty() ? fallback : e.remedy();
}

// A folder named like a table in ANTERIOR would stop the move of that table's earlier version
// into it, half way through.
std::optional<fs::path> folderNamedLikeATable(const fs::path& previous) {
  std::error_code ec;
  for (fs::directory_iterator it(previous, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code statusError;
    if (!tableOfFile(it->path().filename().string()).empty() &&
        it->symlink_status(statusError).type() == fs::file_type::directory)
      return it->path();
  }
  return std::nullopt;
}

// Everything the commit will need of ANTERIOR, checked before a table is touched.
void checkPreviousFolder(const fs::path& work, const fs::path& previous) {
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(previous, ec);
  if (fs::exists(status) && !isFolder(previous))
    throw refused(ErrorKind::IOError,
                  "En la carpeta de trabajo hay un archivo " + previous.string() +
                      " donde Pontix guarda la versión anterior de las tablas",
                  "Cámbielo de nombre o llévelo a otra carpeta y vuelva a exportar.");
  if (!fs::exists(status)) {
    try {
      io::makeFolder(previous);
    } catch (const Error& e) {
      throw refused(
          ErrorKind::IOError,
          e.message() + " (la carpeta donde Pontix guarda la versión anterior de las tablas)",
          remedyOr(e,
                   "Compruebe que la carpeta de trabajo admite cambios y que queda espacio en el disco, "
                   "y vuelva a exportar."));
    }
    io::syncFolder(work);
  }
  if (const std::optional<fs::path> folder = folderNamedLikeATable(previous))
    throw refused(ErrorKind::IOError,
                  "En la carpeta de la versión anterior hay una carpeta " + folder->string() +
                      " con el nombre de una tabla",
                  "Cámbiele el nombre a esa carpeta o llévela a otro sitio, y vuelva a exportar.");
  if (const int error = io::probeMove(work, previous)) {
    if (error == EXDEV)
      throw refused(
          ErrorKind::IOError,
          "La carpeta " + previous.string() +
              " está en otro disco o sistema de archivos que la carpeta de trabajo, y Pontix guarda "
              "allí la versión anterior de las tablas moviéndolas, sin copiarlas",
          "Ponga en su lugar una carpeta ANTERIOR corriente y vuelva a exportar.");
    throw refused(ErrorKind::IOError,
                  "No se puede guardar la versión anterior de las tablas en " + previous.string() + ": " +
                      systemErrorText(error),
                  systemErrorRemedy(error, "vuelva a exportar"));
  }
  for (const std::string& file : workingSetFiles(previous)) {
    const fs::path path = previous / file;
    if (io::isReadOnly(path))
      throw refused(
          ErrorKind::IOError,
          "La copia anterior " + path.string() + " es de solo lectura y esta exportación la sustituiría",
          "Quítele la marca de solo lectura o llévela a otra carpeta y vuelva a exportar.");
    if (io::isInUse(path))
      throw refused(ErrorKind::Locked,
                    "La copia anterior " + path.string() + " está abierta por otro programa",
                    "Ciérrela y vuelva a exportar.");
  }
}

// --- restaurar --------------------------------------------------------------------------------

// Whether move k of the journal was made although the journal does not say so yet.
bool madeUnrecorded(const fs::path& work, const Journal& journal, std::size_t k) {
  return k < journal.moves.size() && !isThere(work / journal.moves[k].from) &&
         isThere(work / journal.moves[k].to);
}

// Undoes the moves made, last first, the journal following each step.
void undoMoves(const fs::path& work, Journal journal) {
  if (madeUnrecorded(work, journal, journal.done)) ++journal.done;
  while (journal.done > 0) {
    const Move& m = journal.moves[journal.done - 1];
    if (isThere(work / m.to) && !isThere(work / m.from)) {
      // A run stopped after its last move has removed the folder of the set aside already.
      io::makeFolder((work / m.from).parent_path());
      io::renamePath(work / m.to, work / m.from);
      io::syncFolder((work / m.from).parent_path());
      io::syncFolder((work / m.to).parent_path());
    }
    --journal.done;
    writeJournal(work, journal);
  }
  removeEmptyFolder(work / kAsideName);
  removeJournal(work);
}

// A held file: open and locked for as long as the object lives, so that no program opens it
// while it moves; refused when another program has it open.
class HeldFile {
 public:
  explicit HeldFile(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(path, ec))) return;
    file_ = io::File::open(path, io::File::Mode::Read);
    if (!io::lockWholeFile(file_.descriptor(), true))
      throw Error(ErrorKind::Locked, "La tabla " + path.string() + " está abierta por otro programa",
                  kCloseTheOtherProgram);
  }

 private:
  io::File file_;
};

std::string tableNameOf(std::string_view name) {
  std::string up = upper(name);
  if (up.size() > 4 && up.ends_with(".DBF")) up.resize(up.size() - 4);
  const bool plain = !up.empty() && up.size() <= 32 && std::all_of(up.begin(), up.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  });
  if (!plain)
    throw Error(ErrorKind::InvalidArgument,
                "'" + std::string(name) +
                    "' no es el nombre de una tabla de trabajo (por ejemplo ASIGT o DIASHORAST)",
                "Escriba el nombre de la tabla sin carpeta, como ASIGT, o ninguno para restaurarlas todas.");
  return up;
}

std::string tablesIn(const std::vector<std::string>& files) {
  std::vector<std::string> tables;
  for (const std::string& file : files) {
    const std::string table = tableOfFile(file);
    if (std::find(tables.begin(), tables.end(), table) == tables.end()) tables.push_back(table);
  }
  std::string out;
  for (std::size_t i = 0; i < tables.size(); ++i) out += (i ? ", " : "") + tables[i];
  return out;
}

// A temporary file of Pontix's own that a stop left behind: ".MATIB.MDX.123456.tmp" (a table's
// index, the journal, the solution file, written aside) or ".pontix.123456.tmp" (io::probeMove's).
bool isOwnTemporary(std::string_view name) {
  if (name.size() <= 5 || name[0] != '.' || !name.ends_with(".tmp")) return false;
  const std::string_view inner = name.substr(1, name.size() - 5);
  const std::size_t dot = inner.find_last_of('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view target = inner.substr(0, dot), number = inner.substr(dot + 1);
  if (number.empty() || number.find_first_not_of("0123456789") != std::string_view::npos) return false;
  return !tableOfFile(target).empty() || target == kJournalName || target == "pontix" ||
         sameIgnoringAsciiCase(target, "SolucioHorari.xml");
}

// Files a stopped run left: temporary files of its own, and of earlier versions of Pontix a table
// on its way into ANTERIOR (the user's, newer than the copy there) or on its way back from it.
void tidyLeftovers(const fs::path& work) {
  bool tidied = false;
  const fs::path previous = previousTablesFolder(work);
  for (const fs::path& folder : {work, previous}) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
      if (isOwnTemporary(it->path().filename().string())) {
        removeFile(it->path());
        tidied = true;
      }
  }
  if (isFolder(previous)) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(previous, ec), end; !ec && it != end; it.increment(ec))
      names.push_back(it->path().filename().string());
    for (const std::string& name : names) {
      for (const std::string_view suffix : {".nueva", ".restaurando"}) {
        if (!name.ends_with(suffix)) continue;
        const std::string table = name.substr(0, name.size() - suffix.size());
        if (tableOfFile(table).empty()) continue;
        if (suffix == ".restaurando" && entriesNamed(work, table).empty()) {
          // It was stopped after the working table went aside: the previous one takes its place.
          for (const std::string& earlier : entriesNamed(previous, table)) {
            io::renamePath(previous / earlier, work / earlier);
            break;
          }
        }
        if (suffix == ".nueva" || entriesNamed(previous, table).empty()) {
          for (const std::string& earlier : entriesNamed(previous, table)) removeFile(previous / earlier);
          io::renamePath(previous / name, previous / table);
          tidied = true;
        }
      }
    }
  }
  if (tidied) {
    io::syncFolder(previous);
    io::syncFolder(work);
  }
}

// The folder the set aside goes into must be Pontix's own, and empty, when a run begins.
bool asideFolderTaken(const fs::path& aside) {
  std::error_code ec;
  return isThere(aside) && !(isFolder(aside) && fs::is_empty(aside, ec));
}

}  // namespace

const std::vector<std::string>& workingTableNames() {
  static const std::vector<std::string> names = {"ASIGNOMT", "PROFT", "AULAT", "CURSOST",
                                                 "GRUPOST",  "MATIB", "ASIGT", "DIASHORAST"};
  return names;
}

fs::path previousTablesFolder(const fs::path& workingDirectory) {
  return resolveIgnoringCase(workingDirectory, "ANTERIOR");
}

std::vector<std::string> workingSetFiles(const fs::path& folder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code statusError;
    if (tableOfFile(name).empty() || it->symlink_status(statusError).type() == fs::file_type::directory)
      continue;
    files.push_back(name);
  }
  std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
    const std::size_t ta = tableOrder(a), tb = tableOrder(b);
    return ta != tb ? ta < tb : a < b;
  });
  return files;
}

FolderLock::FolderLock(const fs::path& workingDirectory, Purpose purpose) {
  int error = 0;
  switch (io::LockFile::acquire(workingDirectory / kLockName, file_, error)) {
    case io::LockFile::Result::Locked: return;
    case io::LockFile::Result::Busy:
      throw Error(ErrorKind::Locked,
                  "Otra operación de Pontix está en marcha en la carpeta " + workingDirectory.string(),
                  "Espere a que termine y vuelva a intentarlo.");
    case io::LockFile::Result::Failed: break;
  }
  if (error == ENOENT || (error == ENOTDIR && !isFolder(workingDirectory)))
    throw missingWorkingFolder(workingDirectory);
  const bool readOnly = error == EACCES || error == EPERM || error == EROFS;
  if (purpose == Purpose::Read && readOnly) return;
  throw Error(ErrorKind::IOError,
              "No se puede trabajar en la carpeta " + workingDirectory.string() + ": " +
                  systemErrorText(error) + ". " + kNothingChanged,
              systemErrorRemedy(error));
}

Error missingWorkingFolder(const fs::path& workingDirectory) {
  if (workingDirectory != mapWindowsPath("c:\\ktemp"))
    return Error(ErrorKind::NotFound, "No existe la carpeta de trabajo " + workingDirectory.string(),
                 "Créela, o elija otra carpeta de trabajo, y vuelva a intentarlo.");
  return Error(ErrorKind::NotFound, "No existe la carpeta de trabajo C:\\KTEMP",
               "Cree la carpeta C:\\KTEMP y vuelva a intentarlo.\nEn este equipo C:\\KTEMP es la carpeta " +
                   mapWindowsPath("C:\\KTEMP").string() + " (la unidad C: es la carpeta " +
                   driveCRoot().string() + ", que se cambia con la variable PONTIX_DRIVE_C).");
}

bool hasUnfinishedOperation(const fs::path& workingDirectory) {
  return isThere(journalPath(workingDirectory));
}

std::optional<std::string> recoverWorkingFolder(const fs::path& workingDirectory) {
  std::string said;
  if (hasUnfinishedOperation(workingDirectory)) {
    try {
      const Journal journal = readJournal(workingDirectory);
      if (journal.operation == "restaurar") {
        undoMoves(workingDirectory, journal);
        said = "Se ha deshecho una restauración de tablas que no terminó (" + journal.started + ").";
      } else if (journal.phase == "confirmando") {
        finishExport(workingDirectory, journal);
        said = "Se ha terminado de guardar en " + (workingDirectory / journal.previous).string() +
               " la versión anterior de una exportación que había terminado (" + journal.started + ").";
      } else {
        undoExport(workingDirectory, journal);
        said = "Se ha deshecho una exportación que no terminó (" + journal.started +
               "): las tablas de trabajo vuelven a ser las de antes.";
      }
    } catch (const Error& e) {
      if (e.kind() == ErrorKind::Corruption) throw;
      throw Error(e.kind(),
                  "Una operación de Pontix no terminó en la carpeta " + workingDirectory.string() +
                      " y no se ha podido deshacer: " + e.message(),
                  remedyOr(e, "Cierre los programas que tengan abiertas las tablas y vuelva a intentarlo."));
    }
  }
  tidyLeftovers(workingDirectory);
  if (said.empty()) return std::nullopt;
  return said;
}

ExportTransaction::ExportTransaction(fs::path workingDirectory)
    : workingDirectory_(std::move(workingDirectory)) {
  const fs::path& work = workingDirectory_;
  const std::vector<std::string> files = workingSetFiles(work);
  for (const std::string& file : files)
    if (io::isReadOnly(work / file))
      throw refused(ErrorKind::IOError, "La tabla " + (work / file).string() + " es de solo lectura",
                    "Quítele la marca de solo lectura y vuelva a exportar.");
  const fs::path previous = previousTablesFolder(work);
  if (!files.empty()) checkPreviousFolder(work, previous);

  Journal journal{.operation = "exportar",
                  .started = now(),
                  .phase = "apartando",
                  .previous = previous.filename().string(),
                  .moves = {},
                  .done = 0};
  for (const std::string& file : files) journal.moves.push_back({file, std::string(kAsideName) + "/" + file});
  const fs::path aside = work / kAsideName;
  if (asideFolderTaken(aside))
    throw refused(ErrorKind::IOError,
                  "En la carpeta de trabajo hay un archivo o una carpeta " + aside.string() +
                      " que no es de esta exportación",
                  "Revise lo que contiene, llévelo a otra carpeta y vuelva a exportar.");
  try {
    writeJournal(work, journal);
  } catch (const Error& e) {
    throw refused(e.kind(), e.message(),
                  remedyOr(e,
                           "Compruebe que queda espacio en el disco y que la carpeta admite cambios, y "
                           "vuelva a exportar."));
  }
  journal_ = std::make_unique<Journal>(std::move(journal));
  open_ = true;
  try {
    io::makeFolder(aside);
    for (const Move& m : journal_->moves) {
      if (io::moveUnlessInUse(work / m.from, work / m.to) == io::MoveResult::InUse)
        throw refused(ErrorKind::Locked,
                      "La tabla " + (work / m.from).string() + " está abierta por otro programa",
                      "Cierre Horalia (o el programa que tenga abierta la tabla) y vuelva a exportar.");
    }
    io::syncFolder(aside);
    io::syncFolder(work);
  } catch (const Error& e) {
    try {
      rollback();
    } catch (const std::exception& undo) {
      throw Error(e.kind(),
                  e.message() + "\nLas tablas de trabajo no se han podido dejar todavía como estaban (" +
                      undo.what() + "); la próxima operación de Pontix en esta carpeta lo hará",
                  "Cierre antes los programas que las tengan abiertas.");
    }
    if (std::string_view(e.what()).find(kNothingChanged) != std::string_view::npos) throw;
    throw refused(e.kind(), e.message(),
                  remedyOr(e, "Compruebe que la carpeta de trabajo admite cambios y vuelva a exportar."));
  }
}

ExportTransaction::~ExportTransaction() {
  if (!open_) return;
  try {
    rollback();
  } catch (...) {
    // The journal stays: the next operation in the folder puts the tables back.
  }
}

std::vector<std::string> ExportTransaction::commit() {
  const fs::path& work = workingDirectory_;
  // The new tables are on the disk before anything says the run completed.
  for (const std::string& file : workingSetFiles(work)) io::syncFile(work / file);
  io::syncFolder(work);
  Journal& journal = *journal_;
  journal.phase = "confirmando";
  writeJournal(work, journal);
  open_ = false;
  try {
    finishExport(work, journal);
  } catch (const Error& e) {
    throw Error(e.kind(),
                "Las tablas de trabajo nuevas están completas, pero la versión anterior no se ha podido "
                "dejar todavía en " +
                    (work / journal.previous).string() + ": " + e.message() +
                    ". La próxima operación de Pontix en esta carpeta terminará de hacerlo",
                "Cierre antes los programas que tengan abiertas esas tablas.");
  }
  std::vector<std::string> kept;
  for (const Move& m : journal.moves) {
    const std::string table = tableOfFile(m.from);
    if (std::find(kept.begin(), kept.end(), table) == kept.end()) kept.push_back(table);
  }
  return kept;
}

void ExportTransaction::rollback() {
  if (!open_) return;
  undoExport(workingDirectory_, *journal_);
  open_ = false;
}

std::string restorePrevious(const fs::path& workingDirectory, std::string_view table) {
  const fs::path& work = workingDirectory;
  const std::string only = table.empty() ? std::string() : tableNameOf(table);
  auto chosen = [&](const fs::path& folder) {
    std::vector<std::string> files = workingSetFiles(folder);
    if (!only.empty()) std::erase_if(files, [&](const std::string& f) { return tableOfFile(f) != only; });
    return files;
  };
  const fs::path previous = previousTablesFolder(work);
  const std::vector<std::string> earlier = isFolder(previous) ? chosen(previous) : std::vector<std::string>();
  if (const std::optional<fs::path> folder =
          isFolder(previous) ? folderNamedLikeATable(previous) : std::nullopt)
    throw Error(ErrorKind::IOError,
                "En la carpeta de la versión anterior hay una carpeta " + folder->string() +
                    " con el nombre de una tabla. No se ha cambiado ninguna tabla",
                "Cámbiele el nombre a esa carpeta o llévela a otro sitio, y vuelva a intentarlo.");
  if (earlier.empty())
    throw Error(
        ErrorKind::NotFound,
        only.empty() ? "No hay ninguna versión anterior de las tablas de trabajo en " + previous.string()
                     : "No hay ninguna versión anterior de la tabla " + only + " en " + previous.string(),
        "La versión anterior se guarda al exportar: no hay nada que restaurar hasta que se haya exportado "
        "al menos dos veces.");
  const std::vector<std::string> current = chosen(work);
  std::vector<HeldFile> held;
  held.reserve(current.size() + earlier.size());
  for (const std::string& f : current) held.emplace_back(work / f);
  for (const std::string& f : earlier) held.emplace_back(previous / f);

  const std::string previousName = previous.filename().string();
  Journal journal{.operation = "restaurar",
                  .started = now(),
                  .phase = "",
                  .previous = previousName,
                  .moves = {},
                  .done = 0};
  for (const std::string& f : current) journal.moves.push_back({f, std::string(kAsideName) + "/" + f});
  for (const std::string& f : earlier) journal.moves.push_back({previousName + "/" + f, f});
  for (const std::string& f : current)
    journal.moves.push_back({std::string(kAsideName) + "/" + f, previousName + "/" + f});
  const fs::path aside = work / kAsideName;
  if (asideFolderTaken(aside))
    throw Error(
        ErrorKind::IOError,
        "En la carpeta de trabajo hay un archivo o una carpeta " + aside.string() + " que no es de Pontix",
        "Revise lo que contiene, llévelo a otra carpeta y vuelva a intentarlo.");
  writeJournal(work, journal);
  try {
    io::makeFolder(aside);
    for (const Move& m : journal.moves) {
      io::renamePath(work / m.from, work / m.to);
      io::syncFolder((work / m.to).parent_path());
      io::syncFolder((work / m.from).parent_path());
      ++journal.done;
      writeJournal(work, journal);
    }
    removeEmptyFolder(aside);
    removeJournal(work);
  } catch (...) {
    try {
      undoMoves(work, journal);
    } catch (...) {
      // The journal stays: the next operation undoes the rest.
    }
    throw;
  }

  std::string done;
  if (only.empty()) {
    done = "Restauradas las tablas " + tablesIn(earlier) + " en " + work.string() + " desde " +
           previous.string() + ".";
    if (!current.empty())
      done += "\nLas que había quedan en " + previous.string() +
              ": vuelva a restaurar las tablas para deshacer el cambio.";
  } else {
    done = "Restaurada la tabla " + only + " en " + work.string() + " desde " + previous.string() + ".";
    if (!current.empty())
      done += "\nLa que había queda en " + previous.string() +
              ": vuelva a restaurar la tabla para deshacer el cambio.";
  }
  return done;
}

}  // namespace pontix

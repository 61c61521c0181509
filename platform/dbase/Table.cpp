#include "platform/dbase/Table.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

#include "platform/Error.h"
#include "platform/WinPath.h"
#include "platform/dbase/DbfValue.h"
#include "platform/dbase/Mdx.h"

namespace pontix::dbase {
namespace {

constexpr std::size_t kReadAheadBytes = 256 * 1024;
constexpr std::size_t kWriteBehindBytes = 1024 * 1024;
constexpr std::uint32_t kNoRecord = 0xFFFFFFFF;

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return out;
}

bool validFieldName(std::string_view name) {
  if (name.empty() || name.size() > format::kMaxFieldNameLength) return false;
  if (!((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'))) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  });
}

format::FieldLayout physical(const FieldDef& def) {
  format::FieldLayout f;
  f.name = upper(def.name);
  switch (def.kind) {
    case FieldKind::Text: f.type = 'C', f.width = def.width; break;
    case FieldKind::Integer: f.type = 'N', f.width = 11, f.decimals = 0; break;
    case FieldKind::Float: f.type = 'N', f.width = 20, f.decimals = 4; break;
    case FieldKind::Logical: f.type = 'L', f.width = 1; break;
  }
  return f;
}

}  // namespace

// ---- Field ----

const format::FieldLayout& Field::layout() const { return table_->layout_.fields[index_]; }
const std::string& Field::name() const { return layout().name; }
char Field::type() const { return layout().type; }
int Field::width() const { return layout().width; }

std::string_view Field::bytes() const {
  return std::string_view(table_->record_).substr(layout().offset, static_cast<std::size_t>(layout().width));
}

std::span<char> Field::writableBytes() const {
  if (table_->state_ != TableState::Edit && table_->state_ != TableState::Insert)
    throw Error(ErrorKind::InvalidArgument,
                "La tabla " + table_->filePath().string() + " no está en modo de edición o inserción");
  return std::span<char>(table_->record_.data() + layout().offset, static_cast<std::size_t>(layout().width));
}

std::string Field::asText() const { return value::readText(layout(), bytes()); }
double Field::asFloat() const { return value::readFloat(layout(), bytes()); }
std::int64_t Field::asInteger() const { return value::readInteger(layout(), bytes()); }
bool Field::asLogical() const { return value::readLogical(layout(), bytes()); }
void Field::setText(std::string_view text) {
  const format::FieldLayout& f = layout();
  value::writeText(f, writableBytes(), text);
  if (table_->observer_ && f.type == 'C' && text.size() > static_cast<std::size_t>(f.width) &&
      text.find_first_not_of(' ', static_cast<std::size_t>(f.width)) != std::string_view::npos)
    table_->observer_->valueCut(*table_, *this, text);
}
void Field::setFloat(double v) { value::writeFloat(layout(), writableBytes(), v); }
void Field::setInteger(std::int64_t v) { value::writeInteger(layout(), writableBytes(), v); }
void Field::setLogical(bool v) { value::writeLogical(layout(), writableBytes(), v); }

// ---- Table ----

Table::Table(std::filesystem::path directory, std::string name, std::string objectName)
    : directory_(std::move(directory)), name_(std::move(name)), objectName_(std::move(objectName)) {
  if (std::filesystem::path(name_).extension().empty()) name_ += ".DBF";
}

Table::~Table() {
  try {
    close();
  } catch (...) {
    // Destruction cannot report; close() already released the file.
  }
}

std::filesystem::path Table::filePath() const { return resolveIgnoringCase(directory_, name_); }

std::filesystem::path Table::indexPath() const { return indexPathOf(filePath()); }

std::filesystem::path Table::indexPathOf(const std::filesystem::path& dbf) const {
  std::string ext = dbf.extension().string();
  bool lower =
      !ext.empty() && std::none_of(ext.begin(), ext.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
  return resolveIgnoringCase(directory_, dbf.stem().string() + (lower ? ".mdx" : ".MDX"));
}

void Table::requireOpen() const {
  if (!isOpen())
    throw Error(ErrorKind::InvalidArgument, "La tabla " + filePath().string() + " no está abierta");
}

namespace {

constexpr const char* kClearReadOnly = "Quítele la marca de solo lectura y vuelva a intentarlo.";
constexpr const char* kCloseTheChanger =
    "Cierre el otro programa que la estaba cambiando y vuelva a intentarlo; si la tabla queda mal, vuelva a "
    "crearla.";

void requireDirectory(const std::filesystem::path& directory) {
  std::error_code ec;
  if (!std::filesystem::is_directory(directory, ec))
    throw Error(ErrorKind::NotFound, "No existe la carpeta " + directory.string(),
                "Créela, o elija la carpeta donde están las tablas, y vuelva a intentarlo.");
}

// Takes the lock for the whole time the descriptor stays open.
void lockOrFail(const io::File& file, bool exclusive) {
  if (io::lockWholeFile(file.descriptor(), exclusive)) return;
  if (errno == EWOULDBLOCK)
    throw Error(ErrorKind::Locked, "La tabla " + file.path().string() + " está abierta por otro programa",
                kCloseTheOtherProgram);
  const int failed = errno;
  throw Error(ErrorKind::IOError,
              "No se pudo bloquear la tabla " + file.path().string() + ": " + systemErrorText(failed),
              systemErrorRemedy(failed));
}

// Writers that share a table take turns at its end: each holds this lock while it reads the
// record count, appends and writes the new count. A byte range far past any table's data, as
// multi-user dBase engines lock; an open-file-description lock, so that two table objects of
// one program exclude each other too.
class AppendLock {
 public:
  explicit AppendLock(const io::File& file) : file_(file) {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + seconds(5);
    while (!change(F_WRLCK)) {
      if (const int failed = errno; failed != EAGAIN && failed != EACCES && failed != EINTR)
        throw Error(ErrorKind::IOError,
                    "No se pudo bloquear la tabla " + file.path().string() + ": " + systemErrorText(failed),
                    systemErrorRemedy(failed));
      if (steady_clock::now() > deadline)
        throw Error(
            ErrorKind::Locked,
            "La tabla " + file.path().string() + " está bloqueada por otro programa que escribe en ella",
            kCloseTheOtherProgram);
      std::this_thread::sleep_for(milliseconds(10));
    }
  }
  ~AppendLock() { change(F_UNLCK); }
  AppendLock(const AppendLock&) = delete;
  AppendLock& operator=(const AppendLock&) = delete;

 private:
  bool change(short type) const { return io::recordLock(file_.descriptor(), type, io::kAppendTurnByte, 1); }

  const io::File& file_;
};

}  // namespace

void Table::requireWritable() const {
  // Each name is looked up once: a missing one costs a look through the folder.
  const std::filesystem::path dbf = filePath();
  for (const std::filesystem::path& path : {dbf, indexPathOf(dbf)})
    if (io::isReadOnly(path))
      throw Error(ErrorKind::IOError,
                  "La tabla " + dbf.string() + " es de solo lectura" +
                      (path == dbf ? "" : " (su índice " + path.string() + ")"),
                  kClearReadOnly);
}

void Table::create(const std::vector<FieldDef>& fields, const std::vector<IndexDef>& indexes) {
  const std::filesystem::path path = filePath();
  auto invalid = [&](const std::string& detail) {
    throw Error(ErrorKind::InvalidArgument, "No se puede crear la tabla " + path.string() + ": " + detail);
  };
  if (isOpen()) invalid("está abierta");
  requireDirectory(directory_);
  requireWritable();
  if (fields.empty()) invalid("no tiene campos");
  if (fields.size() > format::kMaxFields) invalid("tiene más de 255 campos");

  std::vector<format::FieldLayout> layouts;
  std::size_t recordLength = 1;
  for (const FieldDef& def : fields) {
    if (!validFieldName(def.name)) invalid("el nombre de campo '" + def.name + "' no es válido");
    if (def.kind == FieldKind::Text && (def.width < 1 || def.width > format::kMaxTextWidth))
      invalid("el campo '" + def.name + "' tiene una anchura fuera de 1 a 254");
    format::FieldLayout f = physical(def);
    for (const format::FieldLayout& other : layouts)
      if (other.name == f.name) invalid("el campo '" + def.name + "' está repetido");
    f.offset = recordLength;
    recordLength += static_cast<std::size_t>(f.width);
    layouts.push_back(std::move(f));
  }
  if (recordLength > 0xFFFF) invalid("los registros serían de más de 65535 bytes");

  std::vector<mdx::TagKeys> tags;
  for (const IndexDef& index : indexes) {
    if (index.name.empty() || index.name.size() > format::kMaxFieldNameLength)
      invalid("el nombre de índice '" + index.name + "' no es válido");
    auto it = std::find_if(layouts.begin(), layouts.end(),
                           [&](const format::FieldLayout& f) { return f.name == upper(index.field); });
    if (it == layouts.end())
      invalid("el índice '" + index.name + "' usa el campo '" + index.field + "', que no existe");
    if (it->type != 'C') invalid("el índice '" + index.name + "' debe usar un campo de texto");
    it->indexed = true;
    tags.push_back({upper(index.name), it->name, it->width, {}});
  }

  std::string header = format::encodeNew(layouts, !tags.empty());
  header += format::kEndOfFile;
  io::File file = io::File::open(path, io::File::Mode::Create);
  // Replacing a table that another program has open would pull it from under that program.
  lockOrFail(file, true);
  bool replaced = file.size() == 0;  // a file just made holds no table to keep
  try {
    // The index first: while it cannot be written, the table it belongs to stays as it was.
    if (!tags.empty())
      io::writeFileAtomically(indexPath(), mdx::build(path.stem().string(), std::move(tags)));
    replaced = true;
    file.truncate(0);
    file.writeAt(0, header);
    file.close();
  } catch (...) {
    // Half a header is no table, and an index without its table misleads: neither stays.
    if (replaced) {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
      std::filesystem::remove(indexPath(), ignored);
    }
    throw;
  }
}

void Table::open(OpenMode mode) {
  if (isOpen())
    throw Error(ErrorKind::InvalidArgument, "La tabla " + filePath().string() + " ya está abierta");
  requireDirectory(directory_);
  const std::filesystem::path path = filePath();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    if (std::filesystem::is_directory(path, ec))
      throw Error(ErrorKind::NotFound, "En lugar de la tabla " + path.string() + " hay una carpeta",
                  "Cámbiele el nombre a la carpeta o llévela a otro sitio, y vuelva a intentarlo.");
    throw Error(ErrorKind::NotFound, "No se encuentra la tabla " + path.string());
  }

  io::File file;
  // A file marked read-only can still be read, also by an administrator who could write it.
  bool readOnly = io::isReadOnly(path);
  try {
    if (!readOnly) file = io::File::open(path, io::File::Mode::ReadWrite);
  } catch (const Error&) {
    readOnly = true;
  }
  if (readOnly) file = io::File::open(path, io::File::Mode::Read);
  lockOrFail(file, mode == OpenMode::Exclusive);

  const std::uint64_t size = file.size();
  std::string head(std::min<std::uint64_t>(size, format::kHeaderSize), '\0');
  head.resize(file.readAt(0, head));
  std::size_t headerLength = format::declaredHeaderLength(head, size, path.string());
  std::string header(headerLength, '\0');
  header.resize(file.readAt(0, header));
  format::Layout layout = format::decode(header, size, path.string());

  fieldIndex_.clear();
  for (std::size_t i = 0; i < layout.fields.size(); ++i) fieldIndex_.emplace(upper(layout.fields[i].name), i);
  layout_ = std::move(layout);
  header_ = std::move(header);
  file_ = std::move(file);
  readOnly_ = readOnly;
  diskRecords_ = layout_.recordCount;
  appended_.clear();
  cache_.clear();
  cacheFirst_ = cacheCount_ = 0;
  modified_ = false;
  state_ = TableState::Browse;
  try {
    first();
  } catch (...) {
    file_ = io::File();
    state_ = TableState::Inactive;
    throw;
  }
}

void Table::close() {
  if (!isOpen()) return;
  try {
    if (modified_) {
      try {
        finishWrites();
      } catch (...) {
        dropIndex();
        throw;
      }
    }
    // A table just written is flushed by whoever needs it kept through a power cut (Exportar,
    // before its run counts as completed); the disk starts on it now, while the next one is built.
    if (modified_) file_.startWriteback();
    file_.close();
    if (observer_) observer_->tableClosed(*this, recordCount());
  } catch (...) {
    file_ = io::File();
    state_ = TableState::Inactive;
    modified_ = false;
    throw;
  }
  state_ = TableState::Inactive;
  modified_ = false;
  eof_ = true;
  current_ = kNoRecord;
  appended_.clear();
  cache_.clear();
  cacheCount_ = 0;
}

std::uint32_t Table::recordCount() const {
  if (layout_.recordLength == 0) return 0;  // never opened
  return diskRecords_ + static_cast<std::uint32_t>(appended_.size() / layout_.recordLength);
}

std::string_view Table::diskBytes(std::uint32_t index) {
  if (index < cacheFirst_ || index >= cacheFirst_ + cacheCount_) {
    const std::size_t length = layout_.recordLength;
    std::uint32_t count = static_cast<std::uint32_t>(std::max<std::size_t>(1, kReadAheadBytes / length));
    count = std::min(count, diskRecords_ - index);
    cacheCount_ = 0;  // nothing valid until the read succeeds
    cache_.resize(std::size_t{count} * length);
    std::size_t got = file_.readAt(layout_.headerLength + std::uint64_t{index} * length, cache_);
    if (got < cache_.size())
      throw Error(ErrorKind::Corruption,
                  "La tabla " + file_.path().string() +
                      " está dañada: el archivo se ha acortado mientras estaba abierto",
                  kCloseTheChanger);
    cacheFirst_ = index;
    cacheCount_ = count;
  }
  return std::string_view(cache_).substr(std::size_t{index - cacheFirst_} * layout_.recordLength,
                                         layout_.recordLength);
}

void Table::loadRecord(std::uint32_t index) {
  if (index < diskRecords_)
    record_ = diskBytes(index);
  else
    record_ =
        appended_.substr(std::size_t{index - diskRecords_} * layout_.recordLength, layout_.recordLength);
}

bool Table::isDeleted(std::uint32_t index) {
  char flag = index < diskRecords_ ? diskBytes(index)[0]
                                   : appended_[std::size_t{index - diskRecords_} * layout_.recordLength];
  return flag == format::kRecordDeleted;
}

void Table::checkBrowse() {
  if (state_ == TableState::Edit || state_ == TableState::Insert) post();
}

void Table::first() {
  requireOpen();
  checkBrowse();
  const std::uint32_t count = recordCount();
  std::uint32_t i = 0;
  while (i < count && isDeleted(i)) ++i;
  eof_ = i >= count;
  current_ = eof_ ? kNoRecord : i;
  if (eof_)
    record_.assign(layout_.recordLength, ' ');
  else
    loadRecord(i);
}

void Table::next() {
  requireOpen();
  checkBrowse();
  if (eof_) return;
  const std::uint32_t count = recordCount();
  std::uint32_t i = current_ + 1;
  while (i < count && isDeleted(i)) ++i;
  if (i >= count) {
    eof_ = true;  // the last record stays current
    return;
  }
  current_ = i;
  loadRecord(i);
}

void Table::go(std::uint32_t index) {
  requireOpen();
  checkBrowse();
  if (index >= recordCount())
    throw Error(ErrorKind::InvalidArgument, "La tabla " + file_.path().string() + " no tiene el registro " +
                                                std::to_string(std::uint64_t{index} + 1));
  current_ = index;
  eof_ = false;
  loadRecord(index);
}

void Table::append() {
  requireOpen();
  checkBrowse();
  if (readOnly_)
    throw Error(ErrorKind::IOError, "La tabla " + file_.path().string() + " es de solo lectura",
                kClearReadOnly);
  record_.assign(layout_.recordLength, ' ');
  state_ = TableState::Insert;
}

void Table::edit() {
  requireOpen();
  if (state_ == TableState::Edit || state_ == TableState::Insert) return;
  if (readOnly_)
    throw Error(ErrorKind::IOError, "La tabla " + file_.path().string() + " es de solo lectura",
                kClearReadOnly);
  if (current_ == kNoRecord)
    throw Error(ErrorKind::InvalidArgument,
                "La tabla " + file_.path().string() + " no tiene un registro actual");
  state_ = TableState::Edit;
}

void Table::post() {
  requireOpen();
  if (state_ == TableState::Insert) {
    appended_ += record_;
    current_ = recordCount() - 1;
    eof_ = false;
    modified_ = true;
    state_ = TableState::Browse;
    if (appended_.size() >= kWriteBehindBytes) flushAppends();
  } else if (state_ == TableState::Edit) {
    modified_ = true;
    state_ = TableState::Browse;
    if (current_ >= diskRecords_) {
      appended_.replace(std::size_t{current_ - diskRecords_} * layout_.recordLength, layout_.recordLength,
                        record_);
      return;
    }
    file_.writeAt(layout_.headerLength + std::uint64_t{current_} * layout_.recordLength, record_);
    if (current_ >= cacheFirst_ && current_ < cacheFirst_ + cacheCount_)
      cache_.replace(std::size_t{current_ - cacheFirst_} * layout_.recordLength, layout_.recordLength,
                     record_);
  }
}

void Table::flushAppends() {
  if (appended_.empty()) return;
  AppendLock lock(file_);
  writeAppends();
}

void Table::adoptCountOnDisk() {
  std::string count(4, '\0');
  if (file_.readAt(format::kOffRecordCount, count) < count.size())
    throw Error(ErrorKind::Corruption,
                "La tabla " + file_.path().string() +
                    " está dañada: el archivo se ha acortado mientras estaba abierto",
                kCloseTheChanger);
  const std::uint32_t onDisk = format::getU32(count, 0);
  if (onDisk == diskRecords_) return;
  if (onDisk < diskRecords_)
    throw Error(ErrorKind::Corruption,
                "La tabla " + file_.path().string() +
                    " está dañada: otro programa le ha quitado registros mientras estaba abierta",
                kCloseTheChanger);
  // Another writer appended: the records still in memory move past its ones.
  if (current_ != kNoRecord && current_ >= diskRecords_) current_ += onDisk - diskRecords_;
  diskRecords_ = onDisk;
}

void Table::writeAppends() {
  adoptCountOnDisk();
  const std::size_t length = layout_.recordLength;
  const std::uint64_t start = layout_.headerLength + std::uint64_t{diskRecords_} * length;
  const auto added = static_cast<std::uint32_t>(appended_.size() / length);
  // Records and end mark in one write, and nothing counted until the header says so: a full
  // disk may refuse the mark's byte too.
  appended_ += format::kEndOfFile;
  try {
    file_.writeAt(start, appended_);
    // The disk writes a large table while it grows: a flush when it is closed then waits only for
    // the end.
    file_.startWriteback();
    appended_.pop_back();
    diskRecords_ += added;
    try {
      writeHeaderCount();
    } catch (...) {
      diskRecords_ -= added;
      throw;
    }
  } catch (...) {
    if (appended_.size() % length == 1) appended_.pop_back();
    keepWholeRecords(start);
    throw;
  }
  appended_.clear();
}

// After a write that stopped part way: the records that reached the disk whole are counted
// and the rest stays in memory for another try; the partial one is cut off, and the end mark
// goes where it fits. A failure here leaves the count as it was, which is still true.
void Table::keepWholeRecords(std::uint64_t start) noexcept {
  try {
    const std::size_t length = layout_.recordLength;
    const std::uint64_t size = file_.size();
    const std::size_t whole =
        std::min<std::size_t>(appended_.size() / length, size > start ? (size - start) / length : 0);
    const std::uint64_t end = start + std::uint64_t{whole} * length;
    if (size > end + 1) file_.truncate(end + 1);
    const std::uint32_t before = diskRecords_;
    diskRecords_ += static_cast<std::uint32_t>(whole);
    try {
      writeHeaderCount();
    } catch (...) {
      diskRecords_ = before;
      throw;
    }
    appended_.erase(0, whole * length);
    file_.writeAt(end, std::string_view(&format::kEndOfFile, 1));
  } catch (...) {
  }
}

void Table::writeHeaderCount() {
  format::stampHeader(header_, diskRecords_);
  file_.writeAt(0, std::string_view(header_).substr(0, format::kOffRecordCount + 4));
}

void Table::finishWrites() {
  AppendLock lock(file_);
  if (appended_.empty())
    adoptCountOnDisk();
  else
    writeAppends();
  // Under the lock every writer's records are counted: what lies past them is left over.
  const std::uint64_t end = layout_.headerLength + std::uint64_t{diskRecords_} * layout_.recordLength;
  file_.writeAt(end, std::string_view(&format::kEndOfFile, 1));
  if (file_.size() > end + 1) file_.truncate(end + 1);
  writeHeaderCount();
  if (layout_.productionMdx) rebuildIndex();
}

// An index that may disagree with its table is worse than none: the table is kept without one.
void Table::dropIndex() noexcept {
  if (!layout_.productionMdx) return;
  try {
    std::error_code ec;
    std::filesystem::remove(indexPath(), ec);
    header_[format::kOffProductionMdx] = 0;
    file_.writeAt(format::kOffProductionMdx, std::string_view(&header_[format::kOffProductionMdx], 1));
    layout_.productionMdx = false;
  } catch (...) {
  }
}

void Table::rebuildIndex() {
  const std::filesystem::path mdxPath = indexPath();
  std::vector<mdx::TagInfo> tags;
  std::error_code ec;
  if (std::filesystem::exists(mdxPath, ec)) {
    tags = mdx::readTags(mdxPath);
  } else {
    // Without the index file, the indexed fields tell the tags (named after their field).
    for (const format::FieldLayout& f : layout_.fields)
      if (f.indexed) tags.push_back({f.name, f.name, 'C'});
  }
  if (tags.empty()) return;
  std::vector<mdx::TagKeys> keyed;
  for (const mdx::TagInfo& tag : tags) {
    auto it = fieldIndex_.find(upper(tag.expression));
    if (it == fieldIndex_.end() || layout_.fields[it->second].type != 'C' || tag.keyType != 'C')
      throw Error(ErrorKind::InvalidArgument, "No se puede actualizar el índice " + mdxPath.string() +
                                                  ": la etiqueta '" + tag.name + "' no es un campo de texto");
    const format::FieldLayout& f = layout_.fields[it->second];
    mdx::TagKeys keys{tag.name, f.name, f.width, {}};
    keys.keys.reserve(diskRecords_);
    for (std::uint32_t i = 0; i < diskRecords_; ++i)
      keys.keys.emplace_back(diskBytes(i).substr(f.offset, static_cast<std::size_t>(f.width)), i + 1);
    keyed.push_back(std::move(keys));
  }
  io::writeFileAtomically(mdxPath, mdx::build(file_.path().stem().string(), std::move(keyed)));
}

Field Table::field(std::string_view name) {
  requireOpen();
  auto it = fieldIndex_.find(upper(name));
  if (it == fieldIndex_.end())
    throw Error(
        ErrorKind::NotFound,
        (objectName_.empty() ? "" : objectName_ + ": ") + "No se encuentra el campo '" + std::string(name) +
            "'",
        "La tabla no tiene la forma que le da Horalia: vuelva a crearla con Horalia, o exportando otra "
        "vez si es una tabla de trabajo.");
  return Field(this, it->second);
}

Field Table::fieldAt(std::size_t index) {
  requireOpen();
  if (index >= layout_.fields.size())
    throw Error(ErrorKind::InvalidArgument,
                "La tabla " + file_.path().string() + " no tiene el campo " + std::to_string(index + 1));
  return Field(this, index);
}

}  // namespace pontix::dbase

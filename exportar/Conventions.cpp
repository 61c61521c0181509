#include "exportar/Conventions.h"

#include <functional>
#include <stdexcept>
#include <utility>

#include "platform/AnsiText.h"
#include "platform/FileIo.h"

namespace pontix {

void replaceWorkingTable(ProgramState& state, dbase::Table& table, const std::vector<dbase::FieldDef>& fields,
                         const std::vector<dbase::IndexDef>& indexes) {
  table.requireWritable();
  // In an Exportar the table the user had is already set aside; a table here is one the
  // builders' own tests, or a builder run again, made.
  const std::filesystem::path dbf = table.filePath();
  io::removeUnlessInUse(dbf);
  io::removeUnlessInUse(table.indexPathOf(dbf));
  table.observe(&state.report);
  table.create(fields, indexes);
}

void createWorkingTable(ProgramState& state, dbase::Table& table, const std::vector<dbase::FieldDef>& fields,
                        const std::vector<dbase::IndexDef>& indexes) {
  replaceWorkingTable(state, table, fields, indexes);
  table.open(dbase::OpenMode::Shared);
}

std::vector<xml::Element> selectElements(const ProgramState& state, std::string_view path) {
  if (!state.document) throw Error(ErrorKind::InvalidArgument, "No hay ningún documento de Scolaria cargado");
  return state.document->select(path);
}

namespace {

void readAttributeInto(const xml::Element& element, std::string_view name, RunReport& report,
                       std::string& text) {
  std::optional<std::string_view> value = element.attributeView(name);
  if (!value) return text.clear();
  const std::string_view utf8 = ansi::trimControls(*value);
  std::size_t replaced = 0;
  ansi::fromUtf8(utf8, text, replaced);
  if (replaced) report.noteReplaced(element.name() + "/" + std::string(name), utf8, text, replaced);
}

}  // namespace

std::string readAttribute(const xml::Element& element, std::string_view name, RunReport& report) {
  std::string text;
  readAttributeInto(element, name, report, text);
  return text;
}

std::vector<std::string> readAttributes(const xml::Element& element,
                                        std::initializer_list<std::string_view> names, RunReport& report) {
  std::vector<std::string> values;
  readAttributes(element, names, report, values);
  return values;
}

void readAttributes(const xml::Element& element, std::initializer_list<std::string_view> names,
                    RunReport& report, std::vector<std::string>& values) {
  values.resize(names.size());
  std::size_t i = 0;
  for (std::string_view name : names) readAttributeInto(element, name, report, values[i++]);
}

std::uint32_t UsedAbbreviations::hashOf(std::string_view folded) {
  return static_cast<std::uint32_t>(std::hash<std::string_view>()(folded));
}

std::string_view UsedAbbreviations::entryAt(std::size_t start) const {
  std::size_t length = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(texts_[start++]);
    length |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if (!(byte & 0x80)) break;
  }
  return std::string_view(texts_).substr(start, length);
}

const UsedAbbreviations::Slot* UsedAbbreviations::find(std::string_view folded, std::uint32_t hash) const {
  if (slots_.empty()) return nullptr;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.start == 0) return &slot;
    if (slot.hash == hash && ansi::foldsTo(entryAt(slot.start - 1), folded)) return &slot;
  }
}

bool UsedAbbreviations::contains(std::string_view text) const {
  const std::string folded = ansi::foldCase(text);
  const Slot* slot = find(folded, hashOf(folded));
  return slot && slot->start != 0;
}

void UsedAbbreviations::grow(std::size_t slots) {
  std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(slots));
  const std::size_t mask = slots - 1;
  for (const Slot& slot : old) {
    if (slot.start == 0) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].start != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

void UsedAbbreviations::reserve(std::size_t count, std::size_t longest) {
  std::size_t slots = 16;
  while (slots < 2 * count) slots *= 2;
  if (slots > slots_.size()) grow(slots);
  if (longest > 0 && longest < 0x80) texts_.reserve(count * (1 + longest));  // a length byte each
}

void UsedAbbreviations::add(std::string_view text) { insert(text, true); }

bool UsedAbbreviations::addIfAbsent(std::string_view text) { return insert(text, false); }

bool UsedAbbreviations::insert(std::string_view text, bool always) {
  const std::string folded = ansi::foldCase(text);
  const std::uint32_t hash = hashOf(folded);
  const Slot* found = find(folded, hash);
  const bool present = found && found->start != 0;
  if (present && !always) return false;
  if (texts_.size() + text.size() + 10 > UINT32_MAX) throw std::length_error("Too many abbreviations");
  const std::size_t start = texts_.size();
  for (std::size_t n = text.size();; n >>= 7) {
    if (n < 0x80) {
      texts_ += static_cast<char>(n);
      break;
    }
    texts_ += static_cast<char>(0x80 | (n & 0x7F));
  }
  texts_.append(text);
  // A text already in the list ignoring case stays in it once more, as the list has it twice,
  // but one slot answers for both.
  if (present) return true;
  if (2 * (keys_ + 1) > slots_.size()) grow(std::max<std::size_t>(16, 2 * slots_.size()));
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i].start != 0) i = (i + 1) & mask;
  slots_[i] = {static_cast<std::uint32_t>(start + 1), hash};
  ++keys_;
  return true;
}

std::vector<std::string> UsedAbbreviations::entries() const {
  std::vector<std::string> all;
  for (std::size_t at = 0; at < texts_.size();) {
    const std::string_view entry = entryAt(at);
    all.emplace_back(entry);
    at = static_cast<std::size_t>(entry.data() - texts_.data()) + entry.size();
  }
  return all;
}

}  // namespace pontix

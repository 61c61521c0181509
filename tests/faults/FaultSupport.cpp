#include "FaultSupport.h"

#include <algorithm>
#include <map>
#include <utility>

#include "TestSupport.h"
#include "platform/Error.h"
#include "platform/dbase/DbfFormat.h"
#include "platform/dbase/Mdx.h"
#include "platform/dbase/Table.h"

namespace pontix::test {
namespace {

namespace fs = std::filesystem;
using Entry = std::pair<std::string, std::uint32_t>;  // key as stored, record number from 1

// The entries of a tag as index_dump walks them. A run of a failure matrix sees the same few
// files again and again: each is read once.
std::vector<Entry> indexDump(const fs::path& mdx, const std::string& tag, std::string& error) {
  static std::map<std::string, std::pair<std::vector<Entry>, std::string>> seen;
  const std::string key = tag + '\n' + readFile(mdx);
  auto found = seen.find(key);
  if (found == seen.end()) {
    CommandResult r =
        run(std::string(INDEX_DUMP) + " -tag " + shellQuote(tag) + " " + shellQuote(mdx.string()));
    std::vector<Entry> entries;
    std::string failure = r.exitCode == 0 ? "" : "index_dump fails: " + r.output;
    for (std::size_t pos = 0; failure.empty() && pos < r.output.size();) {
      std::size_t nl = r.output.find('\n', pos);
      std::string line = r.output.substr(pos, nl - pos);
      pos = nl == std::string::npos ? r.output.size() : nl + 1;
      std::size_t space = line.rfind(' ');
      if (space == std::string::npos) {
        failure = "index_dump prints '" + line + "'";
        break;
      }
      entries.emplace_back(line.substr(0, space),
                           static_cast<std::uint32_t>(std::stoul(line.substr(space + 1))));
    }
    found = seen.emplace(key, std::make_pair(std::move(entries), failure)).first;
  }
  error = found->second.second;
  return found->second.first;
}

struct Descriptor {
  std::string name;
  char type;
  std::size_t offset, width;
};

// The field descriptors, read straight from the header bytes.
std::vector<Descriptor> descriptors(const std::string& bytes, std::size_t headerLength) {
  std::vector<Descriptor> fields;
  std::size_t offset = 1;
  for (std::size_t at = dbase::format::kHeaderSize;
       at + dbase::format::kDescriptorSize <= headerLength && bytes[at] != dbase::format::kHeaderTerminator;
       at += dbase::format::kDescriptorSize) {
    std::string name = bytes.substr(at, dbase::format::kFieldNameSize);
    name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
    const auto width = static_cast<unsigned char>(bytes[at + dbase::format::kOffFieldWidth]);
    fields.push_back({name, bytes[at + dbase::format::kOffFieldType], offset, width});
    offset += width;
  }
  return fields;
}

}  // namespace

std::string tableFault(const fs::path& dbf) {
  const fs::path mdx = fs::path(dbf).replace_extension(".MDX");
  std::error_code ec;
  if (!fs::exists(dbf, ec)) return fs::exists(mdx, ec) ? "an index without its table" : "";
  const std::string bytes = readFile(dbf);
  if (bytes.size() < dbase::format::kHeaderSize)
    return "shorter than a header: " + std::to_string(bytes.size()) + " bytes";
  const std::uint32_t count = dbase::format::getU32(bytes, dbase::format::kOffRecordCount);
  const std::size_t headerLength = dbase::format::getU16(bytes, dbase::format::kOffHeaderLength);
  const std::size_t recordLength = dbase::format::getU16(bytes, dbase::format::kOffRecordLength);
  const std::uint64_t end = headerLength + std::uint64_t{count} * recordLength;
  if (!(bytes.size() == end || (bytes.size() == end + 1 && bytes.back() == dbase::format::kEndOfFile)))
    return "the header counts " + std::to_string(count) + " records of " + std::to_string(recordLength) +
           " bytes after " + std::to_string(headerLength) + " bytes, but the file has " +
           std::to_string(bytes.size()) + " bytes";

  try {
    dbase::Table table(dbf.parent_path(), dbf.filename().string());
    table.open(dbase::OpenMode::Shared);
    if (table.recordCount() != count) return "the engine counts " + std::to_string(table.recordCount());
    for (; !table.eof(); table.next())
      for (std::size_t i = 0; i < table.fieldCount(); ++i) table.fieldAt(i).asText();
  } catch (const Error& e) {
    return std::string("the engine refuses it: ") + e.what();
  }

  const bool named = bytes[dbase::format::kOffProductionMdx] == 1;
  if (named != fs::exists(mdx, ec))
    return named ? "the header names a production index that is not there"
                 : "an index the header does not name";
  if (!named) return "";
  std::vector<dbase::mdx::TagInfo> tags;
  try {
    tags = dbase::mdx::readTags(mdx);
  } catch (const Error& e) {
    return std::string("the index cannot be read: ") + e.what();
  }
  const std::vector<Descriptor> fields = descriptors(bytes, headerLength);
  for (const dbase::mdx::TagInfo& tag : tags) {
    auto field = std::find_if(fields.begin(), fields.end(),
                              [&](const Descriptor& d) { return d.name == tag.expression; });
    if (field == fields.end()) return "the index tag " + tag.name + " names no field";
    std::vector<Entry> expected;
    for (std::uint32_t i = 0; i < count; ++i)
      expected.emplace_back(
          bytes.substr(headerLength + std::size_t{i} * recordLength + field->offset, field->width), i + 1);
    std::stable_sort(expected.begin(), expected.end(), [](const Entry& a, const Entry& b) {
      return std::lexicographical_compare(
          a.first.begin(), a.first.end(), b.first.begin(), b.first.end(),
          [](char x, char y) { return static_cast<unsigned char>(x) < static_cast<unsigned char>(y); });
    });
    std::string error;
    const std::vector<Entry> found = indexDump(mdx, tag.name, error);
    if (!error.empty()) return error;
    if (found != expected)
      return "the index tag " + tag.name + " holds " + std::to_string(found.size()) +
             " keys that are not those of the " + std::to_string(count) + " records";
  }
  return "";
}

std::string folderFault(const fs::path& folder) {
  std::string faults;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    std::error_code ec;
    if (entry.path().extension() != ".DBF" || !entry.is_regular_file(ec)) continue;
    const std::string fault = tableFault(entry.path());
    if (!fault.empty()) faults += entry.path().filename().string() + ": " + fault + "\n";
  }
  return faults;
}

std::vector<std::string> temporaryFiles(const fs::path& folder) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().starts_with(".")) names.push_back(entry.path().filename().string());
  return names;
}

void writeSolutionTables(const fs::path& folder, int entries) {
  using dbase::FieldKind;
  auto text = [](const char* name, int width) { return dbase::FieldDef{name, FieldKind::Text, width}; };
  std::vector<std::vector<std::string>> soluc;
  for (int i = 0; i < entries; ++i)
    soluc.push_back({std::to_string(1 + i % 5), std::to_string(1 + i % 7), "P" + std::to_string(i % 40),
                     "G" + std::to_string(i % 12), "A" + std::to_string(i % 9), "M" + std::to_string(i % 30),
                     i % 10 == 3 ? "Guàrdia de pati" : ""});
  writeTable(folder, "SOLUC",
             {{"DIA", FieldKind::Integer, 0},
              {"HORA", FieldKind::Float, 0},
              text("PROF", 10),
              text("CODGRUPO", 10),
              text("AULA", 10),
              text("ASIG", 10),
              text("TAREA", 30)},
             soluc);
  auto lookup = [&](const char* table, std::vector<dbase::FieldDef> fields, const char* prefix, int count) {
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < count; ++i) {
      std::vector<std::string> row;
      for (std::size_t f = 0; f < fields.size(); ++f)
        row.push_back((f == 0 ? prefix : "Códi-" + std::string(prefix) + "-") + std::to_string(i));
      rows.push_back(row);
    }
    writeTable(folder, table, fields, rows);
  };
  lookup("PROFT", {text("ABREV", 10), text("CODI", 40)}, "P", 40);
  lookup("GRUPOST", {text("ABREV", 10), text("CODI", 20), text("CODICURS", 20)}, "G", 12);
  lookup("AULAT", {text("ABREV", 10), text("CODI", 60)}, "A", 9);
  lookup("ASIGNOMT", {text("COD", 10), text("CODI", 20)}, "M", 30);
  std::vector<std::vector<std::string>> grid;
  for (int day = 1; day <= 5; ++day)
    for (int period = 1; period <= 7; ++period)
      grid.push_back({std::to_string(day) + std::to_string(period), "Dia " + std::to_string(day),
                      std::to_string(7 + period) + ":00", "55"});
  writeTable(folder, "DIASHORAST",
             {text("DIHO", 10), text("DIA", 20), text("HORADESDE", 8), text("MINUTOS", 8)}, grid);
}

}  // namespace pontix::test

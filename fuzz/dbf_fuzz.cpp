// The dBase engine on tables it did not write. The first byte chooses the mode:
//   even: the rest is TABLA.DBF, opened shared and read whole;
//   odd:  two bytes (little-endian) give the length of TABLA.DBF, the bytes after it are its
//         TABLA.MDX; the index is read on its own, then the table is opened exclusively, read,
//         changed and closed, which rebuilds the index from that file.
// Every record is read field by field as text, number and logical. pontix::Error is what a
// bad table must give; anything else ends the run.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "platform/Error.h"
#include "platform/dbase/Mdx.h"
#include "platform/dbase/Table.h"

namespace {

using namespace pontix;

template <typename F>
void tolerate(F&& f) {
  try {
    f();
  } catch (const Error& e) {
    fuzz::note(e);
  }
}

// The kinds of value each field type gives (platform/dbase/DbfValue.h); the others are refused
// with an error, which is checked on the first record only: thrown for every field of every
// record, exceptions would take most of the time.
bool givesText(char type) { return type == 'C' || type == 'D' || type == 'N' || type == 'F' || type == 'L'; }
bool givesNumber(char type) { return type == 'N' || type == 'F'; }
bool givesLogical(char type) { return type == 'L'; }

void readEveryRecord(dbase::Table& table) {
  const std::size_t fields = table.fieldCount();
  for (std::size_t i = 0; i < fields; ++i) {
    const dbase::Field f = table.fieldAt(i);
    (void)table.field(f.name());
  }
  bool first = true;
  for (table.first(); !table.eof(); table.next(), first = false) {
    for (std::size_t i = 0; i < fields; ++i) {
      const dbase::Field f = table.fieldAt(i);
      const char type = f.type();
      if (first || givesText(type))
        tolerate([&] {
          const std::string text = f.asText();
          fuzz::expect(type != 'C' || text.size() <= static_cast<std::size_t>(f.width()),
                       "un texto más largo que su campo");
        });
      if (first || givesNumber(type)) {
        tolerate([&] { (void)f.asFloat(); });
        tolerate([&] { (void)f.asInteger(); });
      }
      if (first || givesLogical(type)) tolerate([&] { (void)f.asLogical(); });
    }
  }
}

// Writing back what was read, and one new record, exercise the paths that rewrite the header
// and rebuild the index.
void changeAndClose(dbase::Table& table) {
  table.first();
  if (!table.eof()) {
    table.edit();
    for (std::size_t i = 0; i < table.fieldCount(); ++i) {
      dbase::Field f = table.fieldAt(i);
      tolerate([&] { f.setText(f.asText()); });
    }
    table.post();
  }
  table.append();
  table.post();
  table.close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool withIndex = data[0] & 1;
  std::string_view rest = fuzz::bytesOf(data + 1, size - 1);
  std::string_view dbf = rest;
  std::string_view mdx;
  if (withIndex) {
    if (rest.size() < 2) return 0;
    const std::size_t length = static_cast<unsigned char>(rest[0]) |
                               static_cast<std::size_t>(static_cast<unsigned char>(rest[1])) << 8;
    rest.remove_prefix(2);
    dbf = rest.substr(0, length);
    mdx = rest.substr(dbf.size());
  }

  const std::filesystem::path& dir = fuzz::scratch();
  fuzz::put(dir / "TABLA.DBF", dbf);
  if (withIndex)
    fuzz::put(dir / "TABLA.MDX", mdx);
  else
    fuzz::drop(dir / "TABLA.MDX");

  if (withIndex) tolerate([&] { (void)dbase::mdx::readTags(dir / "TABLA.MDX"); });
  tolerate([&] {
    dbase::Table table(dir, "TABLA", "wwTabla");
    table.open(withIndex ? dbase::OpenMode::Exclusive : dbase::OpenMode::Shared);
    readEveryRecord(table);
    if (withIndex) changeAndClose(table);
  });
  return 0;
}

// Damaged tables: each fault gets its own clear error, never a crash or a read out of bounds.

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "TestSupport.h"
#include "platform/Error.h"
#include "platform/dbase/DbfFormat.h"
#include "platform/dbase/Table.h"

namespace pontix::dbase {
namespace {

// Two fields (A C(3), B N(11)), two records: header 97 bytes, records 15 bytes, 128 in all.
std::string validTable(const test::TempDir& dir) {
  Table t(dir.path(), "SANA");
  t.create({{"A", FieldKind::Text, 3}, {"B", FieldKind::Integer, 0}});
  t.open(OpenMode::Shared);
  for (int i = 0; i < 2; ++i) {
    t.append();
    t.field("A").setText("r" + std::to_string(i));
    t.field("B").setInteger(i);
    t.post();
  }
  t.close();
  return test::readFile(dir / "SANA.DBF");
}

void setU16(std::string& b, std::size_t at, std::uint16_t v) { format::putU16(b, at, v); }
void setU32(std::string& b, std::size_t at, std::uint32_t v) { format::putU32(b, at, v); }

TEST(TableCorruption, EachFaultHasItsOwnError) {
  struct Case {
    const char* fault;
    std::function<void(std::string&)> damage;
    const char* message;
  } cases[] = {
      {"shorter than a header", [](std::string& b) { b.resize(20); }, "menos que una cabecera"},
      {"unknown version", [](std::string& b) { b[0] = '\x99'; }, "byte de versión 0x99"},
      {"header length below the minimum", [](std::string& b) { setU16(b, 8, 20); }, "menos del mínimo"},
      {"header longer than the file", [](std::string& b) { setU16(b, 8, 5000); },
       "pero el archivo solo tiene 128"},
      {"header length cuts a descriptor", [](std::string& b) { setU16(b, 8, 80); }, "no cabe en ellos"},
      {"header length leaves out the terminator", [](std::string& b) { setU16(b, 8, 96); }, "no terminan"},
      {"no fields", [](std::string& b) { b[32] = 0x0D; }, "no tiene campos"},
      {"field width 0", [](std::string& b) { b[32 + 16] = 0; }, "el campo 'A' tiene anchura 0"},
      {"field type not printable", [](std::string& b) { b[64 + 11] = 0; },
       "el campo 'B' tiene un tipo de campo no válido (0x00)"},
      {"record length 0", [](std::string& b) { setU16(b, 10, 0); }, "la longitud de registro es 0"},
      {"record length against the fields", [](std::string& b) { setU16(b, 10, 14); },
       "(14 bytes) no coincide con la suma de los campos (15 bytes)"},
      {"more records than the file holds", [](std::string& b) { setU32(b, 4, 3); }, "declara 3 registros"},
      {"record count overflowing", [](std::string& b) { setU32(b, 4, 0xFFFFFFFF); },
       "declara 4294967295 registros"},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    std::string bytes = validTable(dir);
    c.damage(bytes);
    test::writeFile(dir / "SANA.DBF", bytes);
    Table t(dir.path(), "SANA");
    try {
      t.open(OpenMode::Shared);
      ADD_FAILURE() << c.fault << ": opened";
    } catch (const Error& e) {
      std::string what = e.what();
      EXPECT_EQ(e.kind(), ErrorKind::Corruption) << c.fault;
      EXPECT_EQ(what.rfind("La tabla " + (dir / "SANA.DBF").string() + " está dañada: ", 0), 0u) << what;
      EXPECT_NE(what.find(c.message), std::string::npos) << c.fault << ": " << what;
    }
    EXPECT_FALSE(t.isOpen());
  }
}

TEST(TableCorruption, ExtraBytesAfterTheRecordsAreAccepted) {
  for (const char* tail : {"", "\x1A basura al final"}) {
    test::TempDir dir;
    std::string bytes = validTable(dir);
    bytes.pop_back();  // the end-of-file mark
    test::writeFile(dir / "SANA.DBF", bytes + tail);
    Table t(dir.path(), "SANA");
    t.open(OpenMode::Shared);
    t.next();
    EXPECT_EQ(t.field("A").asText(), "r1");
    t.next();
    EXPECT_TRUE(t.eof());
    t.append();  // writing puts a proper end back
    t.post();
    t.close();
    EXPECT_EQ(test::readFile(dir / "SANA.DBF").size(), 97u + 3 * 15 + 1);
  }
}

// Random damage to the header and the size: whatever happens must be an Error or a table
// that reads without touching memory it does not own (the sanitizer build checks that).
TEST(TableCorruption, RandomDamageNeverCrashes) {
  test::TempDir dir;
  const std::string valid = validTable(dir);
  std::mt19937 random(20261210);
  int opened = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string bytes = valid;
    int flips = 1 + static_cast<int>(random() % 4);
    for (int i = 0; i < flips; ++i) bytes[random() % 100] = static_cast<char>(random() % 256);
    if (random() % 4 == 0) bytes.resize(random() % bytes.size());
    test::writeFile(dir / "SANA.DBF", bytes);
    Table t(dir.path(), "SANA");
    try {
      t.open(OpenMode::Shared);
      ++opened;
      for (; !t.eof(); t.next())
        for (std::size_t f = 0; f < t.fieldCount(); ++f) {
          try {
            t.fieldAt(f).asText();
          } catch (const Error&) {
          }
        }
    } catch (const Error&) {
    }
  }
  EXPECT_GT(opened, 0);
}

}  // namespace
}  // namespace pontix::dbase

// What the engine does with posted records when several writers share a table and when the
// disk fills up: nothing posted is lost without an error, and the file on disk stays a table
// that every reader agrees on.

#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/dbase/DbfFormat.h"
#include "platform/dbase/Table.h"

namespace pontix::dbase {
namespace {

const std::vector<FieldDef> kFields = {{"TXT", FieldKind::Text, 99}};  // records of 100 bytes
constexpr int kOneBatch = 1024 * 1024 / 100 + 1;                       // posts that fill the write buffer

void post(Table& t, const std::string& text) {
  t.append();
  t.field("TXT").setText(text);
  t.post();
}

std::vector<std::string> texts(const std::filesystem::path& dir, const char* name) {
  Table t(dir, name);
  t.open(OpenMode::Shared);
  std::vector<std::string> all;
  for (t.first(); !t.eof(); t.next()) all.push_back(t.field("TXT").asText());
  return all;
}

// The header's count, whether the file is exactly the header, that many records and the end
// mark, and whether the count at least matches the whole records there (the mark missing).
struct OnDisk {
  std::uint32_t count;
  bool consistent;
  bool countsWholeRecords;
};
OnDisk onDisk(const std::filesystem::path& file) {
  std::string bytes = test::readFile(file);
  std::uint32_t count = format::getU32(bytes, format::kOffRecordCount);
  std::size_t headerLength = static_cast<unsigned char>(bytes[8]) | static_cast<unsigned char>(bytes[9]) << 8;
  std::size_t recordLength = static_cast<unsigned char>(bytes[10]) | static_cast<unsigned char>(bytes[11])
                                                                         << 8;
  std::size_t end = headerLength + count * recordLength;
  return {count, bytes.size() == end + 1 && bytes.back() == format::kEndOfFile,
          (bytes.size() - headerLength) / recordLength == count};
}

TEST(SharedWriters, EachAppendsAtTheTrueEndAndNoCloseCutsTheOthersRecords) {
  test::TempDir dir;
  Table first(dir.path(), "PROFT");
  first.create(kFields);
  Table second(dir.path(), "PROFT");
  first.open(OpenMode::Shared);
  second.open(OpenMode::Shared);
  post(first, "a1");
  post(first, "a2");
  post(second, "b1");
  first.close();
  post(second, "b2");
  second.close();
  EXPECT_EQ(texts(dir.path(), "PROFT"), (std::vector<std::string>{"a1", "a2", "b1", "b2"}));
  EXPECT_TRUE(onDisk(dir / "PROFT.DBF").consistent);

  // Batches written while both are open interleave, each whole, none over another.
  first.open(OpenMode::Shared);
  second.open(OpenMode::Shared);
  for (int i = 0; i < kOneBatch; ++i) post(first, "a");
  for (int i = 0; i < kOneBatch; ++i) post(second, "b");
  post(first, "a-last");
  second.close();
  first.close();
  std::vector<std::string> all = texts(dir.path(), "PROFT");
  ASSERT_EQ(all.size(), 4u + 2 * kOneBatch + 1);
  EXPECT_EQ(std::count(all.begin(), all.end(), "a"), kOneBatch);
  EXPECT_EQ(std::count(all.begin(), all.end(), "b"), kOneBatch);
  EXPECT_EQ(all.back(), "a-last");
}

TEST(FullDisk, AFailedBatchIsKeptForTheNextTryAndTheFileKeepsItsWholeRecords) {
  test::TempDir dir;
  Table t(dir.path(), "ASIGT");
  t.create(kFields);
  t.open(OpenMode::Exclusive);
  {
    io::ScopedWriteFailure full(250'050);  // room for 2,500 records and half of one more
    std::string message = "(sin error)";
    try {
      for (int i = 0; i < kOneBatch; ++i) post(t, std::to_string(i));
    } catch (const Error& e) {
      message = e.what();
    }
    EXPECT_NE(message.find("no queda espacio en el disco"), std::string::npos) << message;
    OnDisk disk = onDisk(dir / "ASIGT.DBF");
    EXPECT_EQ(disk.count, 2500u);
    EXPECT_TRUE(disk.consistent);
  }
  // With room again, the records of the failed batch are written, none twice.
  t.close();
  std::vector<std::string> all = texts(dir.path(), "ASIGT");
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kOneBatch));
  EXPECT_EQ(all[2499], "2499");
  EXPECT_EQ(all[2500], "2500");
  EXPECT_EQ(all.back(), std::to_string(kOneBatch - 1));
  EXPECT_TRUE(onDisk(dir / "ASIGT.DBF").consistent);
}

TEST(FullDisk, CloseNeverReportsSuccessAfterLosingRecords) {
  // The last: room for every record of the batch but not for the end mark after them.
  for (std::uint64_t room : {0, 100, 150'000, kOneBatch * 100 - 1}) {
    test::TempDir dir;
    Table t(dir.path(), "ASIGT");
    t.create(kFields);
    t.open(OpenMode::Shared);
    io::ScopedWriteFailure full(room);
    EXPECT_THROW(
        {
          for (int i = 0; i < kOneBatch; ++i) post(t, "x");
        },
        Error)
        << room;
    EXPECT_THROW(t.close(), Error) << room;
    // The empty table's end mark was there already: one byte more than the room.
    const std::uint64_t fit = std::min<std::uint64_t>(kOneBatch, (room + 1) / 100);
    OnDisk disk = onDisk(dir / "ASIGT.DBF");
    EXPECT_EQ(disk.count, fit) << room;
    EXPECT_TRUE(disk.countsWholeRecords) << room;
    EXPECT_EQ(disk.consistent, fit < kOneBatch) << room;  // the mark where it fitted
    Table back(dir.path(), "ASIGT");
    back.open(OpenMode::Shared);
    EXPECT_EQ(back.recordCount(), fit) << room;
  }
}

TEST(FullDisk, AnIndexThatCouldNotFollowItsTableIsRemoved) {
  test::TempDir dir;
  Table t(dir.path(), "MATIB");
  t.create({{"ABREV", FieldKind::Text, 10}, {"TXT", FieldKind::Text, 89}}, {{"ABREV", "ABREV"}});
  ASSERT_TRUE(std::filesystem::exists(dir / "MATIB.MDX"));
  t.open(OpenMode::Exclusive);
  for (int i = 0; i < 20; ++i) post(t, std::to_string(i));
  {
    io::ScopedWriteFailure full(2100);  // the records fit, the rebuilt index does not
    EXPECT_THROW(t.close(), Error);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "MATIB.MDX"));
  EXPECT_EQ(test::readFile(dir / "MATIB.DBF")[format::kOffProductionMdx], 0);
  EXPECT_TRUE(onDisk(dir / "MATIB.DBF").consistent);
  EXPECT_EQ(texts(dir.path(), "MATIB").size(), 20u);
}

TEST(ReadOnly, AReadOnlyTableOrIndexIsNeitherReplacedNorWritten) {
  for (const char* marked : {"PROFT.DBF", "PROFT.MDX"}) {
    test::TempDir dir;
    Table t(dir.path(), "PROFT");
    t.create(kFields, {{"TXT", "TXT"}});
    const std::string before = test::readFile(dir / "PROFT.DBF");
    std::filesystem::permissions(dir / marked, std::filesystem::perms::owner_read);
    try {
      t.requireWritable();
      ADD_FAILURE() << marked;
    } catch (const Error& e) {
      EXPECT_EQ(
          std::string(e.what()).rfind("La tabla " + (dir / "PROFT.DBF").string() + " es de solo lectura", 0),
          0u)
          << e.what();
    }
    EXPECT_THROW(t.create(kFields), Error) << marked;
    EXPECT_FALSE(io::removeUnlessInUse(dir / marked)) << marked;
    EXPECT_EQ(test::readFile(dir / "PROFT.DBF"), before) << marked;
    EXPECT_TRUE(std::filesystem::exists(dir / "PROFT.MDX")) << marked;
  }
  // Opened, a read-only table reads but refuses writes, also for an administrator.
  test::TempDir dir;
  Table t(dir.path(), "PROFT");
  t.create(kFields);
  std::filesystem::permissions(dir / "PROFT.DBF", std::filesystem::perms::owner_read);
  t.open(OpenMode::Shared);
  try {
    t.append();
    ADD_FAILURE() << "appended to a read-only table";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "La tabla " + (dir / "PROFT.DBF").string() + " es de solo lectura");
    EXPECT_EQ(e.remedy(), "Quítele la marca de solo lectura y vuelva a intentarlo.");
  }
}

}  // namespace
}  // namespace pontix::dbase

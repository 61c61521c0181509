#include "platform/dbase/Mdx.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "platform/Error.h"
#include "platform/dbase/DbfFormat.h"
#include "platform/dbase/Table.h"

namespace pontix::dbase {
namespace {

using Entry = std::pair<std::string, std::uint32_t>;  // blank-padded key, record number

// Reads tag ABREV with the independent reader of libdbd-xbase-perl; options such as
// "-start KEY" make it search the tree first. Each line it prints is "key recno".
std::vector<Entry> indexDump(const std::filesystem::path& mdx, const std::string& options = "") {
  test::CommandResult r =
      test::run(std::string(INDEX_DUMP) + " -tag ABREV " + options + " " + test::shellQuote(mdx.string()));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  std::vector<Entry> entries;
  std::size_t pos = 0;
  while (pos < r.output.size()) {
    std::size_t nl = r.output.find('\n', pos);
    std::string line = r.output.substr(pos, nl - pos);
    pos = nl == std::string::npos ? r.output.size() : nl + 1;
    std::size_t space = line.rfind(' ');
    entries.emplace_back(line.substr(0, space),
                         static_cast<std::uint32_t>(std::stoul(line.substr(space + 1))));
  }
  return entries;
}

// The first entry the independent reader finds when it searches the tree for key.
Entry searched(const std::filesystem::path& mdx, const std::string& key) {
  std::vector<Entry> from = indexDump(mdx, "-start " + test::shellQuote(key));
  return from.empty() ? Entry{} : from.front();
}

// Writes a MATIB-like table with these ABREV values, in record order.
void writeMatib(const std::filesystem::path& dir, const std::vector<std::string>& abrevs, int width = 10) {
  Table t(dir, "MATIB");
  t.create({{"CODI", FieldKind::Text, 5}, {"ABREV", FieldKind::Text, width}}, {{"ABREV", "ABREV"}});
  t.open(OpenMode::Shared);
  for (const std::string& a : abrevs) {
    t.append();
    t.field("ABREV").setText(a);
    t.post();
  }
  t.close();
}

std::vector<Entry> expectedOrder(const std::vector<std::string>& abrevs, std::size_t width = 10) {
  std::vector<Entry> expected;
  for (std::size_t i = 0; i < abrevs.size(); ++i) {
    std::string key = abrevs[i].substr(0, width);
    key.resize(width, ' ');
    expected.emplace_back(key, static_cast<std::uint32_t>(i + 1));
  }
  std::stable_sort(expected.begin(), expected.end(), [](const Entry& a, const Entry& b) {
    return std::lexicographical_compare(
        a.first.begin(), a.first.end(), b.first.begin(), b.first.end(),
        [](char x, char y) { return static_cast<unsigned char>(x) < static_cast<unsigned char>(y); });
  });
  return expected;
}

TEST(ProductionIndex, IndependentReaderFindsEveryKeyInOrder) {
  const std::vector<std::string> stems = {
      "MATEMATI", "matemati", test::ansi("ÑANDÚ"), test::ansi("Éter"), "\x80uro", "Zeta", "A", "LLENGUACATX"};
  std::vector<std::vector<std::string>> tables = {{}, {"UNICO"}, {}};
  for (int i = 0; i < 4000; ++i) tables[2].push_back(stems[(i * 7) % stems.size()] + std::to_string(i % 13));
  for (const auto& abrevs : tables) {
    test::TempDir dir;
    writeMatib(dir.path(), abrevs);
    EXPECT_EQ(indexDump(dir / "MATIB.MDX"), expectedOrder(abrevs)) << abrevs.size() << " records";
  }
}

// Wide keys leave 9 keys a block: 2,000 records make a tree four levels deep.
TEST(ProductionIndex, DeepTreeOfWideKeys) {
  std::vector<std::string> abrevs;
  for (int i = 0; i < 2000; ++i) abrevs.push_back(std::string(90, 'x') + std::to_string((i * 37) % 500));
  test::TempDir dir;
  writeMatib(dir.path(), abrevs, 100);
  EXPECT_EQ(format::getU16(test::readFile(dir / "MATIB.MDX"), 4 * 512 + 14), 9);
  std::vector<Entry> expected = expectedOrder(abrevs, 100);
  EXPECT_EQ(indexDump(dir / "MATIB.MDX"), expected);
  // Searching goes through the interior keys down to the first equal key.
  for (std::size_t i : {0u, 555u, 1234u, 1999u})
    EXPECT_EQ(searched(dir / "MATIB.MDX", expected[i].first),
              *std::find_if(expected.begin(), expected.end(),
                            [&](const Entry& e) { return e.first == expected[i].first; }));
}

TEST(ProductionIndex, HeaderBlocksAndTableFlags) {
  test::TempDir dir;
  writeMatib(dir.path(), {"B", "A"});
  std::string mdx = test::readFile(dir / "MATIB.MDX");
  ASSERT_GE(mdx.size(), 2048u + 1024u + 1024u);
  EXPECT_EQ(mdx.size() % 512, 0u);
  EXPECT_EQ(mdx[0], 2);  // version
  EXPECT_EQ(mdx.substr(4, 6), std::string("MATIB\0", 6));
  EXPECT_EQ(format::getU16(mdx, 20), 2);     // pages per block
  EXPECT_EQ(format::getU16(mdx, 22), 1024);  // block size
  EXPECT_EQ(mdx[24], 1);                     // production
  EXPECT_EQ(mdx[25], 48);                    // tag slots
  EXPECT_EQ(format::getU16(mdx, 26), 32);    // slot size
  EXPECT_EQ(format::getU16(mdx, 28), 1);     // tags in use
  EXPECT_EQ(static_cast<unsigned char>(mdx[31]), 0x57);
  EXPECT_EQ(format::getU32(mdx, 32), mdx.size() / 512);
  EXPECT_EQ(mdx[529], 1);
  EXPECT_EQ(format::getU32(mdx, 544), 4u);  // tag header page
  EXPECT_EQ(mdx.substr(548, 6), std::string("ABREV\0", 6));
  EXPECT_EQ(mdx[564], 'C');
  const std::size_t tag = 4 * 512;
  EXPECT_EQ(format::getU32(mdx, tag), 6u);  // root: the only leaf
  EXPECT_EQ(mdx[tag + 9], 'C');
  EXPECT_EQ(format::getU16(mdx, tag + 12), 10);  // key length = field width
  EXPECT_EQ(format::getU16(mdx, tag + 18), 16);  // item: 4 + 10 rounded up to 4
  EXPECT_EQ(format::getU16(mdx, tag + 14), (1024 - 12) / 16);
  EXPECT_EQ(mdx.substr(tag + 24, 6), std::string("ABREV\0", 6));
  EXPECT_EQ(format::getU32(mdx, 6 * 512), 2u);  // two keys in the leaf

  std::string dbf = test::readFile(dir / "MATIB.DBF");
  EXPECT_EQ(dbf[28], 1);
  EXPECT_EQ(dbf[32 + 31], 0);       // CODI
  EXPECT_EQ(dbf[32 + 32 + 31], 1);  // ABREV
}

TEST(ProductionIndex, RebuiltWhenTheTableChanges) {
  test::TempDir dir;
  writeMatib(dir.path(), {"M2", "M1"});
  {
    Table t(dir.path(), "MATIB");
    t.open(OpenMode::Exclusive);
    t.append();
    t.field("ABREV").setText("M0");
    t.post();
  }
  EXPECT_EQ(indexDump(dir / "MATIB.MDX"), expectedOrder({"M2", "M1", "M0"}));

  // A lost index file comes back from the indexed field's flag.
  std::filesystem::remove(dir / "MATIB.MDX");
  Table t(dir.path(), "MATIB");
  t.open(OpenMode::Shared);
  t.first();
  t.edit();
  t.field("ABREV").setText("Z9");
  t.post();
  t.close();
  EXPECT_EQ(indexDump(dir / "MATIB.MDX"), expectedOrder({"Z9", "M1", "M0"}));
}

TEST(ProductionIndex, ReadsBackItsOwnTags) {
  test::TempDir dir;
  writeMatib(dir.path(), {});
  std::vector<mdx::TagInfo> tags = mdx::readTags(dir / "MATIB.MDX");
  ASSERT_EQ(tags.size(), 1u);
  EXPECT_EQ(tags[0].name, "ABREV");
  EXPECT_EQ(tags[0].expression, "ABREV");
  test::writeFile(dir / "ROTO.MDX", "corto");
  EXPECT_THROW(mdx::readTags(dir / "ROTO.MDX"), Error);
}

}  // namespace
}  // namespace pontix::dbase

// Scolaria.chm as the build leaves it, read back with chmlib itself rather than with the
// program's own reader (which forgives a context string with a folder in front of it): the
// context table must be what a Windows viewer can follow, and no byte of the file, stored or
// compressed, may name the folders of the machine that built it.

#include <chm_lib.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

namespace {

struct CloseChm {
  void operator()(chmFile* file) const { chm_close(file); }
};
using Chm = std::unique_ptr<chmFile, CloseChm>;

Chm openHelp() { return Chm(chm_open(SCOLARIA_CHM)); }

std::optional<std::string> readUnit(chmFile* file, chmUnitInfo& unit) {
  std::string bytes(unit.length, '\0');
  std::uint64_t done = 0;
  while (done < unit.length) {
    const LONGINT64 got =
        chm_retrieve_object(file, &unit, reinterpret_cast<unsigned char*>(bytes.data() + done), done,
                            static_cast<LONGINT64>(unit.length - done));
    if (got <= 0) return std::nullopt;
    done += static_cast<std::uint64_t>(got);
  }
  return bytes;
}

std::optional<std::string> readObject(chmFile* file, const std::string& path) {
  chmUnitInfo unit{};
  if (chm_resolve_object(file, path.c_str(), &unit) != CHM_RESOLVE_SUCCESS) return std::nullopt;
  return readUnit(file, unit);
}

std::uint32_t u32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i)
    v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  return v;
}

// #IVB: the length in bytes of what follows, then (context, offset into #STRINGS) pairs; the
// string at the offset is the topic, a path inside the archive.
std::map<std::uint32_t, std::string> contextTable(chmFile* file) {
  std::map<std::uint32_t, std::string> table;
  const auto ivb = readObject(file, "/#IVB");
  const auto strings = readObject(file, "/#STRINGS");
  EXPECT_TRUE(ivb) << "no #IVB: the help file has no context table";
  EXPECT_TRUE(strings) << "no #STRINGS";
  if (!ivb || !strings) return table;
  EXPECT_GE(ivb->size(), 4u);
  if (ivb->size() < 4) return table;
  const std::uint32_t length = u32(*ivb, 0);
  EXPECT_EQ(length % 8, 0u);
  EXPECT_EQ(length, ivb->size() - 4) << "#IVB says it holds " << length << " bytes of pairs";
  for (std::size_t at = 4; at + 8 <= ivb->size() && at < 4 + std::size_t{length}; at += 8) {
    const std::uint32_t context = u32(*ivb, at), offset = u32(*ivb, at + 4);
    EXPECT_LT(offset, strings->size()) << "context " << context;
    if (offset >= strings->size()) continue;
    const std::size_t end = strings->find('\0', offset);
    EXPECT_NE(end, std::string::npos) << "context " << context << ": its string runs off the end";
    EXPECT_TRUE(table.emplace(context, strings->substr(offset, end - offset)).second)
        << "context " << context << " is there twice";
  }
  return table;
}

TEST(ScolariaChm, ContextOneOpensIndexHtm) {
  const Chm help = openHelp();
  ASSERT_TRUE(help) << "chmlib cannot open " << SCOLARIA_CHM;
  const auto table = contextTable(help.get());
  ASSERT_TRUE(table.count(1)) << "context 1 (IDH_PRINCIPAL) is not in the table";
  EXPECT_EQ(table.at(1), "index.htm");
  // Every topic as [ALIAS] gives it: a file of the archive, named from its root.
  for (const auto& [context, topic] : table) {
    const std::string path = topic.substr(0, topic.find('#'));
    EXPECT_FALSE(path.empty()) << "context " << context;
    if (path.empty()) continue;
    EXPECT_NE(path.front(), '/') << "context " << context << " names an absolute path: " << topic;
    EXPECT_NE(path.front(), '\\') << "context " << context << ": " << topic;
    EXPECT_EQ(path.find(':'), std::string::npos) << "context " << context << ": " << topic;
    EXPECT_EQ(path.find(".."), std::string::npos) << "context " << context << ": " << topic;
    chmUnitInfo unit{};
    EXPECT_EQ(chm_resolve_object(help.get(), ("/" + path).c_str(), &unit), CHM_RESOLVE_SUCCESS)
        << "context " << context << " names " << topic << ", which is not in the archive";
  }
}

// The folders the build compiled in, as CMake names them and as the compiler sees them.
std::set<std::string> buildFolders() {
  std::set<std::string> folders;
  for (const std::filesystem::path folder : {HELP_COMPILE_DIR, HELP_SOURCE_DIR}) {
    folders.insert(folder.string());
    std::error_code error;
    const auto real = std::filesystem::weakly_canonical(folder, error);
    if (!error) folders.insert(real.string());
  }
  return folders;
}

TEST(ScolariaChm, HoldsNoFolderOfTheMachineThatBuiltIt) {
  std::ifstream in(SCOLARIA_CHM, std::ios::binary);
  ASSERT_TRUE(in) << SCOLARIA_CHM;
  const std::string raw((std::istreambuf_iterator<char>(in)), {});

  // The compressed section whole, dropped bytes between the files included: SpanInfo gives
  // its length uncompressed.
  const Chm help = openHelp();
  ASSERT_TRUE(help);
  const auto span = readObject(help.get(), "::DataSpace/Storage/MSCompressed/SpanInfo");
  ASSERT_TRUE(span && span->size() == 8);
  chmUnitInfo section{};
  section.start = 0;
  section.length = u32(*span, 0) | std::uint64_t{u32(*span, 4)} << 32;
  section.space = CHM_COMPRESSED;
  ASSERT_GT(section.length, 0u);
  ASSERT_LT(section.length, 64u << 20);
  const auto content = readUnit(help.get(), section);
  ASSERT_TRUE(content) << "chmlib cannot decompress the content section";
  const auto index = readObject(help.get(), "/index.htm");
  ASSERT_TRUE(index);
  EXPECT_NE(content->find(*index), std::string::npos) << "the section read is not the files' content";

  for (const auto& folder : buildFolders()) {
    EXPECT_EQ(raw.find(folder), std::string::npos) << "the file names " << folder;
    EXPECT_EQ(content->find(folder), std::string::npos) << "the compressed content names " << folder;
  }
}

}  // namespace

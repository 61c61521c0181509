#include "platform/dbase/Mdx.h"

#include <algorithm>

#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/dbase/DbfFormat.h"

namespace pontix::dbase::mdx {
namespace {

using format::putU16;
using format::putU32;

constexpr std::size_t kPageSize = 512;
constexpr std::size_t kBlockSize = 1024;
constexpr std::uint32_t kPagesPerBlock = kBlockSize / kPageSize;
constexpr std::size_t kFileHeaderSize = 2048;  // file header + tag table: pages 0 to 3
constexpr std::size_t kTagSlots = 48;          // slot 0 is not a tag
constexpr std::size_t kTagEntrySize = 32;
constexpr std::size_t kTagTable = 544;  // first tag entry (slot 1)
constexpr std::size_t kMaxTags = kTagSlots - 1;

// File header offsets.
constexpr std::size_t kOffVersion = 0;      // 2
constexpr std::size_t kOffCreated = 1;      // YY MM DD
constexpr std::size_t kOffTableName = 4;    // 16 bytes, NUL padded
constexpr std::size_t kOffBlockPages = 20;  // uint16: pages per block
constexpr std::size_t kOffBlockBytes = 22;  // uint16: bytes per block
constexpr std::size_t kOffProduction = 24;  // 1: production index
constexpr std::size_t kOffSlots = 25;       // tag table slots
constexpr std::size_t kOffEntrySize = 26;   // uint16: bytes per tag table entry
constexpr std::size_t kOffTagsUsed = 28;    // uint16
constexpr std::size_t kOffNextTag = 30;
constexpr std::size_t kOffLanguage = 31;       // language driver, as in the .DBF
constexpr std::size_t kOffPageCount = 32;      // uint32: pages in the file
constexpr std::size_t kOffFirstFree = 36;      // uint32: first free page (none)
constexpr std::size_t kOffBlocksFree = 40;     // uint32
constexpr std::size_t kOffUpdated = 44;        // YY MM DD
constexpr std::size_t kOffSlotZeroFlag = 529;  // always 1 in files written by dBase

// Tag table entry offsets.
constexpr std::size_t kEntHeaderPage = 0;  // uint32
constexpr std::size_t kEntName = 4;        // 11 bytes, NUL padded
constexpr std::size_t kEntKeyFormat = 15;  // 0x10
constexpr std::size_t kEntLeft = 16;       // binary tree of tag names: left, right, parent
constexpr std::size_t kEntRight = 17;
constexpr std::size_t kEntParent = 18;
constexpr std::size_t kEntMarker = 19;   // 0x02
constexpr std::size_t kEntKeyType = 20;  // 'C'

// Tag header block offsets.
constexpr std::size_t kTagRoot = 0;           // uint32: root page
constexpr std::size_t kTagPages = 4;          // uint32: pages used by the tree
constexpr std::size_t kTagKeyFormat = 8;      // 0x10
constexpr std::size_t kTagKeyType = 9;        // 'C'
constexpr std::size_t kTagMarker = 11;        // 0x1B
constexpr std::size_t kTagKeyLength = 12;     // uint16
constexpr std::size_t kTagKeysPerBlock = 14;  // uint16
constexpr std::size_t kTagItemLength = 18;    // uint16: 4-byte pointer + key, multiple of 4
constexpr std::size_t kTagSerial = 20;
constexpr std::size_t kTagExpression = 24;  // NUL terminated
constexpr std::size_t kTagMaxExpression = 220;
constexpr std::size_t kTagHasKeys = 246;
constexpr std::size_t kTagFirstLeaf = 248;    // uint32
constexpr std::size_t kTagLastLeaf = 252;     // uint32
constexpr std::size_t kTagDate = 257;         // YY MM DD
constexpr std::size_t kTagSingleField = 480;  // 1: the key is one field

// Node block: uint32 entry count, uint32 previous node of the level, then entries of
// (uint32 record number or child page, key), then in interior nodes the rightmost child.
constexpr std::size_t kNodeCount = 0;
constexpr std::size_t kNodePrevious = 4;
constexpr std::size_t kNodeEntries = 8;

struct Node {
  std::vector<std::pair<std::string, std::uint32_t>> entries;  // (key, record or child page)
  std::uint32_t rightmost = 0;                                 // interior nodes only
  std::string highest;                                         // highest key below this node
};

// Splits n items into the fewest groups of at most cap, as even as possible.
std::vector<std::size_t> groupSizes(std::size_t n, std::size_t cap) {
  std::size_t groups = std::max<std::size_t>(1, (n + cap - 1) / cap);
  std::vector<std::size_t> sizes(groups, n / groups);
  for (std::size_t i = 0; i < n % groups; ++i) ++sizes[i];
  return sizes;
}

void writeNode(std::string& file, std::uint32_t page, std::uint32_t previous, const Node& node, bool leaf,
               std::size_t itemLength) {
  std::size_t at = page * kPageSize;
  putU32(file, at + kNodeCount, static_cast<std::uint32_t>(node.entries.size()));
  putU32(file, at + kNodePrevious, previous);
  std::size_t e = at + kNodeEntries;
  for (const auto& [key, pointer] : node.entries) {
    putU32(file, e, pointer);
    file.replace(e + 4, key.size(), key);
    e += itemLength;
  }
  if (!leaf) putU32(file, e, node.rightmost);
}

void fail(const std::filesystem::path& file, const std::string& detail) {
  throw Error(ErrorKind::Corruption, "El índice " + file.string() + " está dañado: " + detail);
}

}  // namespace

std::string build(std::string_view tableName, std::vector<TagKeys> tags) {
  if (tags.empty() || tags.size() > kMaxTags)
    throw Error(ErrorKind::InvalidArgument, "Un índice de producción tiene de 1 a 47 etiquetas");
  const std::string today = format::todayBytes();
  std::string file(kFileHeaderSize + tags.size() * kBlockSize, '\0');
  std::uint32_t pageCount = static_cast<std::uint32_t>(file.size() / kPageSize);

  file[kOffVersion] = 2;
  file.replace(kOffCreated, 3, today);
  std::string upper(tableName.substr(0, 16));
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  file.replace(kOffTableName, upper.size(), upper);
  putU16(file, kOffBlockPages, kPagesPerBlock);
  putU16(file, kOffBlockBytes, kBlockSize);
  file[kOffProduction] = 1;
  file[kOffSlots] = static_cast<char>(kTagSlots);
  putU16(file, kOffEntrySize, kTagEntrySize);
  putU16(file, kOffTagsUsed, static_cast<std::uint16_t>(tags.size()));
  file[kOffNextTag] = static_cast<char>(tags.size() + 1);
  file[kOffLanguage] = static_cast<char>(format::kLanguageWindowsAnsi);
  file.replace(kOffUpdated, 3, today);
  file[kOffSlotZeroFlag] = 1;

  // The tag table also links the tags as a binary search tree of their names.
  std::vector<int> left(tags.size()), right(tags.size()), parent(tags.size());
  for (std::size_t t = 1; t < tags.size(); ++t) {
    std::size_t at = 0;
    while (true) {
      std::vector<int>& side = tags[t].name < tags[at].name ? left : right;
      if (side[at] == 0) {
        side[at] = static_cast<int>(t + 1);
        parent[t] = static_cast<int>(at + 1);
        break;
      }
      at = static_cast<std::size_t>(side[at] - 1);
    }
  }

  for (std::size_t t = 0; t < tags.size(); ++t) {
    TagKeys& tag = tags[t];
    const std::size_t keyLength = static_cast<std::size_t>(tag.keyLength);
    const std::size_t itemLength = (4 + keyLength + 3) / 4 * 4;
    const std::size_t perBlock = (kBlockSize - 12) / itemLength;
    const std::uint32_t headerPage =
        static_cast<std::uint32_t>((kFileHeaderSize + t * kBlockSize) / kPageSize);

    std::stable_sort(tag.keys.begin(), tag.keys.end(), [](const auto& a, const auto& b) {
      return std::lexicographical_compare(
          a.first.begin(), a.first.end(), b.first.begin(), b.first.end(),
          [](char x, char y) { return static_cast<unsigned char>(x) < static_cast<unsigned char>(y); });
    });

    // Leaves, then each interior level above them until one node remains: the root.
    std::vector<Node> level;
    std::size_t next = 0;
    for (std::size_t size : groupSizes(tag.keys.size(), perBlock)) {
      Node leaf;
      for (std::size_t i = 0; i < size; ++i, ++next) {
        std::string key = std::move(tag.keys[next].first);
        key.resize(keyLength, ' ');
        leaf.entries.emplace_back(std::move(key), tag.keys[next].second);
      }
      leaf.highest = leaf.entries.empty() ? std::string(keyLength, ' ') : leaf.entries.back().first;
      level.push_back(std::move(leaf));
    }
    // The leaves hold the keys now; a large table's list would double the peak as the file grows.
    const bool hasKeys = !tag.keys.empty();
    std::vector<std::pair<std::string, std::uint32_t>>().swap(tag.keys);
    bool leaves = true;
    std::uint32_t firstLeaf = 0, lastLeaf = 0, treePages = 0, root = 0;
    while (true) {
      std::vector<std::uint32_t> pages;
      for (std::size_t i = 0; i < level.size(); ++i) {
        std::uint32_t page = pageCount;
        pageCount += kPagesPerBlock;
        treePages += kPagesPerBlock;
        file.resize(pageCount * kPageSize, '\0');
        writeNode(file, page, i == 0 ? 0 : pages.back(), level[i], leaves, itemLength);
        pages.push_back(page);
      }
      if (leaves) firstLeaf = pages.front(), lastLeaf = pages.back();
      if (level.size() == 1) {
        root = pages.front();
        break;
      }
      std::vector<Node> above;
      std::size_t child = 0;
      for (std::size_t size : groupSizes(level.size(), perBlock + 1)) {
        Node node;
        for (std::size_t i = 0; i + 1 < size; ++i, ++child)
          node.entries.emplace_back(level[child].highest, pages[child]);
        node.rightmost = pages[child];
        node.highest = level[child].highest;
        ++child;
        above.push_back(std::move(node));
      }
      level = std::move(above);
      leaves = false;
    }

    std::size_t h = headerPage * kPageSize;
    putU32(file, h + kTagRoot, root);
    putU32(file, h + kTagPages, treePages);
    file[h + kTagKeyFormat] = 0x10;
    file[h + kTagKeyType] = 'C';
    file[h + kTagMarker] = 0x1B;
    putU16(file, h + kTagKeyLength, static_cast<std::uint16_t>(keyLength));
    putU16(file, h + kTagKeysPerBlock, static_cast<std::uint16_t>(perBlock));
    putU16(file, h + kTagItemLength, static_cast<std::uint16_t>(itemLength));
    file[h + kTagSerial] = 1;
    file.replace(h + kTagExpression, std::min(tag.expression.size(), kTagMaxExpression), tag.expression);
    file[h + kTagHasKeys] = hasKeys ? 1 : 0;
    putU32(file, h + kTagFirstLeaf, firstLeaf);
    putU32(file, h + kTagLastLeaf, lastLeaf);
    file.replace(h + kTagDate, 3, today);
    file[h + kTagSingleField] = 1;

    std::size_t e = kTagTable + t * kTagEntrySize;
    putU32(file, e + kEntHeaderPage, headerPage);
    file.replace(e + kEntName, std::min<std::size_t>(tag.name.size(), 10), tag.name);
    file[e + kEntKeyFormat] = 0x10;
    file[e + kEntLeft] = static_cast<char>(left[t]);
    file[e + kEntRight] = static_cast<char>(right[t]);
    file[e + kEntParent] = static_cast<char>(parent[t]);
    file[e + kEntMarker] = 0x02;
    file[e + kEntKeyType] = 'C';
  }
  putU32(file, kOffPageCount, pageCount);
  return file;
}

std::vector<TagInfo> readTags(const std::filesystem::path& path) {
  std::string data = io::readWholeFile(path);
  if (data.size() < kFileHeaderSize) fail(path, "es más corto que su cabecera");
  if (data[kOffVersion] != 2) fail(path, "no es un índice de dBase IV");
  std::size_t used = format::getU16(data, kOffTagsUsed);
  if (used > kMaxTags) fail(path, "declara " + std::to_string(used) + " etiquetas");
  std::vector<TagInfo> tags;
  for (std::size_t t = 0; t < used; ++t) {
    std::size_t e = kTagTable + t * kTagEntrySize;
    TagInfo info;
    std::string name = data.substr(e + kEntName, 11);
    info.name = name.substr(0, name.find('\0'));
    info.keyType = data[e + kEntKeyType];
    std::uint64_t h = std::uint64_t{format::getU32(data, e + kEntHeaderPage)} * kPageSize;
    if (h + kBlockSize > data.size()) fail(path, "la etiqueta '" + info.name + "' apunta fuera del archivo");
    std::string expr = data.substr(h + kTagExpression, kTagMaxExpression);
    info.expression = expr.substr(0, expr.find('\0'));
    while (!info.expression.empty() && info.expression.back() == ' ') info.expression.pop_back();
    tags.push_back(std::move(info));
  }
  return tags;
}

}  // namespace pontix::dbase::mdx

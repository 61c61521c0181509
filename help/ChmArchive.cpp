#include "help/ChmArchive.h"

#include <chm_lib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <fstream>
#include <limits>

#include "platform/AnsiText.h"

namespace pontix::help {

namespace {

// Larger files inside an archive are not read: a help page or picture is far smaller, and a
// damaged directory may claim any length.
constexpr std::uint64_t kMaxObjectSize = 64u << 20;

std::optional<std::uint16_t> u16(std::string_view b, std::uint64_t at) {
  if (at > b.size() || b.size() - at < 2) return std::nullopt;
  const auto low = static_cast<unsigned char>(b[at]), high = static_cast<unsigned char>(b[at + 1]);
  return static_cast<std::uint16_t>(low | high << 8);
}

std::optional<std::uint32_t> u32(std::string_view b, std::uint64_t at) {
  if (at > b.size() || b.size() - at < 4) return std::nullopt;
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}

std::optional<std::uint64_t> u64(std::string_view b, std::uint64_t at) {
  if (at > b.size() || b.size() - at < 8) return std::nullopt;
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
  return v;
}

// Whether [offset, offset + length) lies inside [0, size).
bool fits(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
  return offset <= size && length <= size - offset;
}

std::string foldAscii(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}

// ---- The archive's layout, checked before chmlib sees the file ----------------------------

// ITSF header: signature, version, header length, ..., then the two header sections and, in
// version 3, where the content starts.
constexpr std::uint64_t kItsfVersion2Length = 0x58;
constexpr std::uint64_t kItsfVersion3Length = 0x60;
constexpr std::uint64_t kItsfSection0 = 0x38;   // QWORD offset, QWORD length
constexpr std::uint64_t kItsfDirectory = 0x48;  // QWORD offset, QWORD length
constexpr std::uint64_t kItsfContent = 0x58;    // QWORD, version 3 only
constexpr std::uint64_t kSection0FileSize = 8;  // QWORD: the whole file's length
// ITSP: the directory's header, then chunks of block_len bytes up to the directory's end.
constexpr std::uint64_t kItspLength = 0x54;
constexpr std::uint64_t kItspBlockLength = 0x10;
constexpr std::uint64_t kItspIndexRoot = 0x1C;
constexpr std::uint64_t kItspIndexHead = 0x20;
constexpr std::uint64_t kPmglHeader = 20;  // "PMGL", free space, unknown, previous, next
constexpr std::uint64_t kPmgiHeader = 8;   // "PMGI", free space
constexpr std::uint64_t kMaxPathLength = CHM_MAX_PATHLEN;
constexpr std::uint64_t kMaxDirectory = 256u << 20;
constexpr std::uint64_t kMaxBlockLength = 1u << 20;
// LZX: chmlib decompresses whole 32 KiB frames into buffers of that size plus 6 KiB.
constexpr std::uint64_t kLzxFrame = 0x8000;
constexpr std::uint64_t kLzxFrameSlack = 6144;
constexpr std::uint64_t kResetTableLength = 0x28;
constexpr std::uint64_t kMaxControlData = 256;  // chmlib's own buffer for it
constexpr std::string_view kResetTableName =
    "::dataspace/storage/mscompressed/transform/{7fc28940-9d31-11d0-9b27-00a0c91e9c7c}/instancedata/"
    "resettable";
constexpr std::string_view kContentName = "::dataspace/storage/mscompressed/content";
constexpr std::string_view kControlDataName = "::dataspace/storage/mscompressed/controldata";

struct Chunk {
  enum Kind { Other, Listing, Index } kind = Other;
  std::int32_t next = -1;             // a listing chunk's successor, -1 for none
  std::vector<std::size_t> children;  // an index chunk's pages
};

struct DirectoryEntry {
  std::string foldedName;
  std::uint64_t space = 0;
  std::uint64_t start = 0;
  std::uint64_t length = 0;
};

// The directory's variable-length numbers: 7 bits a byte, high bit set on all but the last.
std::optional<std::uint64_t> encint(std::string_view b, std::uint64_t& at, std::uint64_t end) {
  std::uint64_t v = 0;
  for (int n = 0; n < 10 && at < end; ++n) {
    const auto byte = static_cast<unsigned char>(b[at++]);
    if (v > (std::numeric_limits<std::uint64_t>::max() >> 7)) return std::nullopt;
    v = v << 7 | (byte & 0x7F);
    if (!(byte & 0x80)) return v;
  }
  return std::nullopt;
}

class LayoutCheck {
 public:
  explicit LayoutCheck(std::ifstream& in, std::uint64_t size) : in_(in), size_(size) {}

  bool sound() {
    const auto header = readAt(0, std::min<std::uint64_t>(size_, kItsfVersion3Length));
    if (!header || header->substr(0, 4) != "ITSF") return false;
    const auto version = u32(*header, 4), headerLength = u32(*header, 8);
    if (!version || (*version != 2 && *version != 3) || !headerLength) return false;
    if (*headerLength < (*version == 3 ? kItsfVersion3Length : kItsfVersion2Length) || *headerLength > size_)
      return false;
    const auto s0 = u64(*header, kItsfSection0), s0Length = u64(*header, kItsfSection0 + 8);
    const auto dir = u64(*header, kItsfDirectory), dirLength = u64(*header, kItsfDirectory + 8);
    if (!s0 || !s0Length || !dir || !dirLength || !fits(*dir, *dirLength, size_)) return false;
    if (*version == 3) {
      const auto content = u64(*header, kItsfContent);
      if (!content) return false;
      content_ = *content;
    } else {
      content_ = *dir + *dirLength;
    }
    if (content_ > size_) return false;
    // A cut file still opens and reads zeros where its end is missing: the length it was
    // written with tells.
    if (*s0Length >= kSection0FileSize + 8 && fits(*s0, kSection0FileSize + 8, size_)) {
      const auto section0 = readAt(*s0, kSection0FileSize + 8);
      if (!section0 || u64(*section0, kSection0FileSize).value_or(0) > size_) return false;
    }
    return directory(*dir, *dirLength) && compression();
  }

 private:
  std::optional<std::string> readAt(std::uint64_t offset, std::uint64_t length) {
    if (!fits(offset, length, size_)) return std::nullopt;
    std::string bytes(length, '\0');
    in_.clear();
    in_.seekg(static_cast<std::streamoff>(offset));
    if (!in_.read(bytes.data(), static_cast<std::streamsize>(length))) return std::nullopt;
    return bytes;
  }

  bool directory(std::uint64_t offset, std::uint64_t length) {
    if (length < kItspLength || length > kMaxDirectory) return false;
    const auto dir = readAt(offset, length);
    if (!dir || dir->substr(0, 4) != "ITSP") return false;
    const auto headerLength = u32(*dir, 8), blockLength = u32(*dir, kItspBlockLength);
    const auto root = u32(*dir, kItspIndexRoot), head = u32(*dir, kItspIndexHead);
    if (!headerLength || *headerLength != kItspLength || !blockLength || !root || !head) return false;
    if (*blockLength < kPmglHeader + 1 || *blockLength > kMaxBlockLength) return false;
    // chmlib reads any chunk number it meets, also past the directory: only those inside count.
    const std::uint64_t blocks = (length - *headerLength) / *blockLength;
    const auto rootIndex = static_cast<std::int32_t>(*root), headIndex = static_cast<std::int32_t>(*head);
    if (headIndex < 0 || static_cast<std::uint64_t>(headIndex) >= blocks) return false;
    if (rootIndex < -1 || (rootIndex >= 0 && static_cast<std::uint64_t>(rootIndex) >= blocks)) return false;
    chunks_.assign(blocks, Chunk{});
    for (std::uint64_t i = 0; i < blocks; ++i) {
      const std::string_view chunk =
          std::string_view(*dir).substr(*headerLength + std::uint64_t{i} * *blockLength, *blockLength);
      if (chunk.substr(0, 4) == "PMGL") {
        if (!listingChunk(chunk, chunks_[i])) return false;
      } else if (chunk.substr(0, 4) == "PMGI") {
        if (!indexChunk(chunk, chunks_[i])) return false;
      }
    }
    return listingChainEnds(headIndex) && indexTreeEnds(rootIndex < 0 ? headIndex : rootIndex);
  }

  // chmlib lists the files by following the listing chunks' "next" links from the first one.
  bool listingChainEnds(std::int32_t head) const {
    std::vector<bool> seen(chunks_.size());
    for (std::int64_t page = head; page != -1; page = chunks_[page].next) {
      if (page < 0 || static_cast<std::uint64_t>(page) >= chunks_.size() || seen[page]) return false;
      if (chunks_[page].kind != Chunk::Listing) return false;
      seen[page] = true;
    }
    return true;
  }

  // chmlib finds a file by going down the index chunks from the root to a listing chunk.
  bool indexTreeEnds(std::int32_t root) const {
    enum Mark : char { None, Open, Done };
    std::vector<Mark> marks(chunks_.size(), None);
    std::vector<std::pair<std::size_t, std::size_t>> stack{{static_cast<std::size_t>(root), 0}};
    marks[root] = Open;
    while (!stack.empty()) {
      auto& [page, child] = stack.back();
      const Chunk& chunk = chunks_[page];
      if (chunk.kind == Chunk::Other) return false;
      if (child == chunk.children.size()) {
        marks[page] = Done;
        stack.pop_back();
        continue;
      }
      const std::size_t next = chunk.children[child++];
      if (marks[next] == Open) return false;
      if (marks[next] == None) {
        marks[next] = Open;
        stack.emplace_back(next, 0);
      }
    }
    return true;
  }

  bool listingChunk(std::string_view chunk, Chunk& parsed) {
    const auto freeSpace = u32(chunk, 4), next = u32(chunk, 16);
    if (!freeSpace || !next || *freeSpace > chunk.size() - kPmglHeader) return false;
    parsed.kind = Chunk::Listing;
    parsed.next = static_cast<std::int32_t>(*next);
    const std::uint64_t end = chunk.size() - *freeSpace;
    std::uint64_t at = kPmglHeader;
    while (at < end) {
      const auto nameLength = encint(chunk, at, end);
      if (!nameLength || *nameLength > kMaxPathLength || *nameLength > end - at) return false;
      DirectoryEntry entry;
      entry.foldedName = foldAscii(chunk.substr(at, *nameLength));
      at += *nameLength;
      const auto space = encint(chunk, at, end), start = encint(chunk, at, end),
                 length = encint(chunk, at, end);
      if (!space || !start || !length) return false;
      entry.space = *space;
      entry.start = *start;
      entry.length = *length;
      if (entry.space == CHM_UNCOMPRESSED &&
          (entry.start > size_ || !fits(content_ + entry.start, entry.length, size_)))
        return false;
      entries_.push_back(std::move(entry));
    }
    return true;
  }

  bool indexChunk(std::string_view chunk, Chunk& parsed) const {
    const auto freeSpace = u32(chunk, 4);
    if (!freeSpace || *freeSpace > chunk.size() - kPmgiHeader) return false;
    parsed.kind = Chunk::Index;
    const std::uint64_t end = chunk.size() - *freeSpace;
    std::uint64_t at = kPmgiHeader;
    while (at < end) {
      const auto nameLength = encint(chunk, at, end);
      if (!nameLength || *nameLength > kMaxPathLength || *nameLength > end - at) return false;
      at += *nameLength;
      const auto page = encint(chunk, at, end);
      if (!page || *page >= chunks_.size()) return false;
      parsed.children.push_back(static_cast<std::size_t>(*page));
    }
    return true;
  }

  const DirectoryEntry* entry(std::string_view foldedName) const {
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const DirectoryEntry& e) { return e.foldedName == foldedName; });
    return it == entries_.end() || it->space != CHM_UNCOMPRESSED ? nullptr : &*it;
  }

  // chmlib divides by the frame length and the reset interval and sizes its buffers from
  // them; the frames' compressed lengths come from the reset table.
  bool compression() {
    // Every copy of a name counts: which one chmlib finds depends on its index.
    for (const auto& e : entries_)
      if ((e.foldedName == kResetTableName || e.foldedName == kContentName ||
           e.foldedName == kControlDataName) &&
          e.space != CHM_UNCOMPRESSED)
        return false;
    const DirectoryEntry* resetTable = entry(kResetTableName);
    const DirectoryEntry* content = entry(kContentName);
    const DirectoryEntry* controlData = entry(kControlDataName);
    if (!resetTable || !content || !controlData) return true;  // chmlib reads no compressed file then
    return controlDataSound(*controlData) && resetTableSound(*resetTable, *content);
  }

  bool controlDataSound(const DirectoryEntry& e) {
    if (e.length < 0x18 || e.length > kMaxControlData) return false;
    const auto data = readAt(content_ + e.start, e.length);
    if (!data || data->substr(4, 4) != "LZXC") return false;
    const auto version = u32(*data, 8);
    auto resetInterval = u32(*data, 12), windowSize = u32(*data, 16);
    const auto windowsPerReset = u32(*data, 20);
    if (!version || !resetInterval || !windowSize || !windowsPerReset) return false;
    if (*version != 1 && *version != 2) return false;
    if (*version == 2) {  // counted in frames; chmlib multiplies in 32 bits
      *resetInterval *= 0x8000u;
      *windowSize *= 0x8000u;
    }
    if (*windowSize < (1u << 15) || *windowSize > (1u << 21) || (*windowSize & (*windowSize - 1)))
      return false;
    const std::uint64_t resetBlocks = std::uint64_t{*resetInterval} / (*windowSize / 2) * *windowsPerReset;
    return resetBlocks >= 1 && resetBlocks <= std::numeric_limits<std::uint32_t>::max();
  }

  bool resetTableSound(const DirectoryEntry& e, const DirectoryEntry& content) {
    if (e.length < kResetTableLength || e.length > kMaxDirectory) return false;
    const auto table = readAt(content_ + e.start, e.length);
    if (!table) return false;
    const auto version = u32(*table, 0), blocks = u32(*table, 4), tableOffset = u32(*table, 12);
    const auto uncompressed = u64(*table, 16), compressed = u64(*table, 24), frame = u64(*table, 32);
    if (!version || *version != 2 || !blocks || !tableOffset || !uncompressed || !compressed || !frame)
      return false;
    if (*frame != kLzxFrame || *compressed > content.length) return false;
    if (!fits(*tableOffset, std::uint64_t{*blocks} * 8, e.length)) return false;
    if (*uncompressed > std::uint64_t{*blocks} * kLzxFrame) return false;
    for (std::uint32_t i = 0; i < *blocks; ++i) {
      const std::uint64_t start = *u64(*table, *tableOffset + std::uint64_t{i} * 8);
      const std::uint64_t next =
          i + 1 < *blocks ? *u64(*table, *tableOffset + std::uint64_t{i + 1} * 8) : *compressed;
      if (start > next || next > *compressed || next - start > kLzxFrame + kLzxFrameSlack) return false;
    }
    for (const auto& entry : entries_)
      if (entry.space != CHM_UNCOMPRESSED && !fits(entry.start, entry.length, *uncompressed)) return false;
    return true;
  }

  std::ifstream& in_;
  std::uint64_t size_;
  std::uint64_t content_ = 0;
  std::vector<Chunk> chunks_;
  std::vector<DirectoryEntry> entries_;
};

bool soundLayout(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  const std::streamoff size = in.tellg();
  if (size <= 0) return false;
  return LayoutCheck(in, static_cast<std::uint64_t>(size)).sound();
}

// ---- Text --------------------------------------------------------------------------------

bool validUtf8(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    std::uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 1, cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2, cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3, cp = c & 0x07;
    } else {
      return false;
    }
    if (s.size() - i <= n) return false;
    for (std::size_t k = 1; k <= n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = cp << 6 | (d & 0x3F);
    }
    if ((n == 2 && cp < 0x800) || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

void appendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The Latin-1 entities, in code point order from U+00A0.
constexpr std::array<std::string_view, 96> kLatin1Entities = {
    "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",    "copy",
    "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn", "sup2",   "sup3",
    "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",   "raquo",  "frac14", "frac12",
    "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde", "Auml",   "Aring",  "AElig",  "Ccedil",
    "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave", "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde",
    "Ograve", "Oacute", "Ocirc",  "Otilde", "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",
    "Uuml",   "Yacute", "THORN",  "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",
    "aelig",  "ccedil", "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",
    "eth",    "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
    "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};

struct NamedEntity {
  std::string_view name;
  std::uint32_t cp;
};
constexpr std::array<NamedEntity, 30> kOtherEntities = {{
    {"quot", 0x22},     {"amp", 0x26},      {"apos", 0x27},     {"lt", 0x3C},      {"gt", 0x3E},
    {"OElig", 0x152},   {"oelig", 0x153},   {"Scaron", 0x160},  {"scaron", 0x161}, {"Yuml", 0x178},
    {"fnof", 0x192},    {"circ", 0x2C6},    {"tilde", 0x2DC},   {"ndash", 0x2013}, {"mdash", 0x2014},
    {"lsquo", 0x2018},  {"rsquo", 0x2019},  {"sbquo", 0x201A},  {"ldquo", 0x201C}, {"rdquo", 0x201D},
    {"bdquo", 0x201E},  {"dagger", 0x2020}, {"Dagger", 0x2021}, {"bull", 0x2022},  {"hellip", 0x2026},
    {"permil", 0x2030}, {"lsaquo", 0x2039}, {"rsaquo", 0x203A}, {"euro", 0x20AC},  {"trade", 0x2122},
}};

std::optional<std::uint32_t> namedEntity(std::string_view name) {
  for (std::size_t i = 0; i < kLatin1Entities.size(); ++i)
    if (kLatin1Entities[i] == name) return static_cast<std::uint32_t>(0xA0 + i);
  for (const auto& e : kOtherEntities)
    if (e.name == name) return e.cp;
  return std::nullopt;
}

// A numeric reference's character. 128-159 mean what they mean in Windows-1252, as browsers
// read them; impossible ones become U+FFFD.
std::string numericEntity(std::uint64_t cp) {
  if (cp >= 0x80 && cp <= 0x9F) return ansi::toUtf8(std::string(1, static_cast<char>(cp)));
  std::string out;
  appendUtf8(out, cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)
                      ? 0xFFFD
                      : static_cast<std::uint32_t>(cp));
  return out;
}

bool isAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

// ---- Sitemaps ----------------------------------------------------------------------------

struct Tag {
  std::string name;                                             // lower case, "/ul" for a closing tag
  std::vector<std::pair<std::string, std::string>> attributes;  // lower-case names, decoded values
  std::string attribute(std::string_view name) const {
    for (const auto& [n, v] : attributes)
      if (n == name) return v;
    return {};
  }
};

// Reads the tag starting at text[at] == '<'; at ends after its '>' (or at the end of text).
Tag readTag(std::string_view text, std::size_t& at) {
  Tag tag;
  ++at;
  const auto skipSpace = [&] {
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  };
  skipSpace();
  if (at < text.size() && text[at] == '/') {
    tag.name = "/";
    ++at;
  }
  while (at < text.size() && (isAlnum(text[at]) || text[at] == '!')) tag.name += text[at++];
  tag.name = foldAscii(tag.name);
  while (at < text.size() && text[at] != '>') {
    skipSpace();
    std::string name;
    while (at < text.size() && !std::isspace(static_cast<unsigned char>(text[at])) && text[at] != '=' &&
           text[at] != '>')
      name += text[at++];
    skipSpace();
    std::string value;
    if (at < text.size() && text[at] == '=') {
      ++at;
      skipSpace();
      if (at < text.size() && (text[at] == '"' || text[at] == '\'')) {
        const char quote = text[at++];
        const std::size_t end = std::min(text.find(quote, at), text.size());
        value = text.substr(at, end - at);
        at = std::min(end + 1, text.size());
      } else {
        while (at < text.size() && !std::isspace(static_cast<unsigned char>(text[at])) && text[at] != '>')
          value += text[at++];
      }
    }
    if (!name.empty())
      tag.attributes.emplace_back(foldAscii(name), decodeEntities(value));
    else if (at < text.size() && text[at] != '>')
      ++at;  // a stray '=' or quote
  }
  if (at < text.size()) ++at;
  return tag;
}

}  // namespace

ChmSystem parseSystem(std::string_view bytes) {
  ChmSystem system;
  std::uint64_t at = 4;  // the version
  while (true) {
    const auto code = u16(bytes, at), length = u16(bytes, at + 2);
    if (!code || !length || !fits(at + 4, *length, bytes.size())) break;
    std::string_view data = bytes.substr(at + 4, *length);
    data = data.substr(0, data.find('\0'));
    switch (*code) {
      case 0: system.contentsFile = decodeText(data); break;
      case 1: system.indexFile = decodeText(data); break;
      case 2: system.defaultTopic = decodeText(data); break;
      case 3: system.title = decodeText(data); break;
      default: break;
    }
    at += 4 + *length;
  }
  return system;
}

std::optional<std::string> contextString(std::string_view ivb, std::string_view strings, std::uint32_t id) {
  const auto count = u32(ivb, 0);
  if (!count) return std::nullopt;
  const std::uint64_t end = 4 + std::min<std::uint64_t>(*count, ivb.size() - 4);
  for (std::uint64_t at = 4; at + 8 <= end; at += 8) {
    if (*u32(ivb, at) != id) continue;
    const std::uint32_t offset = *u32(ivb, at + 4);
    if (offset >= strings.size()) return std::nullopt;
    const std::string_view text = strings.substr(offset);
    return std::string(text.substr(0, text.find('\0')));
  }
  return std::nullopt;
}

std::string decodeText(std::string_view bytes) {
  return validUtf8(bytes) ? std::string(bytes) : ansi::toUtf8(bytes);
}

std::string decodeEntities(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '&') {
      out += text[i++];
      continue;
    }
    std::size_t j = i + 1;
    if (j < text.size() && text[j] == '#') {
      ++j;
      const bool hex = j < text.size() && (text[j] == 'x' || text[j] == 'X');
      if (hex) ++j;
      std::uint64_t cp = 0;
      const std::size_t digits = j;
      while (j < text.size() && (hex ? std::isxdigit(static_cast<unsigned char>(text[j]))
                                     : std::isdigit(static_cast<unsigned char>(text[j])))) {
        const char d = static_cast<char>(std::tolower(static_cast<unsigned char>(text[j])));
        if (cp <= 0x10FFFF)
          cp = cp * (hex ? 16 : 10) + static_cast<std::uint64_t>(d <= '9' ? d - '0' : d - 'a' + 10);
        ++j;
      }
      if (j > digits) {
        if (j < text.size() && text[j] == ';') ++j;
        out += numericEntity(cp);
        i = j;
        continue;
      }
    } else {
      while (j < text.size() && isAlnum(text[j])) ++j;
      const auto cp = namedEntity(text.substr(i + 1, j - i - 1));
      if (cp) {
        if (j < text.size() && text[j] == ';') ++j;
        appendUtf8(out, *cp);
        i = j;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

std::string declaredCharset(std::string_view html) {
  // The declaration sits in the head; the first few kilobytes hold it.
  const std::string head = foldAscii(html.substr(0, 4096));
  for (std::size_t at = head.find("<meta"); at != std::string::npos; at = head.find("<meta", at + 1)) {
    std::size_t end = at;
    const Tag tag = readTag(head, end);
    std::string charset = tag.attribute("charset");
    if (charset.empty()) {
      const std::string content = tag.attribute("content");
      const std::size_t key = content.find("charset=");
      if (key != std::string::npos) charset = content.substr(key + 8);
    }
    const auto first = charset.find_first_not_of(" \t\"'");
    if (first == std::string::npos) continue;
    charset = charset.substr(first);
    return charset.substr(0, charset.find_first_of(" \t;\"'"));
  }
  return {};
}

std::vector<SitemapEntry> parseSitemap(std::string_view bytes) {
  const std::string text = decodeText(bytes);
  std::vector<SitemapEntry> root;
  // The lists being filled, innermost last. A list opened right after an entry holds its
  // children; one opened with no entry before it goes on with the same list.
  std::vector<std::vector<SitemapEntry>*> lists{&root};
  std::optional<SitemapEntry> object;
  std::string lastName;
  const auto finishObject = [&] {
    if (object && (!object->name.empty() || !object->topics.empty()))
      lists.back()->push_back(std::move(*object));
    object.reset();
  };
  std::size_t at = 0;
  while ((at = text.find('<', at)) != std::string::npos) {
    if (text.compare(at, 4, "<!--") == 0) {
      at = text.find("-->", at);
      if (at == std::string::npos) break;
      continue;
    }
    const Tag tag = readTag(text, at);
    if (tag.name == "ul") {
      finishObject();
      lists.push_back(lists.back()->empty() ? lists.back() : &lists.back()->back().children);
    } else if (tag.name == "/ul") {
      finishObject();
      if (lists.size() > 1) lists.pop_back();
    } else if (tag.name == "li") {
      finishObject();
    } else if (tag.name == "object") {
      finishObject();
      if (foldAscii(tag.attribute("type")) == "text/sitemap") object.emplace();
      lastName.clear();
    } else if (tag.name == "/object") {
      finishObject();
    } else if (tag.name == "param" && object) {
      const std::string name = foldAscii(tag.attribute("name"));
      const std::string value = tag.attribute("value");
      if (name == "name") {
        if (object->name.empty()) object->name = value;
        lastName = value;
      } else if (name == "local") {
        object->topics.push_back({lastName, value});
        lastName.clear();
      }
    }
  }
  finishObject();
  return root;
}

// ---- The archive -------------------------------------------------------------------------

namespace {

int collectPath(chmFile*, chmUnitInfo* unit, void* context) {
  auto& paths = *static_cast<std::vector<std::string>*>(context);
  paths.emplace_back(unit->path, strnlen(unit->path, sizeof unit->path));
  return CHM_ENUMERATOR_CONTINUE;
}

// "/a/b.htm" from "a\b.htm", "./a/x/../b.htm" ...; ".." above the root stays at the root.
std::string normalPath(std::string_view path) {
  std::vector<std::string_view> parts;
  std::string slashed(path);
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  std::string_view rest = slashed;
  while (!rest.empty()) {
    const std::size_t slash = rest.find('/');
    const std::string_view part = rest.substr(0, slash);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  std::string normal;
  for (const auto part : parts) normal.append("/").append(part);
  return normal.empty() ? "/" : normal;
}

bool endsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && foldAscii(text.substr(text.size() - tail.size())) == tail;
}

}  // namespace

std::unique_ptr<ChmArchive> ChmArchive::open(const std::string& path) {
  if (!soundLayout(path)) return nullptr;
  chmFile* file = chm_open(path.c_str());
  if (!file) return nullptr;
  std::unique_ptr<ChmArchive> archive(new ChmArchive(file));
  std::vector<std::string> paths;
  chm_enumerate(file, CHM_ENUMERATE_ALL, collectPath, &paths);
  for (auto& p : paths) {
    if (p.empty() || p.front() != '/' || p.back() == '/') continue;  // internal streams and folders
    archive->byFoldedPath_.emplace(foldAscii(normalPath(p)), p);
    if (p.size() > 1 && p[1] != '#' && p[1] != '$') archive->files_.push_back(p);
  }
  std::sort(archive->files_.begin(), archive->files_.end());
  const auto system = archive->read("/#SYSTEM");
  if (!system) return nullptr;  // every help file has it; a damaged one may not give it whole
  archive->system_ = parseSystem(*system);
  return archive;
}

ChmArchive::ChmArchive(chmFile* file) : file_(file) {}

ChmArchive::~ChmArchive() { chm_close(file_); }

std::optional<std::string> ChmArchive::find(std::string_view path) const {
  if (path.empty()) return std::nullopt;
  const auto it = byFoldedPath_.find(foldAscii(normalPath(path)));
  if (it == byFoldedPath_.end()) return std::nullopt;
  return it->second;
}

std::optional<std::string> ChmArchive::read(std::string_view path) const {
  const auto found = find(path);
  if (!found) return std::nullopt;
  chmUnitInfo unit{};
  if (chm_resolve_object(file_, found->c_str(), &unit) != CHM_RESOLVE_SUCCESS) return std::nullopt;
  if (unit.length > kMaxObjectSize) return std::nullopt;
  std::string bytes(unit.length, '\0');
  std::uint64_t done = 0;
  while (done < unit.length) {
    const LONGINT64 got =
        chm_retrieve_object(file_, &unit, reinterpret_cast<unsigned char*>(bytes.data() + done), done,
                            static_cast<LONGINT64>(unit.length - done));
    if (got <= 0) return std::nullopt;
    done += static_cast<std::uint64_t>(got);
  }
  return bytes;
}

std::optional<std::string> ChmArchive::onlyFileEndingIn(std::string_view extension) const {
  std::optional<std::string> only;
  for (const auto& f : files_) {
    if (!endsWith(f, extension)) continue;
    if (only) return std::nullopt;
    only = f;
  }
  return only;
}

std::optional<std::string> ChmArchive::defaultTopic() const {
  if (auto topic = find(system_.defaultTopic)) return topic;
  for (const auto& f : files_)
    if (endsWith(f, ".htm") || endsWith(f, ".html")) return f;
  return std::nullopt;
}

std::optional<std::string> ChmArchive::contentsFile() const {
  if (auto file = find(system_.contentsFile)) return file;
  return onlyFileEndingIn(".hhc");
}

std::optional<std::string> ChmArchive::indexFile() const {
  if (auto file = find(system_.indexFile)) return file;
  return onlyFileEndingIn(".hhk");
}

std::optional<std::string> ChmArchive::contextTopic(std::uint32_t id) const {
  const auto ivb = read("/#IVB"), strings = read("/#STRINGS");
  if (!ivb || !strings) return std::nullopt;
  auto target = contextString(*ivb, *strings, id);
  if (!target) return std::nullopt;
  std::replace(target->begin(), target->end(), '\\', '/');
  const std::size_t hash = target->find('#');
  const std::string fragment = hash == std::string::npos ? "" : target->substr(hash);
  const std::string path = target->substr(0, hash);
  if (auto found = find(path)) return *found + fragment;
  for (std::size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
    if (auto found = find(std::string_view(path).substr(slash))) return *found + fragment;
  return std::nullopt;
}

}  // namespace pontix::help

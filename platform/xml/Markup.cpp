#include "platform/xml/Markup.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace pontix::xml::markup {
namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Reads markup from the start of `text`. When `text` is only the beginning of what there is to
// read, a construct it cuts short is left for the next call, which starts with it.
class Scanner {
 public:
  Scanner(std::string_view text, std::size_t& declarations, int line = 1, bool whole = true)
      : text_(text), declarations_(declarations), whole_(whole), line_(line) {}

  std::optional<CrowdedTag> firstCrowded() {
    while (pos_ < text_.size()) {
      if (text_[pos_] != '<') {
        skipTo('<');
        continue;
      }
      const std::size_t start = pos_;
      const int startLine = line_;
      const std::size_t startDeclarations = declarations_;
      std::optional<CrowdedTag> crowded;
      if (at("<!--")) {
        skipPast("-->", 4);
      } else if (at("<![CDATA[")) {
        skipPast("]]>", 9);
      } else if (at("<?")) {
        skipPast("?>", 2);
      } else if (at("<!")) {
        skipDeclaration();
      } else if (at("</")) {
        skipPast(">", 2);
      } else {
        crowded = startTag();
      }
      // Counts only grow as a construct goes on: a crowded tag is crowded however it ends.
      if (crowded) return crowded;
      if (cut_ && !whole_) {
        pos_ = start;
        line_ = startLine;
        declarations_ = startDeclarations;
        return std::nullopt;
      }
    }
    return std::nullopt;
  }

  // Where the text read so far ends: the start of a construct cut short, or the end.
  std::size_t consumed() const { return pos_; }
  int line() const { return line_; }

 private:
  bool at(std::string_view s) const { return text_.substr(pos_, s.size()) == s; }

  void step() {
    if (text_[pos_] == '\n') ++line_;
    ++pos_;
  }

  // Up to the next `c` (or the end) in one stride: text and values are most of a document.
  void skipTo(char c) {
    std::size_t next = text_.find(c, pos_);
    if (next == std::string_view::npos) next = text_.size();
    line_ += static_cast<int>(std::count(text_.begin() + static_cast<std::ptrdiff_t>(pos_),
                                         text_.begin() + static_cast<std::ptrdiff_t>(next), '\n'));
    pos_ = next;
  }

  void skipPast(std::string_view end, std::size_t opening) {
    for (std::size_t i = 0; i < opening; ++i) step();
    while (pos_ < text_.size() && !at(end)) step();
    if (pos_ == text_.size()) cut_ = true;
    for (std::size_t i = 0; i < end.size() && pos_ < text_.size(); ++i) step();
  }

  // <!DOCTYPE ... [ internal subset ]>, <!ENTITY ...>: quoted literals, nested declarations,
  // comments and processing instructions.
  void skipDeclaration() {
    step();
    step();
    int depth = 0;
    while (pos_ < text_.size()) {
      char c = text_[pos_];
      if (c == '"' || c == '\'') {
        step();
        while (pos_ < text_.size() && text_[pos_] != c) step();
        if (pos_ < text_.size()) step();
      } else if (at("<!--")) {
        skipPast("-->", 4);
      } else if (at("<?")) {
        skipPast("?>", 2);
      } else {
        step();
        if (c == '[') ++depth;
        if (c == ']') --depth;
        if (c == '>' && depth <= 0) return;
      }
    }
    cut_ = true;
  }

  // Counts the attributes as the '=' outside their values: a value is only what follows '='.
  // The word before each '=' is its name, for the namespace declarations.
  std::optional<CrowdedTag> startTag() {
    const int line = line_;
    const char* text = text_.data();
    const std::size_t size = text_.size();
    std::size_t i = pos_ + 1;
    const std::size_t nameStart = i;
    while (i < size && !isSpace(text[i]) && text[i] != '/' && text[i] != '>') ++i;
    const std::size_t nameLength = i - nameStart;
    // Named only when refused: most start tags are not.
    auto crowded = [&](bool namespaces) {
      std::string name;
      for (char c : text_.substr(nameStart, std::min<std::size_t>(nameLength, 100)))
        name += c > ' ' && c < 0x7F ? c : '?';
      pos_ = i;
      return CrowdedTag{name, line, namespaces};
    };
    std::size_t attributes = 0;
    bool afterEquals = false;
    std::size_t wordStart = 0, wordEnd = 0;
    bool inWord = false;
    bool closed = false;
    while (i < size) {
      const char c = text[i++];
      if (c == '>') {
        closed = true;
        break;
      }
      if (c == '=') {
        afterEquals = true;
        inWord = false;
        if (++attributes > kMaxAttributes) return crowded(false);
        std::string_view word = text_.substr(wordStart, wordEnd - wordStart);
        if ((word == "xmlns" || word.starts_with("xmlns:")) && ++declarations_ > kMaxNamespaceDeclarations)
          return crowded(true);
        wordStart = wordEnd = 0;
      } else if ((c == '"' || c == '\'') && afterEquals) {
        i = valueEnd(i, c);
        if (i < size) ++i;
        afterEquals = false;
      } else if (isSpace(c)) {
        if (c == '\n') ++line_;
        inWord = false;
      } else {
        afterEquals = false;
        if (!inWord) wordStart = i - 1;
        inWord = true;
        wordEnd = i;
      }
    }
    pos_ = i;
    if (!closed) cut_ = true;
    return std::nullopt;
  }

  // Where the value from `i` ends at `quote` (or the end of the text), its lines counted.
  // Values are most of a document and short: sixteen bytes at a time where the processor
  // allows, not a search per value.
  std::size_t valueEnd(std::size_t i, char quote) {
    const char* text = text_.data();
    const std::size_t size = text_.size();
#ifdef __SSE2__
    const __m128i quotes = _mm_set1_epi8(quote), newlines = _mm_set1_epi8('\n');
    while (i + 16 <= size) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
      const int found =
          _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, quotes), _mm_cmpeq_epi8(bytes, newlines)));
      if (found == 0) {
        i += 16;
        continue;
      }
      i += static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(found)));
      if (text[i] == quote) return i;
      ++line_;
      ++i;
    }
#endif
    while (i < size && text[i] != quote) {
      if (text[i] == '\n') ++line_;
      ++i;
    }
    return i;
  }

  std::string_view text_;
  std::size_t& declarations_;
  const bool whole_;
  std::size_t pos_ = 0;
  int line_;
  bool cut_ = false;
};

std::string upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (c == '_') c = '-';
  }
  return out;
}

// The name goes into the message the user reads: a NUL would cut it short, other control bytes
// or half a character would garble it.
std::string shown(std::string_view name) {
  std::string safe(name.substr(0, 40));
  for (char& c : safe)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) c = '?';
  return safe;
}

// A declared encoding in which '<', '=', '>' and the quotes might not be those ASCII bytes.
std::string refused(std::string_view name) {
  if (name.empty()) return "";
  const std::string n = upper(name);
  for (std::string_view exact :
       {"UTF-8", "UTF8", "UTF-16", "UTF16", "UTF-16LE", "UTF-16BE", "US-ASCII", "ASCII"})
    if (n == exact) return "";
  for (std::string_view prefix : {"ISO-8859-", "ISO8859-", "LATIN", "WINDOWS-125", "CP125"})
    if (n.starts_with(prefix)) return "";
  return shown(name);
}

// The encoding named by the XML declaration at the start of the skeleton, if any.
std::string declaredEncoding(std::string_view text) {
  if (!text.starts_with("<?xml")) return "";
  std::string_view declaration = text.substr(0, text.find("?>"));
  std::size_t key = declaration.find("encoding");
  if (key == std::string_view::npos) return "";
  std::size_t i = key + 8;
  while (i < declaration.size() && isSpace(declaration[i])) ++i;
  if (i >= declaration.size() || declaration[i] != '=') return "";
  ++i;
  while (i < declaration.size() && isSpace(declaration[i])) ++i;
  if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\'')) return "";
  std::size_t close = declaration.find(declaration[i], i + 1);
  return std::string(declaration.substr(i + 1, close == std::string_view::npos ? 0 : close - i - 1));
}

enum class Units { Bytes, Utf16LE, Utf16BE, Utf32, Ebcdic };

Units unitsOf(std::string_view bytes) {
  using namespace std::string_view_literals;
  for (std::string_view mark :
       {"\x00\x00\x00\x3C"sv, "\x3C\x00\x00\x00"sv, "\x00\x00\xFE\xFF"sv, "\xFF\xFE\x00\x00"sv})
    if (bytes.starts_with(mark)) return Units::Utf32;
  if (bytes.starts_with("\x4C\x6F\xA7\x94"sv)) return Units::Ebcdic;
  if (bytes.starts_with("\xFF\xFE"sv) || bytes.starts_with("\x3C\x00"sv)) return Units::Utf16LE;
  if (bytes.starts_with("\xFE\xFF"sv) || bytes.starts_with("\x00\x3C"sv)) return Units::Utf16BE;
  return Units::Bytes;
}

// A UTF-16 document's characters, those outside ASCII as 'x': its markup as ASCII.
std::string asciiOfUtf16(std::string_view bytes, bool bigEndian, std::size_t maxUnits = SIZE_MAX) {
  std::string text;
  text.reserve(std::min(bytes.size() / 2, maxUnits));
  for (std::size_t i = 0; i + 1 < bytes.size() && text.size() < maxUnits; i += 2) {
    auto lo = static_cast<unsigned char>(bytes[i + (bigEndian ? 1 : 0)]);
    auto hi = static_cast<unsigned char>(bytes[i + (bigEndian ? 0 : 1)]);
    text += hi == 0 && lo < 0x80 ? static_cast<char>(lo) : 'x';
  }
  if (text.starts_with('x')) text.erase(0, 1);  // the byte-order mark
  return text;
}

}  // namespace

std::optional<CrowdedTag> crowdedStartTag(std::string_view text, std::size_t& declarations) {
  return Scanner(text, declarations).firstCrowded();
}

std::optional<CrowdedTag> crowdedStartTagInStream(const Read& read, std::size_t& declarations) {
  constexpr std::size_t kChunk = 1 << 20;
  // Not zeroed first: only what is read into it is looked at.
  std::unique_ptr<char[]> room;
  std::size_t roomSize = 0;
  std::string pending;  // markup not yet looked at: a construct cut short, then what follows
  std::string oddByte;  // of UTF-16, for the next piece
  std::size_t want = kChunk;
  int line = 1;
  Units units = Units::Bytes;
  for (bool start = true, end = false; !end; start = false) {
    if (roomSize < want) {
      room.reset();
      room.reset(new char[want]);
      roomSize = want;
    }
    const std::string_view chunk(room.get(), read(room.get(), want));
    end = chunk.empty();
    if (start) units = unitsOf(chunk);
    if (units == Units::Utf16LE || units == Units::Utf16BE) {
      std::string bytes = oddByte + std::string(chunk);
      oddByte = bytes.size() % 2 ? bytes.substr(bytes.size() - 1) : std::string();
      bytes.resize(bytes.size() - oddByte.size());
      // asciiOfUtf16 takes a first unit outside ASCII for the byte-order mark, which only the
      // document's first unit may be.
      const bool bigEndian = units == Units::Utf16BE;
      const std::string space = bigEndian ? std::string("\0 ", 2) : std::string(" \0", 2);
      std::string ascii = asciiOfUtf16(start ? bytes : space + bytes, bigEndian);
      pending += start ? std::string_view(ascii) : std::string_view(ascii).substr(1);
    } else {
      pending += chunk;
    }
    Scanner scanner(pending, declarations, line, end);
    if (std::optional<CrowdedTag> crowded = scanner.firstCrowded()) return crowded;
    line = scanner.line();
    pending.erase(0, scanner.consumed());
    // A long construct is looked at again from its start: reading as much again as it has
    // keeps that linear.
    want = std::max(kChunk, pending.size());
  }
  return std::nullopt;
}

std::string unreadableEncoding(std::string_view bytes) {
  switch (unitsOf(bytes)) {
    case Units::Utf32: return "UTF-32";
    case Units::Ebcdic: return "EBCDIC";
    case Units::Utf16LE: return refused(declaredEncoding(asciiOfUtf16(bytes, false, 1024)));
    case Units::Utf16BE: return refused(declaredEncoding(asciiOfUtf16(bytes, true, 1024)));
    case Units::Bytes: break;
  }
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  return refused(declaredEncoding(bytes.substr(0, 1024)));
}

std::optional<EncodingConflict> conflictingEncoding(std::string_view bytes) {
  std::string actual, declared;
  switch (unitsOf(bytes)) {
    case Units::Utf16LE:
      actual = "UTF-16LE";
      declared = declaredEncoding(asciiOfUtf16(bytes, false, 1024));
      break;
    case Units::Utf16BE:
      actual = "UTF-16BE";
      declared = declaredEncoding(asciiOfUtf16(bytes, true, 1024));
      break;
    case Units::Bytes:
      if (!bytes.starts_with("\xEF\xBB\xBF")) return std::nullopt;
      actual = "UTF-8";
      declared = declaredEncoding(bytes.substr(3, 1024));
      break;
    default: return std::nullopt;
  }
  if (declared.empty()) return std::nullopt;
  const std::string name = upper(declared);
  const bool utf8 = name == "UTF-8" || name == "UTF8";
  const bool utf16 = name.starts_with("UTF-16") || name.starts_with("UTF16");
  if (actual == "UTF-8" ? utf8 : name == "UTF-16" || name == "UTF16" || name == actual) return std::nullopt;
  return EncodingConflict{actual, shown(declared), actual == "UTF-8" && !utf16};
}

}  // namespace pontix::xml::markup

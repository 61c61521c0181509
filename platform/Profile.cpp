#include "platform/Profile.h"

#include <optional>
#include <string>
#include <vector>

#include "platform/AnsiText.h"
#include "platform/Error.h"
#include "platform/FileIo.h"

namespace pontix {
namespace {

// The editing works on code units, so the same code serves ANSI, UTF-8 and UTF-16 files:
// every character it looks at is ASCII, and everything else is carried through untouched.
template <typename Char>
using Text = std::basic_string<Char>;
template <typename Char>
using View = std::basic_string_view<Char>;

struct Line {
  std::size_t begin;  // first unit
  std::size_t end;    // one past the content, before "\r\n" or "\n"
  std::size_t next;   // start of the following line
};

template <typename Char>
std::vector<Line> splitLines(const Text<Char>& text) {
  std::vector<Line> lines;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t nl = text.find(Char('\n'), pos);
    std::size_t next = nl == Text<Char>::npos ? text.size() : nl + 1;
    std::size_t end = nl == Text<Char>::npos ? text.size() : nl;
    if (end > pos && text[end - 1] == Char('\r')) --end;
    lines.push_back({pos, end, next});
    pos = next;
  }
  return lines;
}

template <typename Char>
View<Char> trimBlanks(View<Char> s) {
  auto blank = [](Char c) { return c == Char(' ') || c == Char('\t'); };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

template <typename Char>
bool sameName(View<Char> a, View<Char> b) {
  a = trimBlanks(a);
  b = trimBlanks(b);
  if (a.size() != b.size()) return false;
  auto lower = [](Char c) { return (c >= Char('A') && c <= Char('Z')) ? static_cast<Char>(c + 32) : c; };
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

// The name of a section header line, or nothing when the line is not one.
template <typename Char>
std::optional<View<Char>> sectionName(View<Char> content) {
  content = trimBlanks(content);
  if (content.empty() || content.front() != Char('[')) return std::nullopt;
  std::size_t close = content.find(Char(']'));
  return content.substr(1, close == View<Char>::npos ? View<Char>::npos : close - 1);
}

template <typename Char>
bool isKeyLine(View<Char> content) {
  content = trimBlanks(content);
  return !content.empty() && content.front() != Char(';');
}

template <typename Char>
void setKey(Text<Char>& text, View<Char> section, View<Char> key, View<Char> value) {
  const Text<Char> crlf{Char('\r'), Char('\n')};
  const Text<Char> newKeyLine = Text<Char>(key) + Char('=') + Text<Char>(value) + crlf;
  const std::vector<Line> lines = splitLines(text);
  auto content = [&](const Line& l) { return View<Char>(text).substr(l.begin, l.end - l.begin); };
  // What a line lacks before text can follow it: nothing after '\n'; a last line that ends in a
  // lone '\r' lacks only the '\n', and the new text would otherwise join that line.
  auto missingEnd = [&](const Line& l) {
    if (l.next == l.end) return crlf;
    return text[l.next - 1] == Char('\n') ? Text<Char>() : Text<Char>(1, Char('\n'));
  };
  auto isSection = [&](const Line& l) {
    std::optional<View<Char>> name = sectionName(content(l));
    return name && sameName(*name, section);
  };

  std::size_t s = 0;
  while (s < lines.size() && !isSection(lines[s])) ++s;

  if (s == lines.size()) {
    if (!lines.empty()) text += missingEnd(lines.back());
    text += Char('[') + Text<Char>(section) + Char(']') + crlf + newKeyLine;
    return;
  }
  std::size_t lastKey = s;
  for (std::size_t i = s + 1; i < lines.size() && !sectionName(content(lines[i])); ++i) {
    View<Char> c = content(lines[i]);
    if (!isKeyLine(c)) continue;
    lastKey = i;
    std::size_t eq = c.find(Char('='));
    if (!sameName(c.substr(0, eq), key)) continue;
    if (eq == View<Char>::npos) {
      text.replace(lines[i].begin, lines[i].end - lines[i].begin,
                   Text<Char>(trimBlanks(c)) + Char('=') + Text<Char>(value));
    } else {
      std::size_t from = lines[i].begin + eq + 1;
      text.replace(from, lines[i].end - from, value);
    }
    return;
  }
  const Line& after = lines[lastKey];
  text.insert(after.next, missingEnd(after) + newKeyLine);
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";
constexpr std::string_view kUtf16BeBom = "\xFE\xFF";

// ANSI text as UTF-16; Windows-1252 has only characters of the basic plane.
std::u16string toUtf16(std::string_view ansi) {
  const std::string utf8 = ansi::toUtf8(ansi);
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    auto b = [&](std::size_t k) { return static_cast<char16_t>(static_cast<unsigned char>(utf8[i + k])); };
    if (b(0) < 0x80) {
      out += b(0);
      i += 1;
    } else if (b(0) < 0xE0) {
      out += static_cast<char16_t>((b(0) & 0x1F) << 6 | (b(1) & 0x3F));
      i += 2;
    } else {
      out += static_cast<char16_t>((b(0) & 0x0F) << 12 | (b(1) & 0x3F) << 6 | (b(2) & 0x3F));
      i += 3;
    }
  }
  return out;
}

// Code units only, so a lone surrogate or any other oddity goes back exactly as it came.
std::u16string unitsFromBytes(std::string_view bytes, bool bigEndian) {
  std::u16string units(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    auto hi = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 0 : 1)]);
    auto lo = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 1 : 0)]);
    units[i] = static_cast<char16_t>(hi << 8 | lo);
  }
  return units;
}

std::string bytesFromUnits(std::u16string_view units, bool bigEndian) {
  std::string bytes(units.size() * 2, '\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    bytes[2 * i + (bigEndian ? 0 : 1)] = static_cast<char>(units[i] >> 8);
    bytes[2 * i + (bigEndian ? 1 : 0)] = static_cast<char>(units[i] & 0xFF);
  }
  return bytes;
}

[[noreturn]] void unableToWrite(const std::filesystem::path& path) {
  throw Error(
      ErrorKind::IOError, "Unable to write to " + path.string(),
      "Compruebe que la carpeta de Horalia admite cambios y que queda espacio en el disco, y vuelva a "
      "intentarlo.");
}

}  // namespace

void writeProfileString(const std::filesystem::path& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  std::string bytes;
  std::error_code ec;
  if (std::filesystem::exists(path, ec) || ec) {
    try {
      bytes = io::readWholeFile(path);
    } catch (const Error&) {
      unableToWrite(path);
    }
  }

  // A byte-order mark says the file is Unicode: it stays in its encoding, mark included.
  if (bytes.starts_with(kUtf8Bom)) {
    std::string text = bytes.substr(kUtf8Bom.size());
    const std::string s = ansi::toUtf8(section), k = ansi::toUtf8(key), v = ansi::toUtf8(value);
    setKey<char>(text, s, k, v);
    bytes = std::string(kUtf8Bom) + text;
  } else if (bytes.starts_with(kUtf16LeBom) || bytes.starts_with(kUtf16BeBom)) {
    // Half a code unit at the end cannot be placed; rewriting would damage the file further.
    if (bytes.size() % 2 != 0) unableToWrite(path);
    const bool bigEndian = bytes.starts_with(kUtf16BeBom);
    std::u16string text = unitsFromBytes(std::string_view(bytes).substr(2), bigEndian);
    const std::u16string s = toUtf16(section), k = toUtf16(key), v = toUtf16(value);
    setKey<char16_t>(text, s, k, v);
    bytes = bytes.substr(0, 2) + bytesFromUnits(text, bigEndian);
  } else {
    setKey<char>(bytes, section, key, value);
  }

  try {
    io::writeFileAtomically(path, bytes);
  } catch (const Error&) {
    unableToWrite(path);
  }
}

}  // namespace pontix

#include "platform/AnsiText.h"

#include <algorithm>
#include <array>

namespace pontix::ansi {
namespace {

#include "platform/Cp1252Tables.inc"

constexpr char32_t kReplacement = 0xFFFD;

unsigned char unitToAnsi(std::uint16_t unit) {
  if (unit < 0x80) return static_cast<unsigned char>(unit);
  auto it = std::lower_bound(std::begin(kUnicodeToAnsi), std::end(kUnicodeToAnsi), unit,
                             [](const UnicodeToAnsi& e, std::uint16_t u) { return e.unit < u; });
  if (it != std::end(kUnicodeToAnsi) && it->unit == unit) return it->byte;
  return '?';
}

// Decodes one UTF-8 sequence at text[i], advancing i; malformed input gives U+FFFD.
char32_t decodeUtf8(std::string_view text, std::size_t& i) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i++);
  if (lead < 0x80) return lead;
  int extra;
  char32_t cp;
  char32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, cp = lead & 0x07, min = 0x10000;
  } else {
    return kReplacement;
  }
  for (int k = 0; k < extra; ++k) {
    if (i >= text.size() || (byte(i) & 0xC0) != 0x80) return kReplacement;
    cp = (cp << 6) | (byte(i++) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kReplacement;
  return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Per byte, what it folds to: itself, another byte, two letters, or nothing.
struct Fold {
  char text[2];
  unsigned char length;
};

constexpr std::array<Fold, 256> makeFoldTable() {
  std::array<Fold, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = {{static_cast<char>(b), 0}, 1};
  auto one = [&](int from, int to) { table[from] = {{static_cast<char>(to), 0}, 1}; };
  auto two = [&](int from, char a, char b) { table[from] = {{a, b}, 2}; };
  for (int b = 'A'; b <= 'Z'; ++b) one(b, b + 0x20);
  for (int b = 0xC0; b <= 0xDE; ++b)
    if (b != 0xD7) one(b, b + 0x20);  // 0xD7 is the multiplication sign
  one(0x88, '^');                     // modifier circumflex equals the caret
  one(0x8A, 0x9A);
  one(0x8E, 0x9E);
  one(0x9F, 0xFF);
  two(0x8C, 'o', 'e');
  two(0x9C, 'o', 'e');
  two(0xC6, 'a', 'e');
  two(0xE6, 'a', 'e');
  two(0xDE, 't', 'h');
  two(0xFE, 't', 'h');
  two(0xDF, 's', 's');
  table[0xAD] = {{0, 0}, 0};  // the soft hyphen is ignored
  return table;
}

constexpr std::array<Fold, 256> kFold = makeFoldTable();

// The one-byte folds, and the capitals of the two-letter ones to their small letters.
constexpr std::array<char, 256> makeByteFoldTable() {
  std::array<char, 256> table{};
  for (int b = 0; b < 256; ++b) table[b] = kFold[b].length == 1 ? kFold[b].text[0] : static_cast<char>(b);
  table[0x8C] = static_cast<char>(0x9C);
  table[0xC6] = static_cast<char>(0xE6);
  table[0xDE] = static_cast<char>(0xFE);
  return table;
}

constexpr std::array<char, 256> kByteFold = makeByteFoldTable();

}  // namespace

namespace {

template <bool Count>
void convertFromUtf8(std::string_view utf8, std::string& out, std::size_t* replaced) {
  out.clear();
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    // ASCII maps to itself, and most text is ASCII: copied a run at a time.
    std::size_t run = i;
    while (run < utf8.size() && static_cast<unsigned char>(utf8[run]) < 0x80) ++run;
    if (run > i) {
      out.append(utf8.data() + i, run - i);
      i = run;
      continue;
    }
    char32_t cp = decodeUtf8(utf8, i);
    if (cp >= 0x10000) {
      // Each half of the surrogate pair has no mapping of its own.
      out += unitToAnsi(static_cast<std::uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out += unitToAnsi(static_cast<std::uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
      if constexpr (Count) ++*replaced;
    } else {
      const auto byte = static_cast<unsigned char>(unitToAnsi(static_cast<std::uint16_t>(cp)));
      out += static_cast<char>(byte);
      if constexpr (Count)
        if (kAnsiToUnicode[byte] != cp) ++*replaced;
    }
  }
}

}  // namespace

std::string fromUtf8(std::string_view utf8) {
  std::string out;
  convertFromUtf8<false>(utf8, out, nullptr);
  return out;
}

std::string fromUtf8(std::string_view utf8, std::size_t& replaced) {
  std::string out;
  convertFromUtf8<true>(utf8, out, &replaced);
  return out;
}

void fromUtf8(std::string_view utf8, std::string& out, std::size_t& replaced) {
  convertFromUtf8<true>(utf8, out, &replaced);
}

std::string toUtf8(std::string_view ansi) {
  std::string out;
  out.reserve(ansi.size() + ansi.size() / 4);
  for (char c : ansi) appendUtf8(out, kAnsiToUnicode[static_cast<unsigned char>(c)]);
  return out;
}

std::size_t utf8SequenceLength(std::string_view text, std::size_t at) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
  const std::size_t length = byte(0) < 0x80   ? 1
                             : byte(0) < 0xC2 ? 0
                             : byte(0) < 0xE0 ? 2
                             : byte(0) < 0xF0 ? 3
                             : byte(0) < 0xF5 ? 4
                                              : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k)
    if ((byte(k) & 0xC0) != 0x80) return 0;
  if (length == 3 && ((byte(0) == 0xE0 && byte(1) < 0xA0) || (byte(0) == 0xED && byte(1) >= 0xA0))) return 0;
  if (length == 4 && ((byte(0) == 0xF0 && byte(1) < 0x90) || (byte(0) == 0xF4 && byte(1) >= 0x90))) return 0;
  return length;
}

bool isUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string_view trimControls(std::string_view utf8) {
  // In UTF-8 the code points up to U+0020 are exactly the bytes up to 0x20.
  auto isControl = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  while (!utf8.empty() && isControl(utf8.front())) utf8.remove_prefix(1);
  while (!utf8.empty() && isControl(utf8.back())) utf8.remove_suffix(1);
  return utf8;
}

std::string foldCase(std::string_view ansi) {
  // Byte for byte until a byte folds to another length: the lists of abbreviations fold every
  // text they look up.
  std::string out(ansi.size(), '\0');
  char* next = out.data();
  std::size_t i = 0;
  for (; i < ansi.size(); ++i) {
    const Fold& f = kFold[static_cast<unsigned char>(ansi[i])];
    if (f.length != 1) break;
    *next++ = f.text[0];
  }
  if (i == ansi.size()) return out;
  out.resize(static_cast<std::size_t>(next - out.data()));
  for (; i < ansi.size(); ++i) {
    const Fold& f = kFold[static_cast<unsigned char>(ansi[i])];
    out.append(f.text, f.length);
  }
  return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) { return foldsTo(a, foldCase(b)); }

bool foldsTo(std::string_view ansi, std::string_view folded) {
  std::size_t at = 0;
  for (char c : ansi) {
    const Fold& f = kFold[static_cast<unsigned char>(c)];
    if (folded.size() - at < f.length || folded.compare(at, f.length, f.text, f.length) != 0) return false;
    at += f.length;
  }
  return at == folded.size();
}

std::string foldCaseKeepingLength(std::string_view ansi) {
  std::string out(ansi);
  for (char& c : out) c = kByteFold[static_cast<unsigned char>(c)];
  return out;
}

}  // namespace pontix::ansi

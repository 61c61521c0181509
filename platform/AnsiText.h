#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// "ANSI text": std::string holding Windows-1252 bytes, the converter's text inside the core.
// Conversions behave as the Windows API does for code page 1252 (best fit on the way in).
namespace pontix::ansi {

// UTF-8 -> Windows-1252 as WideCharToMultiByte(1252, 0, ...): per UTF-16 code unit, best fit
// where the table has one, '?' otherwise (so a character beyond U+FFFF gives "??").
// Malformed UTF-8 counts as U+FFFD, which gives '?'.
std::string fromUtf8(std::string_view utf8);
// The same, adding to `replaced` each character that had no exact Windows-1252 form (best
// fit, '?' or a character beyond U+FFFF, counted once).
std::string fromUtf8(std::string_view utf8, std::size_t& replaced);
// The same into `out`, whose room is reused.
void fromUtf8(std::string_view utf8, std::string& out, std::size_t& replaced);

// Windows-1252 -> UTF-8; every byte has a character (0x81 -> U+0081 ...).
std::string toUtf8(std::string_view ansi);

// The length of the well-formed UTF-8 sequence at `at` (1 to 4), or 0 where the bytes there are
// none: a stray continuation byte, an overlong form, a surrogate, a code point past U+10FFFF or
// a sequence cut short.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at);
// Whether the whole text is well-formed UTF-8.
bool isUtf8(std::string_view text);

// Removes every code point up to U+0020 from both ends of UTF-8 text; inner ones and
// U+00A0 stay.
std::string_view trimControls(std::string_view utf8);

// The form under which ANSI texts compare equal ignoring case, as CompareStringA with
// NORM_IGNORECASE does for Spanish and Catalan users: letter case folded, the soft hyphen
// dropped, ß Æ Œ Þ expanded to two letters; accents and every other byte count.
std::string foldCase(std::string_view ansi);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
// Whether foldCase(ansi) == folded, without building it.
bool foldsTo(std::string_view ansi, std::string_view folded);
// Letter case folded byte for byte, so that length and positions stay: texts equal under it
// are equal ignoring case, and so are their first or last n characters (ß and "ss" stay apart).
std::string foldCaseKeepingLength(std::string_view ansi);

// Byte-counted helpers of the builders' derivations.
inline std::string_view firstChars(std::string_view text, std::size_t n) { return text.substr(0, n); }
inline std::string_view lastChars(std::string_view text, std::size_t n) {
  return n >= text.size() ? text : text.substr(text.size() - n);
}
inline std::string withNumber(std::string_view text, std::uint64_t number) {
  return std::string(text) + std::to_string(number);
}

}  // namespace pontix::ansi

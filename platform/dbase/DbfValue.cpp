#include "platform/dbase/DbfValue.h"

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/Error.h"

namespace pontix::dbase::value {
namespace {

bool isNumeric(const FieldLayout& f) { return f.type == 'N' || f.type == 'F'; }

[[noreturn]] void wrongType(const FieldLayout& f, const char* wanted) {
  throw Error(ErrorKind::InvalidArgument,
              "El campo '" + f.name + "' es de tipo '" + std::string(1, f.type) + "' y no admite " + wanted);
}

std::string_view trimBlanks(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\0'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

char localeDecimalSeparator() {
  const std::lconv* lc = std::localeconv();
  return lc && lc->decimal_point && lc->decimal_point[0] ? lc->decimal_point[0] : '.';
}

// Parses a stored or given number; '.' always works, `alt` is accepted as well.
bool parseNumber(std::string_view text, double& out, char alt = '.') {
  std::string s(text);
  if (alt != '.')
    for (char& c : s)
      if (c == alt) c = '.';
  std::string_view v = s;
  if (!v.empty() && v.front() == '+') v.remove_prefix(1);
  if (v.empty()) return false;
  auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), out, std::chars_format::general);
  return ec == std::errc() && end == v.data() + v.size() && std::isfinite(out);
}

bool parseWhole(std::string_view text, std::int64_t& out) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

double storedNumber(const FieldLayout& f, std::string_view bytes) {
  std::string_view t = trimBlanks(bytes);
  if (t.empty()) return 0.0;
  double v = 0;
  if (!parseNumber(t, v))
    throw Error(ErrorKind::Corruption,
                "El campo '" + f.name + "' contiene '" + std::string(t) + "', que no es un número");
  return v;
}

// Right-aligns text in the field, or refuses a value that does not fit.
void putRight(const FieldLayout& f, std::span<char> out, std::string_view text) {
  if (text.size() > out.size())
    throw Error(ErrorKind::InvalidArgument, "El valor " + std::string(text) + " no cabe en el campo '" +
                                                f.name + "' (" + std::to_string(f.width) + " posiciones)");
  std::memset(out.data(), ' ', out.size() - text.size());
  std::memcpy(out.data() + out.size() - text.size(), text.data(), text.size());
}

std::string_view withoutTrailingBlanks(std::string_view t) {
  while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.remove_suffix(1);
  return t;
}

}  // namespace

std::string formatGeneral(double v, char decimalSeparator) {
  if (v == 0) return "0";
  char buf[400];
  // Rounding to 15 significant digits first fixes the decimal exponent exactly.
  auto [sciEnd, sciErr] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
  std::string_view sci(buf, static_cast<std::size_t>(sciEnd - buf));
  std::size_t e = sci.find('e');
  int exp = 0;
  std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(), exp);
  std::string s;
  std::string exponent;
  if (exp >= 15 || std::fabs(v) < 1e-5) {
    s.assign(sci.substr(0, e));
    exponent = "E" + std::to_string(exp);
  } else {
    auto [end, err] =
        std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, std::max(0, 14 - exp));
    s.assign(buf, end);
  }
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  s += exponent;
  if (decimalSeparator != '.')
    for (char& c : s)
      if (c == '.') c = decimalSeparator;
  return s;
}

std::string storedText(std::string_view text, std::size_t width) {
  return std::string(withoutTrailingBlanks(text.substr(0, width)));
}

std::string readText(const FieldLayout& f, std::string_view bytes) {
  switch (f.type) {
    case 'C':
    case 'D': return std::string(withoutTrailingBlanks(bytes));
    case 'N':
    case 'F': {
      std::string_view t = trimBlanks(bytes);
      if (t.empty()) return {};
      std::int64_t whole;
      if (f.decimals == 0 && parseWhole(t, whole)) return std::to_string(whole);
      return formatGeneral(storedNumber(f, bytes), localeDecimalSeparator());
    }
    case 'L': {
      std::string_view t = trimBlanks(bytes);
      if (t.empty() || t == "?") return {};
      return readLogical(f, bytes) ? "T" : "F";
    }
    default: wrongType(f, "lectura");
  }
}

double readFloat(const FieldLayout& f, std::string_view bytes) {
  if (!isNumeric(f)) wrongType(f, "valores numéricos");
  return storedNumber(f, bytes);
}

std::int64_t readInteger(const FieldLayout& f, std::string_view bytes) {
  if (!isNumeric(f)) wrongType(f, "valores numéricos");
  std::int64_t whole;
  std::string_view t = trimBlanks(bytes);
  if (t.empty()) return 0;
  if (parseWhole(t, whole)) return whole;
  double rounded = std::nearbyint(storedNumber(f, bytes));  // the default mode rounds halves to even
  if (!(rounded >= -9.2233720368547758e18 && rounded < 9.2233720368547758e18))
    throw Error(ErrorKind::InvalidArgument, "El valor del campo '" + f.name + "' no cabe en un entero");
  return static_cast<std::int64_t>(rounded);
}

bool readLogical(const FieldLayout& f, std::string_view bytes) {
  if (f.type != 'L') wrongType(f, "valores lógicos");
  std::string_view t = trimBlanks(bytes);
  return !t.empty() && (t[0] == 'T' || t[0] == 't' || t[0] == 'Y' || t[0] == 'y');
}

void writeText(const FieldLayout& f, std::span<char> out, std::string_view text) {
  switch (f.type) {
    case 'C':
    case 'D': {
      std::size_t n = std::min(text.size(), out.size());
      std::memcpy(out.data(), text.data(), n);
      std::memset(out.data() + n, ' ', out.size() - n);
      return;
    }
    case 'N':
    case 'F': {
      std::string_view t = trimBlanks(text);
      if (t.empty()) {
        std::memset(out.data(), ' ', out.size());
        return;
      }
      std::int64_t whole;
      if (parseWhole(t, whole)) return writeInteger(f, out, whole);
      double v;
      if (!parseNumber(t, v, localeDecimalSeparator()))
        throw Error(ErrorKind::InvalidArgument,
                    "'" + std::string(t) + "' no es un valor numérico válido para el campo '" + f.name + "'");
      return writeFloat(f, out, v);
    }
    case 'L': {
      std::string_view t = trimBlanks(text);
      if (t.empty()) {
        std::memset(out.data(), ' ', out.size());
        return;
      }
      char c = t[0];
      if (c == 'T' || c == 't' || c == 'Y' || c == 'y') return writeLogical(f, out, true);
      if (c == 'F' || c == 'f' || c == 'N' || c == 'n') return writeLogical(f, out, false);
      throw Error(ErrorKind::InvalidArgument,
                  "'" + std::string(t) + "' no es un valor lógico válido para el campo '" + f.name + "'");
    }
    default: wrongType(f, "escritura");
  }
}

void writeFloat(const FieldLayout& f, std::span<char> out, double v) {
  if (!isNumeric(f)) wrongType(f, "valores numéricos");
  if (!std::isfinite(v))
    throw Error(ErrorKind::InvalidArgument, "El campo '" + f.name + "' no admite un valor no finito");
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, f.decimals);
  if (ec != std::errc())
    throw Error(ErrorKind::InvalidArgument, "El valor no cabe en el campo '" + f.name + "'");
  std::string_view text(buf, static_cast<std::size_t>(end - buf));
  if (text.front() == '-' && text.find_first_not_of("-0.") == std::string_view::npos) text.remove_prefix(1);
  putRight(f, out, text);
}

void writeInteger(const FieldLayout& f, std::span<char> out, std::int64_t v) {
  if (!isNumeric(f)) wrongType(f, "valores numéricos");
  if (f.decimals > 0) return writeFloat(f, out, static_cast<double>(v));
  putRight(f, out, std::to_string(v));
}

void writeLogical(const FieldLayout& f, std::span<char> out, bool v) {
  if (f.type != 'L') wrongType(f, "valores lógicos");
  out[0] = v ? 'T' : 'F';
  if (out.size() > 1) std::memset(out.data() + 1, ' ', out.size() - 1);
}

}  // namespace pontix::dbase::value

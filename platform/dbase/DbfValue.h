#pragma once

// Pure conversions between values and the bytes of one field of a record.
// Numbers are stored as right-aligned decimal text with '.' whatever the locale; a blank
// numeric field is all blanks and reads as 0 or as the empty text.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/dbase/DbfFormat.h"

namespace pontix::dbase::value {

using format::FieldLayout;

// Text of a field: C without trailing blanks; N/F as the number's text (an integer in
// decimal digits, otherwise the general form, 15 significant digits, the locale's decimal
// separator), blank -> ""; L as "T"/"F"/""; D as stored.
std::string readText(const FieldLayout& f, std::string_view bytes);
double readFloat(const FieldLayout& f, std::string_view bytes);
// The nearest whole number; halves go to the even one.
std::int64_t readInteger(const FieldLayout& f, std::string_view bytes);
bool readLogical(const FieldLayout& f, std::string_view bytes);

// What a text field of this width gives back for text once stored: cut to the width,
// without trailing blanks.
std::string storedText(std::string_view text, std::size_t width);

// C: cut to the width, first bytes kept, blank padded. N/F: the text must be a number
// (empty -> blank). L: T/t/Y/y, F/f/N/n or empty. Throws pontix::Error (InvalidArgument).
void writeText(const FieldLayout& f, std::span<char> out, std::string_view text);
void writeFloat(const FieldLayout& f, std::span<char> out, double v);
void writeInteger(const FieldLayout& f, std::span<char> out, std::int64_t v);
void writeLogical(const FieldLayout& f, std::span<char> out, bool v);

// The general form of a float: up to 15 significant digits, scientific notation only for
// very large or very small values, with the given decimal separator.
std::string formatGeneral(double v, char decimalSeparator);

}  // namespace pontix::dbase::value

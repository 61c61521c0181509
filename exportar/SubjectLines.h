#pragma once

// How a subject line's weekly hours and lesson pattern come from the subject's HORAS text.

#include <optional>
#include <string>
#include <string_view>

namespace pontix {

// The weekly hours in the text, with "." or "," as decimal separator; 1 for a text that is not
// a number; nothing for an empty text.
std::optional<double> weeklyHours(std::string_view text);

// n = the hours rounded up (none: 0): n times "1" up to 13; past 13, the digits of n - 13 and
// thirteen "1", so that the digits add up to n.
std::string lessonPattern(std::optional<double> hours);

}  // namespace pontix

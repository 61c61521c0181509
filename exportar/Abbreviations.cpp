#include "exportar/Abbreviations.h"

#include <optional>

#include "platform/AnsiText.h"
#include "platform/dbase/DbfValue.h"

namespace pontix {
namespace {

constexpr std::size_t kWidth = 10;
// Shortening keeps two digits, so past some number every stored form of a stem repeats one
// met before (about 110 forms for a nine-character stem). This many taken shortened
// candidates in a row means none is left.
constexpr int kExhaustedAfter = 1000;

// Numbers stem + n from the stem's resume point until `free` accepts one, and moves the
// resume point past it. With `limited`, once kExhaustedAfter candidates in a row had to be
// shortened and were taken, the stem has no free stored form left: that is remembered
// (resume point 0) and nothing is returned, then and on every later call.
template <typename Free>
std::optional<std::string> firstFreeNumbered(UsedAbbreviations& hints, std::string_view stem, Free free,
                                             bool limited = true) {
  std::uint64_t n = hints.nextNumber(stem);
  if (n == 0) return std::nullopt;
  for (int takenShortened = 0;; ++n) {
    std::string candidate = ansi::withNumber(stem, n);
    if (free(candidate)) {
      hints.setNextNumber(stem, n + 1);
      return candidate;
    }
    if (limited && candidate.size() > kWidth && ++takenShortened == kExhaustedAfter) {
      hints.setNextNumber(stem, 0);
      return std::nullopt;
    }
  }
}

}  // namespace

std::string shortenAbbreviation(std::string_view value) {
  if (value.size() <= kWidth) return std::string(value);
  return std::string(ansi::firstChars(value, 8)) + std::string(ansi::lastChars(value, 2));
}

std::string storedAbbreviation(std::string_view value) {
  return dbase::value::storedText(shortenAbbreviation(value), kWidth);
}

std::string StoredAbbreviations::take(std::string_view first, std::string_view stem) {
  auto free = [this](std::string_view candidate) { return !used_.contains(storedAbbreviation(candidate)); };
  std::string value(first);
  if (!free(first)) {
    if (std::optional<std::string> numbered = firstFreeNumbered(used_, stem, free)) {
      value = std::move(*numbered);
    } else {
      // Every form is taken: the first candidate too long for the field, as the numbering
      // always gave it; its stored form repeats.
      std::uint64_t n = 1;
      while (stem.size() + std::to_string(n).size() <= kWidth) n *= 10;
      value = ansi::withNumber(stem, n);
    }
  }
  std::string abbreviation = shortenAbbreviation(value);
  used_.add(storedAbbreviation(abbreviation));
  return abbreviation;
}

std::string CandidateAbbreviations::add(std::string candidate) {
  stored_.add(storedAbbreviation(candidate));
  std::string abbreviation = shortenAbbreviation(candidate);
  candidates_.add(std::move(candidate));
  return abbreviation;
}

std::string CandidateAbbreviations::take(std::string_view first, std::string_view stem) {
  auto free = [this](std::string_view candidate) {
    return !candidates_.contains(candidate) && !stored_.contains(storedAbbreviation(candidate));
  };
  if (free(first)) return add(std::string(first));
  if (std::optional<std::string> numbered = firstFreeNumbered(stored_, stem, free))
    return add(std::move(*numbered));
  // Every stored form is taken: the first candidate the list of candidates lacks, as the
  // numbering always gave it; its stored form repeats. The list is finite, so this ends.
  std::optional<std::string> candidate = firstFreeNumbered(
      candidates_, stem, [this](std::string_view c) { return !candidates_.contains(c); }, false);
  return add(std::move(*candidate));
}

}  // namespace pontix

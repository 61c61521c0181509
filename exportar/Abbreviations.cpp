#include "exportar/Abbreviations.h"

#include "platform/AnsiText.h"
#include "platform/dbase/DbfValue.h"

namespace pontix {
namespace {

constexpr std::size_t kWidth = kAbbreviationWidth;

std::uint64_t powerOfTen(std::size_t exponent) {
  std::uint64_t value = 1;
  while (exponent-- > 0) value *= 10;
  return value;
}

// The last number whose candidate can still have a stored form no lower number gave. Up to 7
// characters, a number one digit too long shortens to the stem followed by its first and last
// digits, a number that fitted; from 8 on, a shortened candidate keeps only the number's last
// two digits, all of which 100 to 199 have given.
std::uint64_t lastUsefulNumber(std::size_t stemLength) {
  return stemLength <= 7 ? powerOfTen(kWidth - stemLength) - 1 : 199;
}

std::string cutNumbered(std::string_view stem, std::uint64_t number) {
  std::string digits = std::to_string(number);
  return std::string(ansi::firstChars(stem, kWidth - std::min(kWidth, digits.size()))) + digits;
}

// The first free candidate of the stem, numbered and then cut, from the stem's resume point.
// Always ends: the cut candidates of 10 digits alone outnumber any list.
template <typename Free>
std::string firstFree(StemNumbers& numbers, std::string_view stem, Free free) {
  StemNumbers::Next& next = numbers[stem];
  for (const std::uint64_t last = lastUsefulNumber(stem.size()); next.numbered <= last; ++next.numbered) {
    std::string candidate = ansi::withNumber(stem, next.numbered);
    if (free(candidate)) {
      ++next.numbered;
      return candidate;
    }
  }
  for (;; ++next.cut) {
    std::string candidate = cutNumbered(stem, next.cut);
    if (free(candidate)) {
      ++next.cut;
      return candidate;
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

StemNumbers::Next& StemNumbers::operator[](std::string_view stem) {
  return next_[ansi::foldCaseKeepingLength(stem)];
}

std::string StoredAbbreviations::take(std::string_view first, std::string_view stem) {
  auto free = [this](std::string_view candidate) { return !used_.contains(storedAbbreviation(candidate)); };
  // Shortening keeps a stored form as it is: the first one's serves when it is free.
  numbered_ = !used_.addIfAbsent(storedAbbreviation(first));
  if (!numbered_) return shortenAbbreviation(first);
  std::string abbreviation = shortenAbbreviation(firstFree(numbers_, stem, free));
  used_.add(storedAbbreviation(abbreviation));
  return abbreviation;
}

std::string CandidateAbbreviations::take(std::string_view first, std::string_view stem) {
  auto free = [this](std::string_view candidate) {
    return !candidates_.contains(candidate) && !stored_.contains(storedAbbreviation(candidate));
  };
  std::string stored = storedAbbreviation(first);
  std::string candidate;
  // The candidate goes in as it is checked when it is free.
  numbered_ = stored_.contains(stored) || !candidates_.addIfAbsent(first);
  if (!numbered_) {
    candidate = first;
  } else {
    candidate = firstFree(numbers_, stem, free);
    stored = storedAbbreviation(candidate);
    candidates_.add(candidate);
  }
  stored_.add(stored);
  return shortenAbbreviation(candidate);
}

}  // namespace pontix

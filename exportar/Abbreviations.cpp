#include "exportar/Abbreviations.h"

#include <functional>
#include <utility>

#include "platform/AnsiText.h"
#include "platform/Error.h"
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

std::uint32_t UsedAbbreviations::hashOf(std::string_view folded) {
  return static_cast<std::uint32_t>(std::hash<std::string_view>()(folded));
}

std::string_view UsedAbbreviations::entryAt(std::size_t start) const {
  std::size_t length = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(texts_[start++]);
    length |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if (!(byte & 0x80)) break;
  }
  return std::string_view(texts_).substr(start, length);
}

const UsedAbbreviations::Slot* UsedAbbreviations::find(std::string_view folded, std::uint32_t hash) const {
  if (slots_.empty()) return nullptr;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.start == 0) return &slot;
    if (slot.hash == hash && ansi::foldsTo(entryAt(slot.start - 1), folded)) return &slot;
  }
}

bool UsedAbbreviations::contains(std::string_view text) const {
  const std::string folded = ansi::foldCase(text);
  const Slot* slot = find(folded, hashOf(folded));
  return slot && slot->start != 0;
}

void UsedAbbreviations::grow(std::size_t slots) {
  std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(slots));
  const std::size_t mask = slots - 1;
  for (const Slot& slot : old) {
    if (slot.start == 0) continue;
    std::size_t i = slot.hash & mask;
    while (slots_[i].start != 0) i = (i + 1) & mask;
    slots_[i] = slot;
  }
}

void UsedAbbreviations::reserve(std::size_t count, std::size_t longest) {
  std::size_t slots = 16;
  while (slots < 2 * count) slots *= 2;
  if (slots > slots_.size()) grow(slots);
  if (longest > 0 && longest < 0x80) texts_.reserve(count * (1 + longest));  // a length byte each
}

void UsedAbbreviations::add(std::string_view text) { insert(text, true); }

bool UsedAbbreviations::addIfAbsent(std::string_view text) { return insert(text, false); }

bool UsedAbbreviations::insert(std::string_view text, bool always) {
  const std::string folded = ansi::foldCase(text);
  const std::uint32_t hash = hashOf(folded);
  const Slot* found = find(folded, hash);
  const bool present = found && found->start != 0;
  if (present && !always) return false;
  if (texts_.size() + text.size() + 10 > UINT32_MAX)
    throw Error(ErrorKind::InvalidArgument, "El documento tiene demasiadas abreviaturas para una tabla",
                "Compruebe que es el documento de Scolaria de un centro y vuelva a exportar.");
  const std::size_t start = texts_.size();
  for (std::size_t n = text.size();; n >>= 7) {
    if (n < 0x80) {
      texts_ += static_cast<char>(n);
      break;
    }
    texts_ += static_cast<char>(0x80 | (n & 0x7F));
  }
  texts_.append(text);
  // A text already in the list ignoring case stays in it once more, as the list has it twice,
  // but one slot answers for both.
  if (present) return true;
  if (2 * (keys_ + 1) > slots_.size()) grow(std::max<std::size_t>(16, 2 * slots_.size()));
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i].start != 0) i = (i + 1) & mask;
  slots_[i] = {static_cast<std::uint32_t>(start + 1), hash};
  ++keys_;
  return true;
}

std::vector<std::string> UsedAbbreviations::entries() const {
  std::vector<std::string> all;
  for (std::size_t at = 0; at < texts_.size();) {
    const std::string_view entry = entryAt(at);
    all.emplace_back(entry);
    at = static_cast<std::size_t>(entry.data() - texts_.data()) + entry.size();
  }
  return all;
}

}  // namespace pontix

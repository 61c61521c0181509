#pragma once

// How builders number abbreviations so that every stored one is unique. An abbreviation is
// stored in a 10-character field: a longer one is shortened to its first 8 and last 2
// characters, and the field gives it back without trailing blanks. That stored form is what
// the timetabling program and Importar tell records apart by, so it is what must not repeat.
//
// A taken abbreviation is numbered: stem + 1, stem + 2 ..., each shortened, the first whose
// stored form is free. Past some number every further candidate shortens to a stored form an
// earlier number already gave (for a stem of 8 or more characters after 199; for a shorter
// one once the number no longer fits beside it). From there on the stem is cut so that the
// number fits the field whole: the first 10 - d characters of the stem followed by the d-digit
// number ("MARTINE100", "MARTINE101" ... "MARTIN1000"), again the first whose stored form is
// free. So no stored abbreviation ever repeats.

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace pontix {

// A builder's list of used abbreviations: kept in the order of addition, membership ignoring
// letter case as the Windows comparison does. Entries are only ever added.
class UsedAbbreviations {
 public:
  bool contains(std::string_view text) const;
  void add(std::string_view text);
  // Adds it unless the list holds it ignoring case; whether it did.
  bool addIfAbsent(std::string_view text);
  // Room for this many entries, so that the list grows without rehashing; and for their texts
  // when none is longer than `longest` bytes, so that it grows without copying them.
  void reserve(std::size_t count, std::size_t longest = 0);
  std::vector<std::string> entries() const;

 private:
  // The entries one after another, each a length and its bytes; and an open-addressing table
  // of where they start (plus one; 0 is free) with the hash of their folded text. A few bytes
  // an entry: lists of hundreds of thousands stay small.
  struct Slot {
    std::uint32_t start = 0;
    std::uint32_t hash = 0;
  };
  static std::uint32_t hashOf(std::string_view folded);
  std::string_view entryAt(std::size_t start) const;
  const Slot* find(std::string_view folded, std::uint32_t hash) const;
  void grow(std::size_t slots);
  bool insert(std::string_view text, bool always);

  std::string texts_;
  std::vector<Slot> slots_;
  std::size_t keys_ = 0;
};

// The width of the abbreviation fields: a stored abbreviation is never longer.
inline constexpr std::size_t kAbbreviationWidth = 10;

// first 8 + last 2 characters when longer than 10; otherwise unchanged.
std::string shortenAbbreviation(std::string_view value);
// What a 10-character field gives back for value.
std::string storedAbbreviation(std::string_view value);

// Per stem, the next number worth trying, first of the numbering and then of the cut one.
// Entries are only ever added to a list, so every lower number stays taken.
class StemNumbers {
 public:
  struct Next {
    std::uint64_t numbered = 1;
    std::uint64_t cut = 1;
  };
  // Stems equal byte for byte ignoring letter case give candidates equal ignoring case at
  // every length, so they share one resume point; "SS" and "ß" do not.
  Next& operator[](std::string_view stem);

 private:
  std::unordered_map<std::string, Next> next_;
};

// Subjects and teacher posts: the list holds the stored abbreviations.
class StoredAbbreviations {
 public:
  // `first` when its stored form is free, else the numbered stem; shortened, and its stored
  // form added to the list.
  std::string take(std::string_view first, std::string_view stem);
  void reserve(std::size_t count) { used_.reserve(count, kAbbreviationWidth); }
  // Whether the last take numbered the stem because `first` was taken.
  bool numbered() const { return numbered_; }

 private:
  UsedAbbreviations used_;
  StemNumbers numbers_;
  bool numbered_ = false;
};

// Rooms and groups: the list holds the full-length candidates, and beside it a set of the
// stored forms; a value is free when neither holds it.
class CandidateAbbreviations {
 public:
  // `first` when free, else the numbered stem; shortened. The full-length value goes to the
  // list, its stored form to the set.
  std::string take(std::string_view first, std::string_view stem);
  void reserve(std::size_t count) {
    candidates_.reserve(count);
    stored_.reserve(count, kAbbreviationWidth);
  }
  // Whether the last take numbered the stem because `first` was taken.
  bool numbered() const { return numbered_; }

 private:
  UsedAbbreviations candidates_;
  UsedAbbreviations stored_;
  StemNumbers numbers_;
  bool numbered_ = false;
};

}  // namespace pontix

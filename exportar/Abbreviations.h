#pragma once

// How builders number abbreviations so that every stored one is unique. An abbreviation is
// stored in a 10-character field: a longer one is shortened to its first 8 and last 2
// characters, and the field gives it back without trailing blanks. That stored form is what
// the timetabling program and Importar tell records apart by, so it is what must not repeat.

#include <cstdint>
#include <string>
#include <string_view>

#include "exportar/Conventions.h"

namespace pontix {

// first 8 + last 2 characters when longer than 10; otherwise unchanged.
std::string shortenAbbreviation(std::string_view value);
// What a 10-character field gives back for value.
std::string storedAbbreviation(std::string_view value);

// Subjects and teacher posts: the list holds the stored abbreviations.
class StoredAbbreviations {
 public:
  // The abbreviation for `first`, or, when its stored form is taken, for the first of
  // stem + 1, stem + 2 ... whose stored form is free; shortened, and added to the list.
  std::string take(std::string_view first, std::string_view stem);

 private:
  UsedAbbreviations used_;
};

// Rooms and groups: the list holds the full-length candidates, and beside it a set of the
// stored forms; a value is free when neither holds it.
class CandidateAbbreviations {
 public:
  // The abbreviation for `first`, or for the first free stem + n; shortened. The full-length
  // value goes to the list, its stored form to the set.
  std::string take(std::string_view first, std::string_view stem);

 private:
  std::string add(std::string candidate);

  UsedAbbreviations candidates_;  // numbers hint: free of the list alone
  UsedAbbreviations stored_;      // numbers hint: free of both
};

}  // namespace pontix

#pragma once

// A look at a document's markup before libxml2 parses it, for what would make that parser slow
// rather than wrong. It reads tags, comments, CDATA, processing instructions and declarations as
// XML does, so nothing hides a start tag from it.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pontix::xml::markup {

// libxml2 2.9 checks each attribute against every earlier one of its element: a start tag with
// tens of thousands takes seconds. No administration document comes near this.
constexpr std::size_t kMaxAttributes = 1000;

// libxml2 2.9 looks every element's prefix up through all the namespace declarations in scope.
// Counted over the document and the text of its entities, so nesting cannot add them up.
constexpr std::size_t kMaxNamespaceDeclarations = 200;

struct CrowdedTag {
  std::string name;
  int line;                 // counted from 1 at the start of the text
  bool namespaces = false;  // one declaration too many, not one attribute too many
};

// The first start tag of `text` with more than kMaxAttributes attributes, or whose namespace
// declarations take `declarations` past kMaxNamespaceDeclarations. `text` keeps ASCII as ASCII
// (UTF-8, ISO-8859-x, windows-125x).
std::optional<CrowdedTag> crowdedStartTag(std::string_view text, std::size_t& declarations);

// Reads up to `size` bytes into `buffer`; 0 at the end.
using Read = std::function<std::size_t(char* buffer, std::size_t size)>;

// The first crowded start tag of a document read through `read` from its start, a piece at a
// time: memory stays small whatever the document's size.
std::optional<CrowdedTag> crowdedStartTagInStream(const Read& read, std::size_t& declarations);

// The name of the document's encoding when it is one in which markup could hide from this look
// (UTF-7, UTF-32, EBCDIC ...); empty for the encodings Pontix reads.
std::string unreadableEncoding(std::string_view bytes);

// A document whose first bytes settle its encoding (a byte-order mark, or UTF-16's zero bytes)
// while its declaration names another: XML takes that as a fault, and libxml2 would read the
// rest in the declared one.
struct EncodingConflict {
  std::string actual;    // "UTF-8" (its mark), "UTF-16LE" or "UTF-16BE"
  std::string declared;  // as declared, safe to show
  bool markAlone;        // a UTF-8 mark and a one-byte encoding: without the mark it may be right
};

// For a document whose encoding unreadableEncoding() accepts.
std::optional<EncodingConflict> conflictingEncoding(std::string_view bytes);

}  // namespace pontix::xml::markup

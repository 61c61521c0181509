#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"

namespace pontix::xml {

// A file that is not well-formed XML, or that Pontix refuses to read. what() reads "El archivo X
// no es un documento XML válido: <reason> (línea L, columna C)"; the position is left out when
// unknown (line 0), the column alone when only it is unknown.
class ParseError : public Error {
 public:
  ParseError(const std::filesystem::path& file, std::string reason, int line, int column, int code = 0);
  // A Spanish sentence.
  const std::string& reason() const { return reason_; }
  int line() const { return line_; }
  int column() const { return column_; }
  // libxml2's error code (xmlParserErrors); Pontix's own refusals use the closest one.
  int code() const { return code_; }

 private:
  std::string reason_;
  int line_;
  int column_;
  int code_;
};

struct KeptDocument;

// An element kept by a Document; a handle that is valid while its document lives and keeps its
// path (see Document::release).
// Texts are UTF-8.
class Element {
 public:
  std::string name() const;
  // The line of its start tag in the file.
  int line() const;
  // Its child elements with this name that the document kept, in document order.
  std::vector<Element> children(std::string_view name) const;
  // The attribute with exactly this name; nothing when the element lacks it.
  std::optional<std::string> attribute(std::string_view name) const;
  // The same, as a view into the document, valid until its path is let go.
  std::optional<std::string_view> attributeView(std::string_view name) const;

  friend bool operator==(const Element& a, const Element& b) {
    return a.doc_ == b.doc_ && a.path_ == b.path_ && a.index_ == b.index_;
  }

 private:
  friend class Document;
  Element(const KeptDocument* doc, std::uint32_t path, std::uint32_t index)
      : doc_(doc), path_(path), index_(index) {}
  const KeptDocument* doc_;
  std::uint32_t path_;   // among the paths kept
  std::uint32_t index_;  // among the elements of its path
};

// An XML document read once from its file, keeping only what its reader asks for: the root
// element and the elements on a few absolute paths, each with its attributes. Text, other
// elements and the markup are checked and let go. Loading never touches the network, loads no
// DTD and no external entity, and refuses a document whose entities expand far beyond its own
// size.
class Document {
 public:
  Document();  // empty
  ~Document();
  Document(Document&&) noexcept;
  Document& operator=(Document&&) noexcept;

  // Parses a whole file in the encoding it declares (UTF-8, UTF-16 with BOM, ISO-8859-1,
  // Windows-1252 ...), replacing entities by their text, and keeps the root and the elements on
  // `paths` ("/CENTRE/CURSOS/CURS"). Throws ParseError when it is not well-formed or uses an
  // external entity, Error when unreadable or memory runs out.
  static Document load(const std::filesystem::path& file, const std::vector<std::string>& paths);

  std::optional<Element> root() const;
  // The elements on an absolute path of element names, in document order; empty when none is
  // there. Only the root's own path and those given to load() can be asked for: any other is
  // a mistake of the caller (std::logic_error).
  std::vector<Element> select(std::string_view absolutePath) const;
  std::optional<Element> selectSingle(std::string_view absolutePath) const;
  // Lets go of the elements on a path asked for, giving their memory back: a reader done with
  // them makes room for what comes next. Reading them afterwards, or selecting the path, is a
  // mistake of the caller (std::logic_error); their name stays.
  void release(std::string_view absolutePath);

 private:
  explicit Document(std::unique_ptr<KeptDocument> kept);
  std::unique_ptr<KeptDocument> kept_;
};

}  // namespace pontix::xml

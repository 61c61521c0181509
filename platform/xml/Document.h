#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"

struct _xmlDoc;
struct _xmlNode;

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

// An element of a Document; a handle that is valid while its document lives.
// Texts are UTF-8.
class Element {
 public:
  std::string name() const;
  // The line of its start tag in the loaded file; 0 for an element made in memory.
  int line() const;
  // Child elements with this name, in document order.
  std::vector<Element> children(std::string_view name) const;
  // The attribute with exactly this name; nothing when the element lacks it.
  std::optional<std::string> attribute(std::string_view name) const;
  // Sets an attribute: a new one goes after the existing ones, an existing one keeps its place.
  // Control characters XML cannot carry (all below U+0020 but tab, line feed and carriage
  // return) are stored as '?', so that the saved document always loads again.
  void setAttribute(std::string_view name, std::string_view value);
  // Makes child (created by the same document, not yet attached) the last child.
  void appendChild(Element child);

  friend bool operator==(const Element& a, const Element& b) { return a.node_ == b.node_; }

 private:
  friend class Document;
  explicit Element(_xmlNode* node) : node_(node) {}
  _xmlNode* node_;
};

// An XML document over libxml2. Loading never touches the network, loads no DTD and no
// external entity, and refuses a document whose entities expand far beyond its own size.
class Document {
 public:
  Document();  // empty
  ~Document();
  Document(Document&&) noexcept;
  Document& operator=(Document&&) noexcept;

  // Parses a file in the encoding it declares (UTF-8, UTF-16 with BOM, ISO-8859-1,
  // Windows-1252 ...). Entities are replaced by their text. Throws ParseError when it is not
  // well-formed or uses an external entity, Error when unreadable or memory runs out.
  static Document load(const std::filesystem::path& file);

  std::optional<Element> root() const;
  // Elements reached from the root by an absolute path of element names ("/CENTRE/CURSOS/CURS"),
  // in document order; empty when nothing matches.
  std::vector<Element> select(std::string_view absolutePath) const;
  std::optional<Element> selectSingle(std::string_view absolutePath) const;

  // A new element without namespace, not yet attached.
  Element createElement(std::string_view name);
  // Attaches child as the root element (a document has at most one).
  void appendChild(Element child);

  // Writes the document as UTF-8 with an XML declaration, replacing the file atomically.
  void save(const std::filesystem::path& file) const;

 private:
  explicit Document(_xmlDoc* doc) : doc_(doc) {}
  _xmlDoc* doc_;
  std::vector<_xmlNode*> created_;  // by createElement; freed here unless attached
};

}  // namespace pontix::xml

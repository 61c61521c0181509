#pragma once

#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/FileIo.h"

struct _xmlTextWriter;

namespace pontix::xml {

// Writes an XML document element by element straight to its file, so that memory does not
// grow with the document. The text is UTF-8 with an XML declaration, one element per line
// indented by two spaces per level, an element without children as an empty-element tag:
// byte for byte what libxml2 writes when it saves the same tree formatted.
//
// The file is replaced atomically (io::AtomicFile) only by finish(). After any failure, and
// when the writer goes away unfinished, an earlier file is left as it was and no temporary file
// remains; a failed writer only throws. Errors are pontix::Error with the Spanish texts of
// io::AtomicFile.
class Writer {
 public:
  // Creates the temporary file beside `file` and writes the XML declaration.
  explicit Writer(const std::filesystem::path& file);
  ~Writer();
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Opens an element inside the open one (the first one is the root).
  void startElement(std::string_view name);
  // An attribute of the element just started, before any child of it; attributes stay in the
  // order written. Control characters XML cannot carry (all below U+0020 but tab, line feed
  // and carriage return) are written as '?', so that the document always loads again.
  void attribute(std::string_view name, std::string_view value);
  // Closes the innermost open element.
  void endElement();
  // Closes the open elements, puts the document on disk and replaces the file with it.
  void finish();

 private:
  struct FreeTextWriter {
    void operator()(_xmlTextWriter* writer) const;
  };

  static int write(void* context, const char* bytes, int length);
  _xmlTextWriter* active();
  // Throws the failure behind a libxml2 call, after discarding the file.
  void check(int result, std::string_view what, std::string_view name = {});
  void discard() noexcept;

  std::filesystem::path path_;
  std::optional<io::AtomicFile> file_;  // empty once finished or discarded
  std::exception_ptr failure_;          // the first failed write, thrown from the caller's side
  std::unique_ptr<_xmlTextWriter, FreeTextWriter> writer_;
  std::string name_;
  std::string value_;
};

}  // namespace pontix::xml

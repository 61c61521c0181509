#include "platform/xml/Writer.h"

#include <libxml/parser.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlwriter.h>

#include "platform/Error.h"

namespace pontix::xml {
namespace {

const xmlChar* xmlText(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

}  // namespace

void Writer::FreeTextWriter::operator()(_xmlTextWriter* writer) const { xmlFreeTextWriter(writer); }

Writer::Writer(const std::filesystem::path& file) : path_(file), file_(std::in_place, file) {
  xmlInitParser();
  xmlOutputBufferPtr out = xmlOutputBufferCreateIO(write, nullptr, this, nullptr);
  if (!out) {
    discard();
    throw Error(ErrorKind::IOError, "No hay memoria suficiente para guardar el archivo " + path_.string(),
                "Cierre otros programas y vuelva a intentarlo.");
  }
  writer_.reset(xmlNewTextWriter(out));
  if (!writer_) {
    xmlOutputBufferClose(out);
    discard();
    throw Error(ErrorKind::IOError, "No hay memoria suficiente para guardar el archivo " + path_.string(),
                "Cierre otros programas y vuelva a intentarlo.");
  }
  // libxml2's own formatting of a saved tree, indentation included.
  xmlTextWriterSetIndent(writer_.get(), 1);
  xmlTextWriterSetIndentString(writer_.get(), BAD_CAST "  ");
  check(xmlTextWriterStartDocument(writer_.get(), nullptr, "UTF-8", nullptr), "la declaración XML");
}

Writer::~Writer() { discard(); }

// libxml2 reports a failed callback on stderr and keeps only "write error": the real error is
// kept here and thrown by check(), and libxml2 is told that all went well.
int Writer::write(void* context, const char* bytes, int length) {
  auto* self = static_cast<Writer*>(context);
  if (self->failure_ || !self->file_) return length;
  try {
    self->file_->append(std::string_view(bytes, static_cast<std::size_t>(length)));
  } catch (...) {
    self->failure_ = std::current_exception();
  }
  return length;
}

_xmlTextWriter* Writer::active() {
  if (failure_) std::rethrow_exception(failure_);
  if (!writer_)
    throw Error(ErrorKind::InvalidArgument, "El documento XML " + path_.string() + " ya está terminado");
  return writer_.get();
}

void Writer::check(int result, std::string_view what, std::string_view name) {
  if (result >= 0 && !failure_) return;
  if (!failure_) {
    std::string text = "No se pudo escribir " + std::string(what);
    if (!name.empty()) text += " '" + std::string(name) + "'";
    failure_ =
        std::make_exception_ptr(Error(ErrorKind::IOError, text + " en el archivo '" + path_.string() + "'"));
  }
  discard();
  std::rethrow_exception(failure_);
}

void Writer::startElement(std::string_view name) {
  _xmlTextWriter* writer = active();
  name_ = name;
  check(xmlTextWriterStartElement(writer, xmlText(name_)), "el elemento", name_);
}

void Writer::attribute(std::string_view name, std::string_view value) {
  _xmlTextWriter* writer = active();
  name_ = name;
  // XML 1.0 cannot carry C0 controls other than tab, line feed and carriage return: libxml2
  // would write them as references no parser reads back (and a NUL would cut the value).
  value_ = value;
  for (char& c : value_)
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') c = '?';
  check(xmlTextWriterWriteAttribute(writer, xmlText(name_), xmlText(value_)), "el atributo", name_);
}

void Writer::endElement() { check(xmlTextWriterEndElement(active()), "el final de un elemento"); }

void Writer::finish() {
  _xmlTextWriter* writer = active();
  check(xmlTextWriterEndDocument(writer), "el final del documento");
  check(xmlTextWriterFlush(writer), "el final del documento");
  writer_.reset();
  check(0, "el final del documento");
  io::AtomicFile& file = *file_;
  try {
    file.commit();
  } catch (...) {
    failure_ = std::current_exception();
    discard();
    throw;
  }
  file_.reset();
}

void Writer::discard() noexcept {
  file_.reset();  // removes an uncommitted temporary file; later flushes write nowhere
  writer_.reset();
}

}  // namespace pontix::xml

#include "platform/xml/Document.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <mutex>
#include <utility>

#include "platform/FileIo.h"

namespace pontix::xml {
namespace {

const xmlChar* xmlText(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

// Nothing outside the document is ever fetched: no DTD, no external entity, no network.
xmlParserInputPtr refuseExternalEntity(const char*, const char*, xmlParserCtxtPtr) { return nullptr; }

void initLibxml() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xmlSetExternalEntityLoader(refuseExternalEntity);
  });
}

std::string qualifiedName(const xmlNode* node) {
  std::string name = reinterpret_cast<const char*>(node->name);
  if (node->ns && node->ns->prefix) name = reinterpret_cast<const char*>(node->ns->prefix) + (":" + name);
  return name;
}

// Compares a node's qualified name without building it.
bool hasName(const xmlChar* local, const xmlNs* ns, std::string_view name) {
  std::string_view localName = reinterpret_cast<const char*>(local);
  if (!ns || !ns->prefix) return localName == name;
  std::string_view prefix = reinterpret_cast<const char*>(ns->prefix);
  return name.size() == prefix.size() + 1 + localName.size() && name.substr(0, prefix.size()) == prefix &&
         name[prefix.size()] == ':' && name.substr(prefix.size() + 1) == localName;
}

std::vector<std::string_view> splitPath(std::string_view path) {
  std::vector<std::string_view> steps;
  while (!path.empty()) {
    std::size_t cut = path.find('/');
    if (cut != 0) steps.push_back(path.substr(0, cut));
    if (cut == std::string_view::npos) break;
    path.remove_prefix(cut + 1);
  }
  return steps;
}

std::string trimNewline(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s;
}

}  // namespace

ParseError::ParseError(const std::filesystem::path& file, std::string reason, int line, int column)
    : Error(ErrorKind::Corruption, "El archivo " + file.string() +
                                       " no es un documento XML válido: " + reason + " (línea " +
                                       std::to_string(line) + ", columna " + std::to_string(column) + ")"),
      reason_(std::move(reason)),
      line_(line),
      column_(column) {}

std::string Element::name() const { return qualifiedName(node_); }

std::vector<Element> Element::children(std::string_view name) const {
  std::vector<Element> result;
  for (xmlNode* child = node_->children; child; child = child->next)
    if (child->type == XML_ELEMENT_NODE && hasName(child->name, child->ns, name))
      result.push_back(Element(child));
  return result;
}

std::optional<std::string> Element::attribute(std::string_view name) const {
  for (xmlAttr* attr = node_->properties; attr; attr = attr->next) {
    if (!hasName(attr->name, attr->ns, name)) continue;
    xmlChar* value = xmlNodeListGetString(node_->doc, attr->children, 1);
    std::string text = value ? reinterpret_cast<const char*>(value) : "";
    xmlFree(value);
    return text;
  }
  return std::nullopt;
}

void Element::setAttribute(std::string_view name, std::string_view value) {
  if (!xmlSetProp(node_, xmlText(std::string(name)), xmlText(std::string(value))))
    throw Error(ErrorKind::InvalidArgument, "No se pudo asignar el atributo '" + std::string(name) + "'");
}

void Element::appendChild(Element child) {
  if (child.node_->parent || child.node_->doc != node_->doc || child.node_ == node_)
    throw Error(ErrorKind::InvalidArgument, "El elemento '" + child.name() + "' ya está en el documento");
  xmlAddChild(node_, child.node_);
}

Document::Document() : doc_(xmlNewDoc(BAD_CAST "1.0")) {
  if (!doc_) throw std::bad_alloc();
}

Document::~Document() {
  if (!doc_) return;
  // Elements created but never attached belong to no tree; free them with the document.
  for (xmlNode* node : created_)
    if (!node->parent) xmlFreeNode(node);
  xmlFreeDoc(doc_);
}

Document::Document(Document&& other) noexcept
    : doc_(std::exchange(other.doc_, nullptr)), created_(std::move(other.created_)) {}

Document& Document::operator=(Document&& other) noexcept {
  if (this != &other) {
    Document old(std::move(*this));
    doc_ = std::exchange(other.doc_, nullptr);
    created_ = std::move(other.created_);
  }
  return *this;
}

namespace {

// libxml2 goes on after the first fault and reports the last one; the first names the cause.
struct FirstParseError {
  bool seen = false;
  std::string message;
  int line = 0;
  int column = 0;
};

void keepFirstError(void* data, xmlErrorPtr error) {
  auto* first = static_cast<FirstParseError*>(data);
  if (first->seen || !error || error->level < XML_ERR_ERROR) return;
  first->seen = true;
  first->message = error->message ? trimNewline(error->message) : std::string();
  first->line = error->line;
  first->column = error->int2;
}

}  // namespace

Document Document::load(const std::filesystem::path& file) {
  initLibxml();
  std::string bytes = io::readWholeFile(file);
  if (bytes.size() > static_cast<std::size_t>(INT_MAX))
    throw Error(ErrorKind::InvalidArgument, "El archivo " + file.string() + " es demasiado grande");
  std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> ctxt(xmlNewParserCtxt(), xmlFreeParserCtxt);
  if (!ctxt) throw std::bad_alloc();
  const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  std::string url = file.string();
  FirstParseError first;
  xmlSetStructuredErrorFunc(&first, keepFirstError);
  xmlDocPtr doc = xmlCtxtReadMemory(ctxt.get(), bytes.data(), static_cast<int>(bytes.size()), url.c_str(),
                                    nullptr, options);
  xmlSetStructuredErrorFunc(nullptr, nullptr);
  if (!doc || !ctxt->wellFormed) {
    if (doc) xmlFreeDoc(doc);
    if (!first.seen) {
      const xmlError* err = xmlCtxtGetLastError(ctxt.get());
      first.message = err && err->message ? trimNewline(err->message) : std::string();
      first.line = err ? err->line : 0;
      first.column = err ? err->int2 : 0;
    }
    if (first.message.empty()) first.message = "documento mal formado";
    throw ParseError(file, first.message, first.line, first.column);
  }
  return Document(doc);
}

std::optional<Element> Document::root() const {
  xmlNode* node = xmlDocGetRootElement(doc_);
  if (!node) return std::nullopt;
  return Element(node);
}

std::vector<Element> Document::select(std::string_view absolutePath) const {
  std::vector<std::string_view> steps = splitPath(absolutePath);
  std::optional<Element> top = root();
  if (steps.empty() || !top || !hasName(top->node_->name, top->node_->ns, steps.front())) return {};
  std::vector<Element> level{*top};
  for (std::size_t i = 1; i < steps.size() && !level.empty(); ++i) {
    std::vector<Element> next;
    for (const Element& e : level) {
      std::vector<Element> kids = e.children(steps[i]);
      next.insert(next.end(), kids.begin(), kids.end());
    }
    level = std::move(next);
  }
  return level;
}

std::optional<Element> Document::selectSingle(std::string_view absolutePath) const {
  std::vector<Element> all = select(absolutePath);
  if (all.empty()) return std::nullopt;
  return all.front();
}

Element Document::createElement(std::string_view name) {
  xmlNode* node = xmlNewDocNode(doc_, nullptr, xmlText(std::string(name)), nullptr);
  if (!node) throw std::bad_alloc();
  created_.push_back(node);
  return Element(node);
}

void Document::appendChild(Element child) {
  if (xmlDocGetRootElement(doc_))
    throw Error(ErrorKind::InvalidArgument, "El documento ya tiene un elemento raíz");
  if (child.node_->parent || child.node_->doc != doc_)
    throw Error(ErrorKind::InvalidArgument, "El elemento '" + child.name() + "' ya está en el documento");
  xmlDocSetRootElement(doc_, child.node_);
}

void Document::save(const std::filesystem::path& file) const {
  xmlChar* mem = nullptr;
  int size = 0;
  xmlDocDumpFormatMemoryEnc(doc_, &mem, &size, "UTF-8", 1);
  if (!mem) throw std::bad_alloc();
  std::string text(reinterpret_cast<const char*>(mem), static_cast<std::size_t>(size));
  xmlFree(mem);
  io::writeFileAtomically(file, text);
}

}  // namespace pontix::xml

#include "platform/xml/Document.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "platform/FileIo.h"
#include "platform/xml/Markup.h"
#include "platform/xml/XmlErrors.h"

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

// What the user reads when libxml2 cannot allocate: std::bad_alloc's text is English.
[[noreturn]] void noMemory(const std::string& task) {
  throw Error(ErrorKind::IOError, "No hay memoria suficiente para " + task);
}

std::string position(int line, int column) {
  if (line <= 0) return "";
  if (column <= 0) return " (línea " + std::to_string(line) + ")";
  return " (línea " + std::to_string(line) + ", columna " + std::to_string(column) + ")";
}

}  // namespace

ParseError::ParseError(const std::filesystem::path& file, std::string reason, int line, int column, int code)
    : Error(ErrorKind::Corruption, "El archivo " + file.string() +
                                       " no es un documento XML válido: " + reason + position(line, column)),
      reason_(std::move(reason)),
      line_(std::max(line, 0)),
      column_(line > 0 ? std::max(column, 0) : 0),
      code_(code) {}

std::string Element::name() const { return qualifiedName(node_); }

int Element::line() const {
  long line = xmlGetLineNo(node_);
  return line > 0 && line <= INT_MAX ? static_cast<int>(line) : 0;
}

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
    // Entities were replaced while parsing: the value is its text nodes, nothing to expand.
    std::string text;
    for (const xmlNode* part = attr->children; part; part = part->next)
      if (part->type == XML_TEXT_NODE && part->content) text += reinterpret_cast<const char*>(part->content);
    return text;
  }
  return std::nullopt;
}

void Element::setAttribute(std::string_view name, std::string_view value) {
  // XML 1.0 cannot carry C0 controls other than tab, line feed and carriage return: libxml2
  // would save them as references no parser reads back (and a NUL would cut the value). They
  // become '?', as the code-page conversion does with what it cannot represent.
  std::string text(value);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') c = '?';
  if (!xmlSetProp(node_, xmlText(std::string(name)), xmlText(text)))
    throw Error(ErrorKind::InvalidArgument, "No se pudo asignar el atributo '" + std::string(name) + "'");
}

void Element::appendChild(Element child) {
  if (child.node_->parent || child.node_->doc != node_->doc || child.node_ == node_)
    throw Error(ErrorKind::InvalidArgument, "El elemento '" + child.name() + "' ya está en el documento");
  xmlAddChild(node_, child.node_);
}

Document::Document() : doc_(xmlNewDoc(BAD_CAST "1.0")) {
  if (!doc_) noMemory("crear un documento XML");
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

// Why a start tag that would make the parser slow is refused; `where` names an entity.
std::string crowdedReason(const markup::CrowdedTag& crowded, const std::string& where) {
  if (crowded.namespaces)
    return "el documento declara más de " + std::to_string(markup::kMaxNamespaceDeclarations) +
           " espacios de nombres (el último, en el elemento <" + crowded.name + ">" + where + ")";
  return "el elemento <" + crowded.name + ">" + where + " tiene más de " +
         std::to_string(markup::kMaxAttributes) + " atributos";
}

// Set during one load: the parser's context points here through _private, which libxml2 also
// hands to the contexts it opens for an entity's content.
struct LoadState {
  xmlParserCtxtPtr ctxt = nullptr;
  getEntitySAXFunc getEntity = nullptr;
  getParameterEntitySAXFunc getParameterEntity = nullptr;
  attributeDeclSAXFunc attributeDecl = nullptr;

  // libxml2 2.9 caps each attribute at 10 MB but not their sum, and copies an entity's
  // content into the tree at every use: the document's own references must pay for it.
  std::size_t budget = 0;
  std::size_t spent = 0;
  std::unordered_map<const xmlEntity*, std::size_t> expansion;
  std::unordered_set<const xmlEntity*> scanned;  // for crowded start tags
  std::size_t namespaceDeclarations = 0;         // in the document and the entities scanned

  // libxml2 2.9 copies every declared default into each start tag of its element, used or not.
  int defaults = 0;

  bool refused = false;
  bool outOfMemory = false;
  std::string reason;
  int code = 0;
  int line = 0;
  int column = 0;

  // libxml2 goes on after the first fault and reports the last one; the first names the cause.
  bool seen = false;
  bool seenFatal = false;

  void refuse(std::string why, int errorCode) {
    if (refused) return;
    refused = true;
    reason = std::move(why);
    code = errorCode;
    line = ctxt->input ? ctxt->input->line : 0;
    column = ctxt->input ? ctxt->input->col : 0;
    xmlStopParser(ctxt);
  }
};

constexpr std::size_t kEndless = SIZE_MAX;

std::size_t addCapped(std::size_t a, std::size_t b) { return a > kEndless - b ? kEndless : a + b; }

// The length of an internal entity's text once every entity it uses is replaced, computed once
// per entity. Deep chains and loops count as endless; libxml2 refuses them too.
std::size_t expandedSize(LoadState& state, xmlDocPtr doc, xmlEntityPtr ent, int depth) {
  if (ent->etype == XML_INTERNAL_PREDEFINED_ENTITY) return 1;
  if (depth > 40) return kEndless;
  auto [known, fresh] = state.expansion.try_emplace(ent, kEndless);
  if (!fresh) return known->second;
  std::string_view text(reinterpret_cast<const char*>(ent->content ? ent->content : BAD_CAST ""),
                        ent->content ? static_cast<std::size_t>(ent->length) : 0);
  std::size_t size = text.size();
  for (std::size_t amp = text.find('&'); amp != std::string_view::npos; amp = text.find('&', amp + 1)) {
    std::size_t semicolon = text.find(';', amp);
    if (semicolon == std::string_view::npos || text.substr(amp + 1, 1) == "#") continue;
    std::string name(text.substr(amp + 1, semicolon - amp - 1));
    xmlEntityPtr inner = xmlGetDocEntity(doc, xmlText(name));
    if (inner && inner->etype == XML_INTERNAL_GENERAL_ENTITY)
      size = addCapped(size, expandedSize(state, doc, inner, depth + 1));
  }
  state.expansion[ent] = size;
  return size;
}

xmlEntityPtr guardedEntity(void* data, const xmlChar* name) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(data);
  auto* state = static_cast<LoadState*>(ctxt->_private);
  if (state->refused) return nullptr;
  try {
    // Looked up before libxml2 does: for an external entity it would already try to load it.
    xmlEntityPtr ent = ctxt->myDoc ? xmlGetDocEntity(ctxt->myDoc, name) : nullptr;
    if (ent && ent->etype != XML_INTERNAL_GENERAL_ENTITY && ent->etype != XML_INTERNAL_PREDEFINED_ENTITY) {
      state->refuse("la entidad '" + std::string(reinterpret_cast<const char*>(name)) +
                        "' es externa y no se lee: el documento no puede depender de otros archivos",
                    XML_ERR_ENTITY_IS_EXTERNAL);
      return nullptr;
    }
    // An entity's text is markup the look before parsing did not see.
    if (ent && ent->etype == XML_INTERNAL_GENERAL_ENTITY && state->scanned.insert(ent).second) {
      std::string_view text(reinterpret_cast<const char*>(ent->content ? ent->content : BAD_CAST ""),
                            ent->content ? static_cast<std::size_t>(ent->length) : 0);
      if (std::optional<markup::CrowdedTag> crowded =
              markup::crowdedStartTag(text, state->namespaceDeclarations)) {
        state->refuse(crowdedReason(*crowded, " de la entidad '" +
                                                  std::string(reinterpret_cast<const char*>(name)) + "'"),
                      XML_ERR_USER_STOP);
        return nullptr;
      }
    }
    // Uses nested in an entity's text are already in the expansion of the use that reached them.
    if (ent && ctxt->depth == 0) {
      state->spent = addCapped(state->spent, expandedSize(*state, ctxt->myDoc, ent, 0));
      if (state->spent > state->budget) {
        state->refuse("las entidades del documento se expanden demasiado", XML_ERR_ENTITY_LOOP);
        return nullptr;
      }
    }
  } catch (const std::bad_alloc&) {
    state->outOfMemory = true;
    state->refuse("", XML_ERR_NO_MEMORY);
    return nullptr;
  }
  return state->getEntity(data, name);
}

xmlEntityPtr guardedParameterEntity(void* data, const xmlChar* name) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(data);
  auto* state = static_cast<LoadState*>(ctxt->_private);
  if (state->refused) return nullptr;
  xmlEntityPtr ent = state->getParameterEntity(data, name);
  if (!ent) return nullptr;
  try {
    if (ent->etype != XML_INTERNAL_PARAMETER_ENTITY) {
      state->refuse("la entidad '%" + std::string(reinterpret_cast<const char*>(name)) +
                        ";' es externa y no se lee: el documento no puede depender de otros archivos",
                    XML_ERR_ENTITY_IS_EXTERNAL);
      return nullptr;
    }
  } catch (const std::bad_alloc&) {
    state->outOfMemory = true;
    state->refuse("", XML_ERR_NO_MEMORY);
    return nullptr;
  }
  state->spent = addCapped(state->spent, static_cast<std::size_t>(ent->length));
  return ent;
}

// No administration document declares defaults; a few are harmless, many make every start tag
// slow.
constexpr int kMaxDefaults = 20;

void countedAttributeDecl(void* data, const xmlChar* element, const xmlChar* name, int type, int def,
                          const xmlChar* defaultValue, xmlEnumerationPtr tree) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(data);
  auto* state = static_cast<LoadState*>(ctxt->_private);
  if (defaultValue && def != XML_ATTRIBUTE_IMPLIED && def != XML_ATTRIBUTE_REQUIRED &&
      ++state->defaults > kMaxDefaults) {
    if (tree) xmlFreeEnumeration(tree);
    try {
      state->refuse("el documento da valores por omisión a más de " + std::to_string(kMaxDefaults) +
                        " atributos en su DTD",
                    XML_ERR_USER_STOP);
    } catch (const std::bad_alloc&) {
      state->outOfMemory = true;
      state->refuse("", XML_ERR_NO_MEMORY);
    }
    return;
  }
  state->attributeDecl(data, element, name, type, def, defaultValue, tree);
}

void keepFirstError(void* data, xmlErrorPtr error) noexcept {
  auto* state = static_cast<LoadState*>(data);
  if (!error || state->refused) return;
  // Without its DTD the entity's text is unknown: taking it as empty would lose data.
  bool fatal = error->level == XML_ERR_FATAL || error->code == XML_WAR_UNDECLARED_ENTITY;
  bool counts = fatal || error->level == XML_ERR_ERROR;
  try {
    if (counts && (!state->seen || (fatal && !state->seenFatal))) {
      state->reason = spanishReason(*error);
      state->outOfMemory = isOutOfMemory(*error);
      state->code = error->code;
      state->line = error->line;
      state->column = error->int2;
      state->seen = true;
      state->seenFatal = fatal;
    } else if (state->seen && state->line == 0 && error->line > 0) {
      // Encoding faults come without a position; where the parser stopped right after is it.
      state->line = error->line;
      state->column = error->int2;
    }
  } catch (const std::bad_alloc&) {
    state->outOfMemory = true;
    state->seen = state->seenFatal = true;
  }
}

void ignoreMessage(void*, const char*, ...) {}

// libxml2's error handlers are per thread; the caller's come back whatever happens.
class QuietLibxml {
 public:
  explicit QuietLibxml(LoadState* state)
      : structured_(xmlStructuredError),
        structuredData_(xmlStructuredErrorContext),
        generic_(xmlGenericError),
        genericData_(xmlGenericErrorContext) {
    xmlSetStructuredErrorFunc(state, keepFirstError);
    xmlSetGenericErrorFunc(nullptr, ignoreMessage);
  }
  ~QuietLibxml() {
    xmlSetStructuredErrorFunc(structuredData_, structured_);
    xmlSetGenericErrorFunc(genericData_, generic_);
  }
  QuietLibxml(const QuietLibxml&) = delete;
  QuietLibxml& operator=(const QuietLibxml&) = delete;

 private:
  xmlStructuredErrorFunc structured_;
  void* structuredData_;
  xmlGenericErrorFunc generic_;
  void* genericData_;
};

}  // namespace

Document Document::load(const std::filesystem::path& file) {
  initLibxml();
  std::string bytes = io::readWholeFile(file);
  if (bytes.size() > static_cast<std::size_t>(INT_MAX))
    throw Error(ErrorKind::InvalidArgument, "El archivo " + file.string() + " es demasiado grande");
  if (std::string encoding = markup::unreadableEncoding(bytes); !encoding.empty()) {
    if (encoding == "UTF-32" || encoding == "EBCDIC")
      throw ParseError(file, "el documento está en " + encoding + ", que Pontix no lee: guárdelo en UTF-8", 0,
                       0, XML_ERR_UNSUPPORTED_ENCODING);
    throw ParseError(
        file, "la codificación declarada '" + encoding + "' no está admitida: guarde el documento en UTF-8",
        1, 0, XML_ERR_UNSUPPORTED_ENCODING);
  }
  std::size_t namespaceDeclarations = 0;
  if (std::optional<markup::CrowdedTag> crowded =
          markup::crowdedStartTagInDocument(bytes, namespaceDeclarations))
    throw ParseError(file, crowdedReason(*crowded, ""), crowded->line, 0, XML_ERR_USER_STOP);
  std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> ctxt(xmlNewParserCtxt(), xmlFreeParserCtxt);
  if (!ctxt) noMemory("leer el archivo " + file.string());
  LoadState state;
  state.namespaceDeclarations = namespaceDeclarations;
  state.ctxt = ctxt.get();
  state.budget = std::max<std::size_t>(8u << 20, 8 * bytes.size());
  state.getEntity = ctxt->sax->getEntity;
  state.getParameterEntity = ctxt->sax->getParameterEntity;
  ctxt->sax->getEntity = guardedEntity;
  ctxt->sax->getParameterEntity = guardedParameterEntity;
  state.attributeDecl = ctxt->sax->attributeDecl;
  ctxt->sax->attributeDecl = countedAttributeDecl;
  ctxt->_private = &state;
  // Entities are replaced during the parse, where libxml2's own limits apply as well.
  const int options =
      XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_BIG_LINES;
  std::string url = file.string();
  xmlDocPtr doc;
  {
    QuietLibxml quiet(&state);
    doc = xmlCtxtReadMemory(ctxt.get(), bytes.data(), static_cast<int>(bytes.size()), url.c_str(), nullptr,
                            options);
  }
  if (doc && ctxt->wellFormed && !state.refused && !state.seenFatal) return Document(doc);
  if (doc) xmlFreeDoc(doc);
  if (!state.seen && !state.refused) {
    if (const xmlError* err = xmlCtxtGetLastError(ctxt.get()); err && err->code != XML_ERR_OK)
      keepFirstError(&state, const_cast<xmlErrorPtr>(err));
    if (!state.seen) state.reason = "el documento está mal formado";
  }
  if (state.outOfMemory) noMemory("leer el archivo " + file.string());
  throw ParseError(file, state.reason, state.line, state.column, state.code);
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
  if (!node) noMemory("crear el elemento '" + std::string(name) + "'");
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
  if (!mem) noMemory("guardar el archivo " + file.string());
  std::string text(reinterpret_cast<const char*>(mem), static_cast<std::size_t>(size));
  xmlFree(mem);
  io::writeFileAtomically(file, text);
}

}  // namespace pontix::xml

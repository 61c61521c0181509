#include "platform/xml/Document.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>
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

// Compares a qualified name without building it.
bool hasName(const xmlChar* local, const xmlChar* prefixOrNull, std::string_view name) {
  std::string_view localName = reinterpret_cast<const char*>(local);
  if (!prefixOrNull) return localName == name;
  std::string_view prefix = reinterpret_cast<const char*>(prefixOrNull);
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
  throw Error(ErrorKind::IOError, "No hay memoria suficiente para " + task,
              "Cierre otros programas y vuelva a intentarlo.");
}

std::string position(int line, int column) {
  if (line <= 0) return "";
  if (column <= 0) return " (línea " + std::to_string(line) + ")";
  return " (línea " + std::to_string(line) + ", columna " + std::to_string(column) + ")";
}

std::string qualifiedName(const xmlChar* local, const xmlChar* prefix) {
  std::string name = reinterpret_cast<const char*>(local);
  if (prefix) name = reinterpret_cast<const char*>(prefix) + (":" + name);
  return name;
}

}  // namespace

// Bytes in blocks that never move: growing copies nothing, and little is left unused. A place in
// it is one number: the block, then the offset in it.
class Arena {
 public:
  static constexpr unsigned kOffsetBits = 20;
  static constexpr std::size_t kBlock = std::size_t{1} << kOffsetBits;
  static constexpr std::size_t kMaxBlocks = std::size_t{1} << (32 - kOffsetBits);

  // Room for `size` bytes in one block; a record larger than a block gets one of its own.
  // False when the places have run out: 4096 blocks, at least 2 GB.
  bool reserve(std::size_t size, char*& out, std::uint32_t& place) {
    if (blocks_.empty() || capacity_ - used_ < size) {
      if (blocks_.size() == kMaxBlocks) return false;
      capacity_ = std::max(size, kBlock);
      blocks_.emplace_back(new char[capacity_]);  // not zeroed: every byte is written before it is read
      used_ = 0;
    }
    place = static_cast<std::uint32_t>((blocks_.size() - 1) << kOffsetBits | used_);
    out = blocks_.back().get() + used_;
    used_ += size;
    return true;
  }
  const char* at(std::uint32_t place) const {
    return blocks_[place >> kOffsetBits].get() + (place & (kBlock - 1));
  }

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
};

// What a Document keeps, path by path, so that a reader done with one path can let it go. Each
// element is a record in its path's arena: its number in document order among the kept
// elements, its line, its attribute count, then per attribute its name's number, its length and
// its bytes (numbers as varints). That is a fraction of the markup, and of a tree's nodes.
struct KeptDocument {
  struct Path {
    std::string path;     // as asked for: "/CENTRE/CURSOS/CURS"
    std::string name;     // its last step: its elements' name
    int step = -1;        // its place among the steps; -1 for a root that none names
    int parentPath = -1;  // the kept path of its elements' parents, if any
    bool released = false;
    Arena arena;
    std::vector<std::uint32_t> records;  // each element's place in the arena
  };
  std::vector<Path> paths;  // as asked for; then the root's own when not among them
  std::vector<std::string> attributeNames;
  int rootPath = -1;
  std::uint64_t elements = 0;  // kept so far

  const Path& path(std::size_t p) const {
    const Path& kept = paths[p];
    if (kept.released) throw std::logic_error("The document let go of the elements of " + kept.path);
    return kept;
  }
  const char* record(std::size_t p, std::size_t index) const {
    const Path& kept = path(p);
    return kept.arena.at(kept.records[index]);
  }
};

namespace {

std::size_t numberSize(std::uint64_t n) {
  std::size_t size = 1;
  while (n >= 0x80) {
    n >>= 7;
    ++size;
  }
  return size;
}

char* putNumber(char* out, std::uint64_t n) {
  while (n >= 0x80) {
    *out++ = static_cast<char>(0x80 | (n & 0x7F));
    n >>= 7;
  }
  *out++ = static_cast<char>(n);
  return out;
}

std::uint64_t takeNumber(const char*& p) {
  std::uint64_t n = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*p++);
    n |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if (!(byte & 0x80)) return n;
  }
}

// One step of the paths asked for: the paths share their beginnings.
struct PathStep {
  std::string name;
  int parent;     // -1 for a root element's step
  int path = -1;  // the path that ends here, if any
};

constexpr int kNoPath = -2;  // an element no path asked for goes through

}  // namespace

ParseError::ParseError(const std::filesystem::path& file, std::string reason, int line, int column, int code)
    : Error(ErrorKind::Corruption,
            "El archivo " + file.string() + " no es un documento XML válido: " + reason +
                position(line, column),
            "Vuelva a sacar el documento de Scolaria; si lo ha cambiado a mano, corríjalo donde se indica. "
            "Después, vuelva a intentarlo."),
      reason_(std::move(reason)),
      line_(std::max(line, 0)),
      column_(line > 0 ? std::max(column, 0) : 0),
      code_(code) {}

namespace {

// Why a start tag that would make the parser slow is refused; `where` names an entity.
std::string crowdedReason(const markup::CrowdedTag& crowded, const std::string& where) {
  if (crowded.namespaces)
    return "el documento declara más de " + std::to_string(markup::kMaxNamespaceDeclarations) +
           " espacios de nombres (el último, en el elemento <" + crowded.name + ">" + where + ")";
  return "el elemento <" + crowded.name + ">" + where + " tiene más de " +
         std::to_string(markup::kMaxAttributes) + " atributos";
}

// The look at the markup, on a thread of its own ahead of the parse: the parse is handed
// only bytes the look has passed, so a start tag that would make it slow is refused before it
// sees more of it than the limits allow. The outcome is the one of looking at the whole file
// first: a refusal found by the look outranks whatever the parse found.
class LookAhead {
 public:
  explicit LookAhead(const io::File& file) : file_(file), thread_([this] { run(); }) {}
  ~LookAhead() {
    stop_ = true;
    thread_.join();
  }
  LookAhead(const LookAhead&) = delete;
  LookAhead& operator=(const LookAhead&) = delete;

  // How many of the `size` bytes from `offset` the parse may have, waiting for the look to
  // pass them; 0 at the end, and where the look refused the document (load() reports it).
  // Throws what made the look fail.
  std::size_t passed(std::uint64_t offset, std::size_t size) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return looked_ > offset || over_; });
    if (looked_ > offset) return static_cast<std::size_t>(std::min<std::uint64_t>(size, looked_ - offset));
    if (error_) std::rethrow_exception(error_);
    return 0;
  }
  // Waits for the whole look; its refusal, if any, and the namespace declarations it counted.
  std::optional<markup::CrowdedTag> outcome(std::size_t& declarations) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return over_; });
    if (error_) std::rethrow_exception(error_);
    declarations = declarations_;
    return crowded_;
  }

 private:
  void run() {
    std::uint64_t offset = 0;
    std::optional<markup::CrowdedTag> crowded;
    std::exception_ptr error;
    try {
      // The look asks for the next piece once it has gone through the last one. The parse may
      // then have all of it, a construct cut short at its end included: the look refuses a
      // start tag as soon as its counts pass the limits, cut short or not, so the parser never
      // sees more of a crowded tag than the limits allow.
      crowded = markup::crowdedStartTagInStream(
          [&](char* buffer, std::size_t n) -> std::size_t {
            {
              std::lock_guard lock(mutex_);
              looked_ = offset;
            }
            changed_.notify_all();
            if (stop_) return 0;
            const std::size_t got = file_.readAt(offset, {buffer, n});
            offset += got;
            return got;
          },
          declarations_);
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard lock(mutex_);
      if (!crowded && !error) looked_ = offset;
      crowded_ = std::move(crowded);
      error_ = error;
      over_ = true;
    }
    changed_.notify_all();
  }

  const io::File& file_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::uint64_t looked_ = 0;
  bool over_ = false;
  std::optional<markup::CrowdedTag> crowded_;
  std::exception_ptr error_;
  std::size_t declarations_ = 0;  // the look's own until it is over
  std::atomic<bool> stop_ = false;
  std::thread thread_;  // last: it starts once the rest is ready
};

// Set during one load: the parser's context points here through _private, which libxml2 also
// hands to the contexts it opens for an entity's content.
struct LoadState {
  xmlParserCtxtPtr ctxt = nullptr;
  getEntitySAXFunc getEntity = nullptr;
  endDocumentSAXFunc endDocument = nullptr;
  getParameterEntitySAXFunc getParameterEntity = nullptr;
  attributeDeclSAXFunc attributeDecl = nullptr;

  // libxml2 2.9 caps each attribute at 10 MB but not their sum, and copies an entity's
  // content into the tree at every use: the document's own references must pay for it.
  std::size_t budget = 0;
  std::size_t spent = 0;
  std::unordered_map<const xmlEntity*, std::size_t> expansion;
  std::unordered_set<const xmlEntity*> scanned;  // for crowded start tags
  std::size_t namespaceDeclarations = 0;         // in the document and the entities scanned
  class LookAhead* look = nullptr;               // counts the document's until it is over

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

  // What is kept, and where the parse is among the paths asked for.
  KeptDocument* kept = nullptr;
  const std::vector<PathStep>* steps = nullptr;
  std::vector<int> open;  // the step of each open element, or kNoPath
  struct NamePointersHash {
    std::size_t operator()(const std::pair<const xmlChar*, const xmlChar*>& p) const noexcept {
      return std::hash<const void*>()(p.first) * 31 + std::hash<const void*>()(p.second);
    }
  };
  // libxml2 keeps every name once in its dictionary: its pointers name an attribute.
  std::unordered_map<std::pair<const xmlChar*, const xmlChar*>, std::uint32_t, NamePointersHash> attributeIds;

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

// The namespace declarations in an entity add up with the document's: all of them. Called from
// inside libxml2, which nothing may be thrown through: a refusal or a failure of the look only
// stops the parse, and load() reports it once the parse is over.
void waitForTheWholeLook(LoadState& state) noexcept {
  if (!state.look) return;
  std::size_t declarations = 0;
  try {
    if (state.look->outcome(declarations)) return state.refuse("", XML_ERR_USER_STOP);
  } catch (...) {
    return state.refuse("", XML_ERR_USER_STOP);
  }
  state.namespaceDeclarations += declarations;
  state.look = nullptr;
}

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
    // An entity's text is markup the look at the document did not see.
    if (ent && ent->etype == XML_INTERNAL_GENERAL_ENTITY && state->scanned.insert(ent).second) {
      waitForTheWholeLook(*state);
      if (state->refused) return nullptr;
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

// libxml2 takes a NUL after the root element for the end of the file and reads no further:
// content after the root like any other, whatever follows it.
void checkedEndDocument(void* data) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(data);
  auto* state = static_cast<LoadState*>(ctxt->_private);
  if (ctxt->wellFormed && !state->refused && !state->seenFatal && ctxt->input &&
      ctxt->input->cur < ctxt->input->end) {
    xmlError unread{};
    unread.domain = XML_FROM_PARSER;
    unread.code = XML_ERR_DOCUMENT_END;
    try {
      state->refuse(spanishReason(unread), XML_ERR_DOCUMENT_END);
    } catch (const std::bad_alloc&) {
      state->outOfMemory = true;
      state->refuse("", XML_ERR_NO_MEMORY);
    }
  }
  if (state->endDocument) state->endDocument(data);
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

void keepElement(void* data, const xmlChar* localName, const xmlChar* prefix, const xmlChar*, int,
                 const xmlChar**, int attributeCount, int defaulted, const xmlChar** attributes) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(data);
  auto* state = static_cast<LoadState*>(ctxt->_private);
  if (state->refused) return;
  try {
    const std::vector<PathStep>& steps = *state->steps;
    const int parent = state->open.empty() ? -1 : state->open.back();
    int step = kNoPath;
    if (parent != kNoPath)
      for (std::size_t i = 0; i < steps.size(); ++i)
        if (steps[i].parent == parent && hasName(localName, prefix, steps[i].name)) {
          step = static_cast<int>(i);
          break;
        }
    const bool root = state->open.empty();
    if (state->open.size() >= UINT16_MAX)
      return state->refuse("el documento anida demasiados elementos", XML_ERR_INTERNAL_ERROR);
    state->open.push_back(step);
    KeptDocument& kept = *state->kept;
    int path = step >= 0 ? steps[static_cast<std::size_t>(step)].path : -1;
    if (root && path < 0) {
      KeptDocument::Path own;
      own.name = qualifiedName(localName, prefix);
      own.path = "/" + own.name;
      own.step = std::max(step, -1);
      path = static_cast<int>(kept.paths.size());
      kept.paths.push_back(std::move(own));
    }
    if (root) kept.rootPath = path;
    if (path < 0) return;
    KeptDocument::Path& into = kept.paths[static_cast<std::size_t>(path)];

    // Declared defaults are not the document's own, as a tree would not have them either.
    const int count = std::max(attributeCount - defaulted, 0);
    // The look before parsing lets none through; the array below relies on it.
    if (static_cast<std::size_t>(count) > markup::kMaxAttributes)
      return state->refuse(crowdedReason({qualifiedName(localName, prefix), 0}, ""), XML_ERR_USER_STOP);
    const int line = ctxt->input ? std::max(ctxt->input->line, 0) : 0;
    std::uint32_t ids[markup::kMaxAttributes];
    std::size_t size = numberSize(kept.elements) + numberSize(static_cast<std::uint64_t>(line)) +
                       numberSize(static_cast<std::uint64_t>(count));
    for (int i = 0; i < count; ++i) {
      const xmlChar** attribute = attributes + 5 * i;
      auto [id, fresh] = state->attributeIds.try_emplace(
          {attribute[0], attribute[1]}, static_cast<std::uint32_t>(kept.attributeNames.size()));
      if (fresh) kept.attributeNames.push_back(qualifiedName(attribute[0], attribute[1]));
      ids[i] = id->second;
      const auto length = static_cast<std::size_t>(attribute[4] - attribute[3]);
      size += numberSize(ids[i]) + numberSize(length) + length;
    }
    char* out;
    std::uint32_t place;
    if (!into.arena.reserve(size, out, place)) throw std::bad_alloc();  // 4096 blocks for one path
    out = putNumber(out, kept.elements++);
    out = putNumber(out, static_cast<std::uint64_t>(line));
    out = putNumber(out, static_cast<std::uint64_t>(count));
    for (int i = 0; i < count; ++i) {
      const xmlChar** attribute = attributes + 5 * i;
      const auto length = static_cast<std::size_t>(attribute[4] - attribute[3]);
      out = putNumber(out, ids[i]);
      out = putNumber(out, length);
      std::memcpy(out, attribute[3], length);
      out += length;
    }
    into.records.push_back(place);
  } catch (const std::bad_alloc&) {
    state->outOfMemory = true;
    state->refuse("", XML_ERR_NO_MEMORY);
  }
}

void closeElement(void* data, const xmlChar*, const xmlChar*, const xmlChar*) {
  auto* state = static_cast<LoadState*>(static_cast<xmlParserCtxtPtr>(data)->_private);
  if (!state->open.empty()) state->open.pop_back();
}

// The paths asked for, as steps from the root; a path's number is its place in `paths`.
std::vector<PathStep> stepsOf(const std::vector<std::string>& paths) {
  if (paths.size() > UINT16_MAX - 1) throw std::logic_error("Too many paths to keep");
  std::vector<PathStep> steps;
  for (std::size_t p = 0; p < paths.size(); ++p) {
    int at = -1;
    for (std::string_view name : splitPath(paths[p])) {
      auto known = std::find_if(steps.begin(), steps.end(),
                                [&](const PathStep& s) { return s.parent == at && s.name == name; });
      if (known == steps.end()) known = steps.insert(steps.end(), PathStep{std::string(name), at});
      at = static_cast<int>(known - steps.begin());
    }
    if (at < 0) throw std::logic_error("An empty path to keep: " + paths[p]);
    steps[static_cast<std::size_t>(at)].path = static_cast<int>(p);
  }
  return steps;
}

// The file, read a piece at a time from its start, for libxml2.
struct FileReader {
  explicit FileReader(io::File opened) : file(std::move(opened)) {}
  io::File file;
  std::uint64_t offset = 0;
  std::exception_ptr error;
  // libxml2 asks for a few kilobytes at a time: served from a megabyte read at once.
  static constexpr std::size_t kBuffer = 1 << 20;
  std::unique_ptr<char[]> buffer;  // not zeroed: only what is read into it is served
  std::size_t buffered = 0, served = 0;

  LookAhead* look = nullptr;  // what the parse may read so far

  std::size_t read(char* out, std::size_t size) {
    if (look) size = look->passed(offset, size);
    if (size == 0) return 0;
    const std::size_t got = file.readAt(offset, {out, size});
    offset += got;
    return got;
  }
  std::size_t readBuffered(char* out, std::size_t size) {
    if (served == buffered) {
      if (!buffer) buffer.reset(new char[kBuffer]);
      buffered = read(buffer.get(), kBuffer);
      served = 0;
    }
    const std::size_t n = std::min(size, buffered - served);
    std::memcpy(out, buffer.get() + served, n);
    served += n;
    return n;
  }
  static int callback(void* context, char* out, int size) {
    auto* reader = static_cast<FileReader*>(context);
    try {
      return static_cast<int>(reader->readBuffered(out, static_cast<std::size_t>(std::max(size, 0))));
    } catch (...) {
      reader->error = std::current_exception();
      return -1;
    }
  }
};

}  // namespace

Document Document::load(const std::filesystem::path& file, const std::vector<std::string>& asked) {
  initLibxml();
  std::vector<std::string> paths;
  for (const std::string& path : asked)
    if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(path);
  const std::vector<PathStep> steps = stepsOf(paths);
  FileReader reader(io::File::open(file, io::File::Mode::Read));
  const std::uint64_t size = reader.file.size();

  std::string start(4096, '\0');
  start.resize(reader.file.readAt(0, start));
  if (std::string encoding = markup::unreadableEncoding(start); !encoding.empty()) {
    if (encoding == "UTF-32" || encoding == "EBCDIC")
      throw ParseError(file, "el documento está en " + encoding + ", que Pontix no lee: guárdelo en UTF-8", 0,
                       0, XML_ERR_UNSUPPORTED_ENCODING);
    throw ParseError(
        file, "la codificación declarada '" + encoding + "' no está admitida: guarde el documento en UTF-8",
        1, 0, XML_ERR_UNSUPPORTED_ENCODING);
  }
  // libxml2 would read what follows the mark in the declared encoding: María turns into MarÃ­a.
  if (std::optional<markup::EncodingConflict> conflict = markup::conflictingEncoding(start)) {
    const std::string what =
        conflict->actual == "UTF-8" ? "empieza con la marca de UTF-8 (BOM)" : "está en " + conflict->actual;
    std::string advice = "guárdelo de nuevo en UTF-8 sin declarar otra codificación";
    if (conflict->markAlone) advice += ", o quite la marca si está de verdad en " + conflict->declared;
    throw ParseError(
        file,
        "el documento " + what + " pero declara la codificación '" + conflict->declared + "': " + advice, 1,
        0, XML_ERR_INVALID_ENCODING);
  }
  // A look at the markup, a piece at a time ahead of the parse, which reads the file again.
  std::optional<LookAhead> started;
  try {
    started.emplace(reader.file);
  } catch (const std::system_error&) {
    throw Error(ErrorKind::IOError,
                "No hay recursos suficientes para leer el archivo " + file.string() +
                    ": el sistema no deja empezar otro hilo",
                "Cierre otros programas y vuelva a intentarlo.");
  }
  LookAhead& look = *started;
  reader.look = &look;

  std::unique_ptr<xmlParserCtxt, void (*)(xmlParserCtxtPtr)> ctxt(xmlNewParserCtxt(), xmlFreeParserCtxt);
  if (!ctxt) noMemory("leer el archivo " + file.string());
  auto kept = std::make_unique<KeptDocument>();
  for (const std::string& path : paths) {
    KeptDocument::Path& added = kept->paths.emplace_back();
    added.path = path;
    added.name = splitPath(path).back();
  }
  for (std::size_t s = 0; s < steps.size(); ++s)
    if (steps[s].path >= 0) kept->paths[static_cast<std::size_t>(steps[s].path)].step = static_cast<int>(s);
  LoadState state;
  state.look = &look;
  state.ctxt = ctxt.get();
  state.budget = std::max<std::size_t>(
      8u << 20, 8 * static_cast<std::size_t>(std::min<std::uint64_t>(size, SIZE_MAX / 8)));
  state.kept = kept.get();
  state.steps = &steps;
  xmlSAXHandler* sax = ctxt->sax;
  state.getEntity = sax->getEntity;
  state.getParameterEntity = sax->getParameterEntity;
  state.attributeDecl = sax->attributeDecl;
  state.endDocument = sax->endDocument;
  sax->endDocument = checkedEndDocument;
  sax->getEntity = guardedEntity;
  sax->getParameterEntity = guardedParameterEntity;
  sax->attributeDecl = countedAttributeDecl;
  // No tree: the elements asked for are kept as they come, the rest is only checked.
  sax->startElementNs = keepElement;
  sax->endElementNs = closeElement;
  sax->startElement = nullptr;
  sax->endElement = nullptr;
  sax->characters = nullptr;
  sax->ignorableWhitespace = nullptr;
  sax->cdataBlock = nullptr;
  sax->comment = nullptr;
  sax->processingInstruction = nullptr;
  sax->reference = nullptr;
  ctxt->_private = &state;
  // Entities are replaced during the parse, where libxml2's own limits apply as well.
  const int options =
      XML_PARSE_NOENT | XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_BIG_LINES;
  std::string url = file.string();
  xmlDocPtr doc;
  {
    QuietLibxml quiet(&state);
    doc = xmlCtxtReadIO(ctxt.get(), FileReader::callback, nullptr, &reader, url.c_str(), nullptr, options);
  }
  // What the parse made is the DTD and its entities: nothing the caller reads.
  const bool parsed = doc != nullptr;
  if (doc) xmlFreeDoc(doc);
  std::size_t declarations = 0;
  if (std::optional<markup::CrowdedTag> crowded = look.outcome(declarations))
    throw ParseError(file, crowdedReason(*crowded, ""), crowded->line, 0, XML_ERR_USER_STOP);
  if (reader.error) std::rethrow_exception(reader.error);
  if (parsed && ctxt->wellFormed && !state.refused && !state.seenFatal) {
    for (KeptDocument::Path& path : kept->paths) {
      if (path.step < 0) continue;
      const int parentStep = steps[static_cast<std::size_t>(path.step)].parent;
      for (std::size_t p = 0; p < kept->paths.size(); ++p)
        if (parentStep >= 0 && kept->paths[p].step == parentStep) path.parentPath = static_cast<int>(p);
    }
    return Document(std::move(kept));
  }
  if (!state.seen && !state.refused) {
    if (const xmlError* err = xmlCtxtGetLastError(ctxt.get()); err && err->code != XML_ERR_OK)
      keepFirstError(&state, const_cast<xmlErrorPtr>(err));
    if (!state.seen) state.reason = "el documento está mal formado";
  }
  if (state.outOfMemory) noMemory("leer el archivo " + file.string());
  throw ParseError(file, state.reason, state.line, state.column, state.code);
}

Document::Document() = default;
Document::Document(std::unique_ptr<KeptDocument> kept) : kept_(std::move(kept)) {}
Document::~Document() = default;
Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;

std::optional<Element> Document::root() const {
  if (!kept_ || kept_->rootPath < 0) return std::nullopt;
  return Element(kept_.get(), static_cast<std::uint32_t>(kept_->rootPath), 0);
}

namespace {

std::size_t pathNumber(const KeptDocument& kept, std::string_view absolutePath) {
  for (std::size_t p = 0; p < kept.paths.size(); ++p)
    if (kept.paths[p].path == absolutePath) return p;
  throw std::logic_error("The document did not keep the elements of " + std::string(absolutePath));
}

}  // namespace

std::vector<Element> Document::select(std::string_view absolutePath) const {
  if (!kept_) return {};
  const auto p = static_cast<std::uint32_t>(pathNumber(*kept_, absolutePath));
  const std::size_t count = kept_->path(p).records.size();
  std::vector<Element> found;
  found.reserve(count);
  for (std::size_t i = 0; i < count; ++i)
    found.push_back(Element(kept_.get(), p, static_cast<std::uint32_t>(i)));
  return found;
}

std::optional<Element> Document::selectSingle(std::string_view absolutePath) const {
  std::vector<Element> all = select(absolutePath);
  if (all.empty()) return std::nullopt;
  return all.front();
}

void Document::release(std::string_view absolutePath) {
  if (!kept_) return;
  KeptDocument::Path& path = kept_->paths[pathNumber(*kept_, absolutePath)];
  path.released = true;
  path.arena = Arena();
  std::vector<std::uint32_t>().swap(path.records);
}

std::string Element::name() const { return doc_->paths[path_].name; }

namespace {

// An element's number in document order and its line, from the start of its record.
std::uint64_t numberOf(const KeptDocument& doc, std::size_t path, std::size_t index) {
  const char* p = doc.record(path, index);
  return takeNumber(p);
}

}  // namespace

int Element::line() const {
  const char* p = doc_->record(path_, index_);
  takeNumber(p);
  return static_cast<int>(std::min<std::uint64_t>(takeNumber(p), INT_MAX));
}

std::vector<Element> Element::children(std::string_view name) const {
  std::vector<Element> result;
  // Elements of one path never nest: this one's descendants come before the next one on its path.
  const KeptDocument::Path& own = doc_->path(path_);
  const std::uint64_t after = numberOf(*doc_, path_, index_);
  const std::uint64_t before =
      index_ + 1 < own.records.size() ? numberOf(*doc_, path_, index_ + 1) : UINT64_MAX;
  for (std::size_t q = 0; q < doc_->paths.size(); ++q) {
    const KeptDocument::Path& child = doc_->paths[q];
    if (child.parentPath != static_cast<int>(path_) || child.name != name) continue;
    doc_->path(q);  // not let go of
    std::size_t low = 0, high = child.records.size();
    while (low < high) {
      const std::size_t middle = low + (high - low) / 2;
      if (numberOf(*doc_, q, middle) > after)
        high = middle;
      else
        low = middle + 1;
    }
    for (std::size_t i = low; i < child.records.size() && numberOf(*doc_, q, i) < before; ++i)
      result.push_back(Element(doc_, static_cast<std::uint32_t>(q), static_cast<std::uint32_t>(i)));
  }
  return result;
}

std::optional<std::string> Element::attribute(std::string_view name) const {
  std::optional<std::string_view> value = attributeView(name);
  if (!value) return std::nullopt;
  return std::string(*value);
}

std::optional<std::string_view> Element::attributeView(std::string_view name) const {
  const char* p = doc_->record(path_, index_);
  takeNumber(p);  // its number
  takeNumber(p);  // its line
  for (std::uint64_t count = takeNumber(p); count > 0; --count) {
    const std::uint64_t id = takeNumber(p);
    const std::uint64_t length = takeNumber(p);
    if (doc_->attributeNames[id] == name) return std::string_view(p, length);
    p += length;
  }
  return std::nullopt;
}

}  // namespace pontix::xml

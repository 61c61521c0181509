#include "platform/xml/XmlErrors.h"

#include <libxml/xmlerror.h>

#include <cstring>

namespace pontix::xml {
namespace {

// libxml2's size limits without XML_PARSE_HUGE, which a document from outside must not lift.
const char* const kTextLimit = " supera el tamaño máximo que Pontix lee (10.000.000 caracteres)";
const char* const kNameLimit = " supera el tamaño máximo que Pontix lee (50.000 caracteres)";

const char* const kBadEntityReference =
    "una referencia a entidad está mal escrita (un & suelto se escribe &amp;)";

bool says(const xmlError& e, const char* words) { return e.message && std::strstr(e.message, words); }

// The name libxml2 passes along with the error, quoted; empty when it passes none.
std::string quoted(const char* name) {
  return name && *name ? std::string(" '") + name + "'" : std::string();
}

}  // namespace

bool isOutOfMemory(const xmlError& e) {
  // libxml2 2.9 reports a text node over its size limit as a memory failure.
  return (e.code == XML_ERR_NO_MEMORY || e.domain == XML_FROM_MEMORY) && !says(e, "huge text node");
}

std::string spanishReason(const xmlError& e) {
  if (e.domain == XML_FROM_I18N)
    return "el archivo tiene bytes que no corresponden a la codificación que declara";
  switch (e.code) {
    case XML_ERR_INTERNAL_ERROR:
      if (says(e, "Excessive depth"))
        return "los elementos están anidados a demasiada profundidad (más de 256 niveles)";
      return "el documento supera los límites del lector XML";
    case XML_ERR_NO_MEMORY:
      if (says(e, "huge text node")) return std::string("un texto del documento") + kTextLimit;
      return "no hay memoria suficiente para leerlo";
    case XML_ERR_DOCUMENT_START:
    case XML_ERR_DOCUMENT_EMPTY: return "el documento está vacío o no empieza por un elemento";
    case XML_ERR_DOCUMENT_END: return "hay contenido después del elemento raíz";
    case XML_ERR_INVALID_HEX_CHARREF:
    case XML_ERR_INVALID_DEC_CHARREF:
    case XML_ERR_INVALID_CHARREF:
    case XML_ERR_CHARREF_AT_EOF:
    case XML_ERR_CHARREF_IN_PROLOG:
    case XML_ERR_CHARREF_IN_EPILOG:
    case XML_ERR_CHARREF_IN_DTD: return "una referencia de carácter (&#...;) no es válida";
    case XML_ERR_INVALID_CHAR:
      if (says(e, "not proper UTF-8"))
        return "el archivo tiene bytes que no son UTF-8 válido: no está en la codificación que declara";
      if (says(e, "CharRef")) return "una referencia de carácter (&#...;) no es válida";
      return "hay un carácter que no está permitido en XML";
    case XML_ERR_ENTITYREF_AT_EOF:
    case XML_ERR_ENTITYREF_IN_PROLOG:
    case XML_ERR_ENTITYREF_IN_EPILOG:
    case XML_ERR_ENTITYREF_IN_DTD:
    case XML_ERR_ENTITYREF_NO_NAME:
    case XML_ERR_ENTITYREF_SEMICOL_MISSING: return kBadEntityReference;
    case XML_ERR_PEREF_AT_EOF:
    case XML_ERR_PEREF_IN_PROLOG:
    case XML_ERR_PEREF_IN_EPILOG:
    case XML_ERR_PEREF_IN_INT_SUBSET:
    case XML_ERR_PEREF_NO_NAME:
    case XML_ERR_PEREF_SEMICOL_MISSING:
    case XML_ERR_ENTITY_IS_PARAMETER:
    case XML_ERR_ENTITY_PE_INTERNAL: return "una referencia a entidad de parámetro (%...;) no es válida";
    case XML_ERR_UNDECLARED_ENTITY:
    case XML_WAR_UNDECLARED_ENTITY: return "la entidad" + quoted(e.str1) + " no está definida";
    case XML_ERR_UNPARSED_ENTITY:
    case XML_ERR_ENTITY_IS_EXTERNAL:
    case XML_ERR_ENTITY_PROCESSING: return "la entidad" + quoted(e.str1) + " es externa y no se lee";
    case XML_ERR_UNKNOWN_ENCODING:
    case XML_ERR_UNSUPPORTED_ENCODING:
      return "la codificación declarada" + quoted(e.str1) + " no está admitida";
    case XML_ERR_ENCODING_NAME: return "el nombre de la codificación declarada no es válido";
    case XML_ERR_INVALID_ENCODING:
      return "el archivo tiene bytes que no corresponden a la codificación que declara";
    case XML_ERR_STRING_NOT_STARTED:
    case XML_ERR_STRING_NOT_CLOSED: return "falta una comilla";
    case XML_ERR_NS_DECL_ERROR: return "una declaración de espacio de nombres no es válida";
    case XML_ERR_ENTITY_NOT_STARTED:
    case XML_ERR_ENTITY_NOT_FINISHED: return "una declaración de entidad está incompleta";
    case XML_ERR_LT_IN_ATTRIBUTE: return "hay un < sin escapar en el valor de un atributo (se escribe &lt;)";
    case XML_ERR_ATTRIBUTE_NOT_STARTED: return "el valor de un atributo debe ir entre comillas";
    case XML_ERR_ATTRIBUTE_NOT_FINISHED:
      if (says(e, "too long")) return std::string("el valor de un atributo") + kTextLimit;
      return "el valor de un atributo no se cierra";
    case XML_ERR_ATTRIBUTE_WITHOUT_VALUE:
    case XML_ERR_EQUAL_REQUIRED:
    case XML_ERR_VALUE_REQUIRED: return "a un atributo le falta el signo = o el valor";
    case XML_ERR_ATTRIBUTE_REDEFINED:
    case XML_NS_ERR_ATTRIBUTE_REDEFINED:
      return "el atributo" + quoted(e.str2 && e.code == XML_ERR_ATTRIBUTE_REDEFINED ? e.str2 : e.str1) +
             " aparece dos veces en el mismo elemento";
    case XML_ERR_COMMENT_NOT_FINISHED:
      if (says(e, "too big")) return std::string("un comentario") + kTextLimit;
      return "un comentario no se cierra";
    case XML_ERR_HYPHEN_IN_COMMENT: return "un comentario contiene dos guiones seguidos (--)";
    case XML_ERR_PI_NOT_STARTED:
    case XML_ERR_PI_NOT_FINISHED:
      if (says(e, "too big")) return std::string("una instrucción de procesamiento (<?...?>)") + kTextLimit;
      return "una instrucción de procesamiento (<?...?>) está mal escrita";
    case XML_ERR_XMLDECL_NOT_STARTED:
    case XML_ERR_XMLDECL_NOT_FINISHED:
    case XML_ERR_VERSION_MISSING:
    case XML_ERR_STANDALONE_VALUE:
    case XML_ERR_MISSING_ENCODING: return "la declaración XML (<?xml ...?>) está mal escrita";
    case XML_ERR_UNKNOWN_VERSION:
    case XML_ERR_VERSION_MISMATCH: return "la versión de XML declarada no está admitida";
    case XML_ERR_RESERVED_XML_NAME: return "la declaración XML solo puede ir al principio del documento";
    case XML_ERR_MISPLACED_CDATA_END: return "hay un ]]> fuera de una sección CDATA";
    case XML_ERR_CDATA_NOT_FINISHED:
      if (says(e, "too big")) return std::string("una sección CDATA") + kTextLimit;
      return "una sección CDATA no se cierra";
    case XML_ERR_SPACE_REQUIRED: return "falta un espacio (por ejemplo, entre dos atributos)";
    case XML_ERR_NAME_REQUIRED:
      if (says(e, "EntityRef")) return kBadEntityReference;
      return "falta un nombre de elemento, atributo o entidad, o no es válido";
    case XML_ERR_NAME_TOO_LONG: return std::string("un nombre") + kNameLimit;
    case XML_ERR_LT_REQUIRED:
    case XML_ERR_GT_REQUIRED: return "una etiqueta no se cierra con >";
    case XML_ERR_LTSLASH_REQUIRED: return "falta una etiqueta de cierre";
    case XML_ERR_TAG_NAME_MISMATCH:
      if (e.str1 && e.str2)
        return std::string("la etiqueta de cierre </") + e.str2 + "> no corresponde a <" + e.str1 +
               ">, abierta en la línea " + std::to_string(e.int1);
      return "una etiqueta de cierre no corresponde a la de apertura";
    case XML_ERR_TAG_NOT_FINISHED:
      if (e.str1)
        return std::string("el elemento <") + e.str1 + ">, abierto en la línea " + std::to_string(e.int1) +
               ", no se cierra";
      return "un elemento no se cierra";
    case XML_ERR_NOT_WELL_BALANCED:
    case XML_ERR_EXTRA_CONTENT:
    case XML_ERR_ENTITY_CHAR_ERROR:
    case XML_ERR_ENTITY_BOUNDARY: return "el contenido de una entidad está mal formado";
    case XML_ERR_ENTITY_LOOP: return "las entidades del documento se expanden demasiado o se usan en bucle";
    case XML_ERR_LITERAL_NOT_STARTED:
    case XML_ERR_LITERAL_NOT_FINISHED:
    case XML_ERR_NOTATION_NOT_STARTED:
    case XML_ERR_NOTATION_NOT_FINISHED:
    case XML_ERR_ATTLIST_NOT_STARTED:
    case XML_ERR_ATTLIST_NOT_FINISHED:
    case XML_ERR_MIXED_NOT_STARTED:
    case XML_ERR_MIXED_NOT_FINISHED:
    case XML_ERR_ELEMCONTENT_NOT_STARTED:
    case XML_ERR_ELEMCONTENT_NOT_FINISHED:
    case XML_ERR_CONDSEC_NOT_STARTED:
    case XML_ERR_CONDSEC_NOT_FINISHED:
    case XML_ERR_CONDSEC_INVALID:
    case XML_ERR_CONDSEC_INVALID_KEYWORD:
    case XML_ERR_EXT_SUBSET_NOT_FINISHED:
    case XML_ERR_DOCTYPE_NOT_FINISHED:
    case XML_ERR_SEPARATOR_REQUIRED:
    case XML_ERR_NMTOKEN_REQUIRED:
    case XML_ERR_PCDATA_REQUIRED:
    case XML_ERR_URI_REQUIRED:
    case XML_ERR_PUBID_REQUIRED:
    case XML_ERR_INVALID_URI:
    case XML_ERR_URI_FRAGMENT:
    case XML_ERR_EXT_ENTITY_STANDALONE:
    case XML_ERR_NOT_STANDALONE:
    case XML_ERR_NOTATION_PROCESSING: return "la declaración de tipo de documento (DOCTYPE) está mal escrita";
    case XML_NS_ERR_XML_NAMESPACE:
    case XML_NS_ERR_UNDEFINED_NAMESPACE:
    case XML_NS_ERR_QNAME:
    case XML_NS_ERR_EMPTY:
    case XML_NS_ERR_COLON: return "un espacio de nombres o un nombre con prefijo no es válido";
    default: return "el lector XML encontró un error (código " + std::to_string(e.code) + ")";
  }
}

}  // namespace pontix::xml

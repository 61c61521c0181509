// The XML document service on any bytes, read the way Exportar's builders read the
// administration document: the kept paths, the root, each kept element's children and the
// attributes the builders ask for. A document that is refused must say why.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "exportar/Conventions.h"
#include "exportar/Exportar.h"
#include "platform/Error.h"
#include "platform/xml/Document.h"

namespace {

using namespace pontix;

// Every attribute any builder reads, and every element name on the kept paths.
constexpr std::string_view kAttributes[] = {"codi", "curs", "descripcio", "curta", "nom"};
constexpr std::string_view kChildren[] = {"MATERIES", "MATERIA", "ACTIVITATS", "ACTIVITAT", "PLACES", "PLACA",
                                          "AULES",    "AULA",    "CURSOS",     "CURS",      "GRUP"};

void readElement(const xml::Element& element) {
  (void)element.name();
  fuzz::expect(element.line() >= 0, "un elemento en una línea negativa");
  for (std::string_view name : kAttributes) {
    const std::optional<std::string> value = element.attribute(name);
    const std::optional<std::string_view> view = element.attributeView(name);
    fuzz::expect(value.has_value() == view.has_value() && (!value || *value == *view),
                 "attribute y attributeView no coinciden");
    pontix::RunReport report;
    const std::string ansi = readAttribute(element, name, report);
    fuzz::expect(value || ansi.empty(), "un atributo que falta no se lee vacío");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path file = fuzz::scratch() / "centre.xml";
  fuzz::put(file, fuzz::bytesOf(data, size));
  try {
    const xml::Document document = xml::Document::load(file, kAdministrationPaths);
    if (std::optional<xml::Element> root = document.root()) {
      readElement(*root);
      fuzz::expect(document.select("/" + root->name()).size() == 1, "la raíz no está en su propio camino");
    }
    for (const std::string& path : kAdministrationPaths) {
      const std::vector<xml::Element> elements = document.select(path);
      const std::optional<xml::Element> single = document.selectSingle(path);
      fuzz::expect(elements.empty() ? !single : single == elements.front(),
                   "selectSingle no da el primero de select");
      for (const xml::Element& element : elements) {
        readElement(element);
        for (std::string_view child : kChildren)
          for (const xml::Element& kept : element.children(child)) {
            fuzz::expect(kept.name() == child, "un hijo con otro nombre");
            readElement(kept);
          }
      }
    }
  } catch (const xml::ParseError& e) {
    fuzz::note(e);
    // what() is what the user reads: the whole reason must be in it.
    fuzz::expect(!e.reason().empty() && std::string_view(e.what()).find(e.reason()) != std::string_view::npos,
                 "un error de análisis sin explicación completa");
  } catch (const Error& e) {
    fuzz::note(e);
    fuzz::expect(*e.what() != '\0', "un error sin texto");
  }
  return 0;
}

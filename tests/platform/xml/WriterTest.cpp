// The streaming writer against libxml2's own save of the same tree, built here with the tree
// API, and what a failure leaves on disk.

#include "platform/xml/Writer.h"

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "platform/Error.h"
#include "platform/FileIo.h"

namespace pontix::xml {
namespace {

using namespace std::string_literals;

struct Node {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<Node> children;
};

// The rule both sides follow: C0 controls other than tab, line feed and carriage return
// become '?'.
std::string carriable(std::string value) {
  for (char& c : value)
    if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') c = '?';
  return value;
}

const xmlChar* x(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

xmlNodePtr treeOf(xmlDocPtr doc, const Node& node) {
  xmlNodePtr element = xmlNewDocNode(doc, nullptr, x(node.name), nullptr);
  for (const auto& [name, value] : node.attributes) xmlSetProp(element, x(name), x(carriable(value)));
  for (const Node& child : node.children) xmlAddChild(element, treeOf(doc, child));
  return element;
}

// What libxml2 writes for the tree when it saves it formatted as UTF-8.
std::string librarySave(const Node& root) {
  std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> doc(xmlNewDoc(BAD_CAST "1.0"), xmlFreeDoc);
  xmlDocSetRootElement(doc.get(), treeOf(doc.get(), root));
  xmlChar* mem = nullptr;
  int size = 0;
  xmlDocDumpFormatMemoryEnc(doc.get(), &mem, &size, "UTF-8", 1);
  std::string text(reinterpret_cast<const char*>(mem), static_cast<std::size_t>(size));
  xmlFree(mem);
  return text;
}

void writeNode(Writer& out, const Node& node) {
  out.startElement(node.name);
  for (const auto& [name, value] : node.attributes) out.attribute(name, value);
  for (const Node& child : node.children) writeNode(out, child);
  out.endElement();
}

std::string streamed(const std::filesystem::path& file, const Node& root) {
  Writer out(file);
  writeNode(out, root);
  out.finish();
  return test::readFile(file);
}

const char* const kSessioAttributes[] = {"placa",  "curs", "grup",    "dia",      "hora",
                                         "durada", "aula", "materia", "activitat"};

// Thousands of SESSIO whose values mix every kind of character the escaping or the control
// rule treats apart: accents and other multi-byte UTF-8, quotes, markup characters, white
// space XML keeps in attributes, C0 controls and NUL, empty values.
Node solution(int sessions) {
  const std::vector<std::string> pieces = {"",           "P-1",  "Física", "Guàrdia de pati",
                                           "àéíòóúüçñ·", "€",    "𝄞",      "\"",
                                           "'",          "&",    "&amp;",  "<",
                                           ">",          "]]>",  "\t",     "\n",
                                           "\r",         "\r\n", "\x01",   "\x1F",
                                           "\0"s,        "\x7F", " ",      "  x  ",
                                           "A-9",        "08:55"};
  std::mt19937 random(1234);
  std::uniform_int_distribution<std::size_t> piece(0, pieces.size() - 1);
  std::uniform_int_distribution<int> length(0, 4);
  Node root{"HORARI", {}, {Node{"SESSIONS", {}, {}}}};
  for (int i = 0; i < sessions; ++i) {
    Node s{"SESSIO", {}, {}};
    for (const char* name : kSessioAttributes) {
      std::string value;
      for (int n = length(random); n > 0; --n) value += pieces[piece(random)];
      s.attributes.emplace_back(name, value);
    }
    root.children[0].children.push_back(std::move(s));
  }
  return root;
}

TEST(XmlWriter, WritesByteForByteWhatLibxmlSavesForTheSameTree) {
  test::TempDir dir;
  const Node nested{
      "CENTRE",
      {{"codi", "08999999"}, {"nom", "Institut \"L'Àlber\" & <cia>"}},
      {Node{"CURSOS", {}, {Node{"CURS", {{"codi", "ESO1"}}, {Node{"GRUP", {{"codi", "A"}}, {}}}}}},
       Node{"AULES", {}, {}}, Node{"BUIT", {{"a", ""}}, {}}}};
  struct Case {
    const char* what;
    Node root;
  } cases[] = {
      {"sin sesiones", solution(0)},
      {"una sesión", solution(1)},
      {"miles de sesiones", solution(3000)},
      {"elementos anidados", nested},
  };
  for (const Case& c : cases) {
    const std::string expected = librarySave(c.root);
    const std::string written = streamed(dir / "SolucioHorari.xml", c.root);
    EXPECT_EQ(written, expected) << c.what;
    // It loads again: nothing a parser refuses.
    std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> back(
        xmlReadMemory(written.data(), static_cast<int>(written.size()), nullptr, nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
        xmlFreeDoc);
    EXPECT_TRUE(back) << c.what;
  }
  EXPECT_NE(librarySave(solution(0)).find("<HORARI>\n  <SESSIONS/>\n</HORARI>\n"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

// A writer that goes away unfinished, or whose disk fills up, leaves the earlier file and no
// temporary one; a failed writer keeps giving its error.
TEST(XmlWriter, UnfinishedOrFailedWritingKeepsTheEarlierFile) {
  test::TempDir dir;
  const std::filesystem::path file = dir / "SolucioHorari.xml";
  const Node big = solution(2000);
  auto onlyEarlierFile = [&](const char* what) {
    EXPECT_EQ(test::readFile(file), "anterior") << what;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1) << what;
  };
  test::writeFile(file, "anterior");
  {
    Writer out(file);
    writeNode(out, big.children[0]);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
  }
  onlyEarlierFile("sin terminar");

  {
    io::ScopedWriteFailure full(100'000);
    Writer out(file);
    std::string message;
    try {
      writeNode(out, big);
      out.finish();
    } catch (const Error& e) {
      message = e.what();
      EXPECT_EQ(e.kind(), ErrorKind::IOError);
    }
    EXPECT_NE(message.find("no queda espacio en el disco"), std::string::npos) << message;
    onlyEarlierFile("disco lleno");
    try {
      out.startElement("SESSIO");
      ADD_FAILURE() << "sin error";
    } catch (const Error& e) {
      EXPECT_EQ(e.what(), message);
    }
  }
  onlyEarlierFile("disco lleno, después");
}

}  // namespace
}  // namespace pontix::xml

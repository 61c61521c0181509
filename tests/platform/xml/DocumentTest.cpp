#include "platform/xml/Document.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "platform/FileIo.h"

namespace pontix::xml {
namespace {

std::string utf16(std::string_view ascii, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) {
    if (bigEndian) out += '\0';
    out += c;
    if (!bigEndian) out += '\0';
  }
  return out;
}

TEST(XmlLoad, ReadsTheEncodingTheFileDeclares) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* expected;  // UTF-8 value of attribute "descripcio"
  } cases[] = {
      {"utf-8", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CENTRE descripcio=\"Educació €\"/>",
       "Educació €"},
      {"no declaration", "<CENTRE descripcio=\"Educació\"/>", "Educació"},
      {"iso-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><CENTRE descripcio=\"Educaci\xF3\"/>",
       "Educació"},
      {"windows-1252",
       "<?xml version=\"1.0\" encoding=\"windows-1252\"?><CENTRE descripcio=\"\x80 \x93"
       "a\x94\"/>",
       "€ “a”"},
      {"utf-16le", utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?><CENTRE descripcio=\"abc\"/>", false),
       "abc"},
      {"utf-16be", utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?><CENTRE descripcio=\"abc\"/>", true),
       "abc"},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    test::writeFile(dir / "doc.xml", c.bytes);
    Document doc = Document::load(dir / "doc.xml");
    ASSERT_TRUE(doc.root()) << c.name;
    EXPECT_EQ(doc.root()->attribute("descripcio"), c.expected) << c.name;
  }
}

TEST(XmlLoad, MalformedFileGivesLineAndColumn) {
  test::TempDir dir;
  std::filesystem::path file = dir / "roto.xml";
  test::writeFile(file, "<CENTRE>\n  <CURSOS>\n  </CURS>\n</CENTRE>\n");
  try {
    Document::load(file);
    FAIL();
  } catch (const ParseError& e) {
    EXPECT_EQ(e.line(), 3);
    EXPECT_GT(e.column(), 0);
    EXPECT_EQ(std::string(e.what()), "El archivo " + file.string() +
                                         " no es un documento XML válido: " + e.reason() +
                                         " (línea 3, columna " + std::to_string(e.column()) + ")");
    EXPECT_NE(e.reason().find("mismatch"), std::string::npos) << e.reason();
  }
  test::writeFile(file, "");
  EXPECT_THROW(Document::load(file), ParseError);
  EXPECT_THROW(Document::load(dir / "no-existe.xml"), Error);
}

TEST(XmlLoad, NothingOutsideTheDocumentIsRead) {
  test::TempDir dir;
  test::writeFile(dir / "secreto.txt", "SECRETO");
  std::string external = "<?xml version=\"1.0\"?>\n<!DOCTYPE CENTRE [<!ENTITY x SYSTEM \"file://" +
                         (dir / "secreto.txt").string() + "\">]>\n<CENTRE a=\"1\"><B>&x;</B></CENTRE>\n";
  test::writeFile(dir / "ext.xml", external);
  try {
    Document doc = Document::load(dir / "ext.xml");
    doc.save(dir / "copia.xml");
    EXPECT_EQ(test::readFile(dir / "copia.xml").find("SECRETO"), std::string::npos);
  } catch (const ParseError&) {
    // Refusing the document is just as safe.
  }

  std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE CENTRE [\n<!ENTITY a \"aaaaaaaaaa\">\n";
  std::string prev = "a";
  for (char c = 'b'; c <= 'k'; ++c) {
    laughs += std::string("<!ENTITY ") + c + " \"";
    for (int i = 0; i < 10; ++i) laughs += "&" + prev + ";";
    laughs += "\">\n";
    prev = std::string(1, c);
  }
  laughs += "]>\n<CENTRE d=\"&k;\"/>\n";
  test::writeFile(dir / "bomba.xml", laughs);
  EXPECT_THROW(Document::load(dir / "bomba.xml"), ParseError);
}

TEST(XmlSelect, AbsolutePathsChildrenAndAttributes) {
  test::TempDir dir;
  test::writeFile(
      dir / "centre.xml",
      "<CENTRE><CURSOS><CURS codi='1'><GRUP codi='A'/><GRUP codi='B'/></CURS></CURSOS>"
      "<AULES/><CURSOS><CURS codi='2' Codi='X' buit=''><GRUP codi='C'/></CURS></CURSOS></CENTRE>");
  Document doc = Document::load(dir / "centre.xml");
  std::vector<Element> cursos = doc.select("/CENTRE/CURSOS/CURS");
  ASSERT_EQ(cursos.size(), 2u);
  EXPECT_EQ(cursos[0].attribute("codi"), "1");
  EXPECT_EQ(cursos[1].attribute("codi"), "2");
  EXPECT_EQ(cursos[1].attribute("Codi"), "X");
  EXPECT_EQ(cursos[1].attribute("buit"), "");
  EXPECT_EQ(cursos[1].attribute("descripcio"), std::nullopt);
  ASSERT_EQ(cursos[0].children("GRUP").size(), 2u);
  EXPECT_EQ(cursos[0].children("GRUP")[1].attribute("codi"), "B");
  EXPECT_EQ(doc.select("/CENTRE/CURSOS/CURS/GRUP").size(), 3u);
  EXPECT_TRUE(doc.select("/CENTRE/AULES/AULA").empty());
  EXPECT_TRUE(doc.select("/HORARI/CURSOS").empty());
  EXPECT_TRUE(Document().select("/CENTRE").empty());
}

TEST(XmlBuild, SavesUtf8WithDeclarationAndAttributeOrder) {
  test::TempDir dir;
  Document doc;
  doc.appendChild(doc.createElement("HORARI"));
  doc.selectSingle("/HORARI")->appendChild(doc.createElement("SESSIONS"));
  Element sessions = *doc.selectSingle("/HORARI/SESSIONS");
  Element s = doc.createElement("SESSIO");
  s.setAttribute("professor", "Núria");
  s.setAttribute("dia", "1");
  s.setAttribute("aula", "A & B");
  s.setAttribute("professor", "Pere");  // keeps its place
  sessions.appendChild(s);
  doc.createElement("SOLT");  // never attached: freed with the document
  EXPECT_THROW(doc.appendChild(doc.createElement("ALTRE")), Error);

  doc.save(dir / "SolucioHorari.xml");
  std::string saved = test::readFile(dir / "SolucioHorari.xml");
  EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << saved;
  EXPECT_NE(saved.find("<SESSIO professor=\"Pere\" dia=\"1\" aula=\"A &amp; B\"/>"), std::string::npos)
      << saved;

  s.setAttribute("professor", "Núria");
  doc.save(dir / "SolucioHorari.xml");
  Document back = Document::load(dir / "SolucioHorari.xml");
  EXPECT_EQ(back.select("/HORARI/SESSIONS/SESSIO").at(0).attribute("professor"), "Núria");

  io::ScopedWriteFailure full(10);
  EXPECT_THROW(Document().save(dir / "SolucioHorari.xml"), Error);
  EXPECT_EQ(Document::load(dir / "SolucioHorari.xml").select("/HORARI/SESSIONS/SESSIO").size(), 1u);
}

}  // namespace
}  // namespace pontix::xml

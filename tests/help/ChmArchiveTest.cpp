#include "help/ChmArchive.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "help/BuiltHelp.h"

namespace pontix::help {
namespace {

using testing::builtHelpFile;
using testing::fixtureBytes;
using testing::writeScratchFile;

std::string builtBytes() {
  std::ifstream in(builtHelpFile(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class ChmArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(builtHelpFile().empty()) << "chmcmd made no help file";
    archive_ = ChmArchive::open(builtHelpFile());
    ASSERT_TRUE(archive_);
  }
  std::unique_ptr<ChmArchive> archive_;
};

TEST_F(ChmArchiveTest, SystemNamesTitleTopicsAndSitemaps) {
  EXPECT_EQ(archive_->system().title, "Guía de prueba");  // Windows-1252 in the project
  EXPECT_EQ(archive_->system().defaultTopic, "inicio.htm");
  EXPECT_EQ(archive_->system().contentsFile, "contenido.hhc");
  EXPECT_EQ(archive_->system().indexFile, "indice.hhk");
  EXPECT_EQ(archive_->defaultTopic(), "/inicio.htm");
  EXPECT_EQ(archive_->contentsFile(), "/contenido.hhc");
  EXPECT_EQ(archive_->indexFile(), "/indice.hhk");
  EXPECT_EQ(archive_->files(),
            (std::vector<std::string>{"/_#_README_#_", "/contenido.hhc", "/cursos.htm", "/estilo.css",
                                      "/imagenes/logo.png", "/indice.hhk", "/inicio.htm", "/niveles.htm"}));
}

TEST_F(ChmArchiveTest, ReadsFilesByAnySpellingOfTheirPath) {
  const std::string logo = fixtureBytes("imagenes/logo.png");
  const struct {
    const char* path;
    std::optional<std::string> bytes;
  } cases[] = {
      {"/imagenes/logo.png", logo},
      {"imagenes/logo.png", logo},
      {"IMAGENES\\Logo.PNG", logo},
      {"./otra/../imagenes/logo.png", logo},
      {"/cursos.htm", fixtureBytes("cursos.htm")},
      {"/nada.htm", std::nullopt},
      {"/imagenes", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(archive_->read(c.path), c.bytes) << c.path;
}

TEST_F(ChmArchiveTest, ContextMapGivesTheTopicFromTheBuildersPath) {
  // chmcmd keeps the path of the folder it built in: the map's text is longer than the topic.
  const auto raw = contextString(*archive_->read("/#IVB"), *archive_->read("/#STRINGS"), 1);
  ASSERT_TRUE(raw);
  EXPECT_GT(raw->size(), std::string("/cursos.htm").size());
  EXPECT_EQ(raw->substr(raw->size() - 11), "/cursos.htm");

  const std::pair<std::uint32_t, std::optional<std::string>> cases[] = {{1, "/cursos.htm"},
                                                                        {2, "/niveles.htm"},
                                                                        {0, std::nullopt},
                                                                        {3, std::nullopt},
                                                                        {0xFFFFFFFF, std::nullopt}};
  for (const auto& [id, topic] : cases) EXPECT_EQ(archive_->contextTopic(id), topic) << id;
}

std::string dword(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}

TEST(ContextString, TrustsNoCountOrOffset) {
  const std::string strings = std::string("\0uno.htm\0dos.htm", 16);  // no NUL at the end
  const struct {
    const char* what;
    std::string ivb;
    std::uint32_t id;
    std::optional<std::string> text;
  } cases[] = {
      {"first pair", dword(16) + dword(7) + dword(1) + dword(8) + dword(9), 7, "uno.htm"},
      {"text running to the end", dword(16) + dword(7) + dword(1) + dword(8) + dword(9), 8, "dos.htm"},
      {"count past the data", dword(1000) + dword(7) + dword(1), 7, "uno.htm"},
      {"pair cut short", dword(16) + dword(7) + dword(1) + dword(8), 8, std::nullopt},
      {"count shorter than the pairs", dword(8) + dword(7) + dword(1) + dword(8) + dword(9), 8, std::nullopt},
      {"offset past the strings", dword(8) + dword(7) + dword(16), 7, std::nullopt},
      {"empty", "", 7, std::nullopt},
      {"count cut short", "\x08\x00", 7, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(contextString(c.ivb, strings, c.id), c.text) << c.what;
}

TEST(SystemRecords, RecordCutShortEndsTheList) {
  const std::string title = std::string("\x03\x00\x06\x00", 4) + std::string("T\xEDtulo", 6);
  const std::string topic = std::string("\x02\x00\x0B\x00", 4) + std::string("inicio.htm\0", 11);
  EXPECT_EQ(parseSystem(dword(3) + topic + title).title, "Título");
  EXPECT_EQ(parseSystem(dword(3) + topic + title).defaultTopic, "inicio.htm");
  const ChmSystem cut = parseSystem(dword(3) + topic + title.substr(0, 7));
  EXPECT_EQ(cut.defaultTopic, "inicio.htm");
  EXPECT_EQ(cut.title, "");
  EXPECT_EQ(parseSystem("").title, "");
}

TEST(ChmArchiveOpen, RejectsWhatIsNotAWholeHelpFile) {
  ASSERT_FALSE(builtHelpFile().empty());
  const std::string whole = builtBytes();
  std::mt19937 random(7);
  std::string garbage(whole.size(), '\0');
  for (char& c : garbage) c = static_cast<char>(random());
  // The control data of the decompressor, with a window of zero bytes: chmlib would divide by it.
  std::string zeroWindow = whole;
  const std::size_t lzxc = zeroWindow.find("LZXC");
  ASSERT_NE(lzxc, std::string::npos);
  zeroWindow.replace(lzxc + 12, 4, std::string(4, '\0'));

  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"garbage", garbage},
      {"garbage after the signature", "ITSF" + garbage.substr(4)},
      {"a page", fixtureBytes("inicio.htm")},
      {"header only", whole.substr(0, 0x60)},
      {"cut in the directory", whole.substr(0, 2000)},
      {"cut in the content", whole.substr(0, whole.size() / 2)},
      {"last byte missing", whole.substr(0, whole.size() - 1)},
      {"window of zero", zeroWindow},
  };
  for (const auto& c : cases) EXPECT_FALSE(ChmArchive::open(writeScratchFile("roto.chm", c.bytes))) << c.what;
  EXPECT_FALSE(ChmArchive::open("/no/existe/ayuda.chm"));
  EXPECT_FALSE(ChmArchive::open(HELP_FIXTURE_DIR));  // a folder
}

// Damaged copies either open and read, or are refused; none may take the program down.
TEST(ChmArchiveOpen, SurvivesDamagedCopies) {
  ASSERT_FALSE(builtHelpFile().empty());
  const std::string whole = builtBytes();
  std::mt19937 random(2024);
  int opened = 0;
  for (int round = 0; round < 300; ++round) {
    std::string damaged = whole;
    const int changes = 1 + static_cast<int>(random() % 6);
    for (int i = 0; i < changes; ++i) {
      // Headers and directory are where a byte does harm: most changes go there.
      const std::size_t span = random() % 2 ? std::min<std::size_t>(damaged.size(), 0x1200) : damaged.size();
      damaged[random() % span] = static_cast<char>(random());
    }
    const auto archive = ChmArchive::open(writeScratchFile("danado.chm", damaged));
    if (!archive) continue;
    ++opened;
    for (const auto& file : archive->files()) archive->read(file);
    archive->contextTopic(1);
    if (const auto contents = archive->contentsFile())
      if (const auto bytes = archive->read(*contents)) parseSitemap(*bytes);
  }
  EXPECT_GT(opened, 0);  // a change in an unused byte leaves a readable file
}

// The tree as text: "name[local local]{children}".
std::string describe(const std::vector<SitemapEntry>& entries) {
  std::string out;
  for (const auto& e : entries) {
    if (!out.empty()) out += ' ';
    out += e.name + '[';
    for (std::size_t i = 0; i < e.topics.size(); ++i)
      out += (i ? " " : "") + (e.topics[i].name == e.name ? "" : e.topics[i].name + "=") + e.topics[i].local;
    out += ']';
    if (!e.children.empty()) out += '{' + describe(e.children) + '}';
  }
  return out;
}

std::string item(const std::string& params) {
  return "<LI><OBJECT type=\"text/sitemap\">" + params + "</OBJECT>";
}
std::string param(const std::string& name, const std::string& value) {
  return "<param name=\"" + name + "\" value=\"" + value + "\">";
}

TEST(Sitemap, ReadsTreesAsHelpCompilersWriteThem) {
  const struct {
    const char* what;
    std::string bytes;
    std::string tree;
  } cases[] = {
      {"the fixture's contents", fixtureBytes("contenido.hhc"),
       "Bienvenida[inicio.htm] Cursos y grupos[cursos.htm]{Grupos[cursos.htm#grupos]} "
       "Asignación de niveles[niveles.htm]"},
      {"nesting three deep",
       "<UL>" + item(param("Name", "A")) + "<UL>" + item(param("Name", "B")) + "<UL>" +
           item(param("Name", "C") + param("Local", "c.htm")) + "</UL></UL>" + item(param("Name", "D")) +
           "</UL>",
       "A[]{B[]{C[c.htm]}} D[]"},
      {"tags and names in any case, quotes of either kind or none",
       "<ul><li><object TYPE='Text/Sitemap'><PARAM NAME=name VALUE='Uno'><Param Name=\"LOCAL\" "
       "Value=uno.htm></Object></ul>",
       "Uno[uno.htm]"},
      {"entities",
       "<UL>" + item(param("Name", "&Aacute;rea &amp; aula &#233;&#xE9; &#150; &iquest;&foo;")) + "</UL>",
       "Área & aula éé – ¿&foo;[]"},
      {"Windows-1252 bytes", "<UL>" + item(param("Name", "Per\xEDodo \x80")) + "</UL>", "Período €[]"},
      {"UTF-8 bytes", "<UL>" + item(param("Name", "Período")) + "</UL>", "Período[]"},
      {"a keyword with several topics",
       "<UL>" +
           item(param("Name", "Curso") + param("Name", "Cursos") + param("Local", "cursos.htm") +
                param("Name", "Grupos") + param("Local", "cursos.htm#grupos")) +
           "</UL>",
       "Curso[Cursos=cursos.htm Grupos=cursos.htm#grupos]"},
      {"objects that are not entries",
       "<OBJECT type=\"text/site properties\">" + param("Name", "x") + "</OBJECT><UL>" +
           item(param("Name", "Sí")) + "</UL>",
       "Sí[]"},
      {"no closing tags",
       "<UL><LI><OBJECT type=\"text/sitemap\">" + param("Name", "A") + "<LI><OBJECT type=\"text/sitemap\">" +
           param("Name", "B"),
       "A[] B[]"},
      {"a comment hiding an entry",
       "<UL><!-- " + item(param("Name", "Oculto")) + " -->" + item(param("Name", "Visible")), "Visible[]"},
      {"more lists closed than opened", "</UL></UL><UL>" + item(param("Name", "A")) + "</UL></UL>", "A[]"},
      {"cut inside a tag",
       "<UL>" + item(param("Name", "A")) + "<LI><OBJECT type=\"text/sitemap\"><param name=\"Na", "A[]"},
      {"cut inside a value", "<UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Abier",
       "Abier[]"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(describe(parseSitemap(c.bytes)), c.tree) << c.what;
}

TEST(PageText, CharsetDeclarationsAndTextBytes) {
  const std::pair<std::string, std::string> charsets[] = {
      {"<html><head><meta charset=\"UTF-8\"><title>x</title>", "utf-8"},
      {"<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=Windows-1252\">", "windows-1252"},
      {"<meta http-equiv=content-type content='text/html;charset=iso-8859-1'>", "iso-8859-1"},
      {"<meta name=\"author\" content=\"charset\"><meta charset=utf-8>", "utf-8"},
      {"<html><head><title>Sin declaración</title>", ""},
  };
  for (const auto& [html, charset] : charsets) EXPECT_EQ(declaredCharset(html), charset) << html;

  EXPECT_EQ(decodeText("Per\xC3\xADodo"), "Período");  // valid UTF-8 stays
  EXPECT_EQ(decodeText("Per\xEDodo \x80"), "Período €");
  EXPECT_EQ(decodeText("\xC3"), "Ã");  // a sequence cut short is not UTF-8
}

}  // namespace
}  // namespace pontix::help

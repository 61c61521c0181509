#include "exportar/Abbreviations.h"
#include "exportar/Conventions.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "operacion/ProgramState.h"

namespace pontix {
namespace {

using dbase::FieldKind;
using dbase::OpenMode;
using dbase::Table;

const std::vector<dbase::FieldDef> kFields = {{"CODI", FieldKind::Text, 8}, {"HORAS", FieldKind::Integer, 0}};

TEST(WorkingTable, ReplacesTheTableAndAnOrphanIndexThenOpensShared) {
  test::TempDir work;
  test::writeFile(work / "PROFT.MDX", "an index without its table");
  ProgramState state(work.path());
  Table table(work.path(), "PROFT.DBF");
  createWorkingTable(state, table, kFields);
  EXPECT_TRUE(table.isOpen());
  EXPECT_FALSE(std::filesystem::exists(work / "PROFT.MDX"));
  table.append();
  table.field("CODI").setText("ABCDEFGHIJ");
  table.post();

  Table reader(work.path(), "PROFT");  // shared: others may open it too
  reader.open(OpenMode::Shared);
  reader.close();
  table.close();
  reader.open(OpenMode::Shared);
  EXPECT_EQ(reader.field("CODI").asText(), "ABCDEFGH");
  reader.close();

  // A file of another spelling is the same table; the new one gets the program's spelling.
  std::filesystem::rename(work / "PROFT.DBF", work / "proft.dbf");
  Table again(work.path(), "PROFT.DBF");
  createWorkingTable(state, again, kFields);
  again.close();
  EXPECT_TRUE(std::filesystem::exists(work / "PROFT.DBF"));
  EXPECT_FALSE(std::filesystem::exists(work / "proft.dbf"));
}

TEST(WorkingTable, ATableHeldOpenElsewhereIsNeitherDeletedNorReplaced) {
  test::TempDir work;
  Table held(work.path(), "AULAT");
  held.create(kFields);
  held.open(OpenMode::Exclusive);
  held.append();
  held.field("CODI").setText("A1");
  held.post();

  Table table(work.path(), "AULAT.DBF");
  ProgramState state(work.path());
  try {
    createWorkingTable(state, table, kFields);
    ADD_FAILURE() << "replaced a table held open";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Locked);
  }
  held.close();
  held.open(OpenMode::Shared);
  EXPECT_EQ(held.field("CODI").asText(), "A1");
}

TEST(WorkingTable, AReadOnlyTableOrIndexStopsTheBuilderBeforeAnythingIsDeleted) {
  for (const char* marked : {"GRUPOST.DBF", "GRUPOST.MDX"}) {
    test::TempDir work;
    test::writeFile(work / "GRUPOST.DBF", "earlier run");
    test::writeFile(work / "GRUPOST.MDX", "earlier index");
    std::filesystem::permissions(work / marked, std::filesystem::perms::owner_read);
    Table table(work.path(), "GRUPOST.DBF");
    ProgramState state(work.path());
    try {
      createWorkingTable(state, table, kFields);
      ADD_FAILURE() << marked;
    } catch (const Error& e) {
      EXPECT_NE(
          std::string(e.what()).find("La tabla " + (work / "GRUPOST.DBF").string() + " es de solo lectura"),
          std::string::npos)
          << e.what();
    }
    EXPECT_EQ(test::readFile(work / "GRUPOST.DBF"), "earlier run") << marked;
    EXPECT_EQ(test::readFile(work / "GRUPOST.MDX"), "earlier index") << marked;
  }
}

TEST(WorkingTable, MissingWorkingDirectoryIsAnError) {
  test::TempDir root;
  Table table(root / "KTEMP", "PROFT.DBF");
  ProgramState state(root / "KTEMP");
  try {
    createWorkingTable(state, table, kFields);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "No existe la carpeta " + (root / "KTEMP").string());
  }
}

TEST(Attributes, TrimmedConvertedAndEmptyWhenMissing) {
  test::TempDir dir;
  test::writeFile(
      dir / "d.xml",
      "<CENTRE><PLACA codi=' \t\n 7 \r\n' nom='\u00A0José  María\u00A0' curta='“A” → Č 中'/></CENTRE>");
  xml::Document doc = xml::Document::load(dir / "d.xml", {"/CENTRE/PLACA"});
  xml::Element placa = doc.select("/CENTRE/PLACA").at(0);
  RunReport report;
  EXPECT_EQ(readAttributes(placa, {"codi", "nom", "curta", "descripcio", "Codi"}, report),
            (std::vector<std::string>{"7", test::ansi("\u00A0José  María\u00A0"),
                                      // curly quotes exist in 1252; arrow and Han do not; Č best-fits to C
                                      test::ansi("\u201CA\u201D ? C ?"), "", ""}));
}

TEST(UsedAbbreviations, IgnoresCaseAsWindowsAndKeepsOrder) {
  UsedAbbreviations used;
  for (std::string_view text : {"MATEMATI", "Física", "STRASSE", "co\u00ADop"}) used.add(test::ansi(text));
  used.add(test::ansi("Física"));  // the list may hold a text twice; it keeps both
  EXPECT_EQ(used.entries().size(), 5u);
  EXPECT_EQ(used.entries()[1], test::ansi("Física"));

  struct Case {
    const char* text;
    bool found;
  };
  const Case cases[] = {{"matemati", true}, {"MATEMATI ", false}, {"FÍSICA", true}, {"FISICA", false},
                        {"straße", true},   {"coop", true},       {"co-op", false}, {"", false}};
  for (const Case& c : cases) EXPECT_EQ(used.contains(test::ansi(c.text)), c.found) << c.text;

  // Past the table's first sizes: every entry still found, in any case, and nothing else.
  UsedAbbreviations many;
  for (int i = 0; i < 20000; ++i) many.add("Grup" + std::to_string(i));
  EXPECT_EQ(many.entries().size(), 20000u);
  EXPECT_EQ(many.entries()[12345], "Grup12345");
  int found = 0;
  for (int i = 0; i < 20000; ++i) found += many.contains("GRUP" + std::to_string(i));
  EXPECT_EQ(found, 20000);
  EXPECT_FALSE(many.contains("Grup20000"));
  EXPECT_FALSE(many.contains("Grup"));
}

TEST(ProgramState, TableObjectsOfBothSpellingsNameOneWorkingDirectory) {
  test::TempDir drive;
  test::ScopedEnv env("PONTIX_DRIVE_C", drive.path().c_str());
  std::filesystem::create_directories(drive / "KTemp");
  ProgramState state;
  EXPECT_EQ(state.workingDirectory, drive / "KTemp");
  for (Table* table : {&state.wwTableNomAsg, &state.wwTableCursos, &state.wwTableSoluc})
    EXPECT_EQ(table->filePath().parent_path(), drive / "KTemp") << table->objectName();
  EXPECT_EQ(state.wwTableCursos.filePath().filename(), "CURSOST.DBF");
  EXPECT_EQ(state.resultFlag, 0);
  EXPECT_FALSE(state.hostDriven);
}

}  // namespace
}  // namespace pontix

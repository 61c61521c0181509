// The first tables of Exportar, built from small documents and read back.

#include "exportar/Builders.h"

#include <gtest/gtest.h>

#include "ExportarWork.h"
#include "exportar/Exportar.h"
#include "platform/AnsiText.h"

#include <set>

namespace pontix {
namespace {

using Rows = std::vector<std::vector<std::string>>;
using Column = std::vector<std::string>;

struct Work : test::ExportarWork {
  Column column(const char* table, std::size_t field) {
    Column values;
    for (const auto& row : rows(table)) values.push_back(row.at(field));
    return values;
  }
};

std::string elements(const char* name, const std::string& attribute, const Column& values) {
  std::string xml;
  for (const std::string& v : values) xml += "<" + std::string(name) + " " + attribute + "='" + v + "'/>";
  return xml;
}

Column repeat(const std::string& value, int times) { return Column(static_cast<std::size_t>(times), value); }

Column concat(std::initializer_list<Column> parts) {
  Column all;
  for (const Column& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Column numbered(const std::string& stem, int from, int to) {
  Column values;
  for (int n = from; n <= to; ++n) values.push_back(stem + std::to_string(n));
  return values;
}

// One name per element in, the abbreviations of the table's first field out.
struct NamingCase {
  const char* what;
  Column names;
  Column abbreviations;
};

void expectAbbreviations(void (*build)(ProgramState&, Shell&), const char* table, const char* container,
                         const char* element, const char* attribute, const std::vector<NamingCase>& cases) {
  for (const NamingCase& c : cases) {
    Work w;
    w.load("<" + std::string(container) + ">" + elements(element, attribute, c.names) + "</" + container +
           ">");
    build(w.state, w.shell);
    EXPECT_EQ(w.column(table, 0), c.abbreviations) << c.what;
  }
}

TEST(Subjects, RecordsOfSubjectsThenActivities) {
  Work w;
  w.load(
      "<ACTIVITATS><ACTIVITAT codi='GUARDIA-PATI-01' descripcio='Guàrdia de pati' curta='GUARDIA DE PATI'/>"
      "</ACTIVITATS><MATERIES>"
      "<MATERIA codi=' 100001 ' curs='ESO1' descripcio='Matemàtiques' curta='MAT'/>"
      "<MATERIA codi='100002' curs='ESO1' descripcio='" +
      std::string(120, 'x') +
      "' curta='LLENGUA CATALANA'/>"
      "<MATERIA codi='100003' descripcio='Sense curta'/>"
      "</MATERIES>");
  buildAsignomt(w.state, w.shell);
  EXPECT_EQ(w.layout("ASIGNOMT"),
            (std::vector<std::string>{"COD C 10", "CODLARGO C 10", "NOMBRE C 80", "CODI C 20", "HORAS C 8",
                                      "CODICURS C 20", "ESTAREA L 1"}));
  EXPECT_EQ(w.rows("ASIGNOMT"),
            (Rows{
                {"MAT", "MAT", "Matemàtiques", "100001", "4", "ESO1", "F"},
                {"LLENGUA CA", "LLENGUA CA", std::string(80, 'x'), "100002", "4", "ESO1", "F"},
                {"", "", "Sense curta", "100003", "4", "", "F"},
                {"GUARDIA-PA", "GUARDIA DE", "Guàrdia de pati", "GUARDIA-PATI-01", "4", "", "T"},
            }));
  EXPECT_FALSE(std::filesystem::exists(w.dir / "ASIGNOMT.MDX"));
}

TEST(Subjects, CodesFollowTheShortNames) {
  expectAbbreviations(
      buildAsignomt, "ASIGNOMT", "MATERIES", "MATERIA", "curta",
      {
          {"worked example, the tenth to twelfth repetitions numbered on",
           concat({{"MAT", "MAT", "mat"}, repeat("MATEMATIQUES", 13)}),
           concat({{"MAT", "MAT1", "mat2", "MATEMATIQS"},
                   numbered("MATEMATIQ", 1, 9),
                   {"MATEMATI10", "MATEMATI11", "MATEMATI12"}})},
          {"ten characters stay, eleven lose the tenth",
           {"ABCDEFGHIJ", "ABCDEFGHIJK"},
           {"ABCDEFGHIJ", "ABCDEFGHIK"}},
          {"a blank ninth character stays inside", {"ABCDEFGH IJK"}, {"ABCDEFGH K"}},
          {"letter case does not tell apart",
           {"Física", "FÍSICA", "fisica"},
           {"Física", "FÍSICA1", "fisica"}},
          {"empty short names", {"", "", ""}, {"", "1", "2"}},
          {"a numbered code taken by an earlier name", {"MAT1", "MAT", "MAT"}, {"MAT1", "MAT", "MAT2"}},
      });
}

TEST(TeacherPosts, RecordsOfPosts) {
  Work w;
  const std::string longName =
      "Professor amb un nom molt llarg que no hi cap" + std::string(50, '.') + "FINAL";
  w.load("<PLACES><PLACA codi='" + std::string(50, '7') + "' descripcio='" + longName +
         "' curta='GARCIA'/><PLACA codi='P2' descripcio='Maria' curta='MARIA'/></PLACES>");
  buildProft(w.state, w.shell);
  EXPECT_EQ(w.layout("PROFT"),
            (std::vector<std::string>{"ABREV C 10", "NOMBRE C 80", "DEPART C 40", "DNI N 11", "CODI C 40"}));
  const std::string name = longName.substr(0, 75) + "FINAL";
  EXPECT_EQ(w.rows("PROFT"), (Rows{{"GARCIA", name, name.substr(0, 40), "", std::string(40, '7')},
                                   {"MARIA", "Maria", "Maria", "", "P2"}}));
}

TEST(TeacherPosts, AbbreviationsFollowTheShortNames) {
  expectAbbreviations(
      buildProft, "PROFT", "PLACES", "PLACA", "curta",
      {
          {"worked example, the third FERNANDEZG corrected",
           {"GARCIA", "GARCIA", "garcia", "", "", "", "MARTINEZLOPEZ", "MARTINEZLOPEZ", "FERNANDEZG",
            "FERNANDEZG", "FERNANDEZG"},
           {"GARCIA", "GARCIA1", "garcia2", "", "P1", "P2", "MARTINEZL", "MARTINEZL1", "FERNANDEZG",
            "FERNANDEG1", "FERNANDEG2"}},
          {"a nine-character base from its tenth repetition on", repeat("MARTINEZLOPEZ", 13),
           concat({{"MARTINEZL"}, numbered("MARTINEZL", 1, 9), {"MARTINEZ10", "MARTINEZ11", "MARTINEZ12"}})},
          {"ten characters stay, eleven keep nine",
           {"ABCDEFGHIJ", "ABCDEFGHIJK"},
           {"ABCDEFGHIJ", "ABCDEFGHI"}},
          {"empty short names skip the P numbers taken", {"p1", "", "", ""}, {"p1", "", "P2", "P3"}},
          {"a first nine ending in a blank is the same stored value",
           {"MARTINEZ LOPEZ", "MARTINEZ"},
           {"MARTINEZ", "MARTINEZ1"}},
      });
}

TEST(Rooms, RecordsOfRooms) {
  Work w;
  w.load("<AULES><AULA codi='A12' descripcio='Aula 3'/><AULA codi='" + std::string(74, 'C') +
         "' descripcio='Gimnàs'/></AULES>");
  buildAulat(w.state, w.shell);
  EXPECT_EQ(w.layout("AULAT"), (std::vector<std::string>{"ABREV C 10", "NOMBRE C 80", "EDIFICIO C 1",
                                                         "MAXALUM N 11", "CODI C 60"}));
  EXPECT_EQ(w.rows("AULAT"),
            (Rows{{"Aula 3", "(A12) Aula 3", "", "", "A12"},
                  {"Gimnàs", "(" + std::string(74, 'C') + ") Gim", "", "", std::string(60, 'C')}}));
}

TEST(Rooms, AbbreviationsFollowTheDescriptions) {
  expectAbbreviations(buildAulat, "AULAT", "AULES", "AULA", "descripcio",
                      {
                          {"worked example, the room described as LABORATO10 corrected",
                           concat({{"Aula 1", "Aula 1", "Aula 11", "LABORATORI DE QUIMICA"},
                                   repeat("LABORATORI DE FISICA", 11),
                                   {"LABORATO10"}}),
                           concat({{"Aula 1", "Aula 11", "Aula 111", "LABORATORI"},
                                   numbered("LABORATOR", 1, 9),
                                   {"LABORATO10", "LABORATO11", "LABORATO12"}})},
                          {"the first ten characters, case ignored",
                           {"Sala de actes", "SALA DE ACTES"},
                           {"Sala de ac", "SALA DE A1"}},
                          {"a tenth character blank is the same stored value",
                           {"Sala gran 1", "Sala gran"},
                           {"Sala gran", "Sala gran1"}},
                          {"empty descriptions", {"", "", ""}, {"", "1", "2"}},
                      });
}

TEST(Abbreviations, AStemWithoutFreeShortenedFormsGoesOnCutToFitTheNumber) {
  // A nine-character stem has 110 stored forms of its own: the base, stem1-9, and the
  // shortened 10-99, 00-09. From the 111th on the stem is cut so that the number fits.
  Work w;
  w.load(
      "<MATERIES>" + elements("MATERIA", "curta", repeat("MATEMATIQUES", 1200)) + "</MATERIES><AULES>" +
      elements("AULA", "descripcio", concat({repeat("Aula de grup", 2), numbered("Aula de grup ", 1, 120)})) +
      "</AULES><PLACES>" + elements("PLACA", "curta", repeat("FERNANDEZG", 130)) + "</PLACES>");
  buildAsignomt(w.state, w.shell);
  buildAulat(w.state, w.shell);
  buildProft(w.state, w.shell);

  auto expectUnique = [](const Column& values, const char* table) {
    std::set<std::string> folded;
    for (const std::string& v : values) folded.insert(ansi::foldCase(ansi::fromUtf8(v)));
    EXPECT_EQ(folded.size(), values.size()) << table;
  };
  Column subjects = w.column("ASIGNOMT", 0);
  expectUnique(subjects, "ASIGNOMT");
  EXPECT_EQ(Column(subjects.begin() + 108, subjects.begin() + 112),
            (Column{"MATEMATI08", "MATEMATI09", "MATEMAT100", "MATEMAT101"}));
  EXPECT_EQ(subjects[1009], "MATEMAT999");
  EXPECT_EQ(subjects[1010], "MATEMA1000");
  EXPECT_EQ(subjects.back(), "MATEMA1189");

  // "Aula de grup 1" to "120" all begin "Aula de gr", like the two before them.
  Column rooms = w.column("AULAT", 0);
  expectUnique(rooms, "AULAT");
  EXPECT_EQ(Column(rooms.begin(), rooms.begin() + 4),
            (Column{"Aula de gr", "Aula de g1", "Aula de g2", "Aula de g3"}));
  EXPECT_EQ(rooms[110], "Aula de100");
  EXPECT_EQ(rooms.back(), "Aula de111");

  // A ten-character base: FERNANDE + G1-G9, 10-99, 00-09; then cut, FERNANDEZ1 first.
  Column posts = w.column("PROFT", 0);
  expectUnique(posts, "PROFT");
  EXPECT_EQ(Column(posts.begin() + 109, posts.begin() + 112),
            (Column{"FERNANDE09", "FERNANDEZ1", "FERNANDEZ2"}));
}

TEST(Abbreviations, StemsEqualIgnoringCaseButNotInLengthNumberApart) {
  // "SS" and "ß" are equal ignoring case, yet their candidates shorten differently: ABCDEFGß10
  // is free although ABCDEFGSS10 was numbered.
  expectAbbreviations(buildAsignomt, "ASIGNOMT", "MATERIES", "MATERIA", "curta",
                      {{"twelve nine-character stems, then two eight-character ones",
                        concat({repeat("ABCDEFGSS", 12), repeat("ABCDEFGß", 2)}),
                        concat({{"ABCDEFGSS"},
                                numbered("ABCDEFGSS", 1, 9),
                                {"ABCDEFGS10", "ABCDEFGS11", "ABCDEFGß10", "ABCDEFGß11"}})}});
}

TEST(DaysAndHours, AnEmptyGridReplacesWhateverWasThere) {
  Work w;
  {
    dbase::Table old(w.dir.path(), "DIASHORAST");
    old.create({{"DIHO", dbase::FieldKind::Text, 10}}, {{"DIHO", "DIHO"}});
    old.open(dbase::OpenMode::Shared);
    old.append();
    old.field("DIHO").setText("11");
    old.post();
  }
  ASSERT_TRUE(std::filesystem::exists(w.dir / "DIASHORAST.MDX"));
  buildDiashorast(w.state, w.shell);
  EXPECT_EQ(w.layout("DIASHORAST"),
            (std::vector<std::string>{"DIHO C 10", "CODDIHO C 10", "DIA C 20", "TEXTODIA C 20", "HORA C 8",
                                      "HORADESDE C 8", "HORAHASTA C 8", "MINUTOS C 8"}));
  EXPECT_TRUE(w.rows("DIASHORAST").empty());
  EXPECT_FALSE(std::filesystem::exists(w.dir / "DIASHORAST.MDX"));
}

TEST(Exportar, ADocumentWithoutTheSelectedPathsGivesEmptyTables) {
  Work w;
  w.load("<ALTRES/>");
  for (auto build : {buildAsignomt, buildProft, buildAulat, buildDiashorast}) build(w.state, w.shell);
  for (const char* table : {"ASIGNOMT", "PROFT", "AULAT", "DIASHORAST"})
    EXPECT_TRUE(w.rows(table).empty()) << table;
}

TEST(Exportar, AnotherReaderSeesTheSameRecords) {
  Work w;
  w.load(
      "<MATERIES><MATERIA codi='1' curs='ESO1' descripcio='Matemàtiques, “àlgebra”' curta='MAT'/>"
      "<MATERIA codi='2' curs='ESO1' descripcio='Matemàtiques II' curta='MAT'/></MATERIES>"
      "<ACTIVITATS><ACTIVITAT codi='G1' descripcio='Guàrdia' curta='G'/></ACTIVITATS>"
      "<PLACES><PLACA codi='P1' descripcio='Núria Puig' curta='PUIG'/></PLACES>"
      "<AULES><AULA codi='A1' descripcio='Aula 1'/></AULES>");
  for (auto build : {buildAsignomt, buildProft, buildAulat, buildDiashorast}) build(w.state, w.shell);
  std::string ours;
  for (const char* table : {"ASIGNOMT", "PROFT", "AULAT", "DIASHORAST"}) {
    ours += table;
    ours += '\n';
    for (const auto& row : w.rows(table)) {
      for (const std::string& value : row) ours += value + "|";
      ours += '\n';
    }
  }
  test::writeFile(
      w.dir / "read.py",
      "import dbfread\n"
      "for name in ['ASIGNOMT', 'PROFT', 'AULAT', 'DIASHORAST']:\n"
      "    print(name)\n"
      "    for r in dbfread.DBF(name + '.DBF', encoding='cp1252'):\n"
      "        cells = ['' if v is None else ('T' if v else 'F') if isinstance(v, bool) else str(v)\n"
      "                 for v in r.values()]\n"
      "        print(''.join(c + '|' for c in cells))\n");
  test::CommandResult r =
      test::run("cd " + test::shellQuote(w.dir.path().string()) + " && " + DEBIAN_PYTHON3 + " read.py");
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.output, ours);
}

}  // namespace
}  // namespace pontix

// The courses table and its assignment passes, the groups table and the subject map.

#include <gtest/gtest.h>

#include "ExportarWork.h"
#include "exportar/Builders.h"
#include "exportar/Conventions.h"
#include "exportar/Cursost.h"
#include "exportar/Exportar.h"
#include "platform/AnsiText.h"

namespace pontix {
namespace {

using Rows = std::vector<std::vector<std::string>>;

using Work = test::ExportarWork;

TEST(Courses, OneRecordPerCourseWithLevelAndNumberEmpty) {
  Work w;
  w.load(
      "<CURSOS><CURS codi='ESO1' descripcio=' 1r d&apos;ESO '><GRUP codi='G' nom='A'/></CURS>"
      "<CURS codi='" +
      std::string(25, 'C') + "' descripcio='" + std::string(120, 'd') + "'/></CURSOS>");
  buildCursost(w.state, w.shell);
  EXPECT_EQ(w.rows("CURSOST"),
            (Rows{{"ESO1", "1r d'ESO", "", ""}, {std::string(20, 'C'), std::string(100, 'd'), "", ""}}));
  EXPECT_EQ(w.layout("CURSOST"),
            (std::vector<std::string>{"CODI C 20", "DESCRIPCIO C 100", "NIVEL C 5", "CURSO C 3"}));
}

TEST(Courses, PassesGoOnWhileDataIsMissingAndEndOnAForcedExitOrTheCloseBox) {
  const CourseAssignmentPass ok{}, missing{.FaltaDato = true, .Salida = ""},
      forced{.FaltaDato = false, .Salida = "fuera"};
  struct Case {
    const char* what;
    std::deque<CourseAssignmentPass> passes;
    std::vector<std::string> events;
    int incomplete;
    bool forcedExit;
  } cases[] = {
      {"complete at once, also with no course", {ok}, {"pass"}, 0, false},
      {"three incomplete, then complete",
       {missing, missing, missing, ok},
       {"pass", "pass", "pass", "pass"},
       1,
       false},
      {"forced exit in the second pass", {missing, forced}, {"pass", "pass", "close"}, 1, true},
      {"close box in the first pass", {ok}, {"pass"}, 0, false},
  };
  for (const Case& c : cases) {
    Work w;
    w.load("");
    w.shell.passes = c.passes;
    buildCursost(w.state, w.shell);
    EXPECT_EQ(w.shell.events, c.events) << c.what;
    EXPECT_EQ(w.state.CursosIncompletos, c.incomplete) << c.what;
    EXPECT_EQ(w.state.forcedExit, c.forcedExit) << c.what;
  }
}

TEST(Courses, TheCompletenessCheckTrimsBlanksAndControlCharacters) {
  Work w;
  w.typedCourses({{"A", "", "ESO", "1"}, {"B", "", "BAT", "2"}});
  w.state.wwTableCursos.open(dbase::OpenMode::Exclusive);
  EXPECT_TRUE(coursesComplete(w.state.wwTableCursos));
  w.state.wwTableCursos.close();
  for (const char* blank : {"", " ", "\t", " \x01 "}) {
    w.typedCourses({{"A", "", "ESO", "1"}, {"B", "", "BAT", blank}});
    w.state.wwTableCursos.open(dbase::OpenMode::Exclusive);
    EXPECT_FALSE(coursesComplete(w.state.wwTableCursos)) << '"' << blank << '"';
    w.state.wwTableCursos.close();
  }
}

TEST(Groups, AbbreviationsOfTheWorkedExamplesAndStoredFormsUnique) {
  Work w;
  w.typedCourses({{"C1", "Primer", "ESO", "1"},
                  {"C2", "Primer bis", "ESO", "1"},
                  {"C3", "Primer ter", "ESO", "1"},
                  {"C4", "Segon", "BACH", "2"}});
  w.load(
      "<CURSOS><CURS codi='C1'><GRUP codi='G1' nom='A'/></CURS><CURS codi='C2'><GRUP codi='G2' "
      "nom='A'/></CURS>"
      "<CURS codi='C3'><GRUP codi='G3' nom='a'/></CURS><CURS codi='C4'><GRUP codi='G4' nom='CIENCIAS'/>"
      "<GRUP codi='G5' nom='CIENCIAS'/><GRUP codi='G6' nom='CIENTIFICAS'/></CURS></CURSOS>");
  buildAsignomt(w.state, w.shell);
  buildGrupost(w.state, w.shell);
  std::vector<std::string> abbreviations;
  for (const auto& row : w.rows("GRUPOST")) abbreviations.push_back(row[0]);
  // The last is BACH2CIEAS in the worked example: a stored form taken already.
  EXPECT_EQ(abbreviations, (std::vector<std::string>{"ESO1A", "ESO1A1", "ESO1a2", "BACH2CIEAS", "BACH2CIEN1",
                                                     "BACH2CIEN2"}));
}

TEST(Groups, RecordsTakeTheirCourseFromWhatTheUserTyped) {
  Work w;
  const std::string longCode = "BATXILLERAT-CIENCIES-2025";  // 25 characters, stored as 20
  w.typedCourses({{"ESO1", "1r d'ESO", "ESO", "1"},
                  {"ESO1", "repetit", "XXX", "9"},
                  {longCode, "2n de Batxillerat", "BAT", "2"},
                  {"LLARG", "Curs llarg", "ADULTS", "123"}});
  w.load(
      "<CURSOS><CURS codi='ESO1'><GRUP codi='G1' nom='A'/></CURS>"
      "<CURS codi='" +
      longCode +
      "'><GRUP codi='G2' nom='B'/></CURS>"
      "<CURS codi='LLARG'><GRUP codi='G3' nom='NIT'/></CURS>"
      "<CURS codi='SENSE'><GRUP codi='G4' nom='X'/></CURS><CURS codi='BUIT'/></CURSOS>");
  buildAsignomt(w.state, w.shell);
  buildGrupost(w.state, w.shell);
  EXPECT_EQ(w.rows("GRUPOST"),
            (Rows{{"ESO1A", "", "ESO", "1", "A", "G1", "ESO1", "(G1) 1r d'ESO - A"},
                  {"BAT2B", "", "BAT", "2", "B", "G2", longCode.substr(0, 20), "(G2) 2n de Batxillerat - B"},
                  {"ADULT12NIT", "", "ADULT", "123", "NI", "G3", "LLARG", "(G3) Curs llarg - NIT"},
                  {"X", "", "", "", "X", "G4", "SENSE", "(G4)  - X"}}));
  EXPECT_FALSE(w.state.wwTableCursos.isOpen());
}

TEST(SubjectMap, OneRecordPerSubjectOfACourseWithGroupsIndexedByAbbreviation) {
  Work w;
  w.typedCourses({{"ESO1", "", "ESO", "1"}, {"BAT1", "", "BAT", "1"}});
  w.load(
      "<MATERIES><MATERIA codi='1' curs='ESO1' descripcio='Matemàtiques' curta='MAT'/>"
      "<MATERIA codi='2' curs='SENSE' descripcio='Sense grups' curta='SG'/>"
      "<MATERIA codi='3' curs='BAT1' descripcio='Matemàtiques I' curta='MAT'/>"
      "<MATERIA codi='4' curs='ESO1' descripcio='Català' curta='CAT'/></MATERIES>"
      "<CURSOS><CURS codi='ESO1'><GRUP codi='G1' nom='A'/><GRUP codi='G2' nom='B'/></CURS>"
      "<CURS codi='BAT1'><GRUP codi='G3' nom='A'/></CURS></CURSOS>");
  buildAsignomt(w.state, w.shell);
  buildGrupost(w.state, w.shell);
  EXPECT_EQ(w.rows("MATIB"), (Rows{{"MAT", "MAT", "Matemàtiques", "ESO", "1"},
                                   {"MAT1", "MAT", "Matemàtiques I", "BAT", "1"},
                                   {"CAT", "CAT", "Català", "ESO", "1"}}));
  test::CommandResult r =
      test::run(std::string(INDEX_DUMP) + " -tag ABREV " + test::shellQuote((w.dir / "MATIB.MDX").string()));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.output, "CAT        3\nMAT        1\nMAT1       2\n");
  for (dbase::Table* t : {&w.state.wwTableGrupos, &w.state.wwTableNomAsg}) EXPECT_FALSE(t->isOpen());
}

TEST(Groups, ADocumentWithoutCoursesGivesEmptyTables) {
  Work w;
  w.typedCourses({});
  w.load("<MATERIES><MATERIA codi='1' curs='' descripcio='M' curta='M'/></MATERIES>");
  buildAsignomt(w.state, w.shell);
  buildGrupost(w.state, w.shell);
  EXPECT_TRUE(w.rows("GRUPOST").empty());
  EXPECT_TRUE(w.rows("MATIB").empty());
}

}  // namespace
}  // namespace pontix

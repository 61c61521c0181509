// The subject lines ASIGT, proposed from the groups and the subjects of their courses.

#include <gtest/gtest.h>

#include <cmath>

#include "ExportarWork.h"
#include "exportar/Builders.h"
#include "exportar/Exportar.h"
#include "exportar/SubjectLines.h"
#include "platform/AnsiText.h"

namespace pontix {
namespace {

using Rows = std::vector<std::vector<std::string>>;

TEST(SubjectLines, HoursAndLessonPatterns) {
  struct Case {
    const char* text;
    std::optional<double> hours;
    const char* pattern;
  } cases[] = {
      {"4", 4, "1111"},
      {"0", 0, ""},
      {"3", 3, "111"},
      {"2.5", 2.5, "111"},
      {"2,5", 2.5, "111"},
      {" 2,5 ", 2.5, "111"},
      {"2,3", 2.3, "111"},  // any fraction rounds up, not only a half
      {"0.1", 0.1, "1"},
      {"13", 13, "1111111111111"},
      {"14", 14, "11111111111111"},
      {"15", 15, "21111111111111"},
      {"22", 22, "91111111111111"},
      {"23", 23, "101111111111111"},
      {"", std::nullopt, ""},
      {"cuatro", 1, "1"},
      {"4h", 1, "1"},
      {"inf", 1, "1"},
      {"-2", -2, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(weeklyHours(c.text), c.hours) << '"' << c.text << '"';
    EXPECT_EQ(lessonPattern(weeklyHours(c.text)), c.pattern) << '"' << c.text << '"';
  }
}

// Subjects and groups as the earlier builders leave them, from a small document with the
// levels already typed.
struct Work : test::ExportarWork {
  void build(const std::string& body, const Rows& courses) {
    load(body);
    typedCourses(courses);
    buildAsignomt(state, shell);
    buildGrupost(state, shell);
  }
  Rows lines() { return rows("ASIGT"); }
};

const char* const kTwoCourses =
    "<MATERIES><MATERIA codi='1' curs='ESO1' descripcio='Matemàtiques' curta='MAT'/>"
    "<MATERIA codi='2' curs='ESO2' descripcio='Música' curta='MUS'/>"
    "<MATERIA codi='3' curs='ESO1' descripcio='Català' curta='CAT'/>"
    "<MATERIA codi='4' curs='ESO1' descripcio='Català' curta='CAT'/></MATERIES>"
    "<ACTIVITATS><ACTIVITAT codi='G' descripcio='Guàrdia' curta='G'/></ACTIVITATS>"
    "<CURSOS><CURS codi='ESO1'><GRUP codi='G1' nom='A'/><GRUP codi='G2' nom='B'/></CURS>"
    "<CURS codi='ESO2'><GRUP codi='G3' nom='A'/></CURS><CURS codi='BUIT'/></CURSOS>";

TEST(SubjectLines, OneLinePerGroupAndSubjectOfItsCourse) {
  Work w;
  w.build(kTwoCourses, {{"ESO1", "1r", "ESO", "1"}, {"ESO2", "2n", "ESO", "2"}});
  buildAsigt(w.state, w.shell);
  EXPECT_EQ(w.shell.events, std::vector<std::string>{"lines?"});
  // A subject listed twice gives two lines; activities (no course) none.
  EXPECT_EQ(w.lines(), (Rows{{"MAT", "", "ESO1A", "", "", "ESO", "1", "A", "4", "1111", "", ""},
                             {"CAT", "", "ESO1A", "", "", "ESO", "1", "A", "4", "1111", "", ""},
                             {"CAT1", "", "ESO1A", "", "", "ESO", "1", "A", "4", "1111", "", ""},
                             {"MAT", "", "ESO1B", "", "", "ESO", "1", "B", "4", "1111", "", ""},
                             {"CAT", "", "ESO1B", "", "", "ESO", "1", "B", "4", "1111", "", ""},
                             {"CAT1", "", "ESO1B", "", "", "ESO", "1", "B", "4", "1111", "", ""},
                             {"MUS", "", "ESO2A", "", "", "ESO", "2", "A", "4", "1111", "", ""}}));
  for (dbase::Table* t : {&w.state.wwTableGrupos, &w.state.wwTableNomAsg}) EXPECT_FALSE(t->isOpen());
}

TEST(SubjectLines, OnlyOkCreatesLinesAndTheTableHasItsTwelveFieldsAnyway) {
  Work w;
  w.build(kTwoCourses, {{"ESO1", "1r", "ESO", "1"}, {"ESO2", "2n", "ESO", "2"}});
  w.shell.linesAnswer = false;
  buildAsigt(w.state, w.shell);
  EXPECT_TRUE(w.lines().empty());
  EXPECT_EQ(w.layout("ASIGT"),
            (std::vector<std::string>{"CASIG C 10", "CPROF C 10", "CGRUP C 10", "CAULA C 10", "TURNO C 1",
                                      "NIVEL C 5", "CURSO C 3", "GRUPO C 2", "HORAS N 20", "SESIONES C 20",
                                      "NCONEX C 4", "CTAREA C 10"}));
}

}  // namespace
}  // namespace pontix

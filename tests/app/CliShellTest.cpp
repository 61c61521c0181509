#include "app/CliShell.h"

#include <gtest/gtest.h>

#include <sstream>

#include "TestSupport.h"
#include "operacion/ProgramState.h"

namespace pontix::cli {
namespace {

using dbase::FieldKind;
using dbase::Table;

TEST(LevelsFile, ReadsEitherSeparatorSkippingHeaderAndBlankLines) {
  test::TempDir dir;
  test::writeFile(dir / "n.csv",
                  "\xEF\xBB\xBF"
                  "CODI;NIVEL;CURSO\r\n\r\n ESO1 ; ESO ; 1 \r\nBAT1,BAT,1\n  \nCICLE-Ó;CF;2\nESO1;ESO;1");
  std::vector<CourseLevel> levels = readLevelsFile(dir / "n.csv");
  ASSERT_EQ(levels.size(), 3u);
  EXPECT_EQ(levels[0].code, "ESO1");
  EXPECT_EQ(levels[0].level, "ESO");
  EXPECT_EQ(levels[0].course, "1");
  EXPECT_EQ(levels[1].code, "BAT1");
  EXPECT_EQ(levels[2].code, "CICLE-Ó");

  test::writeFile(dir / "bad.csv", "ESO1;ESO;1\nESO2;ESO\n");
  try {
    readLevelsFile(dir / "bad.csv");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("línea 2"), std::string::npos) << e.what();
  }
}

// ASCII text as UTF-16 bytes.
std::string utf16(std::string_view ascii, bool bigEndian) {
  std::string bytes;
  for (char c : ascii) bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
  return bytes;
}

TEST(LevelsFile, RefusesOtherEncodingsAndContradictions) {
  const struct {
    const char* fault;
    std::string bytes;
    const char* message;
  } cases[] = {
      {"UTF-16LE", "\xFF\xFE" + utf16("ESO1;ESO;1\r\n", false), "está en UTF-16"},
      {"UTF-16BE", "\xFE\xFF" + utf16("ESO1;ESO;1\r\n", true), "está en UTF-16"},
      {"UTF-16 without a mark", utf16("ESO1;ESO;1\r\n", false), "está en UTF-16"},
      {"Windows-1252", "ESO1;ESO;1\nCICLE-\xD3;CF;2\n", "no está en UTF-8 (línea 2)"},
      {"a cut character", "ESO1;ESO;1\xC3", "no está en UTF-8 (línea 1)"},
      {"a code twice with other values", "ESO1;ESO;1\nBAT1;BAT;1\nESO1;ESO;2\n",
       "da valores distintos al curso ESO1 en las líneas 1 y 3"},
  };
  for (const auto& c : cases) {
    test::TempDir dir;
    test::writeFile(dir / "n.csv", c.bytes);
    try {
      readLevelsFile(dir / "n.csv");
      ADD_FAILURE() << c.fault;
    } catch (const Error& e) {
      EXPECT_EQ(std::string(e.what()).rfind("El archivo de niveles " + (dir / "n.csv").string() + " ", 0), 0u)
          << e.what();
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.fault << ": " << e.what();
    }
  }
}

struct Courses {
  test::TempDir work;
  ProgramState state{work.path()};
  std::ostringstream out, err;

  explicit Courses(std::initializer_list<const char*> codes) {
    Table t(work.path(), "CURSOST");
    t.create({{"CODI", FieldKind::Text, 20},
              {"DESCRIPCIO", FieldKind::Text, 100},
              {"NIVEL", FieldKind::Text, 5},
              {"CURSO", FieldKind::Text, 3}});
    t.open(dbase::OpenMode::Exclusive);
    for (const char* code : codes) {
      t.append();
      t.field("CODI").setText(test::ansi(code));
      t.post();
    }
  }
  CourseAssignmentPass pass(std::vector<CourseLevel> levels, bool allowIncomplete) {
    CliShell::Options options;
    options.levels = std::move(levels);
    options.allowIncomplete = allowIncomplete;
    CliShell shell(std::move(options), out, err);
    return shell.runCourseAssignmentPass(state);
  }
  std::vector<std::string> column(const char* field) {
    Table t(work.path(), "CURSOST");
    t.open(dbase::OpenMode::Shared);
    std::vector<std::string> values;
    for (t.first(); !t.eof(); t.next()) values.push_back(t.field(field).asText());
    return values;
  }
};

TEST(CliCourseAssignment, FillsMatchingCoursesCutToTheirFields) {
  Courses c({"ESO1", "CURS-AMB-UN-CODI-MOLT-LLARG", "Ó1"});
  CourseAssignmentPass pass = c.pass({{"CURS-AMB-UN-CODI-MOLT-LLARG", "BATXILLERAT", "1234"},
                                      {"ESO1", "ESO", "1"},
                                      {"ó1", "X", "9"},  // codes match exactly, case included
                                      {"Ó1", "CF", "2"}},
                                     false);
  EXPECT_FALSE(pass.FaltaDato);
  EXPECT_EQ(pass.Salida, "");
  EXPECT_EQ(c.column("NIVEL"), (std::vector<std::string>{"ESO", "BATXI", "CF"}));
  EXPECT_EQ(c.column("CURSO"), (std::vector<std::string>{"1", "123", "2"}));
  EXPECT_EQ(c.out.str(), "");
}

TEST(CliCourseAssignment, IncompleteCoursesForceTheExitUnlessAllowed) {
  for (bool allow : {false, true}) {
    Courses c({"ESO1", "ESO2", "BAT1"});
    CourseAssignmentPass pass = c.pass({{"ESO1", "ESO", "1"}, {"BAT1", "BAT", " "}}, allow);
    EXPECT_FALSE(pass.FaltaDato);
    EXPECT_EQ(pass.Salida, allow ? "" : "fuera");
    EXPECT_EQ(c.out.str(), allow ? "" : "ESO2\nBAT1\n");
    EXPECT_EQ(c.column("NIVEL"), (std::vector<std::string>{"ESO", "", "BAT"}));
  }
}

}  // namespace
}  // namespace pontix::cli

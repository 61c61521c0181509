// What a run tells its user it did to the data, and the previous tables it keeps.

#include "operacion/RunReport.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "ExportarWork.h"
#include "exportar/PreviousLevels.h"
#include "operacion/WorkingSet.h"
#include "platform/AnsiText.h"
#include "platform/FileIo.h"

namespace pontix {
namespace {

using Kind = RunReport::Kind;
using Examples = std::vector<std::pair<std::string, std::string>>;

// The user types a level and course number for ESO1 only.
struct Work : test::ExportarWork {
  struct Shell : test::FakeShell {
    CourseAssignmentPass runCourseAssignmentPass(ProgramState& state) override {
      dbase::Table cursos(state.workingDirectory, "CURSOST");
      cursos.open(dbase::OpenMode::Exclusive);
      for (; !cursos.eof(); cursos.next()) {
        if (cursos.field("CODI").asText() != "ESO1") continue;
        cursos.edit();
        cursos.field("NIVEL").setText("ESO");
        cursos.field("CURSO").setText("1");
        cursos.post();
      }
      cursos.close();
      return {};
    }
  } levels;

  void exportar(const std::string& body) {
    test::writeFile(dir / "centre.xml",
                    "<?xml version='1.0' encoding='UTF-8'?><CENTRE>" + body + "</CENTRE>");
    levels.dialogAnswers.push_back((dir / "centre.xml").string());
    runExportar(state, levels);
    ASSERT_EQ(levels.events.back(), "completed");
  }
  const RunReport::Finding& finding(Kind kind, std::string_view where = {}) {
    static const RunReport::Finding none{Kind::CutValue, "(ninguno)", 0, {}};
    const RunReport::Finding* f = state.report.find(kind, where);
    return f ? *f : none;
  }
  Examples examples(Kind kind, std::string_view where = {}) {
    Examples out;
    for (const RunReport::Example& e : finding(kind, where).examples) out.emplace_back(e.before, e.after);
    return out;
  }
};

const std::string kSchool =
    "<MATERIES>"
    "<MATERIA codi='M1' curs='ESO1' descripcio='Čeština → 中' curta='MATEMATIQUES'/>"
    "<MATERIA codi='M2' curs='ESO1' descripcio='Mates II' curta='MATEMATIQUES'/>"
    "<MATERIA codi='M3' curs='BAT9' descripcio='Física' curta='FIS'/>"
    "</MATERIES>"
    "<ACTIVITATS><ACTIVITAT codi='G' descripcio='Guàrdia' curta='GUARDIA DE PATI'/></ACTIVITATS>"
    "<PLACES>"
    "<PLACA codi='P1' descripcio='" +
    std::string(90, 'x') +
    "' curta='GARCIA'/>"
    "<PLACA codi='P2' descripcio='Pere' curta='GARCIA'/>"
    "</PLACES>"
    "<AULES><AULA codi='A1' descripcio='Aula 1'/><AULA codi='A2' descripcio='Aula 1'/></AULES>"
    "<CURSOS><CURS codi='ESO1' descripcio='1r'><GRUP codi='G1' nom='A'/></CURS>"
    "<CURS codi='BAT9' descripcio='Sense grups'/></CURSOS>";

TEST(RunReport, ExportarTellsEveryChangeItMadeToTheData) {
  Work w;
  w.exportar(kSchool);
  const RunReport& r = w.state.report;
  EXPECT_EQ(r.operation(), "exportar");
  EXPECT_EQ(r.records(), (std::vector<std::pair<std::string, std::uint64_t>>{{"ASIGNOMT", 4},
                                                                             {"PROFT", 2},
                                                                             {"AULAT", 2},
                                                                             {"CURSOST", 2},
                                                                             {"GRUPOST", 1},
                                                                             {"MATIB", 2},
                                                                             {"ASIGT", 2},
                                                                             {"DIASHORAST", 0}}));
  // Cut: the subjects' long short names (the same twice shows once), the activity's, which the
  // field itself cuts, and the long post name.
  EXPECT_EQ(w.examples(Kind::CutValue, "ASIGNOMT.CODLARGO"),
            (Examples{{"MATEMATIQUES", "MATEMATIQS"}, {"GUARDIA DE PATI", "GUARDIA DE"}}));
  EXPECT_EQ(w.finding(Kind::CutValue, "ASIGNOMT.CODLARGO").count, 3u);
  const std::string name = std::string(75, 'x') + std::string(5, 'x');
  EXPECT_EQ(w.examples(Kind::CutValue, "PROFT.NOMBRE"), (Examples{{std::string(90, 'x'), name}}));
  EXPECT_EQ(w.examples(Kind::CutValue, "PROFT.DEPART"), (Examples{{name, std::string(40, 'x')}}));

  EXPECT_EQ(w.examples(Kind::NumberedAbbreviation, "ASIGNOMT"), (Examples{{"MATEMATIQUES", "MATEMATIQ1"}}));
  EXPECT_EQ(w.examples(Kind::NumberedAbbreviation, "PROFT"), (Examples{{"GARCIA", "GARCIA1"}}));
  EXPECT_EQ(w.examples(Kind::NumberedAbbreviation, "AULAT"), (Examples{{"Aula 1", "Aula 11"}}));
  // Č best-fits to C; the arrow and 中 have none.
  EXPECT_EQ(w.finding(Kind::ReplacedCharacters, "MATERIA/descripcio").count, 3u);
  EXPECT_EQ(w.examples(Kind::ReplacedCharacters, "MATERIA/descripcio"),
            (Examples{{"Čeština → 中", "Ceština ? ?"}}));

  EXPECT_EQ(w.examples(Kind::CourseWithoutGroups), (Examples{{"BAT9", ""}}));
  EXPECT_EQ(w.examples(Kind::SubjectWithoutMatib), (Examples{{"FIS (curso BAT9)", ""}}));
  EXPECT_EQ(w.examples(Kind::CourseWithoutLevel), (Examples{{"BAT9", ""}}));

  const std::string text = r.text();
  for (const char* line :
       {"Registros escritos:\n  ASIGNOMT: 4\n",
        "Valores recortados al ancho de su campo: ", "    «MATEMATIQUES» → «MATEMATIQS»\n",
        "Abreviaturas numeradas porque la que tocaba ya estaba usada: 3\n",
        "  PROFT: 1\n    «GARCIA» → «GARCIA1»\n",
        "Caracteres que no existen en Windows-1252, sustituidos por uno parecido o por «?»: 3\n",
        "Cursos sin grupos (sus asignaturas no tienen líneas ni registro en MATIB): 1\n  BAT9\n",
        "Cursos que han quedado sin nivel o sin curso: 1\n  BAT9\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n---\n" << text;
}

TEST(RunReport, ANewRunForgetsTheLastOnesFindings) {
  Work w;
  w.exportar(kSchool);
  w.exportar("<CURSOS><CURS codi='ESO1' descripcio='1r'><GRUP codi='G1' nom='A'/></CURS></CURSOS>");
  EXPECT_TRUE(w.state.report.findings().empty()) << w.state.report.text();
  EXPECT_NE(w.state.report.text().find("No se ha recortado, numerado ni sustituido nada.\n"),
            std::string::npos);
}

TEST(RunReport, OnlyTheFirstFewExamplesAreKeptAndTheJsonEscapesThem) {
  RunReport r;
  r.start("importar");
  for (int i = 0; i < 1000; ++i) r.note(Kind::MissedLookup, "profesor", "P" + std::to_string(i));
  r.note(Kind::MissedLookup, "aula", "\"A\\1\"\n");
  r.written("SESSIO", 7);
  EXPECT_EQ(r.find(Kind::MissedLookup, "profesor")->count, 1000u);
  EXPECT_EQ(r.find(Kind::MissedLookup, "profesor")->examples.size(), RunReport::kExamples);
  EXPECT_EQ(
      r.json(),
      "{\n  \"operacion\": \"importar\",\n  \"registros\": {\"SESSIO\": 7},\n"
      "  \"anterior\": {\"carpeta\": \"\", \"tablas\": []},\n  \"hallazgos\": [\n"
      "    {\"tipo\": \"codigo_no_encontrado\", \"lugar\": \"profesor\", \"cuantos\": 1000, \"ejemplos\": "
      "[{\"valor\": \"P0\"}, {\"valor\": \"P1\"}, {\"valor\": \"P2\"}, {\"valor\": \"P3\"}, {\"valor\": "
      "\"P4\"}]},\n"
      "    {\"tipo\": \"codigo_no_encontrado\", \"lugar\": \"aula\", \"cuantos\": 1, \"ejemplos\": "
      "[{\"valor\": \"\\\"A\\\\1\\\"\\n\"}]}\n  ]\n}\n");
}

// What the box that ends a run says above its details: nothing for a clean run, the most
// telling finding first, two lines at most.
TEST(RunReport, TheSummaryTellsWhatTheOtherProgramWillMissInTwoLinesAtMost) {
  struct Case {
    const char* name;
    std::function<void(RunReport&)> run;
    std::vector<std::string> lines;
    bool warning;
  } cases[] = {
      {"clean", [](RunReport& r) { r.note(Kind::NumberedAbbreviation, "PROFT", "ANA", "ANA1"); }, {}, false},
      {"one cut value",
       [](RunReport& r) { r.note(Kind::CutValue, "PROFT.NOMBRE", "x", "y"); },
       {"Un valor no cabía en su campo y se ha recortado."},
       false},
      {"courses without level, and replaced characters",
       [](RunReport& r) {
         r.note(Kind::ReplacedCharacters, "MATERIA/descripcio", "a", "b", 4);
         r.note(Kind::CourseWithoutLevel, "", "ESO1");
         r.note(Kind::CourseWithoutLevel, "", "ESO2");
       },
       {"2 cursos han quedado sin nivel o sin número de curso.",
        "4 caracteres que Windows-1252 no tiene se han sustituido por otros."},
       true},
      {"every session without its period",
       [](RunReport& r) {
         r.start("importar");
         r.noteEmptyTable("DIASHORAST");
         r.note(Kind::MissedLookup, "periodo", "día 2, periodo 1", {}, 393);
         r.written("SESSIO", 393);
       },
       {"Ninguna sesión tiene día ni hora: la tabla de días y horas está vacía. ¿Ha vuelto a exportar "
        "después de hacer el horario?"},
       true},
      {"some sessions without their period, the grid not empty",
       [](RunReport& r) {
         r.start("importar");
         r.note(Kind::MissedLookup, "periodo", "día 5, periodo 4");
         r.written("SESSIO", 3);
       },
       {"Una sesión no tiene día ni hora: su día y periodo no están en la tabla de días y horas."},
       true},
      {"more than two kinds",
       [](RunReport& r) {
         r.start("importar");
         r.note(Kind::MissedLookup, "periodo", "día 2, periodo 1", {}, 3);
         r.written("SESSIO", 3);
         r.note(Kind::MissedLookup, "profesor", "XAVI");
         r.note(Kind::MissedLookup, "aula", "A9");
         r.note(Kind::SkippedEntry, "", "registro 2");
       },
       {"Ninguna sesión tiene día ni hora: ningún día y periodo del horario está en la tabla de días y "
        "horas. ¿Ha vuelto a exportar después de hacer el horario?",
        "Hay más avisos en los detalles."},
       true},
  };
  for (const Case& c : cases) {
    RunReport r;
    r.start("exportar");
    c.run(r);
    const RunReport::Summary summary = r.summary();
    EXPECT_EQ(summary.lines, c.lines) << c.name;
    EXPECT_EQ(summary.warning, c.warning) << c.name;
  }
}

// A folder named in another encoding than UTF-8 still gives JSON every reader takes.
TEST(RunReport, TheJsonStaysUtf8WhateverBytesAPathHas) {
  RunReport r;
  r.start("exportar");
  r.setPreviousFolder("/datos/a\xF1o/ANTERIOR");    // "año" as Latin-1 bytes
  r.note(Kind::MissedLookup, "aula", "Aula \xE9");  // an ANSI value, given as UTF-8
  const std::string json = r.json();
  EXPECT_TRUE(ansi::isUtf8(json));
  EXPECT_NE(json.find("\"carpeta\": \"/datos/a\\u00f1o/ANTERIOR\""), std::string::npos) << json;
  EXPECT_NE(json.find("Aula \xC3\xA9"), std::string::npos);
}

// ---- The previous tables ----

std::vector<std::string> names(const std::filesystem::path& folder) {
  std::vector<std::string> out;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    out.push_back(entry.path().filename());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(PreviousTables, EachRunKeepsTheTablesItReplacesAndRestoringSwapsThem) {
  Work w;
  w.exportar(kSchool);
  EXPECT_FALSE(std::filesystem::exists(w.dir / "ANTERIOR"));  // nothing to keep the first time
  // The user's own subject lines, as the timetabling program leaves them.
  test::writeTable(w.dir.path(), "ASIGT", {{"CASIG", dbase::FieldKind::Text, 10}}, {{"EDITADA"}});
  const std::string generated = test::readFile(w.dir / "MATIB.DBF"),
                    index = test::readFile(w.dir / "MATIB.MDX");

  w.exportar(kSchool);
  const std::filesystem::path anterior = w.dir / "ANTERIOR";
  EXPECT_EQ(names(anterior), (std::vector<std::string>{"ASIGNOMT.DBF", "ASIGT.DBF", "AULAT.DBF",
                                                       "CURSOST.DBF", "DIASHORAST.DBF", "GRUPOST.DBF",
                                                       "MATIB.DBF", "MATIB.MDX", "PROFT.DBF"}));
  EXPECT_EQ(w.state.report.keptTables(),
            (std::vector<std::string>{"ASIGNOMT", "PROFT", "AULAT", "CURSOST", "GRUPOST", "MATIB", "ASIGT",
                                      "DIASHORAST"}));
  EXPECT_EQ(test::tableRows(anterior, "ASIGT"), (test::ExportarWork::Rows{{"EDITADA"}}));
  EXPECT_EQ(test::readFile(anterior / "MATIB.DBF"), generated);
  EXPECT_EQ(test::readFile(anterior / "MATIB.MDX"), index);
  EXPECT_EQ(w.rows("ASIGT").size(), 2u);  // the working table is what the run built

  EXPECT_EQ(restorePrevious(w.dir.path(), "asigt.dbf"),
            "Restaurada la tabla ASIGT en " + w.dir.path().string() + " desde " + anterior.string() +
                ".\nLa que había queda en " + anterior.string() +
                ": vuelva a restaurar la tabla para deshacer el cambio.");
  EXPECT_EQ(w.rows("ASIGT"), (test::ExportarWork::Rows{{"EDITADA"}}));
  EXPECT_EQ(test::tableRows(anterior, "ASIGT").size(), 2u);
  restorePrevious(w.dir.path(), "ASIGT");
  EXPECT_EQ(w.rows("ASIGT").size(), 2u);
  EXPECT_EQ(test::tableRows(anterior, "ASIGT"), (test::ExportarWork::Rows{{"EDITADA"}}));

  // A third run keeps only the second one's tables: an index the kept table lacks goes.
  std::filesystem::remove(w.dir / "MATIB.MDX");
  w.exportar(kSchool);
  EXPECT_FALSE(std::filesystem::exists(anterior / "MATIB.MDX"));
  EXPECT_EQ(test::tableRows(anterior, "ASIGT").size(), 2u);
}

TEST(PreviousTables, RestoringRefusesWhatIsMissingOrOpenElsewhere) {
  Work w;
  w.exportar(kSchool);
  w.exportar(kSchool);
  const std::string before = test::readFile(w.dir / "PROFT.DBF");
  auto refused = [&](const std::string& table) {
    try {
      restorePrevious(w.dir.path(), table);
      return std::string("restored");
    } catch (const Error& e) {
      return e.message();
    }
  };
  EXPECT_EQ(refused("SOLUC"),
            "No hay ninguna versión anterior de la tabla SOLUC en " + (w.dir / "ANTERIOR").string());
  EXPECT_EQ(refused("../PROFT"),
            "'../PROFT' no es el nombre de una tabla de trabajo (por ejemplo ASIGT o DIASHORAST)");
  for (const std::filesystem::path& folder : {w.dir.path(), w.dir / "ANTERIOR"}) {
    dbase::Table held(folder, "PROFT");
    held.open(dbase::OpenMode::Shared);
    EXPECT_EQ(refused("PROFT"),
              "La tabla " + (folder / "PROFT.DBF").string() + " está abierta por otro programa");
  }
  EXPECT_EQ(test::readFile(w.dir / "PROFT.DBF"), before);
}

TEST(PreviousTables, LevelsOfThePreviousRunFillOnlyBlankCells) {
  test::TempDir dir;
  std::filesystem::create_directory(dir / "ANTERIOR");
  EXPECT_TRUE(previousCourseLevels(dir.path()).empty());
  test::writeTable(
      dir / "ANTERIOR", "CURSOST", cursostFields(),
      {{"ESO1", "", "ESO", "1"}, {"ESO2", "", "", "2"}, {"ESO1", "", "OTRO", "9"}, {"ESO3", "", "", ""}});
  test::writeTable(
      dir.path(), "CURSOST", cursostFields(),
      {{"ESO1", "1r", "", ""}, {"ESO2", "2n", "ESO", ""}, {"ESO3", "3r", "", ""}, {"BAT1", "", "", ""}});
  const PreviousLevels previous = previousCourseLevels(dir.path());
  EXPECT_EQ(previous.size(), 2u);  // ESO3 had neither
  dbase::Table cursos(dir.path(), "CURSOST");
  cursos.open(dbase::OpenMode::Exclusive);
  EXPECT_TRUE(hasPreviousLevels(cursos, previous));
  EXPECT_EQ(fillFromPreviousLevels(cursos, previous), 2u);
  cursos.close();
  EXPECT_EQ(test::tableRows(dir.path(), "CURSOST"), (test::ExportarWork::Rows{{"ESO1", "1r", "ESO", "1"},
                                                                              {"ESO2", "2n", "ESO", "2"},
                                                                              {"ESO3", "3r", "", ""},
                                                                              {"BAT1", "", "", ""}}));
}

}  // namespace
}  // namespace pontix

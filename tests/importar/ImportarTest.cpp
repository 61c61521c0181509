// Importar on small working tables made by each test, through the fake Shell.

#include "importar/Importar.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <optional>

#include "FakeShell.h"
#include "TestSupport.h"
#include "platform/FileIo.h"

namespace pontix {
namespace {

using dbase::FieldDef;
using dbase::FieldKind;
using Rows = std::vector<std::vector<std::string>>;
using Lines = std::vector<std::string>;

using test::writeTable;

FieldDef text(const char* name, int width = 20) { return {name, FieldKind::Text, width}; }

const std::vector<FieldDef> kSolucFields = {{"DIA", FieldKind::Integer, 0},
                                            {"HORA", FieldKind::Float, 0},
                                            text("PROF"),
                                            text("CODGRUPO"),
                                            text("AULA"),
                                            text("ASIG"),
                                            text("TAREA", 30)};

struct Work {
  test::TempDir dir;
  test::TempDir out;
  ProgramState state{dir.path()};
  test::FakeShell shell;

  // Lookup tables with one record each, plus what a test adds. The grid maps "<DIA><period>"
  // to a day name, the key itself as start time and 55 minutes.
  explicit Work(const Rows& soluc, const Rows& grid = {{"24", "Dimarts", "24", "55"}}) {
    test::writeFile(out / "horario.xml", "");
    writeTable(dir.path(), "SOLUC", kSolucFields, soluc);
    writeTable(dir.path(), "PROFT", {text("ABREV", 10), text("CODI", 40)},
               {{"PER", "P-1"}, {"ANA", "P-2"}, {"PER", "P-duplicada"}});
    writeTable(dir.path(), "GRUPOST", {text("ABREV", 10), text("CODI"), text("CODICURS")},
               {{"1A", "G-1A", "C-1"}, {"1a", "G-1a", "C-1"}});
    writeTable(dir.path(), "AULAT", {text("ABREV", 10), text("CODI", 60)}, {{"LAB", "A-Lab & Física"}});
    writeTable(dir.path(), "ASIGNOMT", {text("COD", 10), text("CODI")}, {{"MAT1", "M-1"}});
    writeTable(dir.path(), "DIASHORAST",
               {text("DIHO", 10), text("DIA"), text("HORADESDE", 8), text("MINUTOS", 8)}, grid);
  }

  std::filesystem::path solution() const { return out / "SolucioHorari.xml"; }

  // Runs Importar choosing a file in `out`.
  void importar() {
    shell.dialogAnswers.push_back((out / "horario.xml").string());
    runImportar(state, shell);
  }

  // The SESSIO elements of the saved file as written, attributes in their order.
  Lines sessions() const {
    std::string saved = test::readFile(solution());
    Lines lines;
    for (std::size_t at = saved.find("<SESSIO "); at != std::string::npos;
         at = saved.find("<SESSIO ", at + 1))
      lines.push_back(saved.substr(at, saved.find("/>", at) + 2 - at));
    return lines;
  }

  bool anyTableOpen() const {
    for (const dbase::Table* t : {&state.wwTableSoluc, &state.wwTableProfesor, &state.wwTableAulas,
                                  &state.wwTableNomAsg, &state.wwTableGrupos, &state.wwTableDiasHoras})
      if (t->isOpen()) return true;
    return false;
  }
};

std::string sessio(const std::string& placa, const std::string& curs, const std::string& grup,
                   const std::string& dia, const std::string& hora, const std::string& durada,
                   const std::string& aula, const std::string& materia, const std::string& activitat) {
  return "<SESSIO placa=\"" + placa + "\" curs=\"" + curs + "\" grup=\"" + grup + "\" dia=\"" + dia +
         "\" hora=\"" + hora + "\" durada=\"" + durada + "\" aula=\"" + aula + "\" materia=\"" + materia +
         "\" activitat=\"" + activitat + "\"/>";
}

TEST(Importar, CompletesLikeExportarAndWritesBesideTheChosenFile) {
  for (bool host : {false, true}) {
    Work w({{"2", "4", "ANA", "1A", "LAB", "MAT1", ""}});
    w.state.hostDriven = host;
    w.importar();
    Lines expected = {"dialog", "restore", "message:Proceso finalizado", "disable", "completed"};
    if (host) expected.push_back("close");
    EXPECT_EQ(w.shell.events, expected);
    EXPECT_EQ(w.state.resultFlag, 1);
    EXPECT_EQ(w.sessions(),
              Lines{sessio("P-2", "C-1", "G-1A", "Dimarts", "24", "55", "A-Lab &amp; Física", "M-1", "")});
    EXPECT_FALSE(w.anyTableOpen());

    // Cancelling the dialog later in the run uses the folder chosen before, and the file
    // there is replaced.
    w.shell.events.clear();
    runImportar(w.state, w.shell);
    EXPECT_EQ(w.shell.events.at(1), "restore");
    EXPECT_EQ(w.sessions().size(), 1u);
  }
}

TEST(Importar, EntriesAreTranslatedThroughTheFirstMatchingRecords) {
  Work w({
      {"2", "4", "PER", "1a", "LAB", "MAT1", ""},              // PER twice in PROFT: the first; 1a is not 1A
      {"0", "4", "ANA", "1A", "LAB", "MAT1", ""},              // day 0: not placed, not exported
      {"2", "4", "ANA", "1A", "LAB", "MAT1", "GUÀRDIA"},       // an activity has no group, room or subject
      {"2", "4", "per", "3B", "AULA9", "MAT9", ""},            // nothing matches: empty values
      {"2", "4", "ANA", "1A", "LAB", "MAT1", "   "},           // blanks make a lesson
      {"3", "4", "ANA", "1A", "LAB", "MAT1", " \x01Tutoria"},  // a character XML cannot carry
  });
  w.importar();
  EXPECT_EQ(w.sessions(),
            (Lines{
                sessio("P-1", "C-1", "G-1a", "Dimarts", "24", "55", "A-Lab &amp; Física", "M-1", ""),
                sessio("P-2", "", "", "Dimarts", "24", "55", "", "", "GUÀRDIA"),
                sessio("", "", "", "Dimarts", "24", "55", "", "", ""),
                sessio("P-2", "C-1", "G-1A", "Dimarts", "24", "55", "A-Lab &amp; Física", "M-1", ""),
                sessio("P-2", "", "", "", "", "", "", "", " ?Tutoria"),
            }));
}

// The run's report: entries left out and codes that match nothing, those of activities not
// looked for.
TEST(Importar, TheReportTellsWhatWasLeftOutOrNotFound) {
  Work w({
      {"2", "4", "PER", "1A", "LAB", "MAT1", ""},
      {"0", "4", "ANA", "1A", "LAB", "MAT1", ""},
      {"2", "4", "ANA", "9Z", "AULA9", "MAT9", "GUÀRDIA"},
      {"2", "4", "XAVI", "3B", "AULA9", "MAT9", ""},
      {"5", "4", "", "1A", "LAB", "MAT1", ""},
  });
  w.importar();
  const RunReport& r = w.state.report;
  EXPECT_EQ(r.records(), (std::vector<std::pair<std::string, std::uint64_t>>{{"SESSIO", 4}}));
  auto values = [&](RunReport::Kind kind, const char* where) {
    std::string out;
    const RunReport::Finding* f = r.find(kind, where);
    if (f)
      for (const RunReport::Example& e : f->examples) out += e.before + "|";
    return f ? std::to_string(f->count) + ":" + out : "none";
  };
  EXPECT_EQ(values(RunReport::Kind::SkippedEntry, ""), "1:registro 2: ANA 1A MAT1|");
  EXPECT_EQ(values(RunReport::Kind::MissedLookup, "profesor"), "2:XAVI|(vacío)|");
  EXPECT_EQ(values(RunReport::Kind::MissedLookup, "grupo"), "1:3B|");
  EXPECT_EQ(values(RunReport::Kind::MissedLookup, "aula"), "1:AULA9|");
  EXPECT_EQ(values(RunReport::Kind::MissedLookup, "asignatura"), "1:MAT9|");
  EXPECT_EQ(values(RunReport::Kind::MissedLookup, "periodo"), "1:día 5, periodo 4|");
  EXPECT_NE(r.text().find("Entradas de SOLUC omitidas por tener el día 0: 1\n  registro 2: ANA 1A MAT1\n"),
            std::string::npos)
      << r.text();
}

// The period key is DIA followed by the period number; one entry in the second half of a
// period, even an unplaced one, numbers every period by halves.
TEST(Importar, PeriodKeysNumberHalvesWhenAnyEntryHasOne) {
  const Rows grid = {{"24", "24", "", ""}, {"27", "27", "", ""}, {"28", "28", "", ""},
                     {"21", "21", "", ""}, {"22", "22", "", ""}, {"23", "23", "", ""}};
  struct Case {
    Rows soluc;
    Lines keys;  // the dia attribute of each SESSIO
  } cases[] = {
      {{{"2", "4", "", "", "", "", ""}}, {"24"}},
      {{{"2", "4", "", "", "", "", ""}, {"0", "1.5", "", "", "", "", ""}}, {"27"}},
      {{{"2", "1", "", "", "", "", ""},
        {"2", "1.5", "", "", "", "", ""},
        {"2", "2", "", "", "", "", ""},
        {"2", "4.5", "", "", "", "", ""}},
       {"21", "22", "23", "28"}},
  };
  for (const Case& c : cases) {
    Work w(c.soluc, grid);
    w.importar();
    Lines keys;
    for (const std::string& s : w.sessions()) {
      const std::size_t at = s.find(" dia=\"") + 6;
      keys.push_back(s.substr(at, s.find('"', at) - at));
    }
    EXPECT_EQ(keys, c.keys) << c.soluc.size();
  }
}

TEST(Importar, NothingPlacedGivesOneEmptySessionsAndAnEmptyGridEmptyTimes) {
  for (const Rows& soluc : {Rows{}, Rows{{"0", "1", "ANA", "1A", "LAB", "MAT1", ""}}}) {
    Work w(soluc);
    w.importar();
    std::string saved = test::readFile(w.solution());
    EXPECT_NE(saved.find("<HORARI>\n  <SESSIONS/>\n</HORARI>"), std::string::npos) << saved;
  }
  Work w({{"2", "4", "ANA", "1A", "LAB", "MAT1", ""}}, {});
  w.importar();
  EXPECT_EQ(w.sessions(), Lines{sessio("P-2", "C-1", "G-1A", "", "", "", "A-Lab &amp; Física", "M-1", "")});
  // Not a plain success: the grid was emptied after the timetable was made, and the box says so.
  EXPECT_EQ(w.state.report.summary().lines,
            Lines{"Ninguna sesión tiene día ni hora: la tabla de días y horas está vacía. ¿Ha vuelto a "
                  "exportar después de hacer el horario?"});
  EXPECT_EQ(w.state.report.outputFile(), w.solution().string());
}

// An error ends the operation where it occurs: no file is written or replaced, the flag and
// the buttons stay, and the tables are closed for the next try.
TEST(Importar, AnErrorKeepsTheEarlierFileAndClosesTheTables) {
  struct Case {
    const char* what;
    std::function<void(Work&)> spoil;
    const char* message;
  } cases[] = {
      {"tabla que falta", [](Work& w) { std::filesystem::remove(w.dir / "AULAT.DBF"); }, "AULAT.DBF"},
      {"campo que falta",
       [](Work& w) {
         writeTable(w.dir.path(), "SOLUC", {{"DIA", FieldKind::Integer, 0}, {"HORA", FieldKind::Float, 0}},
                    {});
       },
       "wwTableSoluc: No se encuentra el campo 'PROF'"},
      {"DIA de texto",
       [](Work& w) {
         std::vector<FieldDef> fields = kSolucFields;
         fields[0] = text("DIA", 2);
         writeTable(w.dir.path(), "SOLUC", fields, {});
       },
       "wwTableSoluc: el campo 'DIA' de la tabla SOLUC es de tipo 'C'"},
      {"disco lleno", nullptr, "SolucioHorari.xml"},
      {"carpeta sin permiso de escritura",
       [](Work& w) {
         std::filesystem::permissions(w.out.path(), std::filesystem::perms::owner_all,
                                      std::filesystem::perm_options::remove);
       },
       "SolucioHorari.xml"},
  };
  for (const Case& c : cases) {
    if (std::string(c.what) == "carpeta sin permiso de escritura" && geteuid() == 0)
      continue;  // root writes anyway
    Work w({{"2", "4", "ANA", "1A", "LAB", "MAT1", ""}});
    test::writeFile(w.solution(), "anterior");
    w.state.resultFlag = 5;
    if (c.spoil) c.spoil(w);
    std::optional<io::ScopedWriteFailure> full;
    if (!c.spoil) full.emplace(100);
    try {
      w.importar();
      ADD_FAILURE() << c.what << ": no error";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.what << ": " << e.what();
    }
    full.reset();
    std::filesystem::permissions(w.out.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add);
    EXPECT_EQ(test::readFile(w.solution()), "anterior") << c.what;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(w.out.path()), {}), 2)
        << c.what;  // no temporary left
    EXPECT_EQ(w.shell.events, Lines{"dialog"}) << c.what;
    EXPECT_EQ(w.state.resultFlag, 5) << c.what;
    EXPECT_FALSE(w.anyTableOpen()) << c.what;
  }
}

// The file is written while SOLUC is read: a disk that fills up at its first write, halfway or
// at the last one stops the run with a Spanish error, and leaves the earlier file whole and no
// temporary file. Once there is room, the same run writes the whole file.
TEST(Importar, AFullDiskAtAnyWriteKeepsTheEarlierFile) {
  Rows soluc;
  for (int i = 0; i < 3000; ++i)
    soluc.push_back({i % 50 == 7 ? "0" : "2", "4", i % 2 ? "ANA" : "PER", "1A", "LAB", "MAT1",
                     i % 10 == 3 ? "GUÀRDIA" : ""});
  Work w(soluc);
  w.importar();
  const std::string complete = test::readFile(w.solution());
  ASSERT_GT(complete.size(), 300'000u);  // written in several pieces
  for (std::uint64_t room : {std::uint64_t{0}, complete.size() / 2, complete.size() - 1}) {
    test::writeFile(w.solution(), "anterior");
    w.shell.events.clear();
    w.state.resultFlag = 5;
    try {
      io::ScopedWriteFailure full(room);
      runImportar(w.state, w.shell);
      ADD_FAILURE() << room << ": no error";
    } catch (const Error& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find("No se pudo escribir"), std::string::npos) << message;
      EXPECT_NE(message.find("SolucioHorari.xml"), std::string::npos) << message;
      EXPECT_NE(message.find("no queda espacio en el disco"), std::string::npos) << message;
    }
    EXPECT_EQ(test::readFile(w.solution()), "anterior") << room;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(w.out.path()), {}), 2) << room;
    EXPECT_EQ(w.shell.events, Lines{"dialog"}) << room;
    EXPECT_EQ(w.state.resultFlag, 5) << room;
    EXPECT_FALSE(w.anyTableOpen()) << room;
  }
  runImportar(w.state, w.shell);
  EXPECT_EQ(test::readFile(w.solution()), complete);
}

TEST(Importar, ATableAnotherProgramHoldsStopsIt) {
  Work w({{"2", "4", "ANA", "1A", "LAB", "MAT1", ""}});
  dbase::Table held(w.dir.path(), "DIASHORAST");
  held.open(dbase::OpenMode::Shared);
  try {
    w.importar();
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::Locked) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(w.solution()));
  EXPECT_FALSE(w.anyTableOpen());
  held.close();
  w.shell.events.clear();
  runImportar(w.state, w.shell);  // once released, the same run goes on
  EXPECT_EQ(w.sessions().size(), 1u);
}

}  // namespace
}  // namespace pontix

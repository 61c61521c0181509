// The round trip through pontix-cli: an administration document becomes the working tables,
// another program writes the timetable's solution, and Importar turns it into the file the
// administration system reads, checked by independent readers.

#include <gtest/gtest.h>

#include <map>

#include "TestSupport.h"
#include "platform/AnsiText.h"
#include "platform/dbase/Table.h"

namespace pontix {
namespace {

using test::shellQuote;
using Lines = std::vector<std::string>;

const char* const kDocument =
    "<?xml version='1.0' encoding='UTF-8'?>\n"
    "<CENTRE codi='08999999'>\n"
    "<MATERIES>\n"
    "  <MATERIA codi='900001' curs='BAT1' descripcio='Filosofia' curta='FIL'/>\n"
    "  <MATERIA codi='900002' curs='BAT1' descripcio='Química' curta='QUÍMICA'/>\n"
    "</MATERIES>\n"
    "<ACTIVITATS><ACTIVITAT codi='ACT9' descripcio='Guàrdia de pati' curta='PATI'/></ACTIVITATS>\n"
    "<PLACES>\n"
    "  <PLACA codi='P901' descripcio='Òscar Pujol' curta='Ò. PUJOL'/>\n"
    "  <PLACA codi='P902' descripcio='Rut Mas' curta='MAS'/>\n"
    "</PLACES>\n"
    "<AULES><AULA codi='A-9' descripcio='Laboratori &amp; taller'/></AULES>\n"
    "<CURSOS><CURS codi='BAT1' descripcio='1r de batxillerat'><GRUP codi='BAT1X' nom='X'/></CURS></CURSOS>\n"
    "</CENTRE>\n";

// Code (UTF-8) -> abbreviation (UTF-8) as Exportar stored them.
std::map<std::string, std::string> abbreviations(const std::filesystem::path& dir, const char* table,
                                                 const char* abbreviation, const char* code) {
  dbase::Table t(dir, table);
  t.open(dbase::OpenMode::Shared);
  std::map<std::string, std::string> found;
  for (t.first(); !t.eof(); t.next())
    found[ansi::toUtf8(t.field(code).asText())] = ansi::toUtf8(t.field(abbreviation).asText());
  return found;
}

std::string python(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' || c == '\\' ? std::string("\\") + c : std::string(1, c);
  return quoted + "'";
}

test::CommandResult runPython(const std::filesystem::path& dir, const std::string& script) {
  test::writeFile(dir / "script.py", script);
  return test::run(std::string(DEBIAN_PYTHON3) + " " + shellQuote((dir / "script.py").string()));
}

TEST(ImportarCli, RoundTripThroughTheTablesAndAnotherProgramsSolution) {
  test::TempDir dir;
  const std::filesystem::path work = dir / "KTEMP", out = dir / "saga", scripts = dir.path();
  std::filesystem::create_directories(work);
  std::filesystem::create_directories(out);
  test::writeFile(dir / "centre.xml", kDocument);
  test::writeFile(dir / "niveles.csv", "BAT1;BAT;1\n");
  const std::string cli = test::cli(PONTIX_CLI);
  test::CommandResult exported =
      test::run(cli + " exportar " + shellQuote((dir / "centre.xml").string()) + " --trabajo " +
                shellQuote(work.string()) + " --niveles " + shellQuote((dir / "niveles.csv").string()));
  ASSERT_EQ(exported.exitCode, 0) << exported.output;

  auto teachers = abbreviations(work, "PROFT", "ABREV", "CODI");
  auto groups = abbreviations(work, "GRUPOST", "ABREV", "CODI");
  auto rooms = abbreviations(work, "AULAT", "ABREV", "CODI");
  auto subjects = abbreviations(work, "ASIGNOMT", "COD", "CODI");
  ASSERT_EQ(teachers.size(), 2u);
  ASSERT_EQ(subjects.size(), 3u);

  {  // The timetabler fills in the grid: Monday's first two periods.
    dbase::Table grid(work, "DIASHORAST");
    grid.open(dbase::OpenMode::Exclusive);
    for (const Lines& row : {Lines{"11", "Dilluns", "08:00", "55"}, Lines{"12", "Dilluns", "08:55", "55"}}) {
      grid.append();
      grid.field("DIHO").setText(row[0]);
      grid.field("DIA").setText(row[1]);
      grid.field("HORADESDE").setText(row[2]);
      grid.field("MINUTOS").setText(row[3]);
      grid.post();
    }
    grid.close();
  }

  // The solution as the timetabling program writes it: dBase III, its own widths, a float
  // field, deleted records.
  auto entry = [&](const char* dia, const char* hora, const std::string& prof, const std::string& group,
                   const std::string& room, const std::string& subject, const char* tarea) {
    return "t.append((1, " + std::string(dia) + ", " + hora + ", " + python(prof) + ", " + python(group) +
           ", " + python(room) + ", " + python(subject) + ", " + python(tarea) + "))\n";
  };
  test::CommandResult written = runPython(
      scripts,
      "import dbf, os\n"
      "os.chdir(" +
          python(work.string()) +
          ")\n"
          "t = dbf.Table('SOLUC', 'NUMSES N(7,0); DIA N(3,0); HORA F(6,2); PROF C(12); CODGRUPO C(12); "
          "AULA C(12); ASIG C(12); TAREA C(40)', dbf_type='db3', codepage='cp1252')\n"
          "t.open(dbf.READ_WRITE)\n" +
          entry("1", "1", teachers["P901"], groups["BAT1X"], rooms["A-9"], subjects["900002"], "") +
          entry("1", "2", teachers["P902"], "ZZ", rooms["A-9"], subjects["900001"], "") +
          "dbf.delete(t[-1])\n" +
          entry("0", "3", teachers["P902"], groups["BAT1X"], rooms["A-9"], subjects["900001"], "") +
          entry("1", "2", teachers["P902"], "", "", subjects["ACT9"], "Guàrdia de pati") + "t.close()\n");
  ASSERT_EQ(written.exitCode, 0) << written.output;

  test::CommandResult imported = test::run(cli + " importar --trabajo " + shellQuote(work.string()) +
                                           " --salida " + shellQuote(out.string()));
  ASSERT_EQ(imported.exitCode, 0) << imported.output;
  EXPECT_NE(imported.output.find("Proceso finalizado: " + (out / "SolucioHorari.xml").string()),
            std::string::npos)
      << imported.output;

  test::CommandResult read =
      runPython(scripts,
                "import xml.etree.ElementTree as ET\n"
                "root = ET.parse(" +
                    python((out / "SolucioHorari.xml").string()) +
                    ").getroot()\n"
                    "print(root.tag, [c.tag for c in root], root.attrib)\n"
                    "for s in root.find('SESSIONS'):\n"
                    "    print(s.tag, ' '.join(k + '=' + v for k, v in s.attrib.items()))\n");
  ASSERT_EQ(read.exitCode, 0) << read.output;
  EXPECT_EQ(read.output,
            "HORARI ['SESSIONS'] {}\n"
            "SESSIO placa=P901 curs=BAT1 grup=BAT1X dia=Dilluns hora=08:00 durada=55 aula=A-9 materia=900002 "
            "activitat=\n"
            "SESSIO placa=P902 curs= grup= dia=Dilluns hora=08:55 durada=55 aula= materia= "
            "activitat=Guàrdia de pati\n");

  // Without --salida the file goes to the working folder; a folder that does not exist is refused.
  EXPECT_EQ(test::run(cli + " importar --trabajo " + shellQuote(work.string())).exitCode, 0);
  EXPECT_TRUE(std::filesystem::exists(work / "SolucioHorari.xml"));
  test::CommandResult missing = test::run(cli + " importar --trabajo " + shellQuote(work.string()) +
                                          " --salida " + shellQuote((dir / "nada").string()));
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.output.find("No existe la carpeta " + (dir / "nada").string()), std::string::npos)
      << missing.output;
}

}  // namespace
}  // namespace pontix

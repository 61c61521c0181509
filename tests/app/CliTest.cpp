// pontix-cli as scripts use it: commands, options, exit codes.

#include <gtest/gtest.h>

#include <set>

#include "TestSupport.h"

namespace pontix {
namespace {

using test::shellQuote;

TEST(CommandLine, ExportarExitCodesAndMessages) {
  test::TempDir dir;
  std::filesystem::create_directories(dir / "KTEMP");
  test::writeFile(dir / "centre.xml", "<?xml version='1.0' encoding='UTF-8'?><CENTRE><CURSOS/></CENTRE>");
  test::writeFile(dir / "roto.xml", "<CENTRE><CURSOS></CENTRE>");
  test::writeFile(dir / "niveles.csv", "CODI;NIVEL;CURSO\nESO1;ESO\n");
  const std::string cli = test::cli(PONTIX_CLI) + " exportar ";
  const std::string work = " --trabajo " + shellQuote((dir / "KTEMP").string());
  struct Case {
    std::string arguments;
    int exitCode;
    std::string output;  // a part of what it prints
  };
  const Case cases[] = {
      // A document with nothing in it would empty every table: only when asked for.
      {shellQuote((dir / "centre.xml").string()) + work, 1,
       "centre.xml no contiene materias, profesores, aulas ni cursos: no se ha cambiado ninguna tabla de "
       "trabajo.\nSi de verdad quiere vaciar las tablas de trabajo, repita la orden con --vaciar.\n"},
      {shellQuote((dir / "centre.xml").string()) + work + " --vaciar", 0, "Proceso finalizado\n"},
      {shellQuote((dir / "centre.xml").string()) +
           " --sin-lineas --incompletos --vaciar --trabajo=" + shellQuote((dir / "KTEMP").string()),
       0, "Proceso finalizado\n"},
      {"a.xml --vaciar=si", 2, "La opción --vaciar no lleva valor"},
      {shellQuote((dir / "centre.xml").string()) + " --trabajo " + shellQuote((dir / "NADA").string()), 1,
       "No existe la carpeta " + (dir / "NADA").string()},
      {shellQuote((dir / "falta.xml").string()) + work, 1,
       "No existe archivo: " + (dir / "falta.xml").string()},
      {shellQuote((dir / "roto.xml").string()) + work, 1,
       "no es un documento XML válido: la etiqueta de cierre </CENTRE> no corresponde a <CURSOS>"},
      {shellQuote((dir / "centre.xml").string()) + work + " --niveles " +
           shellQuote((dir / "niveles.csv").string()),
       1, "línea 2"},
      {"", 2, "Indique un único DOCUMENTO.xml"},
      {"a.xml b.xml", 2, "Uso: pontix-cli exportar"},
      {"a.xml --trabajo", 2, "Falta el valor de la opción --trabajo"},
      {"a.xml --salida x", 2, "Opción desconocida: --salida"},
      {"--help", 0, "--niveles NIVELES.csv"},
  };
  for (const Case& c : cases) {
    test::CommandResult r = test::run(cli + c.arguments);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.arguments << "\n" << r.output;
    EXPECT_NE(r.output.find(c.output), std::string::npos) << c.arguments << "\n" << r.output;
    // Success is reported only when every table was built.
    if (c.exitCode != 0) {
      EXPECT_EQ(r.output.find("Proceso finalizado"), std::string::npos) << c.arguments << "\n" << r.output;
    }
  }
}

TEST(CommandLine, ExportarWritesTheTablesThatVolcarShows) {
  test::TempDir dir;
  test::writeFile(dir / "centre.xml",
                  "<CENTRE><PLACES><PLACA codi='P1' descripcio='Núria Puig' curta='PUIG'/>"
                  "<PLACA codi='P2' descripcio='Joan Puig' curta='puig'/></PLACES></CENTRE>");
  test::CommandResult r =
      test::run(test::cli(PONTIX_CLI) + " exportar " + shellQuote((dir / "centre.xml").string()) +
                " --trabajo " + shellQuote(dir.path().string()));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  for (const char* table : {"ASIGNOMT.DBF", "PROFT.DBF", "AULAT.DBF", "CURSOST.DBF", "GRUPOST.DBF",
                            "MATIB.DBF", "MATIB.MDX", "ASIGT.DBF", "DIASHORAST.DBF"})
    EXPECT_TRUE(std::filesystem::exists(dir / table)) << table;
  r = test::run(test::cli(PONTIX_CLI) + " volcar " + shellQuote((dir / "PROFT.DBF").string()));
  EXPECT_EQ(r.output,
            "ABREV,NOMBRE,DEPART,DNI,CODI\nPUIG,Núria Puig,Núria Puig,,P1\npuig1,Joan Puig,Joan Puig,,P2\n");
}

TEST(CommandLine, TheLevelsFileStandsInForTheAssignmentPasses) {
  test::TempDir dir;
  test::writeFile(dir / "centre.xml",
                  "<CENTRE><CURSOS><CURS codi='ESO1' descripcio='1r'><GRUP codi='G1' nom='A'/></CURS>"
                  "<CURS codi='ESO2' descripcio='2n'><GRUP codi='G2' nom='A'/></CURS></CURSOS></CENTRE>");
  test::writeFile(dir / "niveles.csv",
                  "\xEF\xBB\xBF"
                  "CODI;NIVEL;CURSO\nESO1;ESO;1\nESO2;ESO;2\n");
  test::writeFile(dir / "mitad.csv", "ESO1;ESO;1\n");
  const std::string exportar = test::cli(PONTIX_CLI) + " exportar " +
                               shellQuote((dir / "centre.xml").string()) + " --trabajo " +
                               shellQuote(dir.path().string());
  const std::string volcar = test::cli(PONTIX_CLI) + " volcar " + shellQuote((dir / "GRUPOST.DBF").string());

  test::CommandResult r = test::run(exportar + " --niveles " + shellQuote((dir / "niveles.csv").string()));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(test::run(volcar).output.find("ESO2A,,ESO,2,A,G2,ESO2"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir / "ASIGT.DBF"));

  // A course left without level: exit 3 and its code, and no table changed, unless allowed.
  std::filesystem::remove(dir / "GRUPOST.DBF");
  r = test::run(exportar + " --niveles " + shellQuote((dir / "mitad.csv").string()));
  EXPECT_EQ(r.exitCode, 3) << r.output;
  EXPECT_EQ(r.output,
            "Hay cursos sin nivel o sin curso (se pueden completar con --niveles):\nESO2\n"
            "No se ha cambiado ninguna tabla de trabajo.\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "GRUPOST.DBF"));
  r = test::run(exportar + " --incompletos --sin-lineas --niveles " +
                shellQuote((dir / "mitad.csv").string()));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(test::run(volcar).output.find("A,,,,A,G2,ESO2,(G2) 2n - A"), std::string::npos);
}

// What a run did, for people on stderr and for scripts as JSON; the tables it replaced kept,
// restored on request, and their levels and course numbers taken again.
TEST(CommandLine, ReportPreviousTablesAndTheirLevels) {
  test::TempDir dir;
  test::writeFile(dir / "centre.xml",
                  "<CENTRE><MATERIES><MATERIA codi='M1' curs='ESO1' curta='MATEMATIQUES' descripcio='Mates'/>"
                  "</MATERIES><CURSOS><CURS codi='ESO1' descripcio='1r'><GRUP codi='G1' nom='A'/></CURS>"
                  "<CURS codi='ESO2' descripcio='2n'><GRUP codi='G2' nom='A'/></CURS></CURSOS></CENTRE>");
  test::writeFile(dir / "niveles.csv", "ESO1;ESO;1\nESO2;ESO;2\n");
  const std::string cli = test::cli(PONTIX_CLI);
  const std::string work = " --trabajo " + shellQuote(dir.path().string());
  const std::string exportar = cli + " exportar " + shellQuote((dir / "centre.xml").string()) + work;
  const std::string volcar = cli + " volcar " + shellQuote((dir / "GRUPOST.DBF").string());

  test::CommandResult r = test::run(exportar + " --niveles " + shellQuote((dir / "niveles.csv").string()) +
                                    " --informe " + shellQuote((dir / "informe.json").string()));
  EXPECT_EQ(r.exitCode, 0) << r.output;
  // The finding that changes what the timetabling program sees comes first, as the window says it.
  EXPECT_NE(r.output.find("Proceso finalizado\nUn valor no cabía en su campo y se ha recortado.\n"
                          "Registros escritos:\n  ASIGNOMT: 1\n  PROFT: 0\n"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("  ASIGNOMT.CODLARGO: 1\n    «MATEMATIQUES» → «MATEMATIQS»\n"), std::string::npos)
      << r.output;
  // Any JSON reader takes it.
  r = test::run(
      std::string(DEBIAN_PYTHON3) + " -c " +
      shellQuote("import json,sys; d=json.load(open(sys.argv[1])); h=d['hallazgos'][0]; "
                 "print(d['operacion'], d['registros']['GRUPOST'], h['tipo'], h['lugar'], h['cuantos'], "
                 "h['ejemplos'][0]['antes'], h['ejemplos'][0]['despues'])") +
      " " + shellQuote((dir / "informe.json").string()));
  EXPECT_EQ(r.output, "exportar 2 valor_recortado ASIGNOMT.CODLARGO 1 MATEMATIQUES MATEMATIQS\n");

  // The next run keeps the tables it replaces, and can take their levels again.
  r = test::run(exportar + " --niveles-anteriores");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Niveles anteriores recuperados: 2 cursos\n"), std::string::npos) << r.output;
  EXPECT_NE(
      r.output.find("Versión anterior guardada en " + (dir / "ANTERIOR").string() + ":\n  ASIGNOMT, PROFT,"),
      std::string::npos)
      << r.output;
  EXPECT_NE(test::run(volcar).output.find("ESO2A,,ESO,2,A,G2,ESO2"), std::string::npos);

  // Restoring: the previous GRUPOST comes back and this run's takes its place.
  test::writeTable(dir.path(), "GRUPOST", {{"ABREV", dbase::FieldKind::Text, 10}}, {{"MIA"}});
  r = test::run(cli + " restaurar grupost" + work);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.output.rfind("Restaurada la tabla GRUPOST en ", 0), 0u) << r.output;
  EXPECT_NE(test::run(volcar).output.find("ESO2A,,ESO,2,A,G2,ESO2"), std::string::npos);
  EXPECT_EQ(test::run(cli + " volcar " + shellQuote((dir / "ANTERIOR" / "GRUPOST.DBF").string())).output,
            "ABREV\nMIA\n");

  const struct {
    std::string arguments;
    int exitCode;
    std::string output;
  } cases[] = {
      {" restaurar SOLUC" + work, 1, "No hay ninguna versión anterior de la tabla SOLUC en "},
      {" restaurar A B" + work, 2, "Indique una única TABLA, o ninguna para todas"},
      {" restaurar --help", 0, "Uso: pontix-cli restaurar [TABLA] [--trabajo DIR]"},
      {" restaurar A --niveles x", 2, "Opción desconocida: --niveles"},
      {" exportar " + shellQuote((dir / "centre.xml").string()) + work + " --incompletos --informe " +
           shellQuote((dir / "no" / "informe.json").string()),
       1, (dir / "no").string()},
      {" importar --informe", 2, "Falta el valor de la opción --informe"},
  };
  for (const auto& c : cases) {
    r = test::run(cli + c.arguments);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.arguments << "\n" << r.output;
    EXPECT_NE(r.output.find(c.output), std::string::npos) << c.arguments << "\n" << r.output;
  }
}

TEST(CommandLine, UsageOfTheOtherCommands) {
  const struct {
    const char* arguments;
    int exitCode;
    const char* output;  // a part of what it prints
  } cases[] = {
      {"", 2, "Uso: pontix-cli ORDEN"},
      {"convertir", 2, "Orden desconocida: convertir"},
      {"-x", 2, "Opción desconocida: -x"},
      {"--version", 0, "pontix-cli 1.0"},
      {"importar --help", 0, "Uso: pontix-cli importar"},
      {"importar --niveles x.csv", 2, "Opción desconocida: --niveles"},
      {"importar sobra", 2, "Argumento inesperado: sobra"},
      {"importar -x", 2, "Opción desconocida: -x"},
      {"exportar a.xml -x", 2, "Opción desconocida: -x"},
      {"volcar -h", 0, "Uso: pontix-cli volcar"},
      {"volcar --help", 0, "Uso: pontix-cli volcar"},
      {"volcar", 2, "Uso: pontix-cli volcar"},
      {"volcar -x", 2, "Opción desconocida: -x"},
      {"volcar A.DBF B.DBF", 2, "Uso: pontix-cli volcar"},
      // Waiting on a pipe would never end.
      {"exportar a.xml --niveles /dev/null", 1, "no es un archivo de texto (es una carpeta, una tubería o un "
                                                "dispositivo): indique el archivo con las líneas CODI;NIVEL;CURSO"},
  };
  for (const auto& c : cases) {
    test::CommandResult r = test::run(test::cli(PONTIX_CLI) + " " + c.arguments);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.arguments << "\n" << r.output;
    EXPECT_NE(r.output.find(c.output), std::string::npos) << c.arguments << "\n" << r.output;
  }
}

// A table shown where nothing can be written (a full disk here) says so, not only in its exit code.
TEST(CommandLine, VolcarSaysWhenItsOutputCannotBeWritten) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  test::TempDir dir;
  test::writeTable(dir.path(), "T", {{"A", dbase::FieldKind::Text, 5}}, {{"x"}});
  const test::CommandResult r =
      test::run("(" + test::cli(PONTIX_CLI) + " volcar " + shellQuote((dir / "T.DBF").string()) + " >/dev/full)");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output,
            "No se pudo escribir la tabla en la salida: no queda espacio en el disco. Compruebe adónde va la "
            "salida (el disco, el archivo o la orden que la recibe).\n");
}

TEST(CommandLine, UsageDescribesTheCommandsInOneColumn) {
  std::string usage = test::run(test::cli(PONTIX_CLI) + " --help").output;
  std::set<std::size_t> columns;
  for (std::size_t start = 0, end; start < usage.size(); start = end + 1) {
    end = usage.find('\n', start);
    std::string line = usage.substr(start, end - start);
    if (!line.starts_with("  ")) continue;
    std::size_t gap = line.find("  ", 2);  // after the command and its argument
    columns.insert(line.find_first_not_of(' ', line[2] == ' ' ? 0 : gap));
  }
  EXPECT_EQ(columns.size(), 1u) << usage;
}

TEST(CommandLine, AMissingWorkingFolderIsNamedAsItMustBeMade) {
  test::TempDir dir;
  test::writeFile(dir / "centre.xml", "<CENTRE/>");
  const std::string drive = " PONTIX_DRIVE_C=" + shellQuote((dir / "unidad").string()) + " ";
  const std::string cli = test::cli(PONTIX_CLI);
  const std::string folder = (dir / "unidad" / "KTEMP").string();
  for (const std::string& command :
       {"exportar " + shellQuote((dir / "centre.xml").string()), std::string("importar")}) {
    test::CommandResult r = test::run("env" + drive + cli + " " + command);
    EXPECT_EQ(r.exitCode, 1) << command;
    for (const std::string& part :
         {"No existe la carpeta " + folder, "mkdir -p " + folder, std::string("PONTIX_DRIVE_C")})
      EXPECT_NE(r.output.find(part), std::string::npos) << command << "\n" << r.output;
  }
  EXPECT_EQ(test::run("env" + drive + cli + " exportar --help").exitCode, 0);

  test::CommandResult r = test::run(cli + " importar --trabajo " + shellQuote((dir / "NADA").string()));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.output.find("No existe la carpeta " + (dir / "NADA").string()), std::string::npos) << r.output;
}

}  // namespace
}  // namespace pontix

// pontix-cli as scripts use it: commands, options, exit codes.

#include <gtest/gtest.h>

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
  const std::string cli = std::string(PONTIX_CLI) + " exportar ";
  const std::string work = " --trabajo " + shellQuote((dir / "KTEMP").string());
  struct Case {
    std::string arguments;
    int exitCode;
    std::string output;  // a part of what it prints
  };
  const Case cases[] = {
      {shellQuote((dir / "centre.xml").string()) + work, 0, "Proceso finalizado"},
      {shellQuote((dir / "centre.xml").string()) +
           " --sin-lineas --incompletos --trabajo=" + shellQuote((dir / "KTEMP").string()),
       0, "Proceso finalizado"},
      {shellQuote((dir / "centre.xml").string()) + " --trabajo " + shellQuote((dir / "NADA").string()), 1,
       "No existe la carpeta " + (dir / "NADA").string()},
      {shellQuote((dir / "falta.xml").string()) + work, 1,
       "No existe archivo: " + (dir / "falta.xml").string()},
      {shellQuote((dir / "roto.xml").string()) + work, 1,
       "no es un documento XML válido: Opening and ending tag"},
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
  }
}

TEST(CommandLine, ExportarWritesTheTablesThatVolcarShows) {
  test::TempDir dir;
  test::writeFile(dir / "centre.xml",
                  "<CENTRE><PLACES><PLACA codi='P1' descripcio='Núria Puig' curta='PUIG'/>"
                  "<PLACA codi='P2' descripcio='Joan Puig' curta='puig'/></PLACES></CENTRE>");
  test::CommandResult r =
      test::run(std::string(PONTIX_CLI) + " exportar " + shellQuote((dir / "centre.xml").string()) +
                " --trabajo " + shellQuote(dir.path().string()));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  for (const char* table : {"ASIGNOMT.DBF", "PROFT.DBF", "AULAT.DBF", "DIASHORAST.DBF"})
    EXPECT_TRUE(std::filesystem::exists(dir / table)) << table;
  r = test::run(std::string(PONTIX_CLI) + " volcar " + shellQuote((dir / "PROFT.DBF").string()));
  EXPECT_EQ(r.output,
            "ABREV,NOMBRE,DEPART,DNI,CODI\nPUIG,Núria Puig,Núria Puig,,P1\npuig1,Joan Puig,Joan Puig,,P2\n");
}

TEST(CommandLine, UsageOfTheOtherCommands) {
  const std::string cli = PONTIX_CLI;
  EXPECT_EQ(test::run(cli).exitCode, 2);
  EXPECT_EQ(test::run(cli + " convertir").exitCode, 2);
  EXPECT_EQ(test::run(cli + " importar --help").exitCode, 0);
  EXPECT_EQ(test::run(cli + " importar --niveles x.csv").exitCode, 2);
  EXPECT_EQ(test::run(cli + " importar sobra").exitCode, 2);
}

}  // namespace
}  // namespace pontix

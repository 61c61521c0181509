// The help's table of messages and what to do about each, walked row by row: every message in
// it is made to happen here, and the program says it as the table does, ending with the
// remedy the table gives.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <new>
#include <regex>

#include "TestSupport.h"
#include "app/CliShell.h"
#include "exportar/Exportar.h"
#include "importar/Importar.h"
#include "operacion/WorkingSet.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/Profile.h"
#include "platform/WinPath.h"
#include "platform/dbase/Table.h"

namespace pontix {
namespace {

namespace fs = std::filesystem;
using dbase::FieldDef;
using dbase::FieldKind;
using dbase::OpenMode;
using dbase::Table;

struct Row {
  std::string id;
  std::string message;  // the table's text; <i>…</i> stands for what changes each time
  std::string remedy;
};

std::string decoded(std::string cell) {
  cell = std::regex_replace(cell, std::regex(R"(<(?!/?i>)[^>]*>)"), "");
  for (auto [entity, text] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}})
    for (std::size_t at; (at = cell.find(entity)) != std::string::npos;)
      cell.replace(at, strlen(entity), text);
  return std::regex_replace(cell, std::regex(R"(\s+)"), " ");
}

std::vector<Row> tableOfRemedies() {
  const std::string page = test::readFile(fs::path(PONTIX_HELP_SOURCE) / "mensajes.htm");
  const std::size_t start = page.find("id=\"remedios\"");
  const std::size_t end = page.find("</table>", start);
  if (start == std::string::npos || end == std::string::npos) return {};
  const std::string table = page.substr(start, end - start);
  std::vector<Row> rows;
  static const std::regex row(
      R"re(<tr id="r-([a-z-]+)">\s*<td>([\s\S]*?)</td>\s*<td>([\s\S]*?)</td>\s*</tr>)re");
  for (std::sregex_iterator it(table.begin(), table.end(), row), last; it != last; ++it)
    rows.push_back({(*it)[1], decoded((*it)[2]), decoded((*it)[3])});
  return rows;
}

// The message of the table as a pattern: its words as they stand, each <i>…</i> any text.
std::regex patternOf(const std::string& message) {
  std::string pattern;
  std::size_t at = 0;
  for (std::size_t open; (open = message.find("<i>", at)) != std::string::npos;) {
    pattern +=
        std::regex_replace(message.substr(at, open - at), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
    pattern += "[\\s\\S]*?";
    at = message.find("</i>", open) + 4;
  }
  pattern += std::regex_replace(message.substr(at), std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
  return std::regex(pattern);
}

const std::vector<FieldDef> kSoluc = {{"DIA", FieldKind::Integer, 0}, {"HORA", FieldKind::Float, 0},
                                      {"PROF", FieldKind::Text, 10},  {"CODGRUPO", FieldKind::Text, 10},
                                      {"AULA", FieldKind::Text, 10},  {"ASIG", FieldKind::Text, 10},
                                      {"TAREA", FieldKind::Text, 10}};

// What Importar reads, with this SOLUC.
void importTables(const fs::path& dir, const std::vector<FieldDef>& soluc) {
  test::writeTable(dir, "SOLUC", soluc, {});
  test::writeTable(dir, "PROFT", {{"ABREV", FieldKind::Text, 10}, {"CODI", FieldKind::Text, 10}}, {});
  test::writeTable(dir, "AULAT", {{"ABREV", FieldKind::Text, 10}, {"CODI", FieldKind::Text, 10}}, {});
  test::writeTable(dir, "ASIGNOMT", {{"COD", FieldKind::Text, 10}, {"CODI", FieldKind::Text, 10}}, {});
  test::writeTable(
      dir, "GRUPOST",
      {{"ABREV", FieldKind::Text, 10}, {"CODI", FieldKind::Text, 10}, {"CODICURS", FieldKind::Text, 10}}, {});
  test::writeTable(dir, "DIASHORAST",
                   {{"DIHO", FieldKind::Text, 10},
                    {"DIA", FieldKind::Text, 10},
                    {"HORADESDE", FieldKind::Text, 8},
                    {"MINUTOS", FieldKind::Text, 8}},
                   {});
}

void importar(const fs::path& dir) {
  ProgramState state(dir);
  exportSolution(state, dir / "SolucioHorari.xml");
}

void oneTable(const fs::path& dir) {
  test::writeTable(dir, "PROFT", {{"CODI", FieldKind::Text, 10}}, {{"P1"}});
}

// Each row's message, made to happen in an empty folder of its own.
const std::map<std::string, std::function<void(const fs::path&)>> kScenarios = {
    {"carpeta-de-trabajo",
     [](const fs::path& dir) {
       test::ScopedEnv drive("PONTIX_DRIVE_C", dir.c_str());
       FolderLock lock(mapWindowsPath("c:\\ktemp"), FolderLock::Purpose::Change);
     }},
    {"otra-operacion",
     [](const fs::path& dir) {
       FolderLock first(dir, FolderLock::Purpose::Change);
       FolderLock second(dir, FolderLock::Purpose::Change);
     }},
    {"tabla-abierta",
     [](const fs::path& dir) {
       oneTable(dir);
       Table first(dir, "PROFT"), second(dir, "PROFT");
       first.open(OpenMode::Exclusive);
       second.open(OpenMode::Shared);
     }},
    {"solo-lectura",
     [](const fs::path& dir) {
       oneTable(dir);
       fs::permissions(dir / "PROFT.DBF", fs::perms::owner_read | fs::perms::group_read);
       Table t(dir, "PROFT");
       t.open(OpenMode::Shared);
       t.append();
     }},
    {"carpeta-en-lugar-de-tabla",
     [](const fs::path& dir) {
       fs::create_directory(dir / "SOLUC.DBF");
       importar(dir);
     }},
    {"sin-soluc", [](const fs::path& dir) { importar(dir); }},
    {"sin-tablas-de-trabajo",
     [](const fs::path& dir) {
       test::writeTable(dir, "SOLUC", kSoluc, {});
       importar(dir);
     }},
    {"tabla-danada",
     [](const fs::path& dir) {
       test::writeFile(dir / "PROFT.DBF", "no es una tabla");
       Table(dir, "PROFT").open(OpenMode::Shared);
     }},
    {"campo-que-falta",
     [](const fs::path& dir) {
       importTables(dir, {kSoluc.begin(), kSoluc.end() - 1});
       importar(dir);
     }},
    {"campo-numerico",
     [](const fs::path& dir) {
       std::vector<FieldDef> soluc = kSoluc;
       soluc[0] = {"DIA", FieldKind::Text, 2};
       importTables(dir, soluc);
       importar(dir);
     }},
    {"xml-no-valido",
     [](const fs::path& dir) {
       test::writeFile(dir / "centre.xml", "<CENTRE>\n<MATERIES>\n</CENTRE>");
       loadAdministrationDocument(dir / "centre.xml");
     }},
    {"no-es-scolaria",
     [](const fs::path& dir) {
       test::writeFile(dir / "centre.xml", "<HORARI/>");
       loadAdministrationDocument(dir / "centre.xml");
     }},
    {"disco-lleno",
     [](const fs::path& dir) {
       io::AtomicFile file(dir / "SolucioHorari.xml");
       io::ScopedWriteFailure full(0);
       file.append("<HORARI/>");
       file.commit();
     }},
    {"anterior-es-un-archivo",
     [](const fs::path& dir) {
       oneTable(dir);
       test::writeFile(dir / "ANTERIOR", "notas");
       ExportTransaction transaction(dir);
     }},
    {"carpeta-en-anterior",
     [](const fs::path& dir) {
       oneTable(dir);
       fs::create_directories(dir / "ANTERIOR" / "PROFT.DBF");
       ExportTransaction transaction(dir);
     }},
    {"apartadas-ajenas",
     [](const fs::path& dir) {
       oneTable(dir);
       test::writeFile(dir / "PONTIX.APARTADAS", "notas");
       ExportTransaction transaction(dir);
     }},
    {"sin-version-anterior", [](const fs::path& dir) { restorePrevious(dir, "PROFT"); }},
    {"no-es-una-tabla", [](const fs::path& dir) { restorePrevious(dir, "../PROFT"); }},
    {"archivo-de-niveles",
     [](const fs::path& dir) {
       test::writeFile(dir / "niveles.csv", "ESO1\n");
       cli::readLevelsFile(dir / "niveles.csv");
     }},
    {"resultado-para-horalia",
     [](const fs::path& dir) {
       writeProfileString(dir / "falta" / "Horalia.ini", "Transformadores", "Transformado", "1");
     }},
    {"sin-memoria", [](const fs::path&) { throw std::bad_alloc(); }},
};

std::string said(const std::function<void(const fs::path&)>& scenario) {
  test::TempDir dir;
  try {
    scenario(dir.path());
  } catch (const std::exception& e) {
    return userMessage(e);
  }
  return "(sin error)";
}

TEST(Messages, EachMessageOfTheHelpsTableEndsWithTheRemedyTheTableGives) {
  const std::vector<Row> rows = tableOfRemedies();
  ASSERT_EQ(rows.size(), kScenarios.size()) << "the table in mensajes.htm and the cases here differ";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.id);
    auto scenario = kScenarios.find(row.id);
    ASSERT_NE(scenario, kScenarios.end()) << "no case for the row";
    const std::string text = said(scenario->second);
    const std::string flat = std::regex_replace(text, std::regex(R"(\s+)"), " ");
    std::smatch start;
    EXPECT_TRUE(
        std::regex_search(flat, start, patternOf(row.message), std::regex_constants::match_continuous))
        << "the program says:\n"
        << text << "\nthe table:\n"
        << row.message;
    // The remedy follows the message on a line of its own.
    EXPECT_NE(text.find("\n" + row.remedy), std::string::npos) << "the program says:\n"
                                                               << text << "\nthe table's remedy:\n"
                                                               << row.remedy;
  }
}

// Horalia's working folder is named as the user knows it, with the folder that stands for it.
TEST(Messages, AMissingWorkingFolderIsNamedAsHoraliaCallsIt) {
  test::TempDir drive;
  test::ScopedEnv env("PONTIX_DRIVE_C", drive.path().c_str());
  const Error error = missingWorkingFolder(mapWindowsPath("c:\\ktemp"));
  EXPECT_EQ(std::string(error.what()),
            "No existe la carpeta de trabajo C:\\KTEMP.\nCree la carpeta C:\\KTEMP y vuelva a intentarlo.\n"
            "En este equipo C:\\KTEMP es la carpeta " +
                (drive / "KTEMP").string() + " (la unidad C: es la carpeta " + drive.path().string() +
                ", que se cambia con la variable PONTIX_DRIVE_C).");
}

}  // namespace
}  // namespace pontix

// pontix-cli: the converter without a window, for scripts and tests.
// Exit codes: 0 done, 1 error (message on stderr), 2 usage, 3 courses incomplete.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/CliShell.h"
#include "exportar/Exportar.h"
#include "importar/Importar.h"
#include "operacion/WorkingSet.h"
#include "platform/AnsiText.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/WinPath.h"
#include "platform/dbase/Table.h"

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;
constexpr int kCoursesIncomplete = 3;

constexpr const char* kVersion = "pontix-cli " PONTIX_VERSION;

const char* const kUsageText =
    "Uso: pontix-cli ORDEN [opciones]\n"
    "\n"
    "Órdenes:\n"
    "  exportar DOCUMENTO.xml   crea las tablas de trabajo de Horalia desde un documento de Scolaria\n"
    "  importar                 crea SolucioHorari.xml desde la solución del horario\n"
    "  volcar TABLA.DBF         muestra la tabla como CSV en UTF-8 (una línea de nombres de campo\n"
    "                           y una línea por registro)\n"
    "  restaurar [TABLA]        vuelve a poner la versión anterior de las tablas de trabajo (o de\n"
    "                           una), la que Exportar guardó en ANTERIOR\n"
    "\n"
    "Cada orden admite --help; --version muestra la versión.\n";

const char* const kExportarHelp =
    "Uso: pontix-cli exportar DOCUMENTO.xml [--trabajo DIR] [--niveles NIVELES.csv]\n"
    "                         [--niveles-anteriores] [--sin-lineas] [--incompletos] [--vaciar]\n"
    "                         [--informe INFORME.json]\n"
    "\n"
    "Crea las tablas de trabajo de Horalia desde el documento de Scolaria.\n"
    "  --trabajo DIR          carpeta de trabajo (por omisión C:\\KTEMP, según la\n"
    "                         correspondencia de unidades)\n"
    "  --niveles NIVELES.csv  nivel y curso de cada curso, líneas CODI;NIVEL;CURSO en UTF-8\n"
    "                         (también separadas por comas)\n"
    "  --niveles-anteriores   antes de --niveles, completa el nivel y el curso que falten con\n"
    "                         los de la versión anterior de CURSOST (en ANTERIOR)\n"
    "  --sin-lineas           no propone las líneas de asignaturas\n"
    "  --incompletos          sigue aunque algún curso quede sin nivel o sin curso\n"
    "  --vaciar               sigue aunque el documento no tenga materias, profesores, aulas\n"
    "                         ni cursos (sin ella, ese documento no cambia ninguna tabla)\n"
    "  --informe INFORME.json escribe en JSON el informe de lo que la conversión ha hecho\n"
    "                         con los datos (el resumen sale siempre por la salida de errores)\n"
    "\n"
    "Cambia todas las tablas de trabajo o ninguna: si no termina (un error, el disco lleno,\n"
    "una tabla abierta en otro programa, cursos sin nivel), las tablas quedan como estaban.\n"
    "Al terminar, las tablas que había quedan juntas en la carpeta ANTERIOR de la carpeta de\n"
    "trabajo (véase la orden restaurar). Solo una operación de Pontix a la vez en cada carpeta.\n"
    "Sale con 3, y escribe los códigos de esos cursos, cuando algún curso queda sin nivel\n"
    "o sin curso y no se ha dado --incompletos.\n";

const char* const kImportarHelp =
    "Uso: pontix-cli importar [--trabajo DIR] [--salida DIR] [--informe INFORME.json]\n"
    "\n"
    "Crea SolucioHorari.xml desde la solución del horario (tabla SOLUC) y las tablas de trabajo.\n"
    "  --trabajo DIR   carpeta de trabajo (por omisión C:\\KTEMP, según la correspondencia de unidades)\n"
    "  --salida DIR    carpeta donde se escribe SolucioHorari.xml, la del archivo que se elegiría\n"
    "                  en la ventana (por omisión la carpeta de trabajo)\n"
    "  --informe INFORME.json\n"
    "                  escribe en JSON el informe de las entradas omitidas y los códigos que no\n"
    "                  se encuentran (el resumen sale siempre por la salida de errores)\n";

const char* const kRestaurarHelp =
    "Uso: pontix-cli restaurar [TABLA] [--trabajo DIR]\n"
    "\n"
    "Vuelve a poner en la carpeta de trabajo la versión anterior de todas las tablas de trabajo,\n"
    "o solo de TABLA (su .DBF y su .MDX), la que Exportar guardó en la carpeta ANTERIOR, y deja\n"
    "las actuales en su lugar: restaurar otra vez deshace el cambio. Lo hace de una vez: si se\n"
    "interrumpe, la próxima operación lo deshace. No lo hace mientras otro programa tenga\n"
    "abierta alguna de esas tablas.\n"
    "  TABLA           ASIGNOMT, PROFT, AULAT, CURSOST, GRUPOST, MATIB, ASIGT o DIASHORAST\n"
    "  --trabajo DIR   carpeta de trabajo (por omisión C:\\KTEMP, según la correspondencia de unidades)\n";

const char* const kVolcarHelp =
    "Uso: pontix-cli volcar TABLA.DBF\n"
    "\n"
    "Escribe la tabla en la salida estándar como CSV en UTF-8: primero los nombres de los\n"
    "campos, después un registro por línea con los valores tal como los da el motor de tablas.\n"
    "Los registros borrados no se muestran.\n";

std::string csvCell(const std::string& utf8) {
  if (utf8.find_first_of(",\"\r\n") == std::string::npos) return utf8;
  std::string quoted = "\"";
  for (char c : utf8) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

class UsageError {
 public:
  explicit UsageError(std::string message) : message(std::move(message)) {}
  std::string message;
};

// The arguments after the command: options (with their values) and the rest, in order.
struct Arguments {
  std::vector<std::string> positional;
  std::optional<std::string> trabajo, niveles, salida, informe;
  bool sinLineas = false, incompletos = false, nivelesAnteriores = false, vaciar = false, help = false;
};

Arguments parseArguments(int argc, char** argv, const std::vector<std::string_view>& allowed) {
  Arguments args;
  auto isAllowed = [&](std::string_view option) {
    return std::find(allowed.begin(), allowed.end(), option) != allowed.end();
  };
  bool optionsEnded = false;  // after "--" every argument is a name, even "--x"
  for (int i = 2; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (!optionsEnded && (arg == "--help" || arg == "-h")) {
      args.help = true;
      continue;
    }
    // A lone "-" is a name, as it is for most tools.
    if (optionsEnded || !arg.starts_with("-") || arg == "-") {
      args.positional.emplace_back(arg);
      continue;
    }
    std::string_view name = arg.substr(0, arg.find('='));
    if (!isAllowed(name)) throw UsageError("Opción desconocida: " + std::string(arg));
    if (name == "--sin-lineas" || name == "--incompletos" || name == "--niveles-anteriores" ||
        name == "--vaciar") {
      if (name != arg) throw UsageError("La opción " + std::string(name) + " no lleva valor");
      (name == "--sin-lineas"    ? args.sinLineas
       : name == "--incompletos" ? args.incompletos
       : name == "--vaciar"      ? args.vaciar
                                 : args.nivelesAnteriores) = true;
      continue;
    }
    std::string value;
    if (name != arg) {
      value = std::string(arg.substr(name.size() + 1));
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      throw UsageError("Falta el valor de la opción " + std::string(name));
    }
    if (value.empty()) throw UsageError("La opción " + std::string(name) + " necesita un valor");
    if (name == "--trabajo") args.trabajo = value;
    if (name == "--niveles") args.niveles = value;
    if (name == "--salida") args.salida = value;
    if (name == "--informe") args.informe = value;
  }
  return args;
}

// The text as one word for the shell: quoted only when it needs to be.
std::string shellWord(const std::string& text) {
  if (text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._-+") ==
      std::string::npos)
    return text;
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The working folder is checked before anything runs. The default one is named as the
// user must create it, KTEMP in capitals as Horalia spells it, with the way to move it.
std::unique_ptr<pontix::ProgramState> makeState(const Arguments& args) {
  std::unique_ptr<pontix::ProgramState> state =
      args.trabajo ? std::make_unique<pontix::ProgramState>(std::filesystem::path(*args.trabajo))
                   : std::make_unique<pontix::ProgramState>();
  std::error_code ec;
  if (std::filesystem::is_directory(state->workingDirectory, ec)) return state;
  if (args.trabajo)
    throw pontix::Error(pontix::ErrorKind::NotFound,
                        "No existe la carpeta " + state->workingDirectory.string(),
                        "Créela, o indique otra con --trabajo, y repita la orden.");
  const std::string folder = pontix::mapWindowsPath("C:\\KTEMP").string();
  throw pontix::Error(pontix::ErrorKind::NotFound,
                      "No existe la carpeta " + folder + " (C:\\KTEMP, la carpeta de trabajo de Horalia)",
                      "Créela con: mkdir -p " + shellWord(folder) + "\n" +
                          "o ponga en PONTIX_DRIVE_C la carpeta que hace de unidad C:, con KTEMP dentro,\n" +
                          "o dé otra carpeta con --trabajo DIR.");
}

// The JSON report asked for, begun before any table is touched so that a folder that takes no
// file stops the run first; written whole at the end, or not at all.
std::unique_ptr<pontix::io::AtomicFile> startReportFile(const Arguments& args) {
  if (!args.informe) return nullptr;
  return std::make_unique<pontix::io::AtomicFile>(*args.informe);
}

// The run's report: its summary on stderr, and as JSON in the file asked for.
void reportRun(const pontix::RunReport& report, const std::unique_ptr<pontix::io::AtomicFile>& file) {
  std::cerr << report.text();
  if (!file) return;
  file->append(report.json());
  file->commit();
}

// What a run that ends early put right before it started; a completed run's report says it.
void tellRecovered(const pontix::RunReport& report) {
  for (const std::string& line : report.recovered()) std::cerr << line << '\n';
}

int exportar(int argc, char** argv) {
  Arguments args = parseArguments(argc, argv,
                                  {"--trabajo", "--niveles", "--sin-lineas", "--incompletos",
                                   "--niveles-anteriores", "--vaciar", "--informe"});
  if (args.help) {
    std::cout << kExportarHelp;
    return kDone;
  }
  if (args.positional.size() != 1) throw UsageError("Indique un único DOCUMENTO.xml");
  pontix::cli::CliShell::Options options;
  options.document = args.positional[0];
  if (args.niveles) options.levels = pontix::cli::readLevelsFile(*args.niveles);
  options.subjectLines = !args.sinLineas;
  options.allowIncomplete = args.incompletos;
  options.previousLevels = args.nivelesAnteriores;
  options.emptyAllowed = args.vaciar;
  std::unique_ptr<pontix::ProgramState> state = makeState(args);
  std::unique_ptr<pontix::io::AtomicFile> reportFile = startReportFile(args);
  pontix::cli::CliShell shell(std::move(options), std::cout, std::cerr);
  try {
    pontix::runExportar(*state, shell);
  } catch (...) {
    tellRecovered(state->report);
    throw;
  }
  if (state->forcedExit) {
    tellRecovered(state->report);
    std::cerr << pontix::kNothingChanged << '\n';
    return kCoursesIncomplete;
  }
  if (!shell.completed()) {
    tellRecovered(state->report);
    return kFailed;
  }
  reportRun(state->report, reportFile);
  return kDone;
}

int importar(int argc, char** argv) {
  Arguments args = parseArguments(argc, argv, {"--trabajo", "--salida", "--informe"});
  if (args.help) {
    std::cout << kImportarHelp;
    return kDone;
  }
  if (!args.positional.empty()) throw UsageError("Argumento inesperado: " + args.positional[0]);
  std::unique_ptr<pontix::ProgramState> state = makeState(args);
  // The window's file dialog only chooses this folder.
  std::filesystem::path folder = args.salida ? std::filesystem::path(*args.salida) : state->workingDirectory;
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec))
    throw pontix::Error(pontix::ErrorKind::NotFound, "No existe la carpeta " + folder.string(),
                        "Créela, o indique otra con --salida, y repita la orden.");
  std::filesystem::path output = folder / "SolucioHorari.xml";
  std::unique_ptr<pontix::io::AtomicFile> reportFile = startReportFile(args);
  // Never while an Exportar is replacing the tables it reads.
  const pontix::FolderLock lock = pontix::startOperation(*state, pontix::FolderLock::Purpose::Read);
  try {
    pontix::exportSolution(*state, output);
  } catch (...) {
    tellRecovered(state->report);
    throw;
  }
  std::cerr << "Proceso finalizado: " << output.string() << '\n';
  for (const std::string& line : state->report.summary().lines) std::cerr << line << '\n';
  reportRun(state->report, reportFile);
  return kDone;
}

int restaurar(int argc, char** argv) {
  Arguments args = parseArguments(argc, argv, {"--trabajo"});
  if (args.help) {
    std::cout << kRestaurarHelp;
    return kDone;
  }
  if (args.positional.size() > 1) throw UsageError("Indique una única TABLA, o ninguna para todas");
  std::unique_ptr<pontix::ProgramState> state = makeState(args);
  const pontix::FolderLock lock = pontix::startOperation(*state, pontix::FolderLock::Purpose::Change);
  tellRecovered(state->report);
  std::cerr << pontix::restorePrevious(state->workingDirectory,
                                       args.positional.empty() ? std::string() : args.positional[0])
            << '\n';
  return kDone;
}

int volcar(int argc, char** argv) {
  Arguments args = parseArguments(argc, argv, {});
  if (args.help) {
    std::cout << kVolcarHelp;
    return kDone;
  }
  if (args.positional.size() != 1) throw UsageError("Indique una única TABLA.DBF");
  std::filesystem::path path = args.positional[0];
  std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
  pontix::dbase::Table table(folder, path.filename().string());
  table.open(pontix::dbase::OpenMode::Shared);
  std::string out;
  for (std::size_t i = 0; i < table.fieldCount(); ++i) {
    if (i) out += ',';
    out += csvCell(pontix::ansi::toUtf8(table.fieldAt(i).name()));
  }
  out += '\n';
  for (table.first(); !table.eof(); table.next()) {
    for (std::size_t i = 0; i < table.fieldCount(); ++i) {
      if (i) out += ',';
      pontix::dbase::Field f = table.fieldAt(i);
      // Types the converter does not read (memo, binary ...) show as empty cells.
      if (std::strchr("CNFLD", f.type())) out += csvCell(pontix::ansi::toUtf8(f.asText()));
    }
    out += '\n';
    if (out.size() > (1 << 16)) {
      std::cout << out;
      out.clear();
    }
  }
  std::cout << out << std::flush;
  table.close();
  if (std::cout) return kDone;
  // A full disk or a closed pipe: said, not only in the exit code.
  std::cerr << "No se pudo escribir la tabla en la salida: " << pontix::systemErrorText(errno)
            << ". Compruebe adónde va la salida (el disco, el archivo o la orden que la recibe).\n";
  return kFailed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << kUsageText;
    return kUsage;
  }
  std::string_view command = argv[1];
  try {
    if (command == "--help" || command == "-h") {
      std::cout << kUsageText;
      return kDone;
    }
    if (command == "--version") {
      std::cout << kVersion << '\n';
      return kDone;
    }
    if (command == "exportar") return exportar(argc, argv);
    if (command == "importar") return importar(argc, argv);
    if (command == "volcar") return volcar(argc, argv);
    if (command == "restaurar") return restaurar(argc, argv);
    std::cerr << (command.starts_with("-") ? "Opción desconocida: " : "Orden desconocida: ") << command
              << "\n\n"
              << kUsageText;
    return kUsage;
  } catch (const UsageError& e) {
    const char* help = command == "exportar"    ? kExportarHelp
                       : command == "importar"  ? kImportarHelp
                       : command == "restaurar" ? kRestaurarHelp
                                                : kVolcarHelp;
    std::cerr << e.message << "\n\n" << help;
    return kUsage;
  } catch (const std::exception& e) {
    std::cerr << pontix::userMessage(e) << '\n';
    return kFailed;
  }
}

// pontix-cli: the converter without a window, for scripts and tests.
// Exit codes: 0 done, 1 error (message on stderr), 2 usage.

#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <string_view>

#include "platform/AnsiText.h"
#include "platform/Error.h"
#include "platform/dbase/Table.h"

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char* const kUsageText =
    "Uso: pontix-cli ORDEN [opciones]\n"
    "\n"
    "Órdenes:\n"
    "  volcar TABLA.DBF   muestra la tabla como CSV en UTF-8 (una línea de nombres de campo\n"
    "                     y una línea por registro)\n"
    "\n"
    "Cada orden admite --help.\n";

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

int volcar(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[2], "--help") == 0) {
    std::cout << kVolcarHelp;
    return kDone;
  }
  if (argc != 3) {
    std::cerr << kVolcarHelp;
    return kUsage;
  }
  std::filesystem::path path = argv[2];
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
  return std::cout ? kDone : kFailed;
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
    if (command == "volcar") return volcar(argc, argv);
    std::cerr << "Orden desconocida: " << command << "\n\n" << kUsageText;
    return kUsage;
  } catch (const pontix::Error& e) {
    std::cerr << e.what() << '\n';
    return kFailed;
  }
}

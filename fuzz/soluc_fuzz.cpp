// Importar on any SOLUC table: small fixed lookup tables, written once, and the input as
// SOLUC.DBF. A bad table must end in pontix::Error, leaving no file half written.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "importar/Importar.h"
#include "operacion/ProgramState.h"
#include "platform/Error.h"
#include "platform/dbase/Table.h"

namespace {

using namespace pontix;
using dbase::FieldDef;
using dbase::FieldKind;
using Rows = std::vector<std::vector<std::string>>;

FieldDef text(const char* name, int width) { return {name, FieldKind::Text, width}; }

void writeTable(const std::filesystem::path& dir, const char* name, const std::vector<FieldDef>& fields,
                const Rows& rows) {
  dbase::Table table(dir, name);
  table.create(fields);
  table.open(dbase::OpenMode::Exclusive);
  for (const auto& row : rows) {
    table.append();
    for (std::size_t i = 0; i < row.size(); ++i) table.fieldAt(i).setText(row[i]);
    table.post();
  }
  table.close();
}

// The keys the seeds of the corpus use: teachers PER and ANA, groups 1A and 2B, rooms LAB and
// A1, subjects MAT1 and CAT1, days 1 and 2 with periods 1 to 3 (whole or half).
const std::filesystem::path& work() {
  static const std::filesystem::path dir = [] {
    const std::filesystem::path d = fuzz::scratch() / "KTEMP";
    std::filesystem::create_directory(d);
    std::filesystem::create_directory(fuzz::scratch() / "salida");
    writeTable(d, "PROFT", {text("ABREV", 10), text("CODI", 40)},
               {{"PER", "P-1"}, {"ANA", "P-2"}, {"PER", "P-3"}});
    writeTable(d, "GRUPOST", {text("ABREV", 10), text("CODI", 20), text("CODICURS", 20)},
               {{"1A", "G-1A", "C-1"}, {"2B", "G-2B", "C-2"}});
    writeTable(d, "AULAT", {text("ABREV", 10), text("CODI", 60)}, {{"LAB", "A-Lab"}, {"A1", "A-1"}});
    writeTable(d, "ASIGNOMT", {text("COD", 10), text("CODI", 20)}, {{"MAT1", "M-1"}, {"CAT1", "M-2"}});
    Rows grid;
    for (const char* day : {"1", "2"})
      for (const char* period : {"1", "2", "3", "4", "5", "6"})
        grid.push_back({std::string(day) + period, day == std::string("1") ? "Dilluns" : "Dimarts",
                        std::string("0") + period + ":00", "55"});
    writeTable(d, "DIASHORAST", {text("DIHO", 10), text("DIA", 20), text("HORADESDE", 8), text("MINUTOS", 8)},
               grid);
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path& dir = work();
  const std::filesystem::path out = fuzz::scratch() / "salida";
  fuzz::put(dir / "SOLUC.DBF", fuzz::bytesOf(data, size));
  fuzz::drop(out / "SolucioHorari.xml");
  bool written = true;
  try {
    ProgramState state(dir);
    exportSolution(state, out / "SolucioHorari.xml");
  } catch (const Error& e) {
    fuzz::note(e);
    written = false;
  }
  // Only the finished file may be left behind; a failure leaves nothing at all.
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    fuzz::expect(entry.path().filename() == "SolucioHorari.xml",
                 "un archivo temporal se ha quedado en la salida");
    ++files;
  }
  fuzz::expect(files == (written ? 1u : 0u), "el archivo de salida no corresponde al resultado");
  return 0;
}

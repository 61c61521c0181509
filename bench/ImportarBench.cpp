// Importar of 10k, 100k and 1M timetable entries against lookup tables of 10k records each:
// time must grow with the entries, not with entries times records, and peak memory not with
// the entries at all (the file is written as SOLUC is read).
// Run: build with -DPONTIX_BENCH=ON, then build/bench/importar_bench; one size per process
// (--benchmark_filter=entries:1000000) makes peak_MB that size's own peak. The working folders are left
// in $TMPDIR (default /tmp) as pontix-bench-importar-<n>/, so that other readers of SOLUC.DBF
// (dbfdump) can be timed on the same table.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "importar/Importar.h"

namespace {

using namespace pontix::dbase;

constexpr int kLookupRecords = 10'000;

std::filesystem::path benchDir() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

// Built by appending: GCC 12 warns, wrongly, about `"text" + std::to_string(n)` in Release.
std::string numbered(const char* prefix, int n) {
  std::string text = prefix;
  text += std::to_string(n);
  return text;
}

void writeLookup(const std::filesystem::path& dir, const char* name, const std::vector<const char*>& fields,
                 const char* prefix) {
  std::vector<FieldDef> defs;
  for (const char* f : fields) defs.push_back({f, FieldKind::Text, 20});
  Table t(dir, name);
  t.create(defs);
  t.open(OpenMode::Exclusive);
  for (int i = 0; i < kLookupRecords; ++i) {
    t.append();
    // The key, then values as long as real codes.
    t.fieldAt(0).setText(numbered(prefix, i));
    for (std::size_t f = 1; f < fields.size(); ++f) t.fieldAt(f).setText(numbered("Codi ", 900000 + i));
    t.post();
  }
  t.close();
}

// Every lookup table has 10k records; the grid's keys are "<day><period>" for days 1 to 9999
// at most, so that most entries find their period. One entry in a hundred is an activity,
// one in a hundred is unplaced (DIA 0), one in fifty names a teacher no table has.
std::filesystem::path workingFolder(int entries) {
  std::filesystem::path dir = benchDir() / numbered("pontix-bench-importar-", entries);
  if (std::filesystem::exists(dir / "SOLUC.DBF")) return dir;
  std::filesystem::create_directories(dir);
  writeLookup(dir, "PROFT", {"ABREV", "CODI"}, "PROF");
  writeLookup(dir, "AULAT", {"ABREV", "CODI"}, "AULA");
  writeLookup(dir, "ASIGNOMT", {"COD", "CODI"}, "AS");
  writeLookup(dir, "GRUPOST", {"ABREV", "CODI", "CODICURS"}, "G");
  writeLookup(dir, "DIASHORAST", {"DIHO", "DIA", "HORADESDE", "MINUTOS"}, "");
  Table t(dir, "SOLUC");
  t.create({{"NUMSES", FieldKind::Integer},
            {"DIA", FieldKind::Integer},
            {"HORA", FieldKind::Float},
            {"PROF", FieldKind::Text, 10},
            {"CODGRUPO", FieldKind::Text, 10},
            {"AULA", FieldKind::Text, 10},
            {"ASIG", FieldKind::Text, 10},
            {"TAREA", FieldKind::Text, 30}});
  t.open(OpenMode::Exclusive);
  Field numses = t.field("NUMSES"), dia = t.field("DIA"), hora = t.field("HORA"), prof = t.field("PROF"),
        grupo = t.field("CODGRUPO"), aula = t.field("AULA"), asig = t.field("ASIG"), tarea = t.field("TAREA");
  for (int i = 0; i < entries; ++i) {
    t.append();
    numses.setInteger(i);
    dia.setInteger(i % 100 == 7 ? 0 : 1 + i % 5);
    hora.setFloat(1 + i % 6 + (i % 12 == 11 ? 0.5 : 0));
    prof.setText(i % 50 == 3 ? "NINGUNO" : numbered("PROF", i % kLookupRecords));
    grupo.setText(numbered("G", (i * 7) % kLookupRecords));
    aula.setText(numbered("AULA", (i * 13) % kLookupRecords));
    asig.setText(numbered("AS", (i * 31) % kLookupRecords));
    tarea.setText(i % 100 == 42 ? "Gu\xE0rdia de pati" : "");
    t.post();
  }
  t.close();
  return dir;
}

void BM_Importar(benchmark::State& state) {
  const int entries = static_cast<int>(state.range(0));
  const std::filesystem::path dir = workingFolder(entries);
  for (auto _ : state) {
    pontix::ProgramState program(dir);
    pontix::exportSolution(program, dir / "SolucioHorari.xml");
  }
  state.SetItemsProcessed(state.iterations() * entries);
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_MB"] = static_cast<double>(usage.ru_maxrss) / 1024;
  state.counters["file_MB"] =
      static_cast<double>(std::filesystem::file_size(dir / "SolucioHorari.xml")) / (1024 * 1024);
}

BENCHMARK(BM_Importar)
    ->ArgName("entries")
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

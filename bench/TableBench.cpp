// Appending and reading back 1,000,000 records of 8 fields: the engine must be I/O bound.
// Run: build with -DPONTIX_BENCH=ON, then build/bench/table_bench [--benchmark_filter=...]
// The table goes to $TMPDIR (default /tmp) as PONTIX_BENCH.DBF and is left there, so other
// readers can be timed on the same file.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>

#include "platform/dbase/Table.h"

namespace {

using namespace pontix::dbase;

constexpr int kRecords = 1'000'000;

std::filesystem::path benchDir() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

const std::vector<FieldDef> kFields = {
    {"CODI", FieldKind::Text, 10},  {"NOMBRE", FieldKind::Text, 40}, {"CURSO", FieldKind::Text, 20},
    {"GRUPO", FieldKind::Text, 30}, {"NIVEL", FieldKind::Integer},   {"HORAS", FieldKind::Integer},
    {"PESO", FieldKind::Float},     {"ACTIVO", FieldKind::Logical},
};

void writeTable(int records) {
  Table t(benchDir(), "PONTIX_BENCH");
  t.create(kFields);
  t.open(OpenMode::Shared);
  Field codi = t.field("CODI"), nombre = t.field("NOMBRE"), curso = t.field("CURSO"),
        grupo = t.field("GRUPO"), nivel = t.field("NIVEL"), horas = t.field("HORAS"), peso = t.field("PESO"),
        activo = t.field("ACTIVO");
  for (int i = 0; i < records; ++i) {
    t.append();
    codi.setText("C" + std::to_string(i));
    nombre.setText("Matemáticas aplicadas a las ciencias sociales");
    curso.setText("1r Batxillerat");
    grupo.setText("Grupo A");
    nivel.setInteger(i % 7);
    horas.setInteger(4);
    peso.setFloat(i * 0.25);
    activo.setLogical(i % 2 == 0);
    t.post();
  }
  t.close();
}

void BM_AppendRecords(benchmark::State& state) {
  for (auto _ : state) writeTable(kRecords);
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * std::filesystem::file_size(benchDir() / "PONTIX_BENCH.DBF")));
}
BENCHMARK(BM_AppendRecords)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReadRecords(benchmark::State& state) {
  writeTable(kRecords);
  for (auto _ : state) {
    Table t(benchDir(), "PONTIX_BENCH");
    t.open(OpenMode::Shared);
    std::vector<Field> fields;
    for (std::size_t i = 0; i < t.fieldCount(); ++i) fields.push_back(t.fieldAt(i));
    std::size_t total = 0;
    for (t.first(); !t.eof(); t.next())
      for (const Field& f : fields) total += f.asText().size();
    benchmark::DoNotOptimize(total);
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * std::filesystem::file_size(benchDir() / "PONTIX_BENCH.DBF")));
}
BENCHMARK(BM_ReadRecords)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();

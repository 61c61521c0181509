// Exportar's builders (subjects, teacher posts, rooms, courses, groups and subject map, subject
// lines, days and hours) on generated administration documents of 10k, 100k and 1M elements: cost must
// grow linearly, also when thousands of elements share one short name.
// Run: build with -DPONTIX_BENCH=ON, then build/bench/exportar_bench. The documents are left
// in $TMPDIR (default /tmp) as pontix-bench-v2-<kind>-<n>.xml, so that `xmllint --noout` (the
// parsing floor) can be timed on the same files.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/CliShell.h"
#include "exportar/Exportar.h"

namespace {

std::filesystem::path benchDir() {
  const char* tmp = std::getenv("TMPDIR");
  return std::filesystem::path(tmp && *tmp ? tmp : "/tmp");
}

enum Kind { kDistinct, kSharedNames };

// A quarter of the elements of each kind (subjects, activities, posts, rooms), and a course
// with three groups for every 50 subjects. Distinct: every name different. Shared names: all
// subjects "MAT", all posts "FERNANDEZG", all rooms "LABORATORI DE FISICA", all groups "GRUP"
// (numbered up, and past the last free stored form of their stem).
std::filesystem::path document(Kind kind, int elements) {
  std::filesystem::path path =
      benchDir() / ("pontix-bench-v2-" + std::string(kind == kDistinct ? "distinct" : "shared") + "-" +
                    std::to_string(elements) + ".xml");
  if (std::filesystem::exists(path)) return path;
  std::ofstream out(path);
  const int quarter = elements / 4;
  const int courses = std::max(1, quarter / 50);
  auto name = [&](const char* shared, const char* prefix, int i) {
    return kind == kSharedNames ? std::string(shared) : prefix + std::to_string(i);
  };
  out << "<?xml version='1.0' encoding='UTF-8'?>\n<CENTRE codi='08000001'>\n<MATERIES>\n";
  for (int i = 0; i < quarter; ++i)
    out << "<MATERIA codi='" << 100000 + i << "' curs='C" << i % courses
        << "' descripcio='Matemàtiques aplicades " << i << "' curta='" << name("MAT", "MAT", i) << "'/>\n";
  out << "</MATERIES>\n<ACTIVITATS>\n";
  for (int i = 0; i < quarter; ++i)
    out << "<ACTIVITAT codi='ACT" << i << "' descripcio='Guàrdia " << i << "' curta='GUARDIA'/>\n";
  out << "</ACTIVITATS>\n<PLACES>\n";
  for (int i = 0; i < quarter; ++i)
    out << "<PLACA codi='P" << i << "' descripcio='Professor número " << i << "' curta='"
        << name("FERNANDEZG", "PROF", i) << "'/>\n";
  out << "</PLACES>\n<AULES>\n";
  for (int i = 0; i < quarter; ++i)
    out << "<AULA codi='A" << i << "' descripcio='" << name("LABORATORI DE FISICA", "Sala", i) << "'/>\n";
  out << "</AULES>\n<CURSOS>\n";
  for (int c = 0; c < courses; ++c) {
    out << "<CURS codi='C" << c << "' descripcio='Curs " << c << "'>";
    for (int g = 0; g < 3; ++g)
      out << "<GRUP codi='G" << c << "-" << g << "' nom='" << name("GRUP", "G", 3 * c + g) << "'/>";
    out << "</CURS>\n";
  }
  out << "</CURSOS>\n</CENTRE>\n";
  return path;
}

void BM_ExportarBuilders(benchmark::State& state) {
  const auto kind = static_cast<Kind>(state.range(0));
  const int elements = static_cast<int>(state.range(1));
  const std::filesystem::path file = document(kind, elements);
  const std::filesystem::path work = benchDir() / "pontix-bench-ktemp";
  std::filesystem::create_directories(work);
  std::ostringstream discard;
  // The courses keep no level: the groups are named by themselves, numbered where they repeat.
  pontix::cli::CliShell::Options options;
  options.document = file.string();
  options.allowIncomplete = true;
  pontix::cli::CliShell shell(options, discard, discard);
  for (auto _ : state) {
    // The whole operation as the button runs it: the document let go as the builders finish.
    pontix::ProgramState program(work);
    pontix::runExportar(program, shell);
    if (program.resultFlag != 1) state.SkipWithError("Exportar did not finish");
  }
  state.SetItemsProcessed(state.iterations() * elements);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(std::filesystem::file_size(file)));
}

BENCHMARK(BM_ExportarBuilders)
    ->ArgNames({"shared", "elements"})
    ->ArgsProduct({{kDistinct, kSharedNames}, {10'000, 100'000, 1'000'000}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();

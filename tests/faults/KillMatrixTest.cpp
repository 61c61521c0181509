// pontix-cli killed (SIGKILL, no unwinding) at each of its file operations, by strace's fault
// injection: whatever the moment, once the next operation has run, the working folder and its
// ANTERIOR are byte for byte as they were before the run or as the completed run leaves them,
// with nothing else in them (no journal, set-aside folder, lock file or temporary file), and the
// operation can be run again.
//
// What this relies on of strace's -e inject=SYSCALL:signal=KILL:when=N:
// - The count is kept for each syscall of the set on its own (the manual: "for every syscall
//   from the set ... the syscall invocation number first"), so one syscall is injected at a time.
// - It is kept for each thread on its own too (the manual does not say; strace 6.1 does). Every
//   file operation runs in the main thread (the document is parsed in another one, which changes
//   no file), so the calls are counted in the main thread.
// - A call that fails counts like any other.
// - The signal is delivered on entering the call: call N never runs, and position N is the moment
//   between calls N-1 and N.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>

#include "TestSupport.h"
#include "operacion/WorkingSet.h"

namespace pontix {
namespace {

namespace fs = std::filesystem;
using test::shellQuote;

// Every file and folder under a folder, by path relative to it; a folder's contents are kFolder.
using Tree = std::map<std::string, std::string>;
constexpr const char* kFolder = "(folder)";

Tree treeOf(const fs::path& root) {
  Tree tree;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(e.path(), root).generic_string();
    tree[name] = e.is_directory() ? std::string(kFolder) : test::readFile(e.path());
  }
  return tree;
}

void plant(const fs::path& root, const Tree& tree) {
  fs::remove_all(root);
  fs::create_directory(root);
  for (const auto& [name, bytes] : tree) {
    if (bytes == kFolder)
      fs::create_directories(root / name);
    else
      test::writeFile(root / name, bytes);
  }
}

// How `got` differs from `want`, one line for each entry.
std::string difference(const Tree& got, const Tree& want) {
  std::string out;
  for (const auto& [name, bytes] : got) {
    const auto it = want.find(name);
    if (it == want.end())
      out += "  extra: " + name + "\n";
    else if (it->second != bytes)
      out += "  differs: " + name + "\n";
  }
  for (const auto& [name, bytes] : want)
    if (!got.count(name)) out += "  missing: " + name + "\n";
  return out;
}

bool isTableFile(const std::string& name) {
  std::string up = name;
  for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string stem = up.substr(0, up.find('.'));
  const std::vector<std::string>& tables = workingTableNames();
  return name.find('/') == std::string::npos && (up.ends_with(".DBF") || up.ends_with(".MDX")) &&
         std::find(tables.begin(), tables.end(), stem) != tables.end();
}

// The tree with the working tables and those of ANTERIOR in each other's place.
Tree swapped(const Tree& tree) {
  Tree out;
  for (const auto& [name, bytes] : tree) {
    if (isTableFile(name))
      out["ANTERIOR/" + name] = bytes;
    else if (name.starts_with("ANTERIOR/") && isTableFile(name.substr(9)))
      out[name.substr(9)] = bytes;
    else
      out[name] = bytes;
  }
  return out;
}

// The working table files of a tree, by name.
Tree workingTables(const Tree& tree) {
  Tree out;
  for (const auto& [name, bytes] : tree)
    if (isTableFile(name)) out[name] = bytes;
  return out;
}

// Why strace cannot stop pontix-cli here, or "" when it can.
std::string whyNoStrace() {
  const test::CommandResult version = test::run("strace -V");
  if (version.exitCode != 0) return "strace is not installed (" + version.output + ")";
  const test::CommandResult traced = test::run("strace -f -o /dev/null true");
  if (traced.exitCode != 0)
    return "strace cannot trace a program here (ptrace not permitted?): " + traced.output;
  return "";
}

// The syscalls the run is killed at, by family; a family is its syscalls' positions together.
struct Family {
  const char* name;
  std::vector<const char*> syscalls;
  std::size_t sample;  // at most this many positions of each syscall, spread; 0 for all of them
};
const Family kFamilies[] = {
    {"renames", {"rename", "renameat", "renameat2"}, 0},
    {"unlinks", {"unlink", "unlinkat", "rmdir"}, 0},
    {"ftruncate", {"ftruncate"}, 0},
    {"fsync", {"fsync", "fdatasync"}, 30},
    {"mkdir", {"mkdir", "mkdirat"}, 0},
    {"writes", {"pwrite64", "write"}, 12},
};

// First, last and spread between.
std::vector<std::size_t> positions(std::size_t count, std::size_t sample) {
  std::vector<std::size_t> out;
  if (sample == 0 || count <= sample) {
    for (std::size_t n = 1; n <= count; ++n) out.push_back(n);
    return out;
  }
  for (std::size_t i = 0; i < sample; ++i) out.push_back(1 + i * (count - 1) / (sample - 1));
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

// How many times the main thread of the command calls each syscall of the families.
std::map<std::string, std::size_t> countCalls(const std::string& command, const fs::path& traceFile) {
  std::string all;
  for (const Family& f : kFamilies)
    for (const char* s : f.syscalls) all += std::string(all.empty() ? "" : ",") + s;
  const test::CommandResult r =
      test::run("strace -f -o " + shellQuote(traceFile.string()) + " -e trace=" + all + " " + command);
  EXPECT_EQ(r.exitCode, 0) << r.output;
  // Lines "PID  call(...", the PID padded.
  std::vector<std::pair<std::string, std::string>> lines;
  std::istringstream in(test::readFile(traceFile));
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string pid, rest;
    if (words >> pid >> std::ws && std::getline(words, rest)) lines.emplace_back(pid, rest);
  }
  std::map<std::string, std::size_t> counts;
  if (lines.empty()) return counts;
  // The thread group's leader is the last to be seen exiting.
  const std::string main = lines.back().first;
  for (const auto& [pid, rest] : lines) {
    if (pid != main) continue;
    const std::string call = rest.substr(0, rest.find('('));
    for (const Family& f : kFamilies)
      for (const char* s : f.syscalls)
        if (call == s) ++counts[s];
  }
  return counts;
}

// LeakSanitizer stops the process's threads with ptrace when it exits, which a process that strace
// traces cannot do: in a sanitizer build the leak check is left to the runs nobody traces.
std::string withoutLeakCheck() {
  const char* options = std::getenv("ASAN_OPTIONS");
  return (options && *options ? std::string(options) + ":" : std::string()) + "detect_leaks=0";
}

struct Fixture {
  std::string asanOptions = withoutLeakCheck();
  test::ScopedEnv noLeakCheck{"ASAN_OPTIONS", asanOptions.c_str()};
  test::TempDir root;
  fs::path work = root / "KTEMP", saga = root / "saga", centre = root / "centre.xml",
           levels = root / "niveles.csv";
  std::string cli = shellQuote(PONTIX_CLI);  // never behind a memory checker: strace counts its calls
  std::string trabajo = " --trabajo " + shellQuote(work.string());
  std::string exportar = cli + " exportar " + shellQuote(centre.string()) + trabajo + " --niveles " +
                         shellQuote(levels.string());
  std::string importar = cli + " importar" + trabajo + " --salida " + shellQuote(saga.string());
  std::string restaurar = cli + " restaurar" + trabajo;
  Tree before;

  // Two runs of Exportar, so that ANTERIOR is full, then the user's own work on two tables (one
  // saved in lower case by the user's program) and the timetable's solution.
  Fixture() {
    fs::create_directories(work);
    fs::create_directories(saga);
    test::writeFile(
        centre,
        "<?xml version='1.0' encoding='UTF-8'?>\n<CENTRE>\n<MATERIES>\n"
        "<MATERIA codi='M1' curs='ESO1' descripcio='Matemàtiques' curta='MAT'/>\n"
        "<MATERIA codi='M2' curs='ESO1' descripcio='Llengua catalana' curta='CAT'/>\n"
        "<MATERIA codi='M3' curs='ESO2' descripcio='Ciències naturals' curta='NAT'/>\n"
        "</MATERIES>\n<PLACES><PLACA codi='P1' descripcio='Núria Puig' curta='PUIG'/>"
        "<PLACA codi='P2' descripcio='Joan Vidal' curta='VIDAL'/></PLACES>\n"
        "<AULES><AULA codi='A1' descripcio='Laboratori'/><AULA codi='A2' descripcio='Aula 2'/></AULES>\n"
        "<CURSOS><CURS codi='ESO1' descripcio='1r d&apos;ESO'><GRUP codi='ESO1A' nom='A'/>"
        "<GRUP codi='ESO1B' nom='B'/></CURS>\n"
        "<CURS codi='ESO2' descripcio='2n d&apos;ESO'><GRUP codi='ESO2A' nom='A'/></CURS></CURSOS>\n"
        "</CENTRE>\n");
    test::writeFile(levels, "ESO1;ESO;1\nESO2;ESO;2\n");
    for (int i = 0; i < 2; ++i) {
      const test::CommandResult r = test::run(exportar);
      EXPECT_EQ(r.exitCode, 0) << r.output;
    }
    using dbase::FieldKind;
    test::writeTable(
        work, "ASIGT",
        {{"CASIG", FieldKind::Text, 10}, {"CGRUP", FieldKind::Text, 10}, {"HORAS", FieldKind::Float, 0}},
        {{"MAT", "ESO1A", "5"}, {"TUT", "ESO2A", "1"}});
    fs::remove(work / "DIASHORAST.DBF");
    test::writeTable(work, "diashorast.dbf",
                     {{"DIHO", FieldKind::Text, 10},
                      {"DIA", FieldKind::Text, 20},
                      {"HORADESDE", FieldKind::Text, 8},
                      {"MINUTOS", FieldKind::Text, 8}},
                     {{"11", "Dilluns", "08:00", "60"}, {"12", "Dilluns", "09:00", "60"}});
    test::writeTable(
        work, "SOLUC",
        {{"DIA", FieldKind::Integer, 0},
         {"HORA", FieldKind::Float, 0},
         {"PROF", FieldKind::Text, 10},
         {"CODGRUPO", FieldKind::Text, 10},
         {"AULA", FieldKind::Text, 10},
         {"ASIG", FieldKind::Text, 10},
         {"TAREA", FieldKind::Text, 30}},
        {{"1", "1", "PUIG", "ESO1A", "A1", "MAT", ""}, {"1", "2", "VIDAL", "ESO2A", "A2", "NAT", ""}});
    before = treeOf(work);
  }
};

// Kills `command` at every position of each family in a folder planted as `f.before`; after the
// next operation (importar, which puts the folder right first) the folder must be `f.before` or
// `after`, and then `again` must complete and leave the folder as `check` says.
// Returns the number of positions of each family, and how many runs were undone or completed.
std::map<std::string, std::size_t> killEverywhere(Fixture& f, const std::string& command, const Tree& after,
                                                  const std::map<std::string, std::size_t>& counts,
                                                  const std::string& again,
                                                  const std::function<void(const Tree& was)>& check) {
  std::map<std::string, std::size_t> tried;
  for (const Family& family : kFamilies) {
    for (const char* syscall : family.syscalls) {
      const auto counted = counts.find(syscall);
      if (counted == counts.end()) continue;
      for (std::size_t n : positions(counted->second, family.sample)) {
        const std::string where =
            std::string(syscall) + " " + std::to_string(n) + "/" + std::to_string(counted->second);
        SCOPED_TRACE(where);
        ++tried[family.name];
        plant(f.work, f.before);
        const test::CommandResult killed =
            test::run("strace -f -o /dev/null -e trace=" + std::string(syscall) + " -e inject=" + syscall +
                      ":signal=KILL:when=" + std::to_string(n) + " " + command);
        EXPECT_NE(killed.exitCode, 0) << "not killed:\n" << killed.output;
        const test::CommandResult next = test::run(f.importar);
        EXPECT_EQ(next.exitCode, 0) << next.output;
        const Tree now = treeOf(f.work);
        if (now != f.before && now != after) {
          ADD_FAILURE() << "neither as before nor as completed\nagainst before:\n"
                        << difference(now, f.before) << "against completed:\n"
                        << difference(now, after) << "importar said:\n"
                        << next.output;
          continue;
        }
        ++tried[now == f.before ? "(undone)" : "(completed)"];
        const test::CommandResult rerun = test::run(again);
        EXPECT_EQ(rerun.exitCode, 0) << rerun.output;
        check(now);
      }
    }
  }
  return tried;
}

std::string said(const std::map<std::string, std::size_t>& tried) {
  std::string out;
  for (const auto& [family, count] : tried) out += " " + family + " " + std::to_string(count);
  return out;
}

TEST(KillMatrix, AnExportarKilledAnywhereIsUndoneOrCompleted) {
  if (const std::string why = whyNoStrace(); !why.empty()) GTEST_SKIP() << why;
  Fixture f;
  ASSERT_TRUE(f.before.count("diashorast.dbf"));

  plant(f.work, f.before);
  const std::map<std::string, std::size_t> counts = countCalls(f.exportar, f.root / "exportar.trace");
  const Tree after = treeOf(f.work);
  // The completed run: new tables, and in ANTERIOR what the user had in their place, alone.
  Tree expected = workingTables(after);
  for (const auto& [name, bytes] : workingTables(f.before)) expected["ANTERIOR/" + name] = bytes;
  for (const auto& [name, bytes] : f.before)
    if (!isTableFile(name) && !name.starts_with("ANTERIOR/")) expected[name] = bytes;
  ASSERT_EQ(after, expected) << difference(after, expected);
  ASSERT_NE(workingTables(after), workingTables(f.before));
  for (const char* s : {"rename", "unlink", "fsync", "pwrite64"}) ASSERT_GT(counts.count(s), 0u) << s;

  const std::map<std::string, std::size_t> tried =
      killEverywhere(f, f.exportar, after, counts, f.exportar, [&](const Tree&) {
        // Whatever the run left, a run to the end makes the same tables.
        EXPECT_EQ(workingTables(treeOf(f.work)), workingTables(after));
      });
  std::cout << "[ positions  ]" << said(tried) << "\n";
}

TEST(KillMatrix, ARestoreKilledAnywhereIsUndoneOrCompleted) {
  if (const std::string why = whyNoStrace(); !why.empty()) GTEST_SKIP() << why;
  Fixture f;

  plant(f.work, f.before);
  const std::map<std::string, std::size_t> counts = countCalls(f.restaurar, f.root / "restaurar.trace");
  const Tree after = treeOf(f.work);
  ASSERT_EQ(after, swapped(f.before)) << difference(after, swapped(f.before));
  for (const char* s : {"rename", "fsync"}) ASSERT_GT(counts.count(s), 0u) << s;

  const std::map<std::string, std::size_t> tried =
      killEverywhere(f, f.restaurar, after, counts, f.restaurar, [&](const Tree& was) {
        // Restoring again swaps the generations back, from either state.
        const Tree now = treeOf(f.work);
        EXPECT_EQ(now, swapped(was)) << difference(now, swapped(was));
      });
  std::cout << "[ positions  ]" << said(tried) << "\n";
}

}  // namespace
}  // namespace pontix

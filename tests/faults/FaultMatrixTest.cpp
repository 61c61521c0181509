// A fault at every write: each operation that writes a file is run once to learn its writes,
// then again with a full disk or a device error at each of them. Whatever the position, the
// operation ends in an error that names the file and the reason, never in success; an earlier
// file it replaces stays byte for byte; a table it writes stays one every reader agrees on.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>

#include "FaultSupport.h"
#include "TestSupport.h"
#include "importar/Importar.h"
#include "operacion/ProgramState.h"
#include "platform/Error.h"
#include "platform/FileIo.h"
#include "platform/Profile.h"
#include "platform/dbase/Table.h"

namespace pontix {
namespace {

namespace fs = std::filesystem;
using Kind = io::ScopedWriteFailure::Kind;
using Strings = std::vector<std::string>;

const char* reason(Kind kind) {
  return kind == Kind::DiskFull ? "no queda espacio en el disco" : "error de entrada/salida del disco";
}

struct Position {
  std::uint64_t limit;  // for ScopedWriteFailure
  std::size_t write;    // the write it stops, from 0
};

// A full disk at every byte of a write up to 1 KB and at the first, second, middle and last byte
// of a longer one; a device error at each write. Writes that count nothing cannot fail.
std::vector<Position> positions(const std::vector<std::uint64_t>& writes, Kind kind) {
  std::vector<Position> all;
  std::uint64_t start = 0;
  for (std::size_t i = 0; i < writes.size(); ++i) {
    const std::uint64_t n = writes[i];
    if (n == 0) continue;
    if (kind == Kind::DeviceError) {
      all.push_back({start, i});
    } else if (n <= 1024) {
      for (std::uint64_t b = 0; b < n; ++b) all.push_back({start + b, i});
    } else {
      for (std::uint64_t b : {std::uint64_t{0}, std::uint64_t{1}, n / 2, n - 1})
        all.push_back({start + b, i});
    }
    start += n;
  }
  return all;
}

struct Target {
  std::function<void()> restore;  // puts back the files as they were before the operation
  std::function<void()> operation;
  // After a run that met the fault, with its error message ("" for none).
  std::function<void(const std::string& error, Kind kind)> check;
};

void atEveryWrite(const Target& target) {
  for (Kind kind : {Kind::DiskFull, Kind::DeviceError}) {
    target.restore();
    std::vector<std::uint64_t> writes;
    {
      io::ScopedWriteFailure unlimited(UINT64_MAX, kind);
      target.operation();
      writes = unlimited.writes();
    }
    const std::vector<Position> all = positions(writes, kind);
    ASSERT_FALSE(all.empty());
    for (const Position& p : all) {
      target.restore();
      std::string error;
      try {
        io::ScopedWriteFailure fault(p.limit, kind);
        target.operation();
      } catch (const Error& e) {
        error = e.what();
      }
      SCOPED_TRACE((kind == Kind::DiskFull ? "disk full after " : "device error after ") +
                   std::to_string(p.limit) + " bytes, in write " + std::to_string(p.write + 1) + " of " +
                   std::to_string(writes.size()));
      target.check(error, kind);
      if (::testing::Test::HasFailure()) return;  // the first position that fails tells enough
    }
  }
}

// Each matrix runs its operation a thousand times over files that live for a moment: in a
// memory-backed folder where the system has one, so that the disk's syncs and unlinks do not
// set the pace.
class FaultMatrix : public ::testing::Test {
 protected:
  FaultMatrix() {
    std::error_code ec;
    if (fs::is_directory("/dev/shm", ec)) memory_.emplace("TMPDIR", "/dev/shm");
  }

 private:
  std::optional<test::ScopedEnv> memory_;
};

// create, append, close; open, edit the first record, append more, close: the writes of a
// builder and of a program that adds to its table. The table is new or replaces an earlier one.
void tableMatrix(bool indexed, bool earlier) {
  test::TempDir dir;
  const fs::path dbf = dir / "MATIB.DBF";
  const std::vector<dbase::FieldDef> fields = {{"TXT", dbase::FieldKind::Text, 12},
                                               {"NUM", dbase::FieldKind::Integer, 0}};
  const std::vector<dbase::IndexDef> indexes =
      indexed ? std::vector<dbase::IndexDef>{{"TXT", "TXT"}} : std::vector<dbase::IndexDef>{};
  auto post = [](dbase::Table& t, const std::string& text, int number) {
    t.append();
    t.field("TXT").setText(text);
    t.field("NUM").setInteger(number);
    t.post();
  };
  std::string earlierDbf, earlierMdx;
  {
    dbase::Table t(dir.path(), "MATIB");
    t.create(fields, indexes);
    t.open(dbase::OpenMode::Exclusive);
    for (int i = 0; i < 3; ++i) post(t, "antes" + std::to_string(i), i);
    t.close();
    earlierDbf = test::readFile(dbf);
    if (indexed) earlierMdx = test::readFile(dir / "MATIB.MDX");
  }
  const std::vector<Strings> earlierRows = test::tableRows(dir.path(), "MATIB");

  Target target;
  target.restore = [&] {
    for (const fs::directory_entry& e : fs::directory_iterator(dir.path())) fs::remove(e.path());
    if (!earlier) return;
    test::writeFile(dbf, earlierDbf);
    if (indexed) test::writeFile(dir / "MATIB.MDX", earlierMdx);
  };
  target.operation = [&] {
    dbase::Table t(dir.path(), "MATIB");
    t.create(fields, indexes);
    t.open(dbase::OpenMode::Exclusive);
    for (int i = 0; i < 20; ++i) post(t, "r" + std::to_string(19 - i), i);
    t.close();
    t.open(dbase::OpenMode::Exclusive);
    t.edit();
    t.field("TXT").setText("editado");
    t.post();
    for (int i = 20; i < 25; ++i) post(t, "r" + std::to_string(i), i);
    t.close();
  };
  target.check = [&](const std::string& error, Kind kind) {
    EXPECT_NE(error.find(reason(kind)), std::string::npos) << error;
    EXPECT_NE(error.find(dir.path().string()), std::string::npos) << error;
    EXPECT_EQ(test::temporaryFiles(dir.path()), Strings{});
    const std::string fault = test::tableFault(dbf);
    EXPECT_EQ(fault, "");
    if (!fault.empty() || !fs::exists(dbf)) return;
    // The earlier table whole, or the new one up to some record, the edit made or not.
    const std::vector<Strings> rows = test::tableRows(dir.path(), "MATIB");
    if (earlier && rows == earlierRows) return;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const std::string text = i < 20 ? "r" + std::to_string(19 - i) : "r" + std::to_string(i);
      if (i == 0 && rows[0][0] == "editado") continue;
      EXPECT_EQ(rows[i], (Strings{text, std::to_string(i)})) << "record " << i;
    }
  };
  atEveryWrite(target);
}

TEST_F(FaultMatrix, DbaseTable) {
  for (bool earlier : {false, true}) {
    SCOPED_TRACE(earlier ? "replacing a table" : "a new table");
    tableMatrix(false, earlier);
  }
}

TEST_F(FaultMatrix, DbaseTableWithItsProductionIndex) {
  for (bool earlier : {false, true}) {
    SCOPED_TRACE(earlier ? "replacing a table" : "a new table");
    tableMatrix(true, earlier);
  }
}

TEST_F(FaultMatrix, SolutionFile) {
  test::TempDir work, out;
  test::writeSolutionTables(work.path(), 1000);  // about 190 KB of XML: several writes
  ProgramState state(work.path());
  const fs::path file = out / "SolucioHorari.xml";
  const std::string earlier =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<HORARI>\n  <SESSIONS/>\n</HORARI>\n";
  Target target;
  target.restore = [&] { test::writeFile(file, earlier); };
  target.operation = [&] { exportSolution(state, file); };
  target.check = [&](const std::string& error, Kind kind) {
    EXPECT_NE(error.find("No se pudo escribir"), std::string::npos) << error;
    EXPECT_NE(error.find(file.string()), std::string::npos) << error;
    EXPECT_NE(error.find(reason(kind)), std::string::npos) << error;
    EXPECT_EQ(test::readFile(file), earlier);
    EXPECT_EQ(test::temporaryFiles(out.path()), Strings{});
    EXPECT_FALSE(state.wwTableSoluc.isOpen() || state.wwTableProfesor.isOpen() ||
                 state.wwTableGrupos.isOpen());
  };
  atEveryWrite(target);
}

// The result flag the host reads. The profile writer's message is the one text kept in English,
// as users have always seen it.
TEST_F(FaultMatrix, ResultFlagProfile) {
  test::TempDir dir;
  const fs::path ini = dir / "Horalia.ini";
  const std::string earlier =
      "; Horalia\r\n[Transformadores]\r\nTransformado=0\r\n[Rutas]\r\nTrabajo=C:\\KTEMP\r\n";
  Target target;
  target.restore = [&] { test::writeFile(ini, earlier); };
  target.operation = [&] { writeProfileString(ini, "Transformadores", "Transformado", "-1"); };
  target.check = [&](const std::string& error, Kind) {
    EXPECT_EQ(error.substr(0, error.find('\n')), "Unable to write to " + ini.string() + ".");
    EXPECT_EQ(test::readFile(ini), earlier);
    EXPECT_EQ(test::temporaryFiles(dir.path()), Strings{});
  };
  atEveryWrite(target);
}

}  // namespace
}  // namespace pontix

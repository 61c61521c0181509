#include "platform/dbase/Table.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"
#include "platform/Error.h"
#include "platform/FileIo.h"

namespace pontix::dbase {
namespace {

const std::vector<FieldDef> kAllKinds = {
    {"CORTO", FieldKind::Text, 1},  {"NOMBRE", FieldKind::Text, 100}, {"LARGO", FieldKind::Text, 254},
    {"NUM", FieldKind::Integer, 0}, {"VALOR", FieldKind::Float, 0},   {"ACTIVO", FieldKind::Logical, 0},
};

std::string errorOf(auto&& call) {
  try {
    call();
  } catch (const Error& e) {
    return e.message();
  }
  return "(sin error)";
}

TEST(Table, RoundTripOfEveryFieldKindAtEdgeWidths) {
  test::TempDir dir;
  Table t(dir.path(), "PRUEBA");
  t.create(kAllKinds);
  EXPECT_FALSE(t.isOpen());
  t.open(OpenMode::Shared);
  EXPECT_TRUE(t.eof());

  const std::string full254(254, 'x');
  const std::string high = test::ansi("ÀÉÎÕÜ ñ €");
  t.append();
  EXPECT_EQ(t.state(), TableState::Insert);
  t.field("corto").setText("abc");  // cut to one byte
  t.field("NOMBRE").setText(high);
  t.field("LARGO").setText(full254 + "yz");
  t.field("NUM").setInteger(-2147483648LL);
  t.field("VALOR").setFloat(1234567890123.4567);
  t.field("ACTIVO").setLogical(true);
  t.post();
  EXPECT_EQ(t.state(), TableState::Browse);
  t.append();
  t.field("NOMBRE").setText("  con blancos  ");
  t.field("NUM").setInteger(99999999999LL);
  t.field("VALOR").setFloat(-0.5);
  t.field("ACTIVO").setLogical(false);
  t.post();
  t.append();  // left blank
  t.post();
  t.close();

  t.open(OpenMode::Exclusive);
  ASSERT_FALSE(t.eof());
  EXPECT_EQ(t.field("CORTO").asText(), "a");
  EXPECT_EQ(t.field("NOMBRE").asText(), high);
  EXPECT_EQ(t.field("LARGO").asText(), full254);
  EXPECT_EQ(t.field("NUM").asInteger(), -2147483648LL);
  EXPECT_EQ(t.field("VALOR").asText(), "1234567890123.46");
  EXPECT_DOUBLE_EQ(t.field("VALOR").asFloat(), 1234567890123.4567);
  EXPECT_TRUE(t.field("ACTIVO").asLogical());
  t.next();
  EXPECT_EQ(t.field("NOMBRE").asText(), "  con blancos");
  EXPECT_EQ(t.field("NUM").asText(), "99999999999");
  EXPECT_EQ(t.field("VALOR").asText(), "-0.5");
  EXPECT_EQ(t.field("VALOR").asInteger(), 0);
  EXPECT_FALSE(t.field("ACTIVO").asLogical());
  EXPECT_EQ(t.field("ACTIVO").asText(), "F");
  t.next();
  EXPECT_EQ(t.field("NOMBRE").asText(), "");
  EXPECT_EQ(t.field("NUM").asText(), "");
  EXPECT_EQ(t.field("NUM").asInteger(), 0);
  EXPECT_EQ(t.field("VALOR").asFloat(), 0.0);
  EXPECT_EQ(t.field("ACTIVO").asText(), "");
  EXPECT_FALSE(t.eof());
  t.next();
  EXPECT_TRUE(t.eof());
  EXPECT_EQ(t.field("NUM").asText(), "");  // the last record stays current
  EXPECT_EQ(t.recordCount(), 3u);
}

// One tiny table byte for byte, so the layout cannot drift. Bytes 1-3 are today's date.
TEST(Table, GoldenFileOfATinyTable) {
  test::TempDir dir;
  Table t(dir.path(), "TINY.DBF");
  t.create({{"COD", FieldKind::Text, 4},
            {"N", FieldKind::Integer, 0},
            {"F", FieldKind::Float, 0},
            {"L", FieldKind::Logical, 0}});
  t.open(OpenMode::Shared);
  t.append();
  t.field("COD").setText(test::ansi("Añ"));
  t.field("N").setInteger(7);
  t.field("F").setFloat(2.25);
  t.field("L").setLogical(true);
  t.post();
  t.append();
  t.post();
  t.close();

  std::string golden = test::readFile(std::string(PONTIX_FIXTURES_DIR) + "/golden/TINY.DBF");
  std::string actual = test::readFile(dir / "TINY.DBF");
  ASSERT_EQ(actual.size(), golden.size());
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  EXPECT_EQ(static_cast<unsigned char>(actual[1]), local.tm_year % 256);
  EXPECT_EQ(static_cast<unsigned char>(actual[2]), local.tm_mon + 1);
  EXPECT_EQ(static_cast<unsigned char>(actual[3]), local.tm_mday);
  actual.replace(1, 3, golden.substr(1, 3));
  EXPECT_EQ(actual, golden);
}

TEST(Table, NavigationSkipsDeletedRecordsAndEditWritesInPlace) {
  test::TempDir dir;
  Table t(dir.path(), "NAV");
  t.create({{"C", FieldKind::Text, 3}});
  t.open(OpenMode::Shared);
  for (const char* v : {"uno", "dos", "tre", "cua"}) {
    t.append();
    t.field("C").setText(v);
    t.post();
  }
  t.close();
  // Mark "uno" and "tre" deleted, as another program would.
  std::string bytes = test::readFile(dir / "NAV.DBF");
  const std::size_t header = 32 + 32 + 1, length = 4;
  bytes[header] = '*';
  bytes[header + 2 * length] = '*';
  test::writeFile(dir / "NAV.DBF", bytes);

  t.open(OpenMode::Exclusive);
  std::vector<std::string> seen;
  for (t.first(); !t.eof(); t.next()) seen.push_back(t.field("C").asText());
  EXPECT_EQ(seen, (std::vector<std::string>{"dos", "cua"}));
  t.first();
  t.edit();
  t.field("C").setText("DOS");
  t.next();  // posts
  t.close();
  t.open(OpenMode::Shared);
  EXPECT_EQ(t.field("C").asText(), "DOS");
  EXPECT_EQ(t.recordCount(), 4u);
}

// A grid picks rows by record number: deleted records count, an unposted edit is posted
// first, records appended in this session are reachable too.
TEST(Table, GoMakesARecordCurrentByItsNumber) {
  test::TempDir dir;
  Table t(dir.path(), "GO");
  t.create({{"C", FieldKind::Text, 3}});
  t.open(OpenMode::Shared);
  EXPECT_EQ(t.recordNumber(), 0xFFFFFFFFu);
  for (const char* v : {"uno", "dos", "tre"}) {
    t.append();
    t.field("C").setText(v);
    t.post();
  }
  t.close();
  std::string bytes = test::readFile(dir / "GO.DBF");
  bytes[32 + 32 + 1] = '*';  // "uno" deleted
  test::writeFile(dir / "GO.DBF", bytes);

  t.open(OpenMode::Shared);
  EXPECT_EQ(t.recordNumber(), 1u);
  t.append();
  t.field("C").setText("cua");
  t.post();
  EXPECT_EQ(t.recordNumber(), 3u);
  t.go(2);
  EXPECT_EQ(t.field("C").asText(), "tre");
  t.edit();
  t.field("C").setText("TRE");
  t.go(3);
  EXPECT_EQ(t.state(), TableState::Browse);
  EXPECT_EQ(t.field("C").asText(), "cua");
  t.go(0);
  EXPECT_EQ(t.field("C").asText(), "uno");
  EXPECT_FALSE(t.eof());
  EXPECT_EQ(errorOf([&] { t.go(4); }), "La tabla " + (dir / "GO.DBF").string() + " no tiene el registro 5");
  EXPECT_EQ(t.recordNumber(), 0u);
  t.close();
  t.open(OpenMode::Shared);
  t.go(2);
  EXPECT_EQ(t.field("C").asText(), "TRE");
  t.go(3);
  EXPECT_EQ(t.field("C").asText(), "cua");
}

// Past 65,535 records too, where a record count kept in two bytes would wrap: the engine and an
// independent reader both see every record.
TEST(Table, ManyRecordsCrossTheBuffers) {
  test::TempDir dir;
  Table t(dir.path(), "GRANDE");
  t.create({{"ID", FieldKind::Integer, 0}, {"TXT", FieldKind::Text, 60}});
  t.open(OpenMode::Shared);
  const int n = 66000;  // about 5 MB: several write-behind and read-ahead runs
  for (int i = 0; i < n; ++i) {
    t.append();
    t.field("ID").setInteger(i);
    t.field("TXT").setText("registro " + std::to_string(i));
    t.post();
  }
  t.first();  // reading back while open sees every posted record
  EXPECT_EQ(t.field("ID").asInteger(), 0);
  t.close();
  t.open(OpenMode::Shared);
  int expected = 0;
  for (t.first(); !t.eof(); t.next(), ++expected) {
    ASSERT_EQ(t.field("ID").asInteger(), expected);
    ASSERT_EQ(t.field("TXT").asText(), "registro " + std::to_string(expected));
  }
  EXPECT_EQ(expected, n);
  t.close();

  // dbfread reads records up to the end mark, whatever the header says: both are printed.
  test::CommandResult r =
      test::run(std::string(DEBIAN_PYTHON3) + " -c " +
                test::shellQuote("import dbfread, sys\n"
                                 "t = dbfread.DBF(sys.argv[1], raw=True)\n"
                                 "ids = [int(r['ID']) for r in t]\n"
                                 "print(t.header.numrecords, len(ids), ids == list(range(len(ids))))\n") +
                " " + test::shellQuote((dir / "GRANDE.DBF").string()));
  EXPECT_EQ(r.output, std::to_string(n) + " " + std::to_string(n) + " True\n");
}

TEST(Table, ErrorsNameTheirContext) {
  test::TempDir dir;
  Table t(dir.path(), "PROFT.DBF", "wwTableProfesor");
  t.create({{"CODI", FieldKind::Text, 40}});
  t.open(OpenMode::Shared);
  EXPECT_EQ(errorOf([&] { t.field("NOMBRE"); }), "wwTableProfesor: No se encuentra el campo 'NOMBRE'");
  EXPECT_NE(errorOf([&] { t.field("CODI").setText("x"); }).find("no está en modo de edición"),
            std::string::npos);
  EXPECT_NE(errorOf([&] { t.edit(); }).find("no tiene un registro actual"), std::string::npos);
  t.close();

  Table anonymous(dir.path(), "PROFT");
  anonymous.open(OpenMode::Shared);
  EXPECT_EQ(errorOf([&] { anonymous.field("X"); }), "No se encuentra el campo 'X'");

  Table missing(dir.path(), "AULAT");
  EXPECT_EQ(errorOf([&] { missing.open(OpenMode::Shared); }),
            "No se encuentra la tabla " + (dir / "AULAT.DBF").string());
  Table noFolder(dir / "KTEMP", "AULAT");
  EXPECT_EQ(errorOf([&] { noFolder.open(OpenMode::Shared); }),
            "No existe la carpeta " + (dir / "KTEMP").string());
  EXPECT_EQ(errorOf([&] {
              noFolder.create({{"A", FieldKind::Text, 1}});
            }),
            "No existe la carpeta " + (dir / "KTEMP").string());

  for (const std::vector<FieldDef>& bad :
       std::vector<std::vector<FieldDef>>{{},
                                          {{"NOMBREMUYLARGO", FieldKind::Text, 5}},
                                          {{"A", FieldKind::Text, 0}},
                                          {{"A", FieldKind::Text, 255}},
                                          {{"A", FieldKind::Text, 1}, {"a", FieldKind::Integer, 0}},
                                          {{"1A", FieldKind::Text, 1}}})
    EXPECT_THROW(missing.create(bad), Error);
}

TEST(Table, FileNamesMatchIgnoringCase) {
  test::TempDir dir;
  Table lower(dir.path(), "proft.dbf");
  lower.create({{"CODI", FieldKind::Text, 4}});
  Table upper(dir.path(), "PROFT");
  EXPECT_EQ(upper.filePath(), dir / "proft.dbf");
  upper.open(OpenMode::Shared);
  EXPECT_TRUE(upper.eof());
}

TEST(Table, InjectedWriteFailureIsReportedAndTheFileStaysReadable) {
  test::TempDir dir;
  Table t(dir.path(), "LLENO");
  t.create({{"TXT", FieldKind::Text, 100}});
  t.open(OpenMode::Shared);
  {
    io::ScopedWriteFailure full(250);
    auto fill = [&] {
      for (int i = 0; i < 50; ++i) {
        t.append();
        t.field("TXT").setText("dato");
        t.post();
      }
      t.close();
    };
    std::string message = errorOf(fill);
    EXPECT_NE(message.find((dir / "LLENO.DBF").string()), std::string::npos) << message;
    EXPECT_NE(message.find("no queda espacio en el disco"), std::string::npos) << message;
  }
  EXPECT_FALSE(t.isOpen());
  t.open(OpenMode::Shared);  // a consistent table, never a half-written header
  EXPECT_LE(t.recordCount(), 50u);
}

TEST(Table, DestroyedWhileAnErrorUnwindsKeepsWhatWasPosted) {
  test::TempDir dir;
  try {
    Table t(dir.path(), "ASIGNOMT");
    t.create({{"COD", FieldKind::Text, 10}});
    t.open(OpenMode::Shared);
    for (int i = 0; i < 3; ++i) {
      t.append();
      t.field("COD").setText("C" + std::to_string(i));
      t.post();
    }
    t.append();
    t.field("COD").setText("a medias");
    t.field("NOEXISTE");
  } catch (const Error&) {
  }
  Table back(dir.path(), "ASIGNOMT");
  back.open(OpenMode::Shared);
  EXPECT_EQ(back.recordCount(), 3u);
}

// Runs body in a child process that holds the table open until the parent has checked.
void withTableHeldByAnotherProcess(const std::filesystem::path& dir, OpenMode mode, auto body) {
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int code = 0;
    try {
      Table held(dir, "PROFT");
      held.open(mode);
      char c = 1;
      if (write(ready[1], &c, 1) != 1) code = 2;
      if (read(done[0], &c, 1) != 1) code = 3;
    } catch (...) {
      code = 1;
    }
    _exit(code);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  body();
  ASSERT_EQ(write(done[1], &c, 1), 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
}

TEST(Table, LocksBetweenProcesses) {
  test::TempDir dir;
  Table t(dir.path(), "PROFT");
  t.create({{"CODI", FieldKind::Text, 4}});

  withTableHeldByAnotherProcess(dir.path(), OpenMode::Exclusive, [&] {
    try {
      t.open(OpenMode::Shared);
      ADD_FAILURE() << "opened a table held exclusively";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::Locked);
      EXPECT_EQ(e.message(), "La tabla " + (dir / "PROFT.DBF").string() + " está abierta por otro programa");
      EXPECT_EQ(e.remedy(), kCloseTheOtherProgram);
    }
    EXPECT_THROW(t.create({{"CODI", FieldKind::Text, 4}}), Error);  // never replaced under its feet
  });
  withTableHeldByAnotherProcess(dir.path(), OpenMode::Shared, [&] {
    EXPECT_THROW(t.open(OpenMode::Exclusive), Error);
    t.open(OpenMode::Shared);
    t.close();
  });
  t.open(OpenMode::Exclusive);
}

// Wine shows a Windows program's LockFile to Linux as a POSIX record lock, and fails that
// program's LockFile on a range a Linux program has locked.
TEST(Table, RecordLocksOfWindowsProgramsUnderWineCountBothWays) {
  test::TempDir dir;
  Table t(dir.path(), "PROFT");
  t.create({{"CODI", FieldKind::Text, 4}});
  const std::filesystem::path dbf = dir / "PROFT.DBF";
  const int other = ::open(dbf.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(other, 0);
  auto lockRange = [&](short type, off_t start, off_t length) {
    return io::recordLock(other, type, start, length);
  };

  ASSERT_TRUE(lockRange(F_WRLCK, 33, 5));  // one record, as a dBase program locks it
  for (OpenMode mode : {OpenMode::Shared, OpenMode::Exclusive}) {
    try {
      t.open(mode);
      ADD_FAILURE() << "opened a table with a locked record";
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::Locked);
      EXPECT_EQ(e.message(), "La tabla " + dbf.string() + " está abierta por otro programa");
    }
  }
  EXPECT_THROW(t.create({{"CODI", FieldKind::Text, 4}}), Error);
  EXPECT_FALSE(io::removeUnlessInUse(dbf));
  EXPECT_EQ(io::moveUnlessInUse(dbf, dir / "OTRA.DBF"), io::MoveResult::InUse);
  ASSERT_TRUE(lockRange(F_UNLCK, 0, 0));

  t.open(OpenMode::Exclusive);
  EXPECT_FALSE(lockRange(F_WRLCK, 33, 5));
  EXPECT_FALSE(lockRange(F_RDLCK, 4096, 1));  // past the end too
  t.close();
  t.open(OpenMode::Shared);
  EXPECT_FALSE(lockRange(F_WRLCK, 0, 1));
  EXPECT_TRUE(lockRange(F_RDLCK, 0, 0));  // another reader is welcome
  ASSERT_TRUE(lockRange(F_UNLCK, 0, 0));
  t.close();
  ::close(other);
}

}  // namespace
}  // namespace pontix::dbase

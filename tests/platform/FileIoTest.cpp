#include "platform/FileIo.h"

#include <gtest/gtest.h>

#include <optional>

#include "TestSupport.h"
#include "platform/Error.h"

namespace pontix::io {
namespace {

TEST(AtomicWrite, FailedWriteKeepsTheEarlierFile) {
  test::TempDir dir;
  std::filesystem::path target = dir / "SolucioHorari.xml";
  test::writeFile(target, "antes");
  {
    ScopedWriteFailure full(3);
    try {
      writeFileAtomically(target, "un contenido nuevo y largo");
      FAIL();
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::IOError);
      EXPECT_NE(std::string(e.what()).find("no queda espacio en el disco"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(test::readFile(target), "antes");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  writeFileAtomically(target, "despues");
  EXPECT_EQ(test::readFile(target), "despues");
}

TEST(AtomicWrite, UnwritablePlacesAreErrors) {
  test::TempDir dir;
  EXPECT_THROW(writeFileAtomically(dir / "no" / "x.txt", "x"), Error);
  std::filesystem::create_directory(dir / "carpeta");
  EXPECT_THROW(writeFileAtomically(dir / "carpeta", "x"), Error);
  // A read-only file is kept, even when the folder would allow replacing it.
  test::writeFile(dir / "solo-lectura.xml", "antes");
  std::filesystem::permissions(dir / "solo-lectura.xml", std::filesystem::perms::owner_read);
  EXPECT_THROW(writeFileAtomically(dir / "solo-lectura.xml", "despues"), Error);
  EXPECT_EQ(test::readFile(dir / "solo-lectura.xml"), "antes");
}

std::size_t entries(const std::filesystem::path& dir) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

// Appends small and large, across the buffer: the target changes only at commit, whole.
TEST(AtomicFile, TargetIsReplacedOnlyAtCommit) {
  test::TempDir dir;
  const std::filesystem::path target = dir / "SolucioHorari.xml";
  test::writeFile(target, "antes");
  std::filesystem::permissions(target, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write |
                                           std::filesystem::perms::group_read);
  std::string expected;
  {
    AtomicFile file(target);
    EXPECT_EQ(entries(dir.path()), 2u);
    for (std::size_t n : {1, 7, 40'000, 300'000, 0, 25'000, 3})
      for (int repeat = 0; repeat < 3; ++repeat) {
        std::string chunk(n, static_cast<char>('a' + expected.size() % 26));
        file.append(chunk);
        expected += chunk;
      }
    EXPECT_EQ(test::readFile(target), "antes");
    file.commit();
    EXPECT_THROW(file.append("x"), Error);
  }
  EXPECT_EQ(test::readFile(target), expected);
  EXPECT_EQ(entries(dir.path()), 1u);
  EXPECT_EQ(std::filesystem::status(target).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read);
}

// A full disk at any write, a rename that fails, or no commit at all: the earlier file stays
// and the temporary file goes at once.
TEST(AtomicFile, FailuresKeepTheEarlierFileAndLeaveNoTemporary) {
  test::TempDir dir;
  const std::filesystem::path target = dir / "SolucioHorari.xml";
  const std::string chunk(50'000, 'x');
  using Kind = ScopedWriteFailure::Kind;
  struct Case {
    const char* what;
    std::optional<std::uint64_t> budget;  // bytes the disk takes
    Kind kind;
    const char* message;
  } cases[] = {
      {"disco lleno al empezar", 0, Kind::DiskFull, "no queda espacio en el disco"},
      {"disco lleno a medias", 180'000, Kind::DiskFull, "no queda espacio en el disco"},
      {"disco lleno al final", 499'999, Kind::DiskFull, "no queda espacio en el disco"},
      {"error del disco a medias", 180'000, Kind::DeviceError, "error de entrada/salida del disco"},
      {"sin confirmar", std::nullopt, Kind::DiskFull, nullptr},
  };
  for (const Case& c : cases) {
    test::writeFile(target, "antes");
    std::optional<ScopedWriteFailure> full;
    if (c.budget) full.emplace(*c.budget, c.kind);
    std::string message;
    {
      AtomicFile file(target);
      try {
        for (int i = 0; i < 10; ++i) file.append(chunk);
        if (c.message) file.commit();
      } catch (const Error& e) {
        message = e.message();
        EXPECT_EQ(e.kind(), ErrorKind::IOError) << c.what;
        EXPECT_EQ(entries(dir.path()), 1u) << c.what;  // gone before the error is handled
        EXPECT_THROW(file.append("x"), Error) << c.what;
      }
    }
    // The file named is the one the user knows; the temporary file is gone by now.
    if (c.message) {
      EXPECT_EQ(message, "No se pudo escribir en el archivo '" + target.string() + "': " + c.message)
          << c.what;
    }
    EXPECT_EQ(test::readFile(target), "antes") << c.what;
    EXPECT_EQ(entries(dir.path()), 1u) << c.what;
  }

  // The target became a folder with files in it while the file was being written.
  std::filesystem::remove(target);
  AtomicFile file(target);
  file.append("nuevo");
  std::filesystem::create_directory(target);
  test::writeFile(target / "dentro", "");
  try {
    file.commit();
    ADD_FAILURE() << "sin error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("No se pudo escribir el archivo '" + target.string() + "'"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(entries(dir.path()), 1u);
  EXPECT_TRUE(std::filesystem::is_directory(target));
}

// A full disk refuses only growth and keeps what fits; a device error refuses one whole write,
// rewrites included, and the next one goes through. Each names the file and the reason.
TEST(InjectedFailure, DiskFullRefusesGrowthAndADeviceErrorOneWholeWrite) {
  using Kind = ScopedWriteFailure::Kind;
  test::TempDir dir;
  const std::filesystem::path path = dir / "PROFT.DBF";
  auto refused = [&](File& file, std::uint64_t offset, std::string_view bytes) {
    try {
      file.writeAt(offset, bytes);
      return std::string("(sin error)");
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::IOError);
      // Each says what to do about it.
      EXPECT_TRUE(e.remedy() == "Libere espacio en el disco y vuelva a intentarlo." ||
                  e.remedy() ==
                      "Compruebe el disco (puede estar dañado o desconectado) y vuelva a intentarlo.")
          << e.remedy();
      return e.message();
    }
  };
  const std::string prefix = "No se pudo escribir en el archivo '" + path.string() + "': ";

  test::writeFile(path, "abcdef");
  {
    File file = File::open(path, File::Mode::ReadWrite);
    ScopedWriteFailure full(3, Kind::DiskFull);
    file.writeAt(4, "EFGH");  // two bytes rewritten, two added
    file.writeAt(0, "A");
    EXPECT_EQ(refused(file, 8, "IJ"), prefix + "no queda espacio en el disco");
    EXPECT_EQ(refused(file, 0, "abcdefghIJ"), prefix + "no queda espacio en el disco");
    EXPECT_EQ(full.writes(), (std::vector<std::uint64_t>{2, 0, 2, 1}));
  }
  EXPECT_EQ(test::readFile(path), "abcdefghI");

  test::writeFile(path, "abcdef");
  {
    File file = File::open(path, File::Mode::ReadWrite);
    ScopedWriteFailure broken(5, Kind::DeviceError);
    file.writeAt(0, "AB");
    EXPECT_EQ(refused(file, 2, "CDEF"), prefix + "error de entrada/salida del disco");
    EXPECT_EQ(test::readFile(path), "ABcdef");
    file.writeAt(2, "CDEFGH");
    EXPECT_EQ(broken.writes(), (std::vector<std::uint64_t>{2, 4, 6}));
  }
  EXPECT_EQ(test::readFile(path), "ABCDEFGH");
}

}  // namespace
}  // namespace pontix::io

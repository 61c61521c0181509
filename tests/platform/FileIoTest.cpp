#include "platform/FileIo.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace pontix::io

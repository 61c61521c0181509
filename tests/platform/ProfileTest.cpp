#include "platform/Profile.h"

#include <gtest/gtest.h>

#include <optional>

#include "TestSupport.h"
#include "platform/Error.h"

namespace pontix {
namespace {

struct Case {
  const char* name;
  std::optional<std::string> before;  // nothing: no file
  const char* value;
  std::string after;
};

TEST(ProfileWriter, BehavesAsTheWindowsProfileWriter) {
  const Case cases[] = {
      {"missing file", std::nullopt, "1", "[Transformadores]\r\nTransformado=1\r\n"},
      {"empty file", "", "-1", "[Transformadores]\r\nTransformado=-1\r\n"},
      {"value replaced in place, spelling and the rest kept",
       "; comentario\r\n[Otra]\r\na=b\r\n\r\n[transformadores]\r\n  TRANSFORMADO=0\r\nx=y\r\n", "1",
       "; comentario\r\n[Otra]\r\na=b\r\n\r\n[transformadores]\r\n  TRANSFORMADO=1\r\nx=y\r\n"},
      {"names matched ignoring surrounding blanks", " [ Transformadores ] \nTransformado = 0\n", "1",
       " [ Transformadores ] \nTransformado =1\n"},
      {"new key after the last key line of its section",
       "[Transformadores]\r\nOtro=5\r\n\r\n[Mas]\r\nz=1\r\n", "0",
       "[Transformadores]\r\nOtro=5\r\nTransformado=0\r\n\r\n[Mas]\r\nz=1\r\n"},
      {"new key after a last line without line end", "[Transformadores]\nOtro=5", "1",
       "[Transformadores]\nOtro=5\r\nTransformado=1\r\n"},
      {"comments are not keys", "[Transformadores]\r\n;Transformado=7\r\n", "1",
       "[Transformadores]\r\nTransformado=1\r\n;Transformado=7\r\n"},
      {"new section at the end", "[A]\nb=c", "1", "[A]\nb=c\r\n[Transformadores]\r\nTransformado=1\r\n"},
      // A lone '\r' ends no line: what followed it would join the line and not be found again.
      {"new section after a last line ending in CR alone", "[A]\r\nb=c\r", "1",
       "[A]\r\nb=c\r\n[Transformadores]\r\nTransformado=1\r\n"},
      {"new key after a last line ending in CR alone", "[Transformadores]\nOtro=5\r", "1",
       "[Transformadores]\nOtro=5\r\nTransformado=1\r\n"},
      {"only the first section and its first key",
       "[TRANSFORMADORES]\r\nTransformado=1\r\nTransformado=2\r\n[Transformadores]\r\nTransformado=3\r\n",
       "0",
       "[TRANSFORMADORES]\r\nTransformado=0\r\nTransformado=2\r\n[Transformadores]\r\nTransformado=3\r\n"},
      {"key without a value", "[Transformadores]\r\nTransformado\r\n", "1",
       "[Transformadores]\r\nTransformado=1\r\n"},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    std::filesystem::path ini = dir / "Horalia.ini";
    if (c.before) test::writeFile(ini, *c.before);
    writeProfileString(ini, "Transformadores", "Transformado", c.value);
    EXPECT_EQ(test::readFile(ini), c.after) << c.name;
  }
}

// A UTF-16 file's bytes, byte-order mark first.
std::string utf16(std::u16string_view text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : text) {
    char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return bytes;
}

TEST(ProfileWriter, UnicodeFilesAreEditedInTheirOwnEncoding) {
  const std::string bom = "\xEF\xBB\xBF";
  const Case cases[] = {
      {"UTF-8, section on the first line", bom + "[Transformadores]\r\nTransformado=0\r\n; Año\r\n", "1",
       bom + "[Transformadores]\r\nTransformado=1\r\n; Año\r\n"},
      {"UTF-8, new section with a value beyond ASCII", bom + "[A]\r\nb=ç", "\xF1",
       bom + "[A]\r\nb=ç\r\n[Transformadores]\r\nTransformado=ñ\r\n"},
      {"UTF-16LE, section on the first line",
       utf16(u"[Transformadores]\r\nTransformado=0\r\n; Año 𝄞\r\n", false), "-1",
       utf16(u"[Transformadores]\r\nTransformado=-1\r\n; Año 𝄞\r\n", false)},
      {"UTF-16LE, new section, a lone surrogate kept", utf16(u"[A]\r\nb=\xD800\r\n", false), "\xF1",
       utf16(u"[A]\r\nb=\xD800\r\n[Transformadores]\r\nTransformado=ñ\r\n", false)},
      {"UTF-16LE, only the mark", utf16(u"", false), "1",
       utf16(u"[Transformadores]\r\nTransformado=1\r\n", false)},
      {"UTF-16BE, new key", utf16(u"[transformadores]\r\nOtro=5\r\n", true), "1",
       utf16(u"[transformadores]\r\nOtro=5\r\nTransformado=1\r\n", true)},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    std::filesystem::path ini = dir / "Horalia.ini";
    test::writeFile(ini, *c.before);
    writeProfileString(ini, "Transformadores", "Transformado", c.value);
    EXPECT_EQ(test::readFile(ini), c.after) << c.name;
  }
}

TEST(ProfileWriter, UnwritablePlacesThrowAndLeaveTheFile) {
  test::TempDir dir;
  std::filesystem::path readOnly = dir / "Horalia.ini";
  test::writeFile(readOnly, "[Transformadores]\r\nTransformado=0\r\n");
  std::filesystem::permissions(readOnly,
                               std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  std::filesystem::create_directory(dir / "carpeta.ini");

  // Half a UTF-16 code unit at the end has no place to go.
  const std::string cut = utf16(u"[Transformadores]\r\nTransformado=0\r\n", false) + "[";
  test::writeFile(dir / "cortado.ini", cut);

  for (const std::filesystem::path& target :
       {readOnly, dir / "no-existe" / "Horalia.ini", dir / "carpeta.ini", dir / "cortado.ini"}) {
    try {
      writeProfileString(target, "Transformadores", "Transformado", "1");
      ADD_FAILURE() << target;
    } catch (const Error& e) {
      EXPECT_EQ(e.message(), "Unable to write to " + target.string());
    }
  }
  EXPECT_EQ(test::readFile(readOnly), "[Transformadores]\r\nTransformado=0\r\n");
  EXPECT_EQ(test::readFile(dir / "cortado.ini"), cut);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3);  // no temporary left
}

}  // namespace
}  // namespace pontix

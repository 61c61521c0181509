// Tables crossing to and from independent dBase implementations.

#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"
#include "platform/Error.h"
#include "platform/dbase/DbfFormat.h"
#include "platform/dbase/Table.h"

namespace pontix::dbase {
namespace {

test::CommandResult python(const std::string& script, const std::filesystem::path& cwd) {
  test::writeFile(cwd / "script.py", script);
  return test::run("cd " + test::shellQuote(cwd.string()) + " && " + DEBIAN_PYTHON3 + " script.py");
}

void writeSample(const std::filesystem::path& dir) {
  Table t(dir, "MUESTRA");
  t.create({{"NOMBRE", FieldKind::Text, 12},
            {"NUM", FieldKind::Integer, 0},
            {"VALOR", FieldKind::Float, 0},
            {"ACTIVO", FieldKind::Logical, 0}});
  t.open(OpenMode::Shared);
  t.append();
  t.field("NOMBRE").setText(test::ansi("Añó, \"€\""));
  t.field("NUM").setInteger(-42);
  t.field("VALOR").setFloat(3.25);
  t.field("ACTIVO").setLogical(true);
  t.post();
  t.append();
  t.field("NOMBRE").setText("Sala gran");
  t.field("ACTIVO").setLogical(false);
  t.post();
  t.close();
}

TEST(Interop, DbfreadAndDbfDumpReadOurTables) {
  test::TempDir dir;
  writeSample(dir.path());
  test::CommandResult r = python(
      "import dbfread, json\n"
      "t = dbfread.DBF('MUESTRA.DBF', encoding='cp1252')\n"
      "print(json.dumps([[f.name, f.type, f.length, f.decimal_count] for f in t.fields]))\n"
      "print(json.dumps([list(r.values()) for r in t], ensure_ascii=False))\n",
      dir.path());
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_EQ(r.output,
            "[[\"NOMBRE\", \"C\", 12, 0], [\"NUM\", \"N\", 11, 0], [\"VALOR\", \"N\", 20, 4], [\"ACTIVO\", "
            "\"L\", 1, 0]]\n"
            "[[\"Añó, \\\"€\\\"\", -42, 3.25, true], [\"Sala gran\", null, null, false]]\n");

  r = test::run(std::string(DBF_DUMP) + " " + test::shellQuote((dir / "MUESTRA.DBF").string()));
  ASSERT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find(":-42:3.25:1\n"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("\nSala gran:::0\n"), std::string::npos) << r.output;
}

TEST(Interop, CliDumpsAsUtf8Csv) {
  test::TempDir dir;
  writeSample(dir.path());
  test::CommandResult r =
      test::run(test::cli(PONTIX_CLI) + " volcar " + test::shellQuote((dir / "MUESTRA.DBF").string()));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, "NOMBRE,NUM,VALOR,ACTIVO\n\"Añó, \"\"€\"\"\",-42,3.25,T\nSala gran,,,F\n");
  EXPECT_EQ(
      test::run(test::cli(PONTIX_CLI) + " volcar " + test::shellQuote((dir / "NADA.DBF").string())).exitCode,
      1);
  EXPECT_EQ(test::run(test::cli(PONTIX_CLI) + " volcar").exitCode, 2);
}

TEST(Interop, ReadsTablesWrittenByPythonDbf) {
  for (const char* kind : {"db3", "fp", "vfp"}) {
    test::TempDir dir;
    std::string extra = std::string(kind) == "vfp" ? "; ENT I; DBL B" : "";
    std::string extraValues = std::string(kind) == "vfp" ? ", 7, 2.5" : "";
    test::CommandResult r = python(
        "import dbf\n"
        "t = dbf.Table('otro', 'NOMBRE C(10); NUM N(5,0); VAL N(8,2); ACT L; FECHA D; NOTA M" +
            extra + "', dbf_type='" + kind +
            "', codepage='cp1252')\n"
            "t.open(dbf.READ_WRITE)\n"
            "t.append(('Año', 12, 3.25, True, dbf.Date(2024, 1, 2), 'una nota'" +
            extraValues +
            "))\n"
            "t.append(('Borrado', 1, 0, False, None, ''" +
            (extra.empty() ? std::string() : ", 0, 0") +
            "))\n"
            "dbf.delete(t[-1])\n"
            "t.append()\n"
            "t.close()\n",
        dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.output;
    Table t(dir.path(), "OTRO");  // python-dbf writes "otro.dbf": found ignoring case
    t.open(OpenMode::Shared);
    ASSERT_FALSE(t.eof()) << kind;
    EXPECT_EQ(t.field("NOMBRE").asText(), test::ansi("Año")) << kind;
    EXPECT_EQ(t.field("NUM").asInteger(), 12) << kind;
    EXPECT_DOUBLE_EQ(t.field("VAL").asFloat(), 3.25) << kind;
    EXPECT_TRUE(t.field("ACT").asLogical()) << kind;
    EXPECT_EQ(t.field("FECHA").asText(), "20240102") << kind;
    t.next();  // the deleted record is not visited
    ASSERT_FALSE(t.eof()) << kind;
    EXPECT_EQ(t.field("NOMBRE").asText(), "") << kind;
    EXPECT_EQ(t.field("NUM").asText(), "") << kind;
    t.next();
    EXPECT_TRUE(t.eof()) << kind;
    EXPECT_EQ(t.recordCount(), 3u);
  }
}

// dBase 7: 68-byte header with a language driver name, 48-byte field descriptors.
TEST(Interop, ReadsDbase7Tables) {
  struct F {
    const char* name;
    char type;
    int width, decimals;
  } fields[] = {{"NOMBRE_LARGO_DE_CAMPO", 'C', 8, 0},
                {"ID", 'I', 4, 0},
                {"CANTIDAD", 'N', 6, 2},
                {"CUANDO", '@', 8, 0},
                {"OK", 'L', 1, 0}};
  const std::size_t header = 68 + 48 * std::size(fields) + 1, length = 1 + 8 + 4 + 6 + 8 + 1;
  std::string h(68, '\0');
  h[0] = 0x04;
  h[1] = 124, h[2] = 5, h[3] = 1;
  format::putU32(h, 4, 2);
  format::putU16(h, 8, static_cast<std::uint16_t>(header));
  format::putU16(h, 10, static_cast<std::uint16_t>(length));
  h[29] = 0x57;
  h.replace(32, 7, "DBWINWE");
  for (const F& f : fields) {
    std::string d(48, '\0');
    d.replace(0, std::strlen(f.name), f.name);
    d[32] = f.type;
    d[33] = static_cast<char>(f.width);
    d[34] = static_cast<char>(f.decimals);
    h += d;
  }
  h += '\x0D';
  std::string r1 = std::string(" ") + "Pere    " + std::string("\x80\0\0\x01", 4) + "  1.50" +
                   std::string(8, '\x01') + "Y";
  std::string r2 =
      std::string("*") + "Borrado " + std::string(4, '\0') + "  0.00" + std::string(8, '\0') + "N";
  ASSERT_EQ(r1.size(), length);
  test::TempDir dir;
  test::writeFile(dir / "DB7.DBF", h + r1 + r2 + "\x1A");

  Table t(dir.path(), "DB7");
  t.open(OpenMode::Shared);
  EXPECT_EQ(t.fieldCount(), 5u);
  EXPECT_EQ(t.fieldAt(0).name(), "NOMBRE_LARGO_DE_CAMPO");
  EXPECT_EQ(t.field("nombre_largo_de_campo").asText(), "Pere");
  EXPECT_EQ(t.field("CANTIDAD").asText(), "1.5");
  EXPECT_TRUE(t.field("OK").asLogical());
  EXPECT_THROW(t.field("ID").asText(), Error);  // not a type the converter reads
  t.next();
  EXPECT_TRUE(t.eof());
}

}  // namespace
}  // namespace pontix::dbase

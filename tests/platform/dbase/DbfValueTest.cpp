#include "platform/dbase/DbfValue.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/Error.h"

namespace pontix::dbase::value {
namespace {

FieldLayout field(char type, int width, int decimals = 0) {
  FieldLayout f;
  f.name = "CAMPO";
  f.type = type;
  f.width = width;
  f.decimals = decimals;
  return f;
}

std::string written(const FieldLayout& f, auto write) {
  std::string bytes(static_cast<std::size_t>(f.width), '#');
  write(std::span<char>(bytes));
  return bytes;
}

TEST(DbfValue, ReadingNumbersAsText) {
  const FieldLayout integer = field('N', 11), real = field('N', 20, 4);
  struct Case {
    const FieldLayout& f;
    const char* stored;
    const char* text;
  } cases[] = {
      {integer, "         42", "42"},
      {integer, "        -7 ", "-7"},
      {integer, "           ", ""},
      {real, "              3.5000", "3.5"},
      {real, "             -0.2500", "-0.25"},
      {real, "              0.0000", "0"},
      {real, "      1234567.1234  ", "1234567.1234"},
      {real, "                    ", ""},
      {field('F', 20, 2), "    123456789012.00 ", "123456789012"},
      {field('N', 20), "12345678901234567890", "1.23456789012346E19"},
  };
  for (const Case& c : cases) EXPECT_EQ(readText(c.f, c.stored), c.text) << c.stored;
  EXPECT_THROW(readText(integer, "    12a    "), Error);
}

TEST(DbfValue, GeneralFormOfFloats) {
  struct Case {
    double v;
    const char* text;
  } cases[] = {
      {0.1, "0.1"},
      {2.0 / 3.0, "0.666666666666667"},
      {-2.5, "-2.5"},
      {1e15, "1E15"},
      {123456789012345.0, "123456789012345"},
      {0.00001, "0.00001"},
      {0.000001, "1E-6"},
      {-1.25e-7, "-1.25E-7"},
      {0.000123456789012345, "0.000123456789012345"},
  };
  for (const Case& c : cases) EXPECT_EQ(formatGeneral(c.v, '.'), c.text) << c.v;
  EXPECT_EQ(formatGeneral(-3.75, ','), "-3,75");
}

TEST(DbfValue, IntegerReadRoundsHalvesToEven) {
  const FieldLayout real = field('N', 20, 4);
  struct Case {
    const char* stored;
    std::int64_t v;
  } cases[] = {
      {"              2.5000", 2}, {"              3.5000", 4}, {"             -2.5000", -2},
      {"              2.5001", 3}, {"              0.4999", 0}, {"                    ", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(readInteger(real, c.stored), c.v) << c.stored;
  EXPECT_EQ(readInteger(field('N', 11), "-2147483648"), -2147483648LL);
  EXPECT_DOUBLE_EQ(readFloat(real, "             -1.2500"), -1.25);
  EXPECT_THROW(readFloat(field('C', 3), "abc"), Error);
}

TEST(DbfValue, WritingFields) {
  const FieldLayout text = field('C', 5), integer = field('N', 11), real = field('N', 20, 4),
                    logical = field('L', 1);
  EXPECT_EQ(written(text, [&](auto b) { writeText(text, b, "abcdefg"); }), "abcde");
  EXPECT_EQ(written(text, [&](auto b) { writeText(text, b, "ab"); }), "ab   ");
  EXPECT_EQ(written(text, [&](auto b) { writeText(text, b, ""); }), "     ");
  EXPECT_EQ(written(integer, [&](auto b) { writeInteger(integer, b, 42); }), "         42");
  EXPECT_EQ(written(integer, [&](auto b) { writeInteger(integer, b, -2147483648LL); }), "-2147483648");
  EXPECT_EQ(written(integer, [&](auto b) { writeText(integer, b, " 17 "); }), "         17");
  EXPECT_EQ(written(integer, [&](auto b) { writeText(integer, b, ""); }), "           ");
  EXPECT_EQ(written(real, [&](auto b) { writeFloat(real, b, 3.14159); }), "              3.1416");
  EXPECT_EQ(written(real, [&](auto b) { writeFloat(real, b, -0.00001); }), "              0.0000");
  EXPECT_EQ(written(real, [&](auto b) { writeText(real, b, "1.5"); }), "              1.5000");
  EXPECT_EQ(written(real, [&](auto b) { writeInteger(real, b, 7); }), "              7.0000");
  EXPECT_EQ(written(logical, [&](auto b) { writeLogical(logical, b, true); }), "T");
  EXPECT_EQ(written(logical, [&](auto b) { writeText(logical, b, "no"); }), "F");

  std::string eleven(11, ' ');
  EXPECT_THROW(writeInteger(integer, eleven, 123456789012LL), Error);  // does not fit: never cut a number
  EXPECT_THROW(writeText(integer, eleven, "doce"), Error);
  EXPECT_THROW(writeFloat(integer, eleven, std::nan("")), Error);
  EXPECT_THROW(writeLogical(integer, eleven, true), Error);
  std::string five(5, ' ');
  EXPECT_THROW(writeFloat(text, five, 1.0), Error);
}

TEST(DbfValue, Logicals) {
  const FieldLayout logical = field('L', 1);
  for (const char* t : {"T", "t", "Y", "y"}) EXPECT_TRUE(readLogical(logical, t)) << t;
  for (const char* f : {"F", "f", "N", "n", " ", "?"}) EXPECT_FALSE(readLogical(logical, f)) << f;
  EXPECT_EQ(readText(logical, "T"), "T");
  EXPECT_EQ(readText(logical, "n"), "F");
  EXPECT_EQ(readText(logical, " "), "");
}

}  // namespace
}  // namespace pontix::dbase::value

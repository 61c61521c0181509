#include "app/RunMode.h"

#include <gtest/gtest.h>

namespace pontix {
namespace {

TEST(RunMode, HostHandleIsHexadecimalWrappingToSigned32Bits) {
  struct Case {
    const char* argument;
    std::optional<std::int32_t> handle;
  };
  const Case cases[] = {
      {"1a2B", 0x1A2B},
      {"1A2b", 0x1A2B},
      {"0", 0},
      {"7FFFFFFF", 0x7FFFFFFF},
      {"80000000", INT32_MIN},
      {"FFFFFFFF", -1},
      {"000000001C00007", 0x1C00007},  // leading zeros are not significant
      {"100000000", std::nullopt},     // nine digits
      {"0x12", std::nullopt},
      {"", std::nullopt},
      {"12 ", std::nullopt},
      {" 12", std::nullopt},
      {"-1", std::nullopt},
      {"+1", std::nullopt},
      {"G1", std::nullopt},
      {"$12", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(parseHostHandle(c.argument), c.handle) << '"' << c.argument << '"';
  EXPECT_EQ(invalidHandleText("0x12"), "'$0x12' no es un valor entero válido");
}

TEST(RunMode, OperationNamesIgnoreTheCaseOfAToZOnly) {
  struct Case {
    const char* argument;
    bool exportar;
    bool importar;
  };
  const Case cases[] = {
      {"exportar", true, false},          {"EXPORTAR", true, false}, {"Exportar", true, false},
      {"importar", false, true},          {"ImPoRtAr", false, true}, {"exportar ", false, false},
      {" exportar", false, false},        {"export", false, false},  {"", false, false},
      {"EXPORTAR\xC3\x89", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(namesOperation(c.argument, "exportar"), c.exportar) << c.argument;
    EXPECT_EQ(namesOperation(c.argument, "importar"), c.importar) << c.argument;
  }
}

}  // namespace
}  // namespace pontix

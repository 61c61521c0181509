#include "platform/AnsiText.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace pontix::ansi {
namespace {

std::string utf8Of(char32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (cp >> 18));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

// The two tables of the measured best-fit data, read independently of the generator.
struct BestFit {
  std::map<int, int> mb;  // byte -> unit
  std::map<int, int> wc;  // unit -> byte
};

BestFit loadBestFit() {
  std::ifstream in(std::string(PONTIX_DATA_DIR) + "/bestfit1252.txt");
  BestFit t;
  std::map<int, int>* section = nullptr;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("MBTABLE", 0) == 0)
      section = &t.mb;
    else if (line.rfind("WCTABLE", 0) == 0)
      section = &t.wc;
    else if (line.rfind("ENDCODEPAGE", 0) == 0)
      section = nullptr;
    else if (section && line.rfind("0x", 0) == 0) {
      std::istringstream fields(line);
      std::string a, b;
      fields >> a >> b;
      (*section)[std::stoi(a, nullptr, 16)] = std::stoi(b, nullptr, 16);
    }
  }
  return t;
}

TEST(AnsiConversion, EveryBmpCodeUnitMatchesTheMeasuredTable) {
  BestFit t = loadBestFit();
  ASSERT_EQ(t.mb.size(), 256u);
  ASSERT_EQ(t.wc.size(), 698u);
  for (char32_t cp = 0; cp < 0x10000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    auto it = t.wc.find(static_cast<int>(cp));
    std::string expected(1, it == t.wc.end() ? '?' : static_cast<char>(it->second));
    ASSERT_EQ(fromUtf8(utf8Of(cp)), expected) << "U+" << std::hex << static_cast<int>(cp);
  }
  for (int b = 0; b < 256; ++b)
    ASSERT_EQ(toUtf8(std::string(1, static_cast<char>(b))), utf8Of(static_cast<char32_t>(t.mb[b]))) << b;
}

TEST(AnsiConversion, BestFitsAndReplacements) {
  struct Case {
    const char* utf8;
    const char* ansi;
  } cases[] = {
      {"Łódź",
       "L\xF3"
       "dz"},                    // Ł and ź have best fits, ó is in the code page
      {"a\u2010b", "a-b"},       // hyphen
      {"\uFF21\uFF42", "Ab"},    // fullwidth forms
      {"\u20AC 5", "\x80 5"},    // euro sign
      {"\u0394", "?"},           // Greek capital delta: no best fit
      {"x\U0001F600y", "x??y"},  // beyond the BMP: one '?' per UTF-16 unit
      {"\xC3", "?"},             // truncated sequence
      {"\xED\xA0\x80", "?"},     // encoded surrogate
      {"\xC0\xAF", "??"},        // overlong form: two bad bytes
  };
  for (const Case& c : cases) EXPECT_EQ(fromUtf8(c.utf8), c.ansi) << c.utf8;
  EXPECT_EQ(toUtf8("\x81\x8D\x8F\x90\x9D"), "\u0081\u008D\u008F\u0090\u009D");
  EXPECT_EQ(toUtf8("Espa\xF1"
                   "a \x80"),
            "España €");
}

TEST(AnsiTrim, RemovesControlsAndBlanksAtTheEndsOnly) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"  abc  ", "abc"},   {"\t\r\n abc\x01\x1F", "abc"},
      {"a b\tc", "a b\tc"}, {"\u00A0abc\u00A0", "\u00A0abc\u00A0"},  // no-break space stays
      {" \t\n", ""},        {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(trimControls(c.in), c.out) << c.in;
}

// compare_ignorecase_rules.tsv: every equality the platform comparison finds among single
// bytes, and the expansions. Everything not listed must compare unequal.
TEST(AnsiIgnoreCase, MatchesTheMeasuredRules) {
  std::ifstream in(std::string(PONTIX_DATA_DIR) + "/compare_ignorecase_rules.tsv");
  std::string line;
  std::getline(in, line);  // header
  std::set<std::pair<int, int>> equalPairs;
  int rules = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind, a, b;
    std::getline(fields, kind, '\t');
    std::getline(fields, a, '\t');
    std::getline(fields, b, '\t');
    std::string left(1, static_cast<char>(std::stoi(a, nullptr, 16)));
    std::string right;
    if (b != "-") {
      std::istringstream bytes(b);
      std::string hex;
      while (bytes >> hex) right += static_cast<char>(std::stoi(hex, nullptr, 16));
    }
    EXPECT_TRUE(equalsIgnoreCase(left, right)) << line;
    EXPECT_EQ(foldCase(left), foldCase(right)) << line;
    if (kind == "pair")
      equalPairs.insert({static_cast<unsigned char>(left[0]), static_cast<unsigned char>(right[0])});
    ++rules;
  }
  EXPECT_EQ(rules, 90);
  for (int a = 0; a < 256; ++a)
    for (int b = a + 1; b < 256; ++b) {
      if (equalPairs.count({a, b})) continue;
      ASSERT_FALSE(
          equalsIgnoreCase(std::string(1, static_cast<char>(a)), std::string(1, static_cast<char>(b))))
          << std::hex << a << " " << b;
    }
}

TEST(AnsiIgnoreCase, WholeTexts) {
  EXPECT_TRUE(equalsIgnoreCase("MATEMATI1", "matemati1"));
  EXPECT_TRUE(equalsIgnoreCase(fromUtf8("ÉSSER"), fromUtf8("ésser")));
  EXPECT_TRUE(equalsIgnoreCase(fromUtf8("Straße"), "STRASSE"));
  EXPECT_TRUE(
      equalsIgnoreCase("AB\xAD"
                       "C",
                       "abc"));
  EXPECT_FALSE(equalsIgnoreCase(fromUtf8("é"), "e"));
  EXPECT_FALSE(equalsIgnoreCase("a b", "a\tb"));
  EXPECT_FALSE(equalsIgnoreCase("a b",
                                "a\xA0"
                                "b"));
  EXPECT_FALSE(equalsIgnoreCase("ab", "ab "));
}

TEST(AnsiIgnoreCase, ByteForByteFoldingOnlyJoinsTextsEqualIgnoringCase) {
  int joined = 0;
  for (int a = 0; a < 256; ++a)
    for (int b = a + 1; b < 256; ++b) {
      const std::string left(1, static_cast<char>(a)), right(1, static_cast<char>(b));
      if (foldCaseKeepingLength(left) != foldCaseKeepingLength(right)) continue;
      ++joined;
      EXPECT_TRUE(equalsIgnoreCase(left, right)) << std::hex << a << " " << b;
    }
  EXPECT_EQ(joined, 26 + 30 + 4 + 1);  // A-Z, À-Þ but ×, Š Ž Ÿ Œ, the caret pair
  EXPECT_EQ(foldCaseKeepingLength(fromUtf8("STRAßE Æ")).size(), 8u);
  EXPECT_NE(foldCaseKeepingLength(fromUtf8("ß")), foldCaseKeepingLength("ss"));
}

}  // namespace
}  // namespace pontix::ansi

// Writing path lists as JSON.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "pathlist/path_list.h"

namespace {

using clipfiles::encodePathList;
using clipfiles::FileURLPaths;
using clipfiles::InvalidPathError;

std::string encode(const std::vector<std::string>& paths) {
  FileURLPaths urls;
  for (const std::string& path : paths) urls.add(path);
  return std::string(encodePathList(clipfiles::makePathList(urls)).view());
}

struct ExactCase {
  const char* name;
  std::vector<std::string> paths;
  const char* json;
};
void PrintTo(const ExactCase& c, std::ostream* os) {
  *os << c.name;
}

const ExactCase exactCases[] = {
    {"Empty", {}, "[]"},
    {"TwoFiles", {"/tmp/a.txt", "/tmp/b c.txt"}, R"(["\/tmp\/a.txt","\/tmp\/b c.txt"])"},
    {"QuoteAndBackslash", {R"(/a"b\c)"}, R"(["\/a\"b\\c"])"},
    {"NamedControlEscapes", {"\b\f\n\r\t"}, R"(["\b\f\n\r\t"])"},
    {"OtherControlsAsUnicodeEscapes", {"\x01\x1f\x7f"}, "[\"\\u0001\\u001f\x7f\"]"},
    // Long enough for the writer's blocks, with every kind of byte at every place in them.
    {"LongPathsWithEscapesAcrossBlocks",
     {"/home/user/Documents/\"quoted\"/back\\slash/caf\xc3\xa9/\x01/a/b/c/d/e/f/g/h/i/j/k",
      "////////////////////////////////////", "/abcdefghijklmnopqrstuvwxyz0123456789/x"},
     R"(["\/home\/user\/Documents\/\"quoted\"\/back\\slash\/café\/\u0001\/a\/b\/c\/d\/e\/f\/g\/h\/i\/j\/k",)"
     R"("\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/\/",)"
     R"("\/abcdefghijklmnopqrstuvwxyz0123456789\/x"])"},
    {"NonAsciiRaw", {"/café/日本/📁"}, R"(["\/café\/日本\/📁"])"},
    {"Duplicates", {"/a", "/a"}, R"(["\/a","\/a"])"},
    {"EmptyString", {""}, R"([""])"},
};

class EncodeExact : public ::testing::TestWithParam<ExactCase> {};

TEST_P(EncodeExact, WritesTheExactBytes) {
  EXPECT_EQ(encode(GetParam().paths), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(Cases, EncodeExact, ::testing::ValuesIn(exactCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Escapes that outgrow the writer's first guess at the text's size, which allows for a "/" in
// every eighth byte: the text grows as often as it must and loses nothing.
TEST(EncodePathList, OutgrowsItsFirstGuess) {
  std::string path;
  std::string expected = "[\"";
  for (int i = 0; i < 1000; ++i) {
    path += "\x01/";
    expected += "\\u0001\\/";
  }
  EXPECT_EQ(encode({path, "/a"}), expected + "\",\"\\/a\"]");
}

// A random path of well-formed UTF-8, weighted towards the characters that need care.
std::string randomPath(std::mt19937& random) {
  static const std::vector<char32_t> special{'/',    '"',     '\\',     1,      0x1f,   0x7f,
                                             0x80,   0x7ff,   0x800,    0xd7ff, 0xe000, 0xfffd,
                                             0xffff, 0x10000, 0x10ffff, 0x2028};
  std::string path;
  const int length = static_cast<int>(random() % 64);
  for (int i = 0; i < length; ++i) {
    char32_t c = 0;
    switch (random() % 4) {
      case 0: c = special[random() % special.size()]; break;
      case 1: c = static_cast<char32_t>(random() % 0x7f + 1); break;
      default:
        do c = static_cast<char32_t>(random() % 0x110000);
        while (c >= 0xd800 && c <= 0xdfff);
    }
    if (c < 0x80) {
      path += static_cast<char>(c);
    } else if (c < 0x800) {
      path += {static_cast<char>(0xc0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3f))};
    } else if (c < 0x10000) {
      path += {static_cast<char>(0xe0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3f)),
               static_cast<char>(0x80 | (c & 0x3f))};
    } else {
      path += {static_cast<char>(0xf0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3f)),
               static_cast<char>(0x80 | ((c >> 6) & 0x3f)), static_cast<char>(0x80 | (c & 0x3f))};
    }
  }
  return path;
}

// Whatever valid paths go in, an independent decoder gets exactly them back, and the text
// has no bare "/" and nothing after the closing bracket.
TEST(EncodePathList, RoundTripsThroughAnIndependentDecoder) {
  std::mt19937 random(20261210);
  for (int round = 0; round < 500; ++round) {
    std::vector<std::string> paths(random() % 6);
    for (std::string& path : paths) path = randomPath(random);
    const std::string json = encode(paths);
    SCOPED_TRACE(json);
    EXPECT_EQ(nlohmann::json::parse(json).get<std::vector<std::string>>(), paths);
    EXPECT_EQ(json.back(), ']');
    for (std::size_t at = json.find('/'); at != std::string::npos; at = json.find('/', at + 1)) {
      // A "/" is escaped exactly when an odd number of backslashes stands before it.
      std::size_t backslashes = 0;
      while (backslashes < at && json[at - 1 - backslashes] == '\\') ++backslashes;
      EXPECT_EQ(backslashes % 2, 1u) << "bare / at " << at;
    }
  }
}

struct InvalidCase {
  const char* name;
  std::string path;
  const char* shown;  // how the message shows the path
};
void PrintTo(const InvalidCase& c, std::ostream* os) {
  *os << c.name;
}

const InvalidCase invalidCases[] = {
    {"Latin1Byte", "/tmp/caf\xe9.txt", R"("/tmp/caf\xe9.txt")"},
    {"LoneContinuation", "/a\x80", R"("/a\x80")"},
    {"Overlong", "/\xc0\xaf", R"("/\xc0\xaf")"},
    {"OverlongThreeBytes", "/\xe0\x80\xaf", R"("/\xe0\x80\xaf")"},
    {"Surrogate", "/\xed\xa0\x80", R"("/\xed\xa0\x80")"},
    {"AboveUnicode", "/\xf4\x90\x80\x80", R"("/\xf4\x90\x80\x80")"},
    {"Truncated", "/\xe2\x82", R"("/\xe2\x82")"},
    {"ControlsAndBackslashShownEscaped", "/\x1b[31m\\\xff", R"("/\x1b[31m\\\xff")"},
    {"C1ControlShownEscaped",
     "/\xc2\x9b"
     "31m\xff",
     R"("/\xc2\x9b31m\xff")"},
    {"ValidPartsShownAsTheyAre", "/café/\xff", R"("/café/\xff")"},
};

class EncodeInvalid : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(EncodeInvalid, RefusesPathsThatAreNotUtf8) {
  try {
    encode({"/fine", GetParam().path});
    FAIL() << "no error";
  } catch (const InvalidPathError& error) {
    EXPECT_EQ(std::string(error.what()),
              std::string("cannot write the file list as JSON: the path ") + GetParam().shown +
                  " is not valid UTF-8");
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, EncodeInvalid, ::testing::ValuesIn(invalidCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

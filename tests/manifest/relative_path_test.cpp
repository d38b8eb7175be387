#include "manifest/relative_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvanta {
namespace {

using namespace std::string_literals;

struct Accepted {
  std::string input;
  std::string normal;
};

TEST(RelativePath, AcceptsAndNormalisesTheseForms) {
  const std::vector<Accepted> cases = {
      {"readme.txt", "readme.txt"},
      {"a\\b\\c.txt", "a/b/c.txt"},
      {"a/b", "a/b"},
      {"a/b/", "a/b"},
      {"a\\b\\", "a/b"},
      {"a\\b/", "a/b"},
      {"Data/Game.PAK", "Data/Game.PAK"},
      {"1:x", "1:x"},
      {":x", ":x"},
      {"ab:c", "ab:c"},
      {"a/b:c", "a/b:c"},
      {"a/.../b", "a/.../b"},
      {"a/.b/c", "a/.b/c"},
      {"...", "..."},
      {". /x", ". /x"},
      {"a/. ", "a/. "},
      {"a/.. ", "a/.. "},
      {"a b/c d.txt", "a b/c d.txt"},
      {"\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.pak", "\xC3\xA9t\xC3\xA9/\xE6\x97\xA5\xE6\x9C\xAC.pak"},
      {"\xFF\xFE/\x80", "\xFF\xFE/\x80"},                // not UTF-8 at all: bytes pass unchanged
      {"a\x01\x1f/b\x7f", "a\x01\x1f/b\x7f"},            // control bytes
      {"a\0b/c"s, "a\0b/c"s},                            // an embedded NUL is not a terminator here
      {"x", "x"},
      {"x/", "x"},
      {"\\x\\"s.substr(1), "x"},                         // "x\" with a trailing backslash
      {"CON", "CON"},                                    // device names are the caller's business
      {"a/b.", "a/b."},
      {"@:/x", "@:/x"},                                  // '@' and '[' sit right beside the letters
      {"[:/x", "[:/x"},
      {"`:/x", "`:/x"},
      {"{:/x", "{:/x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.input));
    const auto normal = normalize_relative_path(c.input);
    ASSERT_TRUE(normal.has_value());
    EXPECT_EQ(*normal, c.normal);
  }
}

TEST(RelativePath, RefusesTheseForms) {
  const std::vector<std::string> cases = {
      "",
      "/",
      "\\",
      "//",
      "\\\\",
      "/a",
      "\\a",
      "\\\\server\\share\\x",
      "//server/share/x",
      "\\\\?\\C:\\x",
      "\\\\.\\PhysicalDrive0",
      "D:",
      "D:/x",
      "D:x",
      "d:\\x",
      "a:b",
      "Z:",
      "z:..",
      "a//b",
      "a\\\\b",
      "a/\\b",
      "a/b//",
      "a\\b\\\\",
      "./a",
      ".\\a",
      "a/./b",
      "a/.",
      "a/..",
      "../a",
      "..\\a",
      "..",
      ".",
      "./",
      "../",
      "a/../b",
      "a/b/..\\..\\..\\Windows\\System32\\x.dll",
      "a/../../etc/passwd",
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c));
    EXPECT_FALSE(normalize_relative_path(c).has_value());
  }
}

TEST(RelativePath, TheNormalFormIsUniqueAcrossSeparatorStyles) {
  EXPECT_EQ(normalize_relative_path("a\\b"), normalize_relative_path("a/b"));
  EXPECT_EQ(normalize_relative_path("a/b/"), normalize_relative_path("a/b"));
  EXPECT_EQ(normalize_relative_path("a\\b\\"), normalize_relative_path("a/b"));
}

TEST(RelativePath, AnAcceptedPathIsItsOwnNormalForm) {
  for (const std::string input : {"a\\b\\c.txt", "a/b/", "Data/Game.PAK", "x\\"}) {
    const auto once = normalize_relative_path(input);
    ASSERT_TRUE(once.has_value());
    EXPECT_EQ(normalize_relative_path(*once), once);
  }
}

TEST(RelativePath, HasNoLimitOnLengthOrDepth) {
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "segment\\";
  const auto normal = normalize_relative_path(deep);
  ASSERT_TRUE(normal.has_value());
  EXPECT_EQ(normal->size(), deep.size() - 1);
  EXPECT_EQ(normal->find('\\'), std::string::npos);
  EXPECT_NE(normal->back(), '/');
}

}  // namespace
}  // namespace korvanta

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
    EXPECT_EQ(normalize_relative_path(*normal), normal);  // the normal form is its own
  }
}

TEST(RelativePath, RefusesTheseForms) {
  const std::vector<std::string> cases = {
      // Empty, rooted and share paths.
      "", "/", "\\", "//", "\\\\", "/a", "\\a", "\\\\server\\share\\x", "//server/share/x", "\\\\?\\C:\\x",
      "\\\\.\\PhysicalDrive0",
      // A drive letter in any form.
      "D:", "D:/x", "D:x", "d:\\x", "a:b", "Z:", "z:..",
      // Empty segments.
      "a//b", "a\\\\b", "a/\\b", "a/b//", "a\\b\\\\",
      // Dot segments.
      "./a", ".\\a", "a/./b", "a/.", "a/..", "../a", "..\\a", "..", ".", "./", "../", "a/../b",
      "a/b/..\\..\\..\\Windows\\System32\\x.dll", "a/../../etc/passwd",
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c));
    EXPECT_FALSE(normalize_relative_path(c).has_value());
  }
}

TEST(RelativePath, HasNoLimitOnLengthOrDepth) {
  std::string deep, normal;
  for (int i = 0; i < 5000; ++i) deep += "segment\\";
  for (int i = 0; i < 5000; ++i) normal += i == 0 ? "segment" : "/segment";
  EXPECT_EQ(normalize_relative_path(deep), normal);
}

}  // namespace
}  // namespace korvanta

#include "manifest/relative_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace korvanta {

// Every string of up to six characters over an alphabet of every separator,
// dot and drive form is refused, or gives the input with "/" separators and
// at most one trailing separator dropped: no root, no drive, no empty, "." or
// ".." segment, and normalising it again changes nothing.
TEST(RelativePath, EveryShortPathIsRefusedOrItsOwnNormalFormUnderTheRoot) {
  std::vector<std::string> inputs = {""};
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const std::string input = inputs[i];
    for (const char c : std::string(input.size() < 6 ? "a./\\:C" : "")) inputs.push_back(input + c);
    const auto normal = normalize_relative_path(input);
    if (!normal) continue;
    std::string slashed = input, framed = "/" + *normal + "/";
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    ASSERT_TRUE((slashed == *normal || slashed == *normal + "/") && normalize_relative_path(*normal) == normal &&
                framed.find("//") == framed.npos && framed.find("/./") == framed.npos &&
                framed.find("/../") == framed.npos && framed.find("C:") != 1 && framed.find("a:") != 1)
        << input << " -> " << *normal;
  }
}

TEST(RelativePath, DriveLettersTrailingSeparatorsDottedAndDeviceNamesAreJudgedAsDocumented) {
  const std::pair<std::string, std::optional<std::string>> cases[] = {
      {"C:", {}}, {"C:x", {}}, {"a:b", {}}, {"A:", {}}, {"Z:", {}}, {"z:", {}}, {"ab:c", "ab:c"}, {":x", ":x"},
      {"1:x", "1:x"}, {"a\\b\\", "a/b"}, {"a/b//", {}}, {".a/..b/...c", ".a/..b/...c"}, {"a/.../b", {}},
      {"a./b", {}}, {"a/b ", {}},
      // Names Windows keeps for devices, and names that only resemble them.
      {"docs/nul.txt", {}}, {"AUX", {}}, {"Con .x.y", {}}, {"com0", {}}, {"LPT9", {}}, {"com\xC2\xB9", {}},
      {"lpt\xC2\xB3.log", {}}, {"CONIN$", {}}, {"nul:", {}}, {"lpt1:x", {}}, {"conout$/x", {}}, {"prn/", {}},
      {"console", "console"},
      {"nul_", "nul_"}, {"com10", "com10"}, {"lpt\xC2\xB4", "lpt\xC2\xB4"}, {"xcon", "xcon"}, {"co", "co"}};
  for (const auto& [input, expected] : cases) EXPECT_EQ(normalize_relative_path(input), expected) << input;
}

}  // namespace korvanta

#include "platform/text.h"

#include <gtest/gtest.h>

namespace korvanta::platform {
namespace {

TEST(Text, Utf8RoundTripsEveryPlane) {
  const std::string utf8 = "a\xC3\xA9\xD0\x96\xE6\xBC\xA2\xF0\x9F\x98\x80z";  // a é Ж 漢 😀 z
  const std::wstring wide = utf8_to_wide(utf8);
  EXPECT_EQ(wide, L"a\u00e9\u0416\u6f22\U0001F600z");
  EXPECT_EQ(wide_to_utf8(wide), utf8);
}

TEST(Text, IllFormedUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(utf8_to_wide("a\xFFz"), L"a\uFFFDz");
  EXPECT_EQ(utf8_to_wide("\xC3"), L"\uFFFD");
  EXPECT_EQ(utf8_to_wide("\xC0\xAF"), L"\uFFFD\uFFFD");  // overlong form of "/" must not become a separator
  EXPECT_EQ(utf8_to_wide(""), L"");
}

TEST(Text, UnpairedSurrogateBecomesReplacementCharacter) {
  std::wstring lone(1, static_cast<wchar_t>(0xD800));
  EXPECT_EQ(wide_to_utf8(L"a" + lone + L"b"), "a\xEF\xBF\xBD" "b");
}

}  // namespace
}  // namespace korvanta::platform

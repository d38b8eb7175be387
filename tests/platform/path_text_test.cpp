#include "platform/path_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/text.h"

namespace korvanta::platform {
namespace {

std::string slashes(std::string text) { return std::replace(text.begin(), text.end(), '\\', '/'), text; }

// Without a root name the standard library's path rules are the updater's,
// so it is the reference for every short path over names, dots and both
// separators.
TEST(PathText, AgreesWithTheStandardLibraryOnPathsWithoutARootName) {
  const std::string alphabet = "a./\\";
  std::vector<std::string> paths = {""};
  for (std::size_t begin = 0, length = 1; length <= 6; ++length) {
    const std::size_t end = paths.size();
    for (std::size_t i = begin; i < end; ++i)
      for (const char c : alphabet) paths.push_back(paths[i] + c);
    begin = end;
  }
  for (const std::string& path : paths) {
    if (path.size() >= 2 && slashes(path).rfind("//", 0) == 0) continue;  // a server name
    const std::filesystem::path reference(slashes(path));
    const std::wstring wide = utf8_to_wide(path);
    SCOPED_TRACE(path);
    EXPECT_EQ(slashes(wide_to_utf8(path_text::lexically_normal(wide))), slashes(reference.lexically_normal().string()));
    EXPECT_EQ(slashes(wide_to_utf8(path_text::parent_path(wide))), reference.parent_path().string());
    EXPECT_EQ(wide_to_utf8(path_text::file_name(wide)), reference.filename().string());
  }
}

TEST(PathText, DrivesAndServersAreRootNames) {
  const struct {
    std::wstring path, parent, normal, name;
  } cases[] = {
      {L"D:\\Games\\x.exe", L"D:\\Games", L"D:\\Games\\x.exe", L"x.exe"}, {L"D:\\x.exe", L"D:\\", L"D:\\x.exe", L"x.exe"},
      {L"D:x.exe", L"D:", L"D:x.exe", L"x.exe"}, {L"D:/", L"D:/", L"D:\\", L""},
      {L"D:\\..\\x\\.", L"D:\\..\\x", L"D:\\x\\", L"."}, {L"\\\\srv", L"\\\\srv", L"\\\\srv", L""},
      {L"\\\\srv\\share\\x.exe", L"\\\\srv\\share", L"\\\\srv\\share\\x.exe", L"x.exe"},
      {L"//srv/share/a/../x", L"//srv/share/a/..", L"\\\\srv\\share\\x", L"x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(wide_to_utf8(c.path));
    EXPECT_EQ(path_text::parent_path(c.path), c.parent);
    EXPECT_EQ(path_text::lexically_normal(c.path), c.normal);
    EXPECT_EQ(path_text::file_name(c.path), c.name);
  }
  EXPECT_TRUE(path_text::is_absolute(L"D:\\x") && path_text::is_absolute(L"\\\\srv\\share"));
  EXPECT_FALSE(path_text::is_absolute(L"D:x") || path_text::is_absolute(L"\\x") || path_text::is_absolute(L"x"));
  EXPECT_EQ(path_text::join(L"D:\\a", L"b") + path_text::join(L"D:\\", L"b") + path_text::join(L"D:", L"b") +
                path_text::join(L"", L"b") + path_text::join(L"a/", L"b"),
            L"D:\\a\\bD:\\bD:bba/b");
}

TEST(PathText, LongAbsolutePathsTakeTheExtendedLengthForm) {
  const std::wstring n(300, L'n'), short_name(path_text::kExtendedLengthThreshold - 4, L's');
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"D:\\" + short_name, L"D:\\" + short_name},  // one short of the threshold
      {L"D:\\" + short_name + L"s", L"\\\\?\\D:\\" + short_name + L"s"},
      {L"D:/a/./b/../" + n, L"\\\\?\\D:\\a\\" + n},
      {L"//srv/share/" + n, L"\\\\?\\UNC\\srv\\share\\" + n},
      {L"\\\\?\\D:\\" + n, L"\\\\?\\D:\\" + n},
      {L"\\\\.\\pipe\\" + n, L"\\\\.\\pipe\\" + n},
      {L"a\\" + n, L"a\\" + n},
  };
  for (const auto& [path, form] : cases) EXPECT_EQ(path_text::extended_length(path), form) << path.size();
}

TEST(Text, Utf8ConvertsEveryPlaneAndReplacesWhatIsIllFormed) {
  const std::string utf8 = "a\xC3\xA9\xD0\x96\xE6\xBC\xA2\xF0\x9F\x98\x80z";  // a é Ж 漢 😀 z
  EXPECT_EQ(utf8_to_wide(utf8), L"a\u00e9\u0416\u6f22\U0001F600z");
  EXPECT_EQ(wide_to_utf8(utf8_to_wide(utf8)), utf8);
  // An overlong "/" must never become a separator.
  EXPECT_EQ(utf8_to_wide("a\xFFz\xC3|\xC0\xAF"), L"a\uFFFDz\uFFFD|\uFFFD\uFFFD");
  EXPECT_EQ(wide_to_utf8(L"a" + std::wstring(1, static_cast<wchar_t>(0xD800)) + L"b"), "a\xEF\xBF\xBD" "b");
}

}  // namespace
}  // namespace korvanta::platform

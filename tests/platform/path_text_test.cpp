#include "platform/path_text.h"

#include <gtest/gtest.h>

namespace korvanta::platform::path_text {
namespace {

TEST(PathText, ParentPathDropsTheLastElementButKeepsARoot) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"D:\\Games\\Launcher\\launcher.exe", L"D:\\Games\\Launcher"},
      {L"D:\\launcher.exe", L"D:\\"},
      {L"launcher.exe", L""},
      {L"D:launcher.exe", L"D:"},
      {L"D:\\Games\\", L"D:\\Games"},
      {L"D:\\Games\\\\\\x", L"D:\\Games"},
      {L"D:/Games/x.exe", L"D:/Games"},
      {L"D:\\", L"D:\\"},
      {L"\\\\server\\share\\x.exe", L"\\\\server\\share"},
      {L"\\\\server\\share", L"\\\\server\\"},
      {L"\\x.exe", L"\\"},
      {L"a\\b", L"a"},
      {L"", L""},
  };
  for (const auto& [path, parent] : cases) EXPECT_EQ(parent_path(path), parent) << "for " << path.size() << " chars";
}

TEST(PathText, FileNameIsWhatFollowsTheLastSeparatorAfterTheRoot) {
  EXPECT_EQ(file_name(L"D:\\Games\\Shop\\.korvanta\\Update-State.json"), L"Update-State.json");
  EXPECT_EQ(file_name(L"D:\\Games\\Shop\\.korvanta\\"), L"");
  EXPECT_EQ(file_name(L"D:x.json"), L"x.json");
  EXPECT_EQ(file_name(L"a/b"), L"b");
  EXPECT_EQ(file_name(L"\\\\server"), L"");
}

TEST(PathText, LexicallyNormalResolvesDotsByText) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"D:\\Games\\Shop\\bin\\..\\", L"D:\\Games\\Shop\\"},
      {L"D:/Games//Shop/./x", L"D:\\Games\\Shop\\x"},
      {L"D:\\..\\x", L"D:\\x"},
      {L"a\\..", L"."},
      {L"..\\a\\..\\..\\b", L"..\\..\\b"},
      {L"a\\.", L"a\\"},
      {L"\\\\server\\share\\..\\x", L"\\\\server\\x"},
      {L"//server/share/x", L"\\\\server\\share\\x"},
      {L"", L""},
  };
  for (const auto& [path, normal] : cases) EXPECT_EQ(lexically_normal(path), normal);
}

TEST(PathText, JoinAddsOneSeparatorWhereNeeded) {
  EXPECT_EQ(join(L"D:\\a", L"b"), L"D:\\a\\b");
  EXPECT_EQ(join(L"D:\\", L"b"), L"D:\\b");
  EXPECT_EQ(join(L"a/", L"b"), L"a/b");
  EXPECT_EQ(join(L"", L"b"), L"b");
  EXPECT_EQ(join(L"D:", L"b"), L"D:b");
}

TEST(PathText, AbsoluteNeedsARootNameAndARootDirectory) {
  EXPECT_TRUE(is_absolute(L"D:\\x"));
  EXPECT_TRUE(is_absolute(L"\\\\server\\share"));
  EXPECT_FALSE(is_absolute(L"D:x"));
  EXPECT_FALSE(is_absolute(L"\\x"));
  EXPECT_FALSE(is_absolute(L"x"));
}

}  // namespace
}  // namespace korvanta::platform::path_text

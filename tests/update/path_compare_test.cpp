#include "update/path_compare.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/full_path.h"
#include "platform/path_text.h"
#include "platform/text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace korvanta {
namespace {

struct FormCase {
  std::wstring absolute;
  std::wstring form;
};

TEST(PathCompare, TheTextualStepsGiveTheseForms) {
  const std::vector<FormCase> cases = {
      {L"D:\\Games\\Shop", L"d:\\games\\shop"},
      {L"d:/games/shop/", L"d:\\games\\shop"},
      {L"D:\\Games\\Shop\\bin\\..\\", L"d:\\games\\shop"},
      {L"D:\\Games\\Shop\\.\\bin\\.\\", L"d:\\games\\shop\\bin"},
      {L"D:\\Games\\\\\\Shop\\\\", L"d:\\games\\shop"},
      {L"D:/Games\\Shop//bin/", L"d:\\games\\shop\\bin"},
      {L"D:\\", L"d:\\"},
      {L"D:/", L"d:\\"},
      {L"D:\\\\\\", L"d:\\"},
      {L"D:\\..", L"d:\\"},
      {L"D:\\..\\..\\Windows", L"d:\\windows"},
      {L"D:\\Games\\..\\..\\..\\x", L"d:\\x"},
      {L"\\\\Server\\Share\\Games\\", L"\\\\server\\share\\games"},
      {L"//Server/Share/Games", L"\\\\server\\share\\games"},
      {L"\\\\Server\\Share\\", L"\\\\server\\share"},
      // By text the share is a name like any other; on Windows the full-path
      // step has already stopped ".." at the share.
      {L"\\\\Server\\Share\\a\\..\\..", L"\\\\server"},
      {L"D:\\\u00C9T\u00C9\\Game", L"d:\\\u00C9t\u00C9\\game"},  // only A-Z lowered
      {L"D:\\\u0130", L"d:\\\u0130"},                            // dotted capital I stays
      {L"D:\\a\\...\\b", L"d:\\a\\...\\b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::wide_to_utf8(c.absolute));
    EXPECT_EQ(compare_form_of_absolute(c.absolute), c.form);
  }
}

TEST(PathCompare, FormsNeverEndInASeparatorExceptADriveRoot) {
  for (const std::wstring p : {L"D:\\a\\", L"D:\\a\\\\", L"D:\\a\\.\\", L"\\\\s\\h\\", L"D:\\a/"}) {
    const auto form = compare_form_of_absolute(p);
    ASSERT_FALSE(form.empty());
    EXPECT_NE(form.back(), L'\\') << platform::wide_to_utf8(p);
  }
}

TEST(PathCompare, EqualPathsByText) {
  EXPECT_TRUE(compare_form_of_absolute(L"D:\\Games\\Shop") == compare_form_of_absolute(L"d:/games/shop/"));
  EXPECT_TRUE(compare_form_of_absolute(L"D:\\Games\\Shop\\bin\\..\\") == compare_form_of_absolute(L"D:\\Games\\Shop"));
}

TEST(PathCompare, NonAsciiCaseMakesADifferentPath) {
  EXPECT_NE(compare_form_of_absolute(L"D:\\\u00C9t\u00E9"), compare_form_of_absolute(L"D:\\\u00E9t\u00E9"));
  EXPECT_FALSE(paths_equal(L"/tmp/\u00C9t\u00E9", L"/tmp/\u00E9t\u00E9"));
}

TEST(PathCompare, ShortNamesAndLinksAreNotResolved) {
  EXPECT_NE(compare_form_of_absolute(L"C:\\PROGRA~1\\Shop"), compare_form_of_absolute(L"C:\\Program Files\\Shop"));
}

TEST(PathCompare, EqualityOnHostPaths) {
  EXPECT_TRUE(paths_equal(L"/tmp/Games/Shop", L"/tmp/games/shop/"));
  EXPECT_TRUE(paths_equal(L"/tmp/Games/Shop/bin/../", L"/tmp/Games/Shop"));
  EXPECT_TRUE(paths_equal(L"\\tmp\\Games\\Shop", L"/tmp/Games/Shop"));
  EXPECT_FALSE(paths_equal(L"/tmp/Games/Shop", L"/tmp/Games/Shop2"));
}

TEST(PathCompare, EmptyPathsHaveAnEmptyForm) {
  EXPECT_EQ(compare_form(L""), L"");
  EXPECT_FALSE(is_within(L"", L""));
  EXPECT_FALSE(is_within(L"", L"/tmp/x"));
  EXPECT_FALSE(is_within(L"/tmp", L""));
}

// is_within on host paths; the same rules are checked on drive paths below.
TEST(PathCompare, WithinRootOnHostPaths) {
  const std::wstring root = L"/srv/Games/Shop/.korvanta/backup";
  EXPECT_TRUE(is_within(root, root));
  EXPECT_TRUE(is_within(root, root + L"/"));
  EXPECT_TRUE(is_within(root, L"/srv/games/shop/.korvanta/backup/2024/old.bin"));
  EXPECT_TRUE(is_within(root, L"/srv/Games/Shop/.korvanta/backup\\2024\\old.bin"));
  EXPECT_FALSE(is_within(root, L"/srv/Games/Shop/.korvanta/backup2"));
  EXPECT_FALSE(is_within(root, L"/srv/Games/Shop/.korvanta/backup2/x"));
  EXPECT_FALSE(is_within(root, L"/srv/Games/Shop/.korvanta"));
  EXPECT_FALSE(is_within(root, L"/srv/Games/Shop/.korvanta/backup/../staging/x"));
  EXPECT_FALSE(is_within(root, L"/srv/Games/Shop/.korvanta/backup/../../../../etc"));
  EXPECT_TRUE(is_within(root, L"/srv/Games/Shop/.korvanta/staging/../backup/x"));
  EXPECT_TRUE(is_within(L"/", L"/srv"));
  EXPECT_TRUE(is_within(L"/srv/", L"/srv/x"));
}

TEST(PathCompare, ARelativeCandidateIsResolvedAgainstTheCurrentDirectory) {
  const std::wstring cwd = platform::utf8_to_wide(std::filesystem::current_path().string());
  EXPECT_TRUE(is_within(cwd, L"backup"));
  EXPECT_TRUE(is_within(platform::path_text::join(cwd, L"backup"), L"backup"));
  EXPECT_TRUE(is_within(platform::path_text::join(cwd, L"backup"), L"backup/2024/old.bin"));
  EXPECT_FALSE(is_within(platform::path_text::join(cwd, L"backup"), L"backup2"));
  EXPECT_FALSE(is_within(platform::path_text::join(cwd, L"backup"), L"backup/../x"));
  EXPECT_TRUE(paths_equal(L"backup", platform::path_text::join(cwd, L"backup")));
}

TEST(PathCompare, FullPathKeepsRootedPathsAndJoinsOthersToTheCurrentDirectory) {
  EXPECT_EQ(platform::full_path(L""), L"");
  const std::wstring made = platform::full_path(L"rel\\x");
  EXPECT_TRUE(platform::path_text::is_separator(made.front()) || platform::path_text::root_name_length(made) > 0);
  EXPECT_EQ(platform::path_text::file_name(made), L"x");
#ifndef _WIN32
  EXPECT_EQ(platform::full_path(L"/tmp/x/../y"), L"/tmp/x/../y");
  EXPECT_EQ(platform::full_path(L"D:\\x"), L"D:\\x");
#endif
}

TEST(PathCompare, FileNameIs) {
  EXPECT_TRUE(file_name_is(L"D:\\Games\\Shop\\.korvanta\\Update-State.json", L"update-state.json"));
  EXPECT_TRUE(file_name_is(L"D:/Games/Shop/.korvanta/UPDATE-STATE.JSON", L"update-state.json"));
  EXPECT_TRUE(file_name_is(L"update-state.json", L"update-state.json"));
  EXPECT_TRUE(file_name_is(L"D:update-state.json", L"update-state.json"));
  EXPECT_TRUE(file_name_is(L"\\\\srv\\share\\update-state.json", L"update-state.json"));
  EXPECT_FALSE(file_name_is(L"D:\\Games\\Shop\\.korvanta\\", L".korvanta"));
  EXPECT_FALSE(file_name_is(L"D:\\Games\\Shop\\.korvanta/", L".korvanta"));
  EXPECT_FALSE(file_name_is(L"D:\\Games\\update-state.json.bak", L"update-state.json"));
  EXPECT_FALSE(file_name_is(L"D:\\Games\\xupdate-state.json", L"update-state.json"));
  EXPECT_FALSE(file_name_is(L"D:\\Games\\update-state.json ", L"update-state.json"));
  EXPECT_FALSE(file_name_is(L"D:\\Games\\\u00DCpdate-state.json", L"\u00FCpdate-state.json"));
  EXPECT_TRUE(file_name_is(L"D:\\Games\\", L""));
  EXPECT_FALSE(file_name_is(L"\\\\srv", L"srv"));  // a server name is a root name, not a file name
}

// The host's full-path step keeps a drive path as it is, so drive and share
// paths run through the whole of is_within and paths_equal everywhere.
TEST(PathCompare, WithinRootOnDrivePaths) {
  const std::wstring root = L"D:\\Games\\Shop\\.korvanta\\backup";
  EXPECT_TRUE(is_within(root, root));
  EXPECT_TRUE(is_within(root, L"D:\\Games\\Shop\\.korvanta\\backup\\2024\\old.bin"));
  EXPECT_TRUE(is_within(root, L"d:/games/shop/.korvanta/BACKUP/2024/"));
  EXPECT_FALSE(is_within(root, L"D:\\Games\\Shop\\.korvanta\\backup2"));
  EXPECT_FALSE(is_within(root, L"D:\\Games\\Shop\\.korvanta"));
  EXPECT_FALSE(is_within(root, L"E:\\Games\\Shop\\.korvanta\\backup\\x"));
  EXPECT_FALSE(is_within(root, L"D:\\Games\\Shop\\.korvanta\\backup\\..\\staging"));
  EXPECT_FALSE(is_within(root, L"\\\\D\\Games\\Shop\\.korvanta\\backup\\x"));
  EXPECT_TRUE(is_within(L"D:\\", L"d:\\games"));
  EXPECT_TRUE(is_within(L"D:\\", L"D:\\"));
  EXPECT_FALSE(is_within(L"D:\\", L"E:\\games"));
  EXPECT_TRUE(is_within(L"\\\\srv\\share", L"//SRV/Share/games"));
  EXPECT_FALSE(is_within(L"\\\\srv\\share", L"\\\\srv\\share2\\games"));
  EXPECT_TRUE(paths_equal(L"D:\\Games\\Shop", L"d:/games/shop/"));
  EXPECT_TRUE(paths_equal(L"D:\\Games\\Shop\\bin\\..\\", L"D:\\Games\\Shop"));
  EXPECT_FALSE(paths_equal(L"D:\\Games\\\u00C9", L"D:\\Games\\\u00E9"));
}

#ifdef _WIN32
TEST(PathCompare, WindowsEqualityAndContainment) {
  EXPECT_TRUE(paths_equal(L"D:\\Games\\Shop", L"d:/games/shop/"));
  EXPECT_TRUE(paths_equal(L"D:\\Games\\Shop\\bin\\..\\", L"D:\\Games\\Shop"));
  EXPECT_FALSE(paths_equal(L"D:\\Games\\\u00C9", L"D:\\Games\\\u00E9"));
  EXPECT_TRUE(paths_equal(L"\\\\Server\\Share\\Games\\", L"//server/share/games"));
  const std::wstring root = L"D:\\Games\\Shop\\.korvanta\\backup";
  EXPECT_TRUE(is_within(root, root));
  EXPECT_TRUE(is_within(root, L"D:\\Games\\Shop\\.korvanta\\backup\\2024\\old.bin"));
  EXPECT_FALSE(is_within(root, L"D:\\Games\\Shop\\.korvanta\\backup2"));
  EXPECT_FALSE(is_within(root, L"D:\\Games\\Shop\\.korvanta"));
  EXPECT_TRUE(is_within(L"D:\\", L"D:\\Games"));
  EXPECT_FALSE(is_within(L"D:\\", L"E:\\Games"));
}

TEST(PathCompare, WindowsFullPathResolvesAgainstTheCurrentDirectory) {
  wchar_t buffer[32768];
  const DWORD length = GetCurrentDirectoryW(32768, buffer);
  ASSERT_GT(length, 0u);
  const std::wstring cwd(buffer, length);
  EXPECT_TRUE(paths_equal(L"backup", cwd + L"\\backup"));
  EXPECT_TRUE(paths_equal(L".\\a\\..\\backup\\", cwd + L"\\backup"));
}
#endif

}  // namespace
}  // namespace korvanta

#include "update/path_compare.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/full_path.h"
#include "platform/path_text.h"
#include "platform/text.h"

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
      // No form ends in a separator but a drive root's.
      {L"D:\\a\\\\", L"d:\\a"},
      {L"D:\\a\\.\\", L"d:\\a"},
      {L"\\\\s\\h\\", L"\\\\s\\h"},
      {L"D:\\a/", L"d:\\a"},
      // Short names and links are not resolved.
      {L"C:\\PROGRA~1\\Shop", L"c:\\progra~1\\shop"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::wide_to_utf8(c.absolute));
    EXPECT_EQ(compare_form_of_absolute(c.absolute), c.form);
  }
}

// Host paths and drive or share paths alike: the host's full-path step keeps
// a drive path as it is, so they run through the whole of is_within and
// paths_equal everywhere.
TEST(PathCompare, EqualityAndContainment) {
  const struct {
    std::wstring a, b;
    bool equal;
  } equality[] = {
      {L"/tmp/Games/Shop", L"/tmp/games/shop/", true},
      {L"/tmp/Games/Shop/bin/../", L"/tmp/Games/Shop", true},
      {L"\\tmp\\Games\\Shop", L"/tmp/Games/Shop", true},
      {L"/tmp/Games/Shop", L"/tmp/Games/Shop2", false},
      {L"/tmp/\u00C9t\u00E9", L"/tmp/\u00E9t\u00E9", false},  // non-ASCII case makes another path
      {L"D:\\Games\\Shop", L"d:/games/shop/", true},
      {L"D:\\Games\\Shop\\bin\\..\\", L"D:\\Games\\Shop", true},
      {L"D:\\Games\\\u00C9", L"D:\\Games\\\u00E9", false},
      {L"\\\\Server\\Share\\Games\\", L"//server/share/games", true},
  };
  for (const auto& c : equality)
    EXPECT_EQ(paths_equal(c.a, c.b), c.equal) << platform::wide_to_utf8(c.a) << " = " << platform::wide_to_utf8(c.b);

  const std::wstring host = L"/srv/Games/Shop/.korvanta/backup", drive = L"D:\\Games\\Shop\\.korvanta\\backup";
  const struct {
    std::wstring root, candidate;
    bool within;
  } containment[] = {
      {host, host, true},
      {host, host + L"/", true},
      {host, L"/srv/games/shop/.korvanta/backup/2024/old.bin", true},
      {host, L"/srv/Games/Shop/.korvanta/backup\\2024\\old.bin", true},
      {host, L"/srv/Games/Shop/.korvanta/backup2", false},
      {host, L"/srv/Games/Shop/.korvanta/backup2/x", false},
      {host, L"/srv/Games/Shop/.korvanta", false},
      {host, L"/srv/Games/Shop/.korvanta/backup/../staging/x", false},
      {host, L"/srv/Games/Shop/.korvanta/backup/../../../../etc", false},
      {host, L"/srv/Games/Shop/.korvanta/staging/../backup/x", true},
      {L"/", L"/srv", true},
      {L"/srv/", L"/srv/x", true},
      {drive, drive, true},
      {drive, L"D:\\Games\\Shop\\.korvanta\\backup\\2024\\old.bin", true},
      {drive, L"d:/games/shop/.korvanta/BACKUP/2024/", true},
      {drive, L"D:\\Games\\Shop\\.korvanta\\backup2", false},
      {drive, L"D:\\Games\\Shop\\.korvanta", false},
      {drive, L"E:\\Games\\Shop\\.korvanta\\backup\\x", false},
      {drive, L"D:\\Games\\Shop\\.korvanta\\backup\\..\\staging", false},
      {drive, L"\\\\D\\Games\\Shop\\.korvanta\\backup\\x", false},
      {L"D:\\", L"d:\\games", true},
      {L"D:\\", L"D:\\", true},
      {L"D:\\", L"E:\\games", false},
      {L"\\\\srv\\share", L"//SRV/Share/games", true},
      {L"\\\\srv\\share", L"\\\\srv\\share2\\games", false},
      {L"", L"", false},
      {L"", L"/tmp/x", false},
      {L"/tmp", L"", false},
  };
  for (const auto& c : containment)
    EXPECT_EQ(is_within(c.root, c.candidate), c.within)
        << platform::wide_to_utf8(c.candidate) << " in " << platform::wide_to_utf8(c.root);
  EXPECT_EQ(compare_form(L""), L"");
}

TEST(PathCompare, ARelativeCandidateIsResolvedAgainstTheCurrentDirectory) {
  const std::wstring cwd = platform::utf8_to_wide(std::filesystem::current_path().string());
  EXPECT_TRUE(is_within(cwd, L"backup"));
  EXPECT_TRUE(is_within(platform::path_text::join(cwd, L"backup"), L"backup"));
  EXPECT_TRUE(is_within(platform::path_text::join(cwd, L"backup"), L"backup/2024/old.bin"));
  EXPECT_FALSE(is_within(platform::path_text::join(cwd, L"backup"), L"backup2"));
  EXPECT_FALSE(is_within(platform::path_text::join(cwd, L"backup"), L"backup/../x"));
  EXPECT_TRUE(paths_equal(L"backup", platform::path_text::join(cwd, L"backup")));
  EXPECT_TRUE(paths_equal(L".\\a\\..\\backup\\", platform::path_text::join(cwd, L"backup")));
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

}  // namespace
}  // namespace korvanta

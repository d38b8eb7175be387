#include "update/path_compare.h"

#include <gtest/gtest.h>

#include "platform/text.h"

namespace korvanta {
namespace {

std::string shown(const std::wstring& path) { return platform::wide_to_utf8(path); }

// Host paths and drive paths alike: the host's full-path step keeps a drive
// path as it is, so both run through the whole comparison everywhere.
TEST(PathCompare, EqualityAndContainment) {
  const std::wstring host = L"/srv/Games/Shop/.korvanta/backup", drive = L"D:\\Games\\Shop\\.korvanta\\backup";
  const struct {
    std::wstring root, candidate;
    bool equal, within;
  } cases[] = {
      {host, L"/SRV/GAMES/SHOP/.KORVANTA/BACKUP/", true, true}, {L"/srv/az/AZ", L"/SRV/AZ/az", true, true},
      {host, L"/srv/Games/Shop/.korvanta/staging/../backup/.", true, true},
      {host, L"\\srv\\Games\\Shop\\.korvanta\\backup\\2024\\old.bin", false, true},
      {host, L"/srv/Games/Shop/.korvanta/backup2", false, false}, {host, L"/srv/Games/Shop/.korvanta", false, false},
      {host, L"/srv/Games/Shop/.korvanta/backup/../../../../etc", false, false},
      {L"/srv/\u00C9t\u00E9/\u0130", L"/srv/\u00E9t\u00E9/i", false, false},  // only ASCII letters are folded
      {L"C:\\PROGRA~1", L"C:\\Program Files", false, false},                  // short names are not resolved
      {drive, L"d:/games//shop/.korvanta/backup/x", false, true},
      {drive, L"E:\\Games\\Shop\\.korvanta\\backup\\x", false, false},
      {drive, L"\\\\D\\Games\\Shop\\.korvanta\\backup\\x", false, false},
      {L"D:\\", L"d:\\games", false, true}, {L"D:\\", L"d:/\\", true, true}, {L"D:\\", L"E:\\games", false, false},
      {L"\\\\srv\\share", L"//SRV/Share/games\\", false, true}, {L"\\\\srv\\share", L"\\\\srv\\share2\\games", false, false},
      {L"/", L"/srv", false, true}, {L"", L"", true, false}, {L"", L"/tmp/x", false, false}, {L"/tmp", L"", false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(paths_equal(c.root, c.candidate), c.equal) << shown(c.root) << " = " << shown(c.candidate);
    EXPECT_EQ(is_within(c.root, c.candidate), c.within) << shown(c.candidate) << " in " << shown(c.root);
  }
}

// The last component, in any ASCII case (no other folding: U+017F is no "s").
TEST(PathCompare, FileNameIsTheLastComponentInAnyAsciiCase) {
  for (const auto& [path, is] : {std::pair{L"D:/x/.korvanta/UPDATE-State.json", true}, {L"D:update-state.json", true},
                                 {L"D:\\update-state.json\\", false}, {L"D:\\update-state.json ", false},
                                 {L"D:\\update-\u017Ftate.json", false}, {L"\\\\update-state.json", false}})
    EXPECT_EQ(file_name_is(path, L"update-state.json"), is) << shown(path);
}

}  // namespace
}  // namespace korvanta

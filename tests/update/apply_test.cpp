#include "update/apply.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "update_fixture.h"

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <vector>

#include "platform/handle_win32.h"
#endif

namespace korvanta {
namespace {

using nlohmann::json;
using testing::Installation;
using testing::utf8;

// The installation without its data directory, and the backup root.
testing::Tree installed_tree(const Installation& install) {
  testing::Tree tree = testing::snapshot(install.root);
  std::erase_if(tree, [](const auto& entry) { return entry.first.rfind(".korvanta", 0) == 0; });
  return tree;
}
testing::Tree backup_tree(const Installation& install) {
  return testing::file_exists(install.backup) ? testing::snapshot(install.backup) : testing::Tree{};
}

std::wstring native(const std::string& relative) {
  std::wstring path = platform::utf8_to_wide(relative);
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

// An installation before the update, keyed and named as in a Tree.
struct Shape {
  testing::Tree installed, backed_up;  // files only: directories follow
  std::vector<std::string> deletions;
  std::vector<std::pair<std::string, std::string>> replacements;  // path and new bytes, staged as "<n>/<path>"
};

void prepare(Installation& install, const Shape& shape) {
  for (const auto& [path, bytes] : shape.installed) install.install(native(path), bytes);
  for (const auto& [path, bytes] : shape.backed_up) testing::write_file(install.backup_path(native(path)), bytes);
  for (const auto& path : shape.deletions) install.remove(platform::utf8_to_wide(path));
  for (const auto& [path, bytes] : shape.replacements)
    install.replace(platform::utf8_to_wide(path), bytes,
                    std::to_wstring(install.state["replacements"].size()) + L"\\" + native(path));
}

TEST(Apply, InstallsTheUpdateKeepingEveryOldFileInTheBackupRoot) {
  Installation install;
  prepare(install, {.installed = {{"old.dll", "old dll"}, {"data/a.bin", "a1"}, {"keep.txt", "untouched"}},
                    .deletions = {"old.dll", "never\\installed.txt"},
                    .replacements = {{"data/a.bin", "a2"}, {"new/deep/b.bin", "b2"}}});
  install.state["manifest"]["files"] = {{{"path", "data\\a.bin"}, {"size", 2}, {"sha256", "AB"}}};
  // What a copying move would leave behind in the staging root; clean-up
  // removes it even when read-only.
  testing::write_file(install.staging + L"\\leftover.bin", "x");
#ifdef _WIN32
  ASSERT_TRUE(SetFileAttributesW((install.staging + L"\\leftover.bin").c_str(), FILE_ATTRIBUTE_READONLY));
#endif

  std::string reason = "untouched";
  ASSERT_TRUE(install.apply(reason)) << reason;
  EXPECT_EQ(reason, "untouched");
  EXPECT_EQ(installed_tree(install), (testing::Tree{{"data", "<dir>"}, {"data/a.bin", "a2"}, {"keep.txt", "untouched"},
                                                    {"new", "<dir>"}, {"new/deep", "<dir>"}, {"new/deep/b.bin", "b2"}}));
  EXPECT_EQ(backup_tree(install), (testing::Tree{{"data", "<dir>"}, {"data/a.bin", "a1"}, {"old.dll", "old dll"}}));

  const json written = json::parse(testing::read_file(install.manifest));
  EXPECT_EQ(written["id"], "build-2");
  EXPECT_EQ(written["files"][0]["path"], "data/a.bin");
  EXPECT_EQ(written["files"][0]["sha256"], "ab");

  EXPECT_FALSE(testing::file_exists(install.staging));
  EXPECT_FALSE(testing::file_exists(install.state_path));
  EXPECT_TRUE(testing::file_exists(install.data_dir + L"\\staging"));  // only the named root goes
  EXPECT_EQ(testing::read_file(install.temp / L"outside\\keep.txt"), "outside");
}

TEST(Apply, EachSuccessfulShapeLeavesItsInstallationAndBackup) {
  struct Case {
    const char* name;
    Shape before;
    testing::Tree installed, backed_up;
  };
  const std::string donnees = "Donn\xC3\xA9" "es", uber = donnees + "/\xC3\x9C" "ber.txt";
  const std::string journal = "\xD0\xB6\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB.log";
  const Case cases[] = {
      {"an older backup is replaced, the emptied directory stays",
       {.installed = {{"mods/only.pak", "current"}}, .backed_up = {{"mods/only.pak", "earlier run"}},
        .deletions = {"mods/only.pak"}},
       {{"mods", "<dir>"}}, {{"mods", "<dir>"}, {"mods/only.pak", "current"}}},
      {"the same path twice backs up the first new version",
       {.installed = {{"a.bin", "original"}}, .replacements = {{"a.bin", "first"}, {"a.bin", "second"}}},
       {{"a.bin", "second"}}, {{"a.bin", "first"}}},
      {"a path deleted and replaced is backed up once",
       {.installed = {{"a.bin", "original"}}, .deletions = {"a.bin"}, .replacements = {{"a.bin", "new"}}},
       {{"a.bin", "new"}}, {{"a.bin", "original"}}},
      {"non-ASCII names keep their letters",
       {.installed = {{uber, "alt"}, {journal, "log"}}, .deletions = {journal}, .replacements = {{uber, "neu"}}},
       {{donnees, "<dir>"}, {uber, "neu"}}, {{donnees, "<dir>"}, {uber, "alt"}, {journal, "log"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Installation install;
    prepare(install, c.before);
    std::string reason;
    ASSERT_TRUE(install.apply(reason)) << reason;
    EXPECT_EQ(installed_tree(install), c.installed);
    EXPECT_EQ(backup_tree(install), c.backed_up);
  }
}

TEST(Apply, NullListsAreEmpty) {
  Installation install;
  install.state["deletions"] = nullptr;
  install.state["replacements"] = nullptr;
  std::string reason;
  ASSERT_TRUE(install.apply(reason)) << reason;
  EXPECT_TRUE(testing::file_exists(install.manifest));
}

// A state file with one deletion and two replacements; each case spoils a
// later step. The steps before it stay done, the rest is untouched, and the
// state file and the staging root remain.
struct SecondStageCase {
  const char* name;
  std::function<void(Installation&)> change;
  std::string reason;
  bool replacements_done;  // the failure came after every file change
};

TEST(Apply, EachSecondStageFailureStopsWithItsCodeAndTheDocumentedState) {
  const SecondStageCase cases[] = {
      {"deletion path climbing out", [](Installation& i) { i.state["deletions"].push_back("../outside/keep.txt"); },
       "invalid_deletion_path", false},
      {"deletion path rooted", [](Installation& i) { i.state["deletions"].push_back("/etc/passwd"); },
       "invalid_deletion_path", false},
      {"replacement path empty", [](Installation& i) { i.state["replacements"][1]["path"] = ""; },
       "invalid_replacement_path", false},
      {"staged file outside the staging root",
       [](Installation& i) { i.state["replacements"][1]["staged_path"] = utf8(i.root + L"\\data\\b.bin"); },
       "staged_file_outside_staging_root", false},
      {"staged file gone",
       [](Installation& i) { std::filesystem::remove(platform::fs_path(i.staging + L"\\1\\data\\b.bin")); },
       "staged_file_size_mismatch", false},
      {"staged file of another digest", [](Installation& i) { i.state["replacements"][1]["sha256"] = "00"; },
       "staged_file_hash_mismatch", false},
      {"manifest with a refused path",
       [](Installation& i) { i.state["manifest"]["files"] = {{{"path", "../x"}, {"size", 1}, {"sha256", "a"}}}; },
       "invalid_update_manifest", true},
      {"manifest with the same path twice",
       [](Installation& i) {
         i.state["manifest"]["files"] = {{{"path", "a"}, {"size", 1}, {"sha256", "a"}},
                                         {{"path", "A"}, {"size", 1}, {"sha256", "a"}}};
       },
       "invalid_update_manifest", true},
      {"manifest without id_mod", [](Installation& i) { i.state["manifest"].erase("id_mod"); },
       "invalid_update_manifest", true},
      {"manifest files a string", [](Installation& i) { i.state["manifest"]["files"] = "a.bin"; },
       "invalid_update_manifest", true},
      {"manifest version a number", [](Installation& i) { i.state["manifest"]["version"] = 2; },
       "invalid_update_manifest", true},
      {"manifest target a directory",
       [](Installation& i) { testing::write_file(i.manifest + L"\\blocker.txt", "x"); }, "failed_to_open_file",
       true},
  };
  for (const auto& c : cases) {
    Installation install;
    prepare(install, {.installed = {{"old.dll", "old dll"}, {"data/a.bin", "a1"}, {"data/b.bin", "b1"}},
                      .deletions = {"old.dll"},
                      .replacements = {{"data/a.bin", "a2"}, {"data/b.bin", "b2"}}});
    c.change(install);

    std::string reason;
    EXPECT_FALSE(install.apply(reason)) << c.name;
    EXPECT_EQ(reason, c.reason) << c.name;
    // The spoilt deletion comes second: the first one is done either way.
    EXPECT_FALSE(install.is_installed(L"old.dll")) << c.name;
    EXPECT_EQ(install.backed_up(L"old.dll"), "old dll") << c.name;
    const bool first_replaced = c.reason != "invalid_deletion_path";
    EXPECT_EQ(install.installed(L"data\\a.bin"), first_replaced ? "a2" : "a1") << c.name;
    EXPECT_EQ(install.is_backed_up(L"data\\a.bin"), first_replaced) << c.name;
    EXPECT_EQ(install.installed(L"data\\b.bin"), c.replacements_done ? "b2" : "b1") << c.name;
    EXPECT_EQ(install.is_backed_up(L"data\\b.bin"), c.replacements_done) << c.name;
    EXPECT_TRUE(testing::file_exists(install.state_path)) << c.name;
    EXPECT_TRUE(testing::file_exists(install.staging)) << c.name;
    EXPECT_FALSE(testing::file_exists(install.manifest) &&
                 !std::filesystem::is_directory(platform::fs_path(install.manifest)))
        << c.name;
    EXPECT_EQ(testing::read_file(install.temp / L"outside\\keep.txt"), "outside") << c.name;
  }
}

TEST(Apply, AnInstalledDirectoryInTheWayOfADeletionStopsWithTheSystemsMessage) {
  Installation install;
  install.install(L"saves\\slot1.sav", "progress");
  install.remove(L"saves");
  std::string reason;
  EXPECT_FALSE(install.apply(reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(reason.find('_'), std::string::npos) << reason;  // a message, not a code
  EXPECT_EQ(install.installed(L"saves\\slot1.sav"), "progress");
}

TEST(Apply, CleanUpRemovesTheStagingRootWithoutFollowingLinksOutOfIt) {
  Installation install;
  install.replace(L"a.bin", "new");
  const auto outside = platform::fs_path(install.temp / L"outside");
  const auto staging = platform::fs_path(install.staging);
  std::error_code error;
  std::filesystem::create_directory_symlink(outside, staging / "dir-link", error);
  if (!error) std::filesystem::create_symlink(outside / "keep.txt", staging / "file-link", error);
  if (error) GTEST_SKIP() << "links cannot be made here: " << error.message();
  const auto outside_before = testing::snapshot(install.temp / L"outside");

  std::string reason;
  ASSERT_TRUE(install.apply(reason)) << reason;
  EXPECT_FALSE(testing::file_exists(install.staging));
  EXPECT_TRUE(testing::snapshot(install.temp / L"outside") == outside_before);
}

#ifdef _WIN32
// Another program holding a file open for reading and sharing it only for
// reading, until the object is destroyed.
class HeldFile {
 public:
  explicit HeldFile(const std::wstring& path, const testing::TempDir& dir)
      : ready_(dir / L"hold.ready"), release_(dir / L"hold.release") {
    std::wstring command = L"\"" + testing::tool_path(L"hold_file") + L"\" \"" + path + L"\" \"" + ready_ +
                           L"\" \"" + release_ + L"\" 60000";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
      return;
    process_.reset(info.hProcess);
    CloseHandle(info.hThread);
    // Ready once the marker exists; an early exit means the file could not
    // be opened.
    while (!testing::file_exists(ready_) && WaitForSingleObject(process_.get(), 10) == WAIT_TIMEOUT) {
    }
  }
  ~HeldFile() {
    if (!process_) return;
    testing::write_file(release_, "");
    WaitForSingleObject(process_.get(), 60000);
  }
  bool holding() const { return process_ && testing::file_exists(ready_); }

 private:
  std::wstring ready_, release_;
  platform::UniqueHandle process_;
};

std::string system_message(DWORD code) { return platform::os_error_text(platform::make_os_error(static_cast<int>(code))); }

TEST(ApplyWin32, AFileHeldOpenForReadingStaysAndItsCopyIsInTheBackup) {
  Installation install;
  install.install(L"bin\\game.dll", "old");
  install.replace(L"bin/game.dll", "new");
  HeldFile held(install.installed_path(L"bin\\game.dll"), install.temp);
  ASSERT_TRUE(held.holding());

  std::string reason;
  EXPECT_FALSE(install.apply(reason));
  // The rename fails, the copy into the backup works, the removal fails.
  EXPECT_EQ(reason, system_message(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(install.installed(L"bin\\game.dll"), "old");
  EXPECT_EQ(install.backed_up(L"bin\\game.dll"), "old");
  EXPECT_TRUE(testing::file_exists(install.staging + L"\\bin\\game.dll"));
  EXPECT_TRUE(testing::file_exists(install.state_path));
}

// A failure leaves the state file for the next run.
TEST(ApplyWin32, ReadOnlyFilesAndDirectoriesInAFilesPlaceEndAsTheSystemAllows) {
  struct Case {
    const char* name;
    Shape before;
    std::string read_only;  // installed file made read-only, or ""
    std::string reason;     // empty for success
    testing::Tree installed, backed_up;
  };
  const testing::Tree texture = {{"mods", "<dir>"}, {"mods/skin", "<dir>"}, {"mods/skin/texture.dds", "player's"}};
  const Case cases[] = {
      {"a read-only file to delete", {.installed = {{"config.ini", "settings"}}, .deletions = {"config.ini"}},
       "config.ini", system_message(ERROR_ACCESS_DENIED), {{"config.ini", "settings"}}, {{"config.ini", "settings"}}},
      {"a read-only file to replace", {.installed = {{"config.ini", "settings"}}, .replacements = {{"config.ini", "new"}}},
       "config.ini", "", {{"config.ini", "new"}}, {{"config.ini", "settings"}}},
      {"a directory where a file should go",
       {.installed = {{"mods/skin/texture.dds", "player's"}}, .replacements = {{"mods/skin", "skin file"}}}, "", "",
       {{"mods", "<dir>"}, {"mods/skin", "skin file"}}, texture},
      {"a directory in the way of an earlier backup",
       {.installed = {{"mods/skin/texture.dds", "player's"}}, .backed_up = {{"mods/skin/older.dds", "older"}},
        .replacements = {{"mods/skin", "skin file"}}},
       "", system_message(ERROR_ACCESS_DENIED), texture,
       {{"mods", "<dir>"}, {"mods/skin", "<dir>"}, {"mods/skin/older.dds", "older"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Installation install;
    prepare(install, c.before);
    if (!c.read_only.empty()) {
      ASSERT_TRUE(SetFileAttributesW(install.installed_path(native(c.read_only)).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    std::string reason;
    EXPECT_EQ(install.apply(reason), c.reason.empty());
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(installed_tree(install), c.installed);
    EXPECT_EQ(backup_tree(install), c.backed_up);
    EXPECT_EQ(testing::file_exists(install.state_path), !c.reason.empty());
  }
}

// A junction (mount point) at link that leads to target; false where the
// system cannot make one.
bool make_junction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  platform::UniqueHandle handle(CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) return false;
  const std::wstring substitute = L"\\??\\" + target;
  const std::size_t names_bytes = (substitute.size() + 1 + target.size() + 1) * sizeof(wchar_t);
  std::vector<BYTE> buffer(8 + 8 + names_bytes);
  auto put16 = [&](std::size_t at, std::size_t value) {
    buffer[at] = static_cast<BYTE>(value & 0xFF);
    buffer[at + 1] = static_cast<BYTE>(value >> 8);
  };
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  std::memcpy(buffer.data(), &tag, 4);
  put16(4, 8 + names_bytes);                                   // ReparseDataLength
  put16(8, 0);                                                 // SubstituteNameOffset
  put16(10, substitute.size() * sizeof(wchar_t));              // SubstituteNameLength
  put16(12, (substitute.size() + 1) * sizeof(wchar_t));        // PrintNameOffset
  put16(14, target.size() * sizeof(wchar_t));                  // PrintNameLength
  std::memcpy(buffer.data() + 16, substitute.c_str(), (substitute.size() + 1) * sizeof(wchar_t));
  std::memcpy(buffer.data() + 16 + (substitute.size() + 1) * sizeof(wchar_t), target.c_str(),
              (target.size() + 1) * sizeof(wchar_t));
  DWORD returned = 0;
  return DeviceIoControl(handle.get(), FSCTL_SET_REPARSE_POINT, buffer.data(), static_cast<DWORD>(buffer.size()),
                         nullptr, 0, &returned, nullptr) != 0;
}

TEST(ApplyWin32, CleanUpRemovesAJunctionInTheStagingRootNotWhatItLeadsTo) {
  Installation install;
  install.replace(L"a.bin", "new");
  const std::wstring outside = install.temp / L"outside";
  const std::wstring junction = install.staging + L"\\junction";
  const std::wstring symlink = install.staging + L"\\symlink";
  const bool have_junction = make_junction(junction, outside);
  const bool have_symlink =
      CreateSymbolicLinkW(symlink.c_str(), outside.c_str(),
                          SYMBOLIC_LINK_FLAG_DIRECTORY | 0x2 /* SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE */) != 0;
  // A link that the system accepts but does not resolve tests nothing.
  const auto leads_outside = [](const std::wstring& link) {
    return testing::file_exists(link + L"\\keep.txt") && testing::read_file(link + L"\\keep.txt") == "outside";
  };
  if (!(have_junction && leads_outside(junction)) && !(have_symlink && leads_outside(symlink)))
    GTEST_SKIP() << "this system makes no working junction (made: " << have_junction
                 << ") or directory symbolic link (made: " << have_symlink << ")";

  std::string reason;
  ASSERT_TRUE(install.apply(reason)) << reason;
  EXPECT_FALSE(testing::file_exists(install.staging));
  EXPECT_EQ(testing::read_file(outside + L"\\keep.txt"), "outside");
}
#endif

}  // namespace
}  // namespace korvanta

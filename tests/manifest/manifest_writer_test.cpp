#include "manifest/manifest_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <vector>
#include <set>
#include <string>

#include "platform/file_system.h"
#include "platform/text.h"
#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/handle_win32.h"
#else
#include <signal.h>
#include <sys/resource.h>
#endif

namespace korvanta {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

BuildManifest sample_manifest() {
  return {.id = "build-7",
          .id_mod = "mod-3",
          .channel = "stable",
          .version = "1.4.0",
          .status = "published",
          .manifest_hash = "abc",
          .total_size = 18446744073709551615u,
          .metadata = {{"note", "\xC3\xA9\xE6\x97\xA5\xE6\x9C\xAC"}, {"tags", json::array({"a", 1, 2.5, nullptr})}},
          .files = {{.id = "f1", .path = "Data/Game.pak", .size = 1234, .sha256 = "ab"}}};
}

// The exact bytes of sample_manifest() on disk: 4-space indentation, LF
// only, UTF-8 unescaped, members by key, no newline after the last brace.
const std::string kSampleText = R"({
    "channel": "stable",
    "files": [
        {
            "content_type": "application/octet-stream",
            "id": "f1",
            "metadata": {},
            "object_key": "",
            "path": "Data/Game.pak",
            "sha256": "ab",
            "size": 1234
        }
    ],
    "id": "build-7",
    "id_mod": "mod-3",
    "manifest_hash": "abc",
    "metadata": {
        "note": ")" "\xC3\xA9\xE6\x97\xA5\xE6\x9C\xAC" R"(",
        "tags": [
            "a",
            1,
            2.5,
            null
        ]
    },
    "status": "published",
    "total_size": 18446744073709551615,
    "version": "1.4.0"
})";

const std::string kEmptyText = R"({
    "channel": "",
    "files": [],
    "id": "",
    "id_mod": "",
    "manifest_hash": "",
    "metadata": {},
    "status": "",
    "total_size": 0,
    "version": ""
})";

// The names in a directory, to show that no temporary file is left behind.
std::set<std::string> entries_of(const std::wstring& directory) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(platform::fs_path(directory)))
    names.insert(platform::wide_to_utf8(entry.path().filename().wstring()));
  return names;
}

const std::set<std::string> kOnlyTheManifest = {"build-manifest.json"};

void make_read_only(const std::wstring& path) {
#ifdef _WIN32
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
#else
  fs::permissions(platform::fs_path(path), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
#endif
}

TEST(ManifestWriter, WritesTheExactTextCreatingMissingDirectories) {
  for (const std::wstring relative : {L"build-manifest.json", L"Games\\Shop\\.korvanta\\build-manifest.json"}) {
    testing::TempDir dir;
    std::string reason = "untouched";
    ASSERT_TRUE(write_build_manifest(dir / relative, sample_manifest(), &reason)) << reason;
    EXPECT_EQ(reason, "untouched");
    EXPECT_EQ(testing::read_file(dir / relative), kSampleText);
  }
}

// An empty record has an empty array on one line, and what was there before
// (a longer manifest, a leftover temporary file) is replaced whole.
TEST(ManifestWriter, ReplacesALongerManifestOrALeftoverTemporaryFileWhole) {
  for (const std::wstring before : {L"", L"build-manifest.json", L"build-manifest.json.tmp"}) {
    testing::TempDir dir;
    if (!before.empty()) testing::write_file(dir / before, std::string(100000, 'x'));
    ASSERT_TRUE(write_build_manifest(dir / L"build-manifest.json", BuildManifest{}));
    EXPECT_EQ(testing::read_file(dir / L"build-manifest.json"), kEmptyText);
    EXPECT_EQ(entries_of(dir.path()), kOnlyTheManifest);
  }
}

// Every file and directory below dir with its content ("<dir>" for a
// directory).
std::map<std::string, std::string> tree_of(const std::wstring& dir) {
  std::map<std::string, std::string> tree;
  const fs::path base = platform::fs_path(dir);
  for (auto it = fs::recursive_directory_iterator(base); it != fs::recursive_directory_iterator(); ++it) {
    const std::string key = platform::wide_to_utf8(it->path().lexically_relative(base).wstring());
    tree[key] = it->is_directory() ? "<dir>" : testing::read_file(dir + L"\\" + platform::utf8_to_wide(key));
  }
  return tree;
}

// Each failure leaves the directory as it was (old text, no temporary file,
// no new directory) and fails the same way without a reason pointer.
TEST(ManifestWriter, EachFailureKeepsWhatWasThereAndGivesItsReason) {
  struct Case {
    const char* name;
    std::function<std::wstring(const testing::TempDir&)> prepare;  // returns the target
    std::function<void(BuildManifest&)> spoil;
    std::vector<std::string> reason_parts;
  };
  const auto old_manifest = [](const testing::TempDir& dir) {
    testing::write_file(dir / L"build-manifest.json", "old manifest");
    return dir / L"build-manifest.json";
  };
  const auto nothing = [](BuildManifest&) {};
  const Case cases[] = {
      {"directory in the way",
       [](const testing::TempDir& dir) {
         fs::create_directories(platform::fs_path(dir / L"build-manifest.json\\inner"));
         return dir / L"build-manifest.json";
       },
       nothing, {"failed_to_open_file"}},
      {"read-only target",
       [&](const testing::TempDir& dir) {
         const std::wstring path = old_manifest(dir);
         make_read_only(path);
         return path;
       },
       nothing, {"failed_to_open_file"}},
      {"file in the place of a directory",
       [](const testing::TempDir& dir) {
         testing::write_file(dir / L"blocker", "a file, not a directory");
         return dir / L"blocker\\sub\\build-manifest.json";
       },
       nothing, {"create_directories", "blocker"}},
      {"invalid UTF-8 in the metadata", old_manifest, [](BuildManifest& m) { m.metadata["bad"] = "\xFF\xFE"; },
       {"type_error.316"}},
      {"truncated UTF-8 in a digest, in a new directory",
       [](const testing::TempDir& dir) { return dir / L"new\\dir\\build-manifest.json"; },
       [](BuildManifest& m) { m.files[0].sha256 = std::string(1, '\xC3'); }, {"type_error.316"}},
#ifdef _WIN32
      {"invalid name", [](const testing::TempDir& dir) { return dir / L"bad<name>.json"; }, nothing, {}},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    const std::wstring path = c.prepare(dir);
    const auto before = tree_of(dir.path());
    BuildManifest manifest = sample_manifest();
    c.spoil(manifest);
    std::string reason;
    EXPECT_FALSE(write_build_manifest(path, manifest, &reason));
    EXPECT_FALSE(reason.empty());
    for (const auto& part : c.reason_parts) EXPECT_NE(reason.find(part), std::string::npos) << reason;
    EXPECT_FALSE(write_build_manifest(path, manifest));
    EXPECT_EQ(tree_of(dir.path()), before);
  }
}

TEST(ManifestWriter, APathWithoutADirectoryPartGivesTheDirectoryCreationMessage) {
  std::string reason;
  EXPECT_FALSE(write_build_manifest(L"build-manifest-without-directory.json", sample_manifest(), &reason));
  EXPECT_NE(reason.find("create_directories"), std::string::npos) << reason;
  EXPECT_FALSE(testing::file_exists(L"build-manifest-without-directory.json"));
}

#ifndef _WIN32
// A file-size limit makes the write fail part-way, as a full disk would.
TEST(ManifestWriter, AWriteThatFailsPartWayIsFailedToWriteFileAndKeepsTheOldManifest) {
  testing::TempDir dir;
  const std::wstring path = dir / L"build-manifest.json";
  testing::write_file(path, "old manifest");

  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous_handler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string reason;
  const bool written = write_build_manifest(path, sample_manifest(), &reason);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous_handler);

  EXPECT_FALSE(written);
  EXPECT_EQ(reason, "failed_to_write_file");
  EXPECT_EQ(testing::read_file(path), "old manifest");
  EXPECT_EQ(entries_of(dir.path()), kOnlyTheManifest);
}
#endif

#ifdef _WIN32
TEST(ManifestWriter, AFileHeldOpenWithoutSharingIsFailedToOpenFile) {
  testing::TempDir dir;
  const std::wstring path = dir / L"build-manifest.json";
  testing::write_file(path, "old manifest");
  platform::UniqueHandle holder(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  std::string reason;
  EXPECT_FALSE(write_build_manifest(path, sample_manifest(), &reason));
  EXPECT_EQ(reason, "failed_to_open_file");
  holder.reset();
  EXPECT_EQ(testing::read_file(path), "old manifest");
  EXPECT_EQ(entries_of(dir.path()), kOnlyTheManifest);
}
#endif

}  // namespace
}  // namespace korvanta

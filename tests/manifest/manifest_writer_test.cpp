#include "manifest/manifest_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "platform/file_system.h"
#include "platform/text.h"
#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#endif

namespace korvanta {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

BuildManifest sample_manifest() {
  BuildManifest manifest;
  manifest.id = "build-7";
  manifest.id_mod = "mod-3";
  manifest.channel = "stable";
  manifest.version = "1.4.0";
  manifest.status = "published";
  manifest.manifest_hash = "abc";
  manifest.total_size = 18446744073709551615u;
  manifest.metadata = json{{"note", "\xC3\xA9\xE6\x97\xA5\xE6\x9C\xAC"}, {"tags", json::array({"a", 1})}};
  ManifestFile file;
  file.id = "f1";
  file.path = "Data/Game.pak";
  file.size = 1234;
  file.sha256 = "ab";
  manifest.files.push_back(file);
  return manifest;
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
            1
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

void make_read_only(const std::wstring& path) {
#ifdef _WIN32
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
#else
  fs::permissions(platform::fs_path(path), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
#endif
}

TEST(ManifestWriter, WritesTheExactText) {
  testing::TempDir dir;
  const std::wstring path = dir / L"build-manifest.json";
  std::string reason = "untouched";
  ASSERT_TRUE(write_build_manifest(path, sample_manifest(), &reason));
  EXPECT_EQ(reason, "untouched");
  const std::string text = testing::read_file(path);
  EXPECT_EQ(text, kSampleText);
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(text.find("\\u"), std::string::npos);
  EXPECT_EQ(entries_of(dir.path()), (std::set<std::string>{"build-manifest.json"}));
}

TEST(ManifestWriter, AManifestWithoutFilesHasAnEmptyArrayOnOneLine) {
  testing::TempDir dir;
  const std::wstring path = dir / L"build-manifest.json";
  ASSERT_TRUE(write_build_manifest(path, BuildManifest{}));
  const std::string text = testing::read_file(path);
  EXPECT_EQ(text, kEmptyText);
  EXPECT_EQ(text.back(), '}');
}

TEST(ManifestWriter, WhatIsWrittenReadsBackAsTheSameRecord) {
  testing::TempDir dir;
  const std::wstring path = dir / L"build-manifest.json";
  ASSERT_TRUE(write_build_manifest(path, sample_manifest()));
  const auto back = parse_build_manifest(json::parse(testing::read_file(path)));
  ASSERT_TRUE(back);
  EXPECT_EQ(build_manifest_to_json(*back), build_manifest_to_json(sample_manifest()));
}

TEST(ManifestWriter, CreatesMissingDirectories) {
  testing::TempDir dir;
  const std::wstring path = dir / L"Games\\Shop\\.korvanta\\build-manifest.json";
  std::string reason;
  ASSERT_TRUE(write_build_manifest(path, sample_manifest(), &reason)) << reason;
  EXPECT_EQ(testing::read_file(path), kSampleText);
}

TEST(ManifestWriter, ReplacesALongerManifestWhole) {
  testing::TempDir dir;
  const std::wstring path = dir / L"build-manifest.json";
  testing::write_file(path, std::string(100000, 'x'));
  ASSERT_TRUE(write_build_manifest(path, BuildManifest{}));
  EXPECT_EQ(testing::read_file(path), kEmptyText);
  EXPECT_EQ(entries_of(dir.path()), (std::set<std::string>{"build-manifest.json"}));
}

TEST(ManifestWriter, ALeftoverTemporaryFileIsOverwrittenAndRemoved) {
  testing::TempDir dir;
  const std::wstring path = dir / L"build-manifest.json";
  testing::write_file(path + L".tmp", std::string(5000, 'z'));
  ASSERT_TRUE(write_build_manifest(path, BuildManifest{}));
  EXPECT_EQ(testing::read_file(path), kEmptyText);
  EXPECT_EQ(entries_of(dir.path()), (std::set<std::string>{"build-manifest.json"}));
}

TEST(ManifestWriter, WritesAnyJsonValue) {
  testing::TempDir dir;
  const std::wstring path = dir / L"value.json";
  ASSERT_TRUE(write_json_file(path, json::parse(R"({"b": [1, {"c": null}], "a": 2.5})")));
  EXPECT_EQ(testing::read_file(path), "{\n    \"a\": 2.5,\n    \"b\": [\n        1,\n        {\n            \"c\": null\n"
                                      "        }\n    ]\n}");
}

TEST(ManifestWriter, ADirectoryInTheWayIsFailedToOpenFile) {
  testing::TempDir dir;
  const std::wstring path = dir / L"build-manifest.json";
  fs::create_directories(platform::fs_path(path + L"\\inner"));
  std::string reason;
  EXPECT_FALSE(write_build_manifest(path, sample_manifest(), &reason));
  EXPECT_EQ(reason, "failed_to_open_file");
  EXPECT_TRUE(fs::is_directory(platform::fs_path(path)));
  EXPECT_TRUE(fs::is_directory(platform::fs_path(path + L"\\inner")));
  EXPECT_EQ(entries_of(dir.path()), (std::set<std::string>{"build-manifest.json"}));
}

TEST(ManifestWriter, AReadOnlyTargetIsFailedToOpenFileAndKeepsItsText) {
  testing::TempDir dir;
  const std::wstring path = dir / L"build-manifest.json";
  testing::write_file(path, "old manifest");
  make_read_only(path);
  std::string reason;
  EXPECT_FALSE(write_build_manifest(path, sample_manifest(), &reason));
  EXPECT_EQ(reason, "failed_to_open_file");
  EXPECT_EQ(testing::read_file(path), "old manifest");
  EXPECT_EQ(entries_of(dir.path()), (std::set<std::string>{"build-manifest.json"}));
}

TEST(ManifestWriter, AFileInThePlaceOfADirectoryGivesTheDirectoryCreationMessage) {
  testing::TempDir dir;
  testing::write_file(dir / L"blocker", "a file, not a directory");
  const std::wstring path = dir / L"blocker\\sub\\build-manifest.json";
  std::string reason;
  EXPECT_FALSE(write_build_manifest(path, sample_manifest(), &reason));
  EXPECT_NE(reason.find("create_directories"), std::string::npos) << reason;
  EXPECT_NE(reason.find("blocker"), std::string::npos) << reason;
  EXPECT_EQ(testing::read_file(dir / L"blocker"), "a file, not a directory");
  EXPECT_EQ(entries_of(dir.path()), (std::set<std::string>{"blocker"}));
}

TEST(ManifestWriter, APathWithoutADirectoryPartGivesTheDirectoryCreationMessage) {
  std::string reason;
  EXPECT_FALSE(write_build_manifest(L"build-manifest-without-directory.json", sample_manifest(), &reason));
  EXPECT_NE(reason.find("create_directories"), std::string::npos) << reason;
  EXPECT_FALSE(testing::file_exists(L"build-manifest-without-directory.json"));
}

TEST(ManifestWriter, InvalidUtf8LeavesTheOldManifestAndCreatesNothing) {
  testing::TempDir dir;
  const std::wstring path = dir / L"build-manifest.json";
  testing::write_file(path, "old manifest");
  BuildManifest manifest = sample_manifest();
  manifest.metadata["bad"] = "\xFF\xFE";
  std::string reason;
  EXPECT_FALSE(write_build_manifest(path, manifest, &reason));
  EXPECT_NE(reason.find("type_error.316"), std::string::npos) << reason;
  EXPECT_EQ(testing::read_file(path), "old manifest");
  EXPECT_EQ(entries_of(dir.path()), (std::set<std::string>{"build-manifest.json"}));

  const std::wstring fresh = dir / L"new\\dir\\build-manifest.json";
  manifest.metadata = json::object();
  manifest.files[0].sha256 = "\xC3";  // a truncated sequence
  EXPECT_FALSE(write_build_manifest(fresh, manifest, &reason));
  EXPECT_NE(reason.find("type_error.316"), std::string::npos) << reason;
  EXPECT_FALSE(testing::file_exists(dir / L"new"));
}

TEST(ManifestWriter, FailuresWithoutAReasonPointerStillReturnFalse) {
  testing::TempDir dir;
  testing::write_file(dir / L"blocker", "x");
  EXPECT_FALSE(write_build_manifest(dir / L"blocker\\m.json", sample_manifest()));
  fs::create_directories(platform::fs_path(dir / L"m.json"));
  EXPECT_FALSE(write_build_manifest(dir / L"m.json", sample_manifest()));
  BuildManifest bad;
  bad.id = "\x80";
  EXPECT_FALSE(write_build_manifest(dir / L"other.json", bad));
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
  EXPECT_EQ(entries_of(dir.path()), (std::set<std::string>{"build-manifest.json"}));
}
#endif

#ifdef _WIN32
TEST(ManifestWriter, AFileHeldOpenWithoutSharingIsFailedToOpenFile) {
  testing::TempDir dir;
  const std::wstring path = dir / L"build-manifest.json";
  testing::write_file(path, "old manifest");
  HANDLE holder = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  std::string reason;
  EXPECT_FALSE(write_build_manifest(path, sample_manifest(), &reason));
  EXPECT_EQ(reason, "failed_to_open_file");
  CloseHandle(holder);
  EXPECT_EQ(testing::read_file(path), "old manifest");
  EXPECT_EQ(entries_of(dir.path()), (std::set<std::string>{"build-manifest.json"}));
}

TEST(ManifestWriter, AnInvalidTargetPathIsAFailureNotACrash) {
  testing::TempDir dir;
  std::string reason;
  EXPECT_FALSE(write_build_manifest(dir / L"bad<name>.json", sample_manifest(), &reason));
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(entries_of(dir.path()), std::set<std::string>{});
}
#endif

}  // namespace
}  // namespace korvanta

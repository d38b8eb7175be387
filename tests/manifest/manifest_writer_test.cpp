#include "manifest/manifest_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_system.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

namespace korvanta {

using nlohmann::json;

// The exact bytes of a written manifest (4-space indentation, LF only, UTF-8
// unescaped, members by key, no newline after the last brace); the schema
// check validates the same file.
const std::string kWritten = *testing::content(testing::wide(KORVANTA_SOURCE_DIR "/tests/data/written-manifest.json"));

TEST(ManifestWriter, WritesTheExactTextOverAnOldManifestOrIntoNewDirectories) {
  testing::TempDir dir;
  testing::write_file(dir / L"old\\m.json", std::string(100000, 'x'));
  testing::write_file(dir / L"old\\m.json.tmp", "left by a crash");
  for (const wchar_t* target : {L"old\\m.json", L"new\\dir\\m.json"})
    EXPECT_TRUE(write_build_manifest(dir / target, parse_build_manifest(json::parse(kWritten)).value()));
  EXPECT_EQ(testing::snapshot(dir.path()), (testing::Tree{{"new", "<dir>"}, {"new/dir", "<dir>"}, {"old", "<dir>"},
                                                           {"new/dir/m.json", kWritten}, {"old/m.json", kWritten}}));
}

// Each failure gives its reason, with or without a place for it, and leaves
// the directory as it was: the old manifest, no temporary file, no new directory.
TEST(ManifestWriter, AFailureKeepsTheOldManifestAndLeavesNoTemporaryFile) {
  // A file put in the way, the target, bad metadata, whether the file is read-only, and the reason.
  const std::tuple<const wchar_t*, const wchar_t*, const char*, bool, const char*> cases[] = {
      {L"m.json\\x", L"m.json", "", false, "failed_to_open_file"},        // a directory in the way of the target
      {L"file", L"file\\sub\\m.json", "", false, "create_directories"},   // a file in the way of the parent
      {L"m.json", L"m.json", "\xC3", false, "type_error.316"},             // a string that is not UTF-8
      {L"m.json", L"new\\m.json", "\xFF", false, "type_error.316"},        // ... creates no directory
      {L"m.json", L"m.json", "", true, "failed_to_open_file"}};            // a read-only target
  for (const auto& [existing, target, metadata, read_only, reason_part] : cases) {
    testing::TempDir dir;
    testing::write_file(dir / existing, "old");
    if (read_only) std::filesystem::permissions(platform::fs_path(dir / existing), std::filesystem::perms::owner_read);
    const testing::Tree before = testing::snapshot(dir.path());
    std::string reason;
    EXPECT_FALSE(write_build_manifest(dir / target, BuildManifest{.metadata = metadata}, &reason));
    EXPECT_NE(reason.find(reason_part), std::string::npos) << reason;
    EXPECT_FALSE(write_build_manifest(dir / target, BuildManifest{.metadata = metadata}));
    EXPECT_EQ(testing::snapshot(dir.path()), before) << reason;
  }
}
#ifndef _WIN32
// A file-size limit stops the write part-way, as a full disk would.
TEST(ManifestWriter, AWriteThatFailsPartWayIsFailedToWriteFileAndKeepsTheOldManifest) {
  testing::TempDir dir;
  testing::write_file(dir / L"m.json", "old");
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const rlimit small = {64, saved.rlim_max};
  std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  std::string reason;
  const bool written = write_build_manifest(dir / L"m.json", BuildManifest{}, &reason);
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_FALSE(written);
  EXPECT_EQ(reason, "failed_to_write_file");
  EXPECT_EQ(testing::snapshot(dir.path()), (testing::Tree{{"m.json", "old"}}));
}
#endif

}  // namespace korvanta

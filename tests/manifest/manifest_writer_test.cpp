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
    EXPECT_FALSE(write_build_manifest(dir / target, testing::read_manifest(kWritten).value()));
  EXPECT_EQ(testing::snapshot(dir.path()), (testing::Tree{{"new", "<dir>"}, {"new/dir", "<dir>"}, {"old", "<dir>"},
                                                           {"new/dir/m.json", kWritten}, {"old/m.json", kWritten}}));
}

// Each failure names its step, with the system's error or the words that
// tell it, and leaves the directory as it was: the old manifest, no
// temporary file, no new directory.
TEST(ManifestWriter, AFailureKeepsTheOldManifestAndLeavesNoTemporaryFile) {
  using Step = WriteFailure::Step;
  // A file put in the way, the target, bad metadata, whether the file is read-only, the step and its words.
  const std::tuple<const wchar_t*, const wchar_t*, const char*, bool, Step, const char*> cases[] = {
      {L"m.json\\x", L"m.json", "", false, Step::replace, ""},                         // a directory in the way of the target
      {L"file", L"file\\sub\\m.json", "", false, Step::create_directories, "create_directories"},  // a file in the way of the parent
      {L"m.json", L"m.json", "\xC3", false, Step::encode, "type_error.316"},            // a string that is not UTF-8
      {L"m.json", L"new\\m.json", "\xFF", false, Step::encode, "type_error.316"},       // ... creates no directory
      {L"m.json", L"m.json", "", true, Step::replace, ""}};                             // a read-only target
  for (const auto& [existing, target, metadata, read_only, step, words] : cases) {
    testing::TempDir dir;
    testing::write_file(dir / existing, "old");
    if (read_only) std::filesystem::permissions(platform::fs_path(dir / existing), std::filesystem::perms::owner_read);
    const testing::Tree before = testing::snapshot(dir.path());
    const std::optional<WriteFailure> failure = write_build_manifest(dir / target, BuildManifest{.metadata = metadata});
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->step, step) << failure->message;
    EXPECT_NE(failure->message.find(words), std::string::npos) << failure->message;
    EXPECT_EQ(!failure->system, step == Step::encode) << failure->message;
    EXPECT_EQ(testing::snapshot(dir.path()), before) << failure->message;
  }
  testing::TempDir dir;  // text that is not UTF-8 in a file's entry: not even the directory is made
  BuildManifest manifest;
  manifest.files.push_back({.path = "\xFF"});
  EXPECT_EQ(write_build_manifest(dir / L"new\\m.json", manifest).value().step, Step::encode);
  EXPECT_EQ(testing::snapshot(dir.path()), testing::Tree{});
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
  const std::optional<WriteFailure> failure = write_build_manifest(dir / L"m.json", BuildManifest{});
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(failure.value().step, WriteFailure::Step::write);
  EXPECT_EQ(testing::snapshot(dir.path()), (testing::Tree{{"m.json", "old"}}));
}
#endif

}  // namespace korvanta

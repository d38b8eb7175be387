// The apply engine stopped dead at every file-system call of a multi-file
// apply in turn, as a killed process or a power cut stops it: the call does
// not happen (or, for a copy, leaves half a file) and nothing after it runs:
// no move back, no clean-up. After every stop a player's files are all
// somewhere: each file installed before the apply is still installed (old or
// new version) or its old version is in the backup root, and each new file is
// installed or still staged. The same holds after the launcher runs the
// interrupted update again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "update/apply.h"
#include "update/reason_codes.h"
#include "update_fixture.h"

namespace korvanta {
namespace {

using testing::Installation;

// What the process's death looks like from inside: not an error the engine
// could handle (not a std::exception), and nothing runs after it.
struct Stopped {};

class StoppingFileSystem : public PlatformFileSystem {
 public:
  // stop_at: the call (from 1) that never completes. torn: a copy stopped
  // there writes the first half of the file before the process dies.
  StoppingFileSystem(int stop_at, bool torn) : stop_at_(stop_at), torn_(torn) {}

  int calls() const { return calls_; }
  // Which operation each call was ("copy" for copy_file), in order.
  const std::vector<std::string>& kinds() const { return kinds_; }

  platform::FileStatus status(const std::wstring& path, std::error_code& error) override {
    enter();
    return PlatformFileSystem::status(path, error);
  }
  std::error_code create_directories(const std::wstring& path) override {
    enter();
    return PlatformFileSystem::create_directories(path);
  }
  std::error_code rename(const std::wstring& from, const std::wstring& to) override {
    enter();
    return PlatformFileSystem::rename(from, to);
  }
  std::error_code copy_file(const std::wstring& from, const std::wstring& to) override {
    kinds_.push_back("copy");
    if (++calls_ == stop_at_) {
      if (torn_) {
        const std::string bytes = testing::read_file(from);
        testing::write_file(to, bytes.substr(0, bytes.size() / 2));
      }
      throw Stopped{};
    }
    return PlatformFileSystem::copy_file(from, to);
  }
  std::error_code remove(const std::wstring& path) override {
    enter();
    return PlatformFileSystem::remove(path);
  }
  std::error_code remove_all(const std::wstring& path) override {
    enter();
    return PlatformFileSystem::remove_all(path);
  }
  std::string sha256_file_hex(const std::wstring& path) override {
    enter();
    return PlatformFileSystem::sha256_file_hex(path);
  }
  bool write_build_manifest(const std::wstring& path, const BuildManifest& manifest, std::string* reason) override {
    enter();
    return PlatformFileSystem::write_build_manifest(path, manifest, reason);
  }

 private:
  void enter() {
    kinds_.push_back("other");
    if (++calls_ == stop_at_) throw Stopped{};
  }

  int stop_at_;
  bool torn_;
  int calls_ = 0;
  std::vector<std::string> kinds_;
};

// One file of the sample update: its version before (nullopt: not installed)
// and after (nullopt: deleted or untouched).
struct FileChange {
  std::wstring path;
  std::optional<std::string> before, after;
  bool deleted = false;
};

using Update = std::vector<FileChange>;

// Deletions (one never installed), replacements of installed files, new files
// in new folders, an untouched file.
const Update kUpdate = {
    {L"old.dll", "old dll", std::nullopt, true},
    {L"never\\there.txt", std::nullopt, std::nullopt, true},
    {L"mods\\legacy\\old.pak", "old pak", std::nullopt, true},
    {L"data\\a.bin", "a, build 1", "a, build 2 and longer"},
    {L"data\\maps\\town.bin", "town, build 1", "town, build 2"},
    {L"new\\deep\\c.bin", std::nullopt, "c, build 2"},
    {L"new\\deep\\d.bin", std::nullopt, "d, build 2"},
    {L"extras\\e.bin", std::nullopt, "e, build 2"},
    {L"keep.txt", "keep", std::nullopt},
};

// The same with a path that is both deleted and replaced.
Update with_path_deleted_and_replaced() {
  Update update = kUpdate;
  update.push_back({L"both.txt", "both, build 1", "both, build 2", true});
  return update;
}

void build(Installation& install, const Update& update) {
  for (const FileChange& file : update)
    if (file.before) install.install(file.path, *file.before);
  for (const FileChange& file : update)
    if (file.deleted) install.remove(file.path);
  for (const FileChange& file : update)
    if (file.after) install.replace(file.path, *file.after);
  install.write_state();
}

std::optional<std::string> content(const std::wstring& path) {
  if (!testing::file_exists(path)) return std::nullopt;
  return testing::read_file(path);
}

std::string shown(const std::optional<std::string>& bytes) { return bytes ? "\"" + *bytes + "\"" : "<none>"; }

void expect_nothing_lost(const Installation& install, const Update& update, const std::string& context) {
  for (const FileChange& file : update) {
    const auto installed = content(install.installed_path(file.path));
    const auto backed_up = content(install.backup_path(file.path));
    const auto staged = content(install.staging + L"\\" + file.path);
    const std::string where = context + testing::utf8(file.path) + ": installed " + shown(installed) + ", backup " +
                              shown(backed_up) + ", staged " + shown(staged);
    if (file.before) {
      EXPECT_TRUE(installed == file.before || backed_up == file.before) << where;
      EXPECT_TRUE(!installed || installed == file.before || installed == file.after) << where;
    } else if (!file.after) {
      EXPECT_FALSE(installed) << where;
    }
    if (file.after) {
      EXPECT_TRUE(installed == file.after || staged == file.after) << where;
    }
  }
}

// Stops at every call in turn; after each stop checks the installation, then
// (with rerun) runs the whole update again as the launcher would and checks
// it once more. Returns how many stop points there were.
int stop_at_every_call(const Update& update, bool torn, bool rerun) {
  // With torn copies only the copies are worth stopping at; a whole run tells
  // which calls they are.
  std::vector<std::string> kinds;
  if (torn) {
    Installation install;
    build(install, update);
    StoppingFileSystem whole_run(0, false);
    std::string reason;
    EXPECT_TRUE(apply_update_with(install.state_path, reason, whole_run)) << reason;
    kinds = whole_run.kinds();
    EXPECT_GE(std::count(kinds.begin(), kinds.end(), "copy"), 2);  // the backups of deleted files
  }
  int k = 1;
  for (;; ++k) {
    if (torn && k <= static_cast<int>(kinds.size()) && kinds[k - 1] != "copy") continue;
    if (k >= 500) {
      ADD_FAILURE() << "the apply never stopped making calls";
      return k;
    }
    Installation install;
    build(install, update);
    StoppingFileSystem file_system(k, torn);
    std::string reason;
    const bool applied = apply_update_with(install.state_path, reason, file_system);
    const std::string context = "stopped at call " + std::to_string(k) + (torn ? " (torn copy): " : ": ");
    if (file_system.calls() < k) {
      // Never stopped: the whole update went through.
      EXPECT_TRUE(applied) << reason;
      expect_nothing_lost(install, update, context);
      for (const FileChange& file : update)
        if (file.after) {
          EXPECT_EQ(content(install.installed_path(file.path)), file.after) << context;
        }
      return k - 1;
    }
    EXPECT_FALSE(applied) << context;
    EXPECT_EQ(file_system.calls(), k) << context << "the engine went on after the process died";
    expect_nothing_lost(install, update, context);
    if (::testing::Test::HasFailure()) return k;

    if (!rerun) continue;
    std::string rerun_reason;
    const bool rerun_applied = apply_update(install.state_path, rerun_reason);
    const std::string again = context + "run again: ";
    expect_nothing_lost(install, update, again);
    if (rerun_applied) {
      for (const FileChange& file : update)
        if (file.after) {
          EXPECT_EQ(content(install.installed_path(file.path)), file.after) << again;
        }
      EXPECT_FALSE(testing::file_exists(install.state_path)) << again;
    } else {
      // A replacement that the first run installed has left the staging root.
      EXPECT_EQ(rerun_reason, reason::kStagedFileSizeMismatch) << again;
      EXPECT_TRUE(testing::file_exists(install.state_path)) << again;
    }
    if (::testing::Test::HasFailure()) return k;
  }
}

TEST(CrashConsistency, AnApplyStoppedAtAnyCallLosesNoFile) {
  const int stops = stop_at_every_call(with_path_deleted_and_replaced(), false, false);
  EXPECT_GT(stops, 40) << "fewer calls than a multi-file apply makes";
  std::printf("  %d stop points\n", stops);
}

TEST(CrashConsistency, ACopyTornAtAnyPointLosesNoFile) {
  stop_at_every_call(with_path_deleted_and_replaced(), true, false);
}

TEST(CrashConsistency, RunningAnInterruptedUpdateAgainLosesNoFile) {
  const int stops = stop_at_every_call(kUpdate, false, true);
  EXPECT_GT(stops, 40);
}

// Run again after the first run has installed the new both.txt: the
// deletion of both.txt must not copy that new version over the backup of
// build 1's both.txt.
TEST(CrashConsistency, RunningAnInterruptedUpdateAgainKeepsAPathDeletedAndReplaced) {
  stop_at_every_call(with_path_deleted_and_replaced(), false, true);
}

}  // namespace
}  // namespace korvanta

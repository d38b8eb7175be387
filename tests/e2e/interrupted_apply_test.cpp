// KorvantaUpdater.exe terminated while it applies a long update, at a series
// of points from the first backup to the last replacement, as a player who
// ends it from the task manager (or a power cut) would. After every stop no
// file is lost: each file of the old build is installed (old or new) or in
// the backup root, each new file is installed or still staged, and nothing
// installed holds a half-written file.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <cstdio>
#include <set>

#include "e2e/launcher_run.h"
#include "update/reason_codes.h"

namespace korvanta::e2e {
namespace {

constexpr int kDeletions = 40;
constexpr int kReplacements = 150;
constexpr int kNewFiles = 80;

// prefix, n in three digits, suffix.
std::string named(const char* prefix, int n, const char* suffix) {
  char text[64];
  std::snprintf(text, sizeof text, "%s%03d%s", prefix, n, suffix);
  return text;
}

json content(const std::string& text, int repeat) { return {{"text", text}, {"repeat", repeat}}; }

// Deletions, replacements of installed files and new files in new folders,
// the replacements large enough that the apply takes a while.
json long_update() {
  json scenario = {{"show_ui", false}, {"restart", "none"}, {"installed", json::object()},
                   {"deletions", json::array()}, {"replacements", json::array()}};
  for (int i = 0; i < kDeletions; ++i) {
    const std::string path = named("old/d", i, ".bin");
    scenario["installed"][path] = content(named("old ", i, " "), 3000);
    scenario["deletions"].push_back(path);
  }
  for (int i = 0; i < kReplacements; ++i) {
    const std::string path = named("data/f", i, ".bin");
    scenario["installed"][path] = content(named("f", i, " build 1 "), 10000);
    scenario["replacements"].push_back({{"path", path}, {"content", content(named("f", i, " build 2 "), 14000)}});
  }
  for (int i = 0; i < kNewFiles; ++i) {
    const std::string path = named(i % 2 ? "new/odd/h" : "new/even/deeper/h", i, ".bin");
    scenario["replacements"].push_back({{"path", path}, {"content", content(named("h", i, " "), 20000)}});
  }
  return scenario;
}

std::size_t count_files(const std::wstring& dir) {
  std::size_t count = 0;
  WIN32_FIND_DATAW entry{};
  const HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return 0;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      count += count_files(dir + L"\\" + name);
    } else {
      ++count;
    }
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return count;
}

constexpr std::size_t kStaged = kReplacements + kNewFiles;
constexpr std::size_t kSteps = kDeletions + kReplacements + kNewFiles;

// How far the apply has come: a backup per deletion, a staged file gone per
// replacement (a replacement's backup is not counted twice: it is made in the
// same step).
std::size_t progress(const LauncherRun& run) {
  const std::size_t staged = count_files(run.staging_root());
  const std::size_t backups = count_files(run.backup_root() + L"\\old");
  return backups + (kStaged - std::min(staged, kStaged));
}

TEST(InterruptedApply, TerminatedAtAnyPointTheUpdaterLosesNoFile) {
  constexpr int kRuns = 10;
  std::set<std::size_t> stopped_at;
  bool run_again_done = false;
  for (int i = 0; i < kRuns; ++i) {
    const std::size_t target = 1 + i * (kSteps - 10) / (kRuns - 1);
    LauncherRun run(long_update());
    run.start();
    ASSERT_TRUE(run.take_updater()) << "the stand-in did not start the updater";
    // Wait for the point, then end the updater at once.
    ASSERT_TRUE(eventually([&] { return progress(run) >= target || WaitForSingleObject(run.updater(), 0) == WAIT_OBJECT_0; },
                           std::chrono::seconds(60)));
    TerminateProcess(run.updater(), 77);
    ASSERT_EQ(WaitForSingleObject(run.updater(), 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(run.updater(), &code);
    const std::size_t reached = progress(run);
    const std::string context = "target " + std::to_string(target) + ", stopped at " + std::to_string(reached) +
                                (code == 77 ? "" : " (had ended with " + std::to_string(code) + ")") + ": ";
    std::printf("  %s\n", context.c_str());
    if (code == 77 && reached < kSteps) stopped_at.insert(reached);
    run.expect_nothing_lost(context);
    if (::testing::Test::HasFailure()) return;

    // The launcher finds the state file left behind and runs the update again.
    if (code == 77 && reached > kDeletions + 1 && reached < kSteps - 1 && !run_again_done) {
      run_again_done = true;
      Process again = start_process(testing::tool_path(L"KorvantaUpdater"), {L"--state", run.state_path()});
      ASSERT_TRUE(again.handle);
      const int again_code = wait_for_exit(again.handle.get(), std::chrono::milliseconds(60000));
      run.expect_nothing_lost(context + "run again: ");
      // A replacement installed before the stop has left the staging root:
      // the second run stops there and changes nothing more.
      EXPECT_EQ(again_code, 3) << context;
      const auto log = run.log();
      ASSERT_FALSE(log.empty());
      EXPECT_EQ(log[log.size() - 2], std::string("Apply failed: ") + reason::kStagedFileSizeMismatch) << context;
      EXPECT_TRUE(exists(run.state_path()));
    }
  }
  // Stops at distinct points inside the apply, else this proves little.
  EXPECT_GE(stopped_at.size(), 5u);
  EXPECT_TRUE(run_again_done);
}

}  // namespace
}  // namespace korvanta::e2e
#endif

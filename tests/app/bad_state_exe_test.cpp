// The real KorvantaUpdater.exe on every malformed state file: it ends within
// its time limit with exit code 3 and logs the reason, and a refusal before
// the first change leaves the installation as it was.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "app/restart.h"
#include "platform/handle_win32.h"
#include "support/bad_states.h"

namespace korvanta {
namespace {

using testing::SampleInstallation;

constexpr DWORD kTimeLimitMs = 30000;
constexpr std::size_t kAtOnce = 8;  // updaters running side by side, each in its own installation

struct UpdaterRun {
  const testing::BadState* state = nullptr;
  std::unique_ptr<SampleInstallation> installation;
  testing::Tree before;
  platform::UniqueHandle process;
};

platform::UniqueHandle start_updater(const std::wstring& state_path) {
  std::wstring line = build_command_line(testing::tool_path(L"KorvantaUpdater"), {L"--state", state_path});
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return {};
  CloseHandle(info.hThread);
  return platform::UniqueHandle(info.hProcess);
}

// The installation without the log the run adds.
testing::Tree installation_tree(const SampleInstallation& installation) {
  testing::Tree tree = testing::tree_of(installation.dir());
  std::erase_if(tree, [](const auto& entry) { return entry.first.rfind("Game/.korvanta/logs", 0) == 0; });
  return tree;
}

void finish(UpdaterRun& run) {
  SCOPED_TRACE(run.state->name);
  ASSERT_TRUE(run.process) << "the updater could not be started";
  const DWORD waited = WaitForSingleObject(run.process.get(), kTimeLimitMs);
  if (waited != WAIT_OBJECT_0) {
    TerminateProcess(run.process.get(), 99);
    WaitForSingleObject(run.process.get(), 5000);
    FAIL() << "the updater did not end within " << kTimeLimitMs << " ms";
  }
  DWORD code = 0;
  GetExitCodeProcess(run.process.get(), &code);
  EXPECT_EQ(code, 3u);

  const std::string log = testing::read_file(run.installation->root() + L"\\.korvanta\\logs\\updater.log");
  EXPECT_NE(log.find("] Apply failed: " + run.state->reason + "\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Restarting "), std::string::npos);

  const testing::Tree after = installation_tree(*run.installation);
  if (run.state->unchanged) {
    EXPECT_TRUE(after == run.before) << "the installation changed";
  }
  EXPECT_TRUE(SampleInstallation::lost_files(run.before, after).empty());
}

TEST(BadStateExe, EveryMalformedStateFileEndsWithExitCodeThreeAndItsReasonInTheLog) {
  const auto states = testing::bad_states(/*generated_large=*/true);
  ASSERT_GT(states.size(), 250u);
  for (std::size_t first = 0; first < states.size(); first += kAtOnce) {
    std::vector<UpdaterRun> runs;
    for (std::size_t i = first; i < states.size() && i < first + kAtOnce; ++i) {
      UpdaterRun run;
      run.state = &states[i];
      run.installation = std::make_unique<SampleInstallation>();
      run.installation->write_state(states[i].bytes);
      run.before = installation_tree(*run.installation);
      run.process = start_updater(run.installation->state_path());
      runs.push_back(std::move(run));
    }
    for (UpdaterRun& run : runs) finish(run);
  }
}

}  // namespace
}  // namespace korvanta
#endif

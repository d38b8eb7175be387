// The real KorvantaUpdater.exe, started as the launcher starts it.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <string>
#include <vector>

#include "app/restart.h"
#include "platform/handle_win32.h"
#include "support/temp_dir.h"

namespace korvanta {
namespace {

using platform::UniqueHandle;

struct Started {
  UniqueHandle process;
  DWORD pid = 0;
};

Started start(const std::wstring& exe, const std::vector<std::wstring>& args, const std::wstring& cwd) {
  std::wstring line = build_command_line(exe, args);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  Started started;
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, cwd.empty() ? nullptr : cwd.c_str(),
                     &startup, &info)) {
    CloseHandle(info.hThread);
    started.process.reset(info.hProcess);
    started.pid = info.dwProcessId;
  }
  return started;
}

// Runs the updater to its end and returns its exit code (-1 when it could not
// be started or did not end within a minute).
int run_updater_exe(const std::vector<std::wstring>& args, const std::wstring& cwd = {}) {
  const Started updater = start(testing::tool_path(L"KorvantaUpdater"), args, cwd);
  if (!updater.process) return -1;
  if (WaitForSingleObject(updater.process.get(), 60000) != WAIT_OBJECT_0) {
    TerminateProcess(updater.process.get(), 99);
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(updater.process.get(), &code);
  return static_cast<int>(code);
}

TEST(UpdaterExe, WithoutStateItEndsWithTwoAndCreatesNothing) {
  testing::TempDir dir;
  EXPECT_EQ(run_updater_exe({L"--parent-pid", L"0", L"--product-name", L"Shop"}, dir.path()), 2);
  EXPECT_EQ(run_updater_exe({L"--state"}, dir.path()), 2);
  EXPECT_FALSE(testing::file_exists(dir / L"logs"));
}

TEST(UpdaterExe, UnreadableParentPidEndsWithTwoBeforeAnyLog) {
  testing::TempDir dir;
  EXPECT_EQ(run_updater_exe({L"--state", dir / L".korvanta\\update-state.json", L"--parent-pid", L"launcher"}), 2);
  EXPECT_EQ(run_updater_exe({L"--state", dir / L".korvanta\\update-state.json", L"--parent-pid", L"4294967296"}), 2);
  EXPECT_FALSE(testing::file_exists(dir / L".korvanta"));
}

TEST(UpdaterExe, WaitsForTheLauncherProcessBeforeApplying) {
  testing::TempDir dir;
  const Started launcher = start(testing::tool_path(L"linger"), {L"1500"}, {});
  ASSERT_TRUE(launcher.process);
  // A state file in the wrong place: the apply step refuses it at once, so
  // the run's length is the wait.
  const std::wstring state = dir / L"update-state.json";
  EXPECT_EQ(run_updater_exe({L"--state", state, L"--parent-pid", std::to_wstring(launcher.pid)}), 3);
  EXPECT_EQ(WaitForSingleObject(launcher.process.get(), 0), WAIT_OBJECT_0)
      << "the updater ended while the launcher was still running";
  const std::string log = testing::read_file(dir / L"logs\\updater.log");
  EXPECT_NE(log.find("Waiting for the launcher to close\r\n"), std::string::npos);
  EXPECT_NE(log.find("Apply failed: invalid_update_state_location\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Restarting "), std::string::npos);
}

TEST(UpdaterExe, AFinishedOrMissingLauncherIsNotWaitedFor) {
  testing::TempDir dir;
  const Started launcher = start(testing::tool_path(L"linger"), {L"0"}, {});
  ASSERT_TRUE(launcher.process);
  ASSERT_EQ(WaitForSingleObject(launcher.process.get(), 30000), WAIT_OBJECT_0);
  EXPECT_EQ(run_updater_exe({L"--state", dir / L"update-state.json", L"--parent-pid", std::to_wstring(launcher.pid)}),
            3);
  EXPECT_EQ(run_updater_exe({L"--state", dir / L"update-state.json", L"--parent-pid", L"-1"}), 3);
}

}  // namespace
}  // namespace korvanta
#endif

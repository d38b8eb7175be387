#include "app/run.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <system_error>

#include "log/run_log.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace korvanta {
namespace {

// Records what the run asked of the operating system.
struct FakeSystem {
  std::vector<std::string> calls;
  std::vector<ProgressStatus> shown;
  std::vector<unsigned> sleeps;
  bool apply_result = true;
  std::string apply_reason = "staged_file_hash_mismatch";
  bool restart_result = true;
  bool with_window = false;
  bool window_thread_fails = false;
  std::wstring window_caption;

  struct Window : StatusWindow {
    explicit Window(FakeSystem& s) : system(s) {}
    ~Window() override { system.calls.push_back("close window"); }
    void show_status(ProgressStatus status) override { system.shown.push_back(std::move(status)); }
    FakeSystem& system;
  };

  RunServices services() {
    RunServices s;
    s.run_preview = [this](const std::wstring&) {
      calls.push_back("preview");
      return 0;
    };
    s.make_window = [this](std::wstring caption, std::wstring, bool allow_user_close) -> std::unique_ptr<StatusWindow> {
      if (window_thread_fails) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      if (!with_window) return nullptr;
      window_caption = caption;
      EXPECT_FALSE(allow_user_close);
      return std::make_unique<Window>(*this);
    };
    s.wait_for_process = [this](std::uint32_t pid) { calls.push_back("wait " + std::to_string(pid)); };
    s.apply_update = [this](const std::wstring&, std::string& reason) {
      calls.push_back("apply");
      if (!apply_result) reason = apply_reason;
      return apply_result;
    };
    s.restart_launcher = [this](const std::wstring& path, const std::vector<std::wstring>& args) {
      calls.push_back("restart " + platform::wide_to_utf8(path) + " " + std::to_string(args.size()));
      return restart_result;
    };
    s.sleep = [this](unsigned ms) { sleeps.push_back(ms); };
    return s;
  }
};

class Run : public ::testing::Test {
 protected:
  int run(std::vector<std::wstring> args) {
    args.insert(args.begin(), L"KorvantaUpdater.exe");
    std::vector<const wchar_t*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    return run_updater(static_cast<int>(argv.size()), argv.data(), system.services());
  }

  // The log's lines without their timestamp prefixes.
  std::vector<std::string> log_lines() {
    std::vector<std::string> lines;
    if (!testing::file_exists(log_path())) return lines;
    const std::string text = testing::read_file(log_path());
    std::size_t start = 0;
    while (start < text.size()) {
      const std::size_t end = text.find("\r\n", start);
      const std::string line = text.substr(start, end - start);
      lines.push_back(line.size() >= 22 ? line.substr(22) : line);
      start = end == std::string::npos ? text.size() : end + 2;
    }
    return lines;
  }

  std::wstring log_path() const { return dir / L".korvanta\\logs\\updater.log"; }

  testing::TempDir dir;
  std::wstring state = dir / L".korvanta\\update-state.json";
  FakeSystem system;
};

TEST_F(Run, PreviewShowsOnlyThePreview) {
  EXPECT_EQ(run({L"--state", state, L"--preview-ui", L"--parent-pid", L"7"}), 0);
  EXPECT_EQ(system.calls, (std::vector<std::string>{"preview"}));
  EXPECT_FALSE(testing::file_exists(dir / L".korvanta"));
}

TEST_F(Run, NoStateIsExitCodeTwoWithNothingLoggedOrDone) {
  EXPECT_EQ(run({L"--parent-pid", L"7", L"--show-ui"}), 2);
  EXPECT_EQ(run({L"--state", L""}), 2);
  EXPECT_EQ(run({L"--state"}), 2);
  EXPECT_TRUE(system.calls.empty());
}

TEST_F(Run, UnreadableParentPidIsExitCodeTwoBeforeAnyLog) {
  EXPECT_EQ(run({L"--state", state, L"--parent-pid", L"launcher"}), 2);
  EXPECT_TRUE(system.calls.empty());
  EXPECT_FALSE(testing::file_exists(dir / L".korvanta"));
}

TEST_F(Run, SuccessfulUpdateWaitsAppliesRestartsAndLogsEveryPhase) {
  EXPECT_EQ(run({L"--state", state, L"--parent-pid", L"4242", L"--product-name", L"Shop", L"--restart", L"L.exe", L"--",
                 L"a", L"b"}),
            0);
  EXPECT_EQ(system.calls, (std::vector<std::string>{"wait 4242", "apply", "restart L.exe 2"}));
  EXPECT_EQ(log_lines(), (std::vector<std::string>{"----- Korvanta updater started -----",
                                                   "State file: " + platform::wide_to_utf8(state),
                                                   "Waiting for the launcher to close", "Applying update",
                                                   "Restarting Shop", "Update complete"}));
  EXPECT_TRUE(system.sleeps.empty()) << "no window, no pause";
}

TEST_F(Run, NoParentPidAndNoRestartTargetStillReportEveryPhase) {
  EXPECT_EQ(run({L"--state", state, L"--parent-pid", L"0"}), 0);
  EXPECT_EQ(system.calls, (std::vector<std::string>{"apply"}));
  EXPECT_EQ(log_lines().size(), 6u);
  EXPECT_EQ(log_lines()[4], "Restarting Project");
}

TEST_F(Run, FailedApplyLogsTheReasonAndNeverRestarts) {
  system.apply_result = false;
  EXPECT_EQ(run({L"--state", state, L"--restart", L"L.exe"}), 3);
  EXPECT_EQ(system.calls, (std::vector<std::string>{"apply"}));
  const auto lines = log_lines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[4], "Apply failed: staged_file_hash_mismatch");
  EXPECT_EQ(lines[5], "The update could not be applied");
}

TEST_F(Run, AnExceptionFromTheApplyStepIsAFailedApply) {
  RunServices services = system.services();
  services.apply_update = [](const std::wstring&, std::string&) -> bool { throw std::runtime_error("disk exploded"); };
  const std::wstring args[] = {L"KorvantaUpdater.exe", L"--state", state, L"--restart", L"L.exe"};
  const wchar_t* argv[] = {args[0].c_str(), args[1].c_str(), args[2].c_str(), args[3].c_str(), args[4].c_str()};
  EXPECT_EQ(run_updater(5, argv, services), 3);
  EXPECT_EQ(log_lines()[4], "Apply failed: disk exploded");
}

TEST_F(Run, FailedRestartIsExitCodeFourAfterTheInstall) {
  system.restart_result = false;
  EXPECT_EQ(run({L"--state", state, L"--restart", L"L.exe"}), 4);
  const auto lines = log_lines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[5], "Restart failed");
  EXPECT_EQ(lines[6], "Update installed, but restart failed");
}

TEST_F(Run, WindowShowsEveryPhaseAndHoldsTheLastOneBeforeClosing) {
  system.with_window = true;
  EXPECT_EQ(run({L"--state", state, L"--show-ui", L"--product-name", L"Shop", L"--restart", L"L.exe"}), 0);
  EXPECT_EQ(system.window_caption, L"Shop Updater");
  ASSERT_EQ(system.shown.size(), 4u);
  const std::wstring badges[] = {L"WAITING", L"INSTALLING", L"RESTARTING", L"COMPLETE"};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(system.shown[i].badge, badges[i]);
    EXPECT_EQ(system.shown[i].total, 0u);
    EXPECT_FALSE(system.shown[i].preview);
  }
  EXPECT_EQ(system.shown[0].detail, L"The update will begin as soon as Shop has closed");
  EXPECT_EQ(system.shown[3].detail, L"Shop is ready to use");
  EXPECT_EQ(system.sleeps, (std::vector<unsigned>{500}));
  EXPECT_EQ(system.calls.back(), "close window");
}

TEST_F(Run, FailuresHoldTheWindowForThreeSeconds) {
  system.with_window = true;
  system.apply_result = false;
  EXPECT_EQ(run({L"--state", state, L"--show-ui"}), 3);
  EXPECT_EQ(system.shown.back().badge, L"FAILED");
  EXPECT_EQ(system.shown.back().detail, L"See .korvanta\\logs\\updater.log for details");
  EXPECT_EQ(system.sleeps, (std::vector<unsigned>{3000}));

  system = FakeSystem{};
  system.with_window = true;
  system.restart_result = false;
  EXPECT_EQ(run({L"--state", state, L"--show-ui", L"--product-name", L"", L"--restart", L"L.exe"}), 4);
  EXPECT_EQ(system.shown.back().badge, L"ATTENTION");
  EXPECT_EQ(system.shown.back().detail, L"Start  again manually");
  EXPECT_EQ(system.sleeps, (std::vector<unsigned>{3000}));
}

TEST_F(Run, AWindowThreadThatCannotStartLeavesTheRunWithoutWindowOrPauses) {
  system.window_thread_fails = true;
  EXPECT_EQ(run({L"--state", state, L"--show-ui"}), 0);
  EXPECT_TRUE(system.sleeps.empty());
  EXPECT_EQ(log_lines().back(), "Update complete");
}

}  // namespace
}  // namespace korvanta

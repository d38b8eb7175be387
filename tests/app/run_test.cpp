#include "app/run.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "app/install_progress.h"
#include "app/update_result.h"
#include "platform/error.h"
#include "platform/process.h"
#include "support/test_support.h"
#include "ui/layout.h"

namespace korvanta {
namespace {

using nlohmann::json;
using testing::utf8;

struct Window : StatusWindow {
  explicit Window(std::vector<std::string>& events) : events(events) {}
  ~Window() override { events.push_back("close"); }
  // A phase's badge; a progress status also its detail and percentage.
  void show_status(ProgressStatus status) override {
    events.push_back(utf8(status.badge));
    if (status.total != 0) (events.back() += ' ') += utf8(status.detail + L' ' + percentage_text(status.done, status.total));
  }
  std::vector<std::string>& events;
};

TEST(Run, EachOutcomeHasItsPhasesLogLinesResultAndExitCode) {
  testing::TempDir dir;
  testing::write_file(dir / L"B\\logs", "in the way");
  testing::write_file(dir / L"B\\update-result.json\\in the way", "");
  const std::wstring state = dir / L"S\\update-state.json", unwritable = dir / L"B\\update-state.json";
  const std::wstring result_path = dir / L"S\\update-result.json";
  testing::write_file(state, "left there by every fake apply");
  const std::wstring self = std::to_wstring(platform::current_process_id());
  // A product name that tries to end its log line and forge another.
  const std::wstring forged = L"Shop\r\n[2026-12-06 09:14:05] x\t\x7f\u0085\u2028\\";
  const std::string waiting = "Waiting for the launcher to close", applying = "Applying update",
                    restarting = "Restarting Project", complete = "Update complete";
  const std::string failed = platform::os_error_text(platform::make_os_error(5));
  // What the system says of a file created where a folder is.
#ifdef _WIN32
  const std::string in_the_way = failed;
#else
  const std::string in_the_way = platform::os_error_text(platform::make_os_error(EISDIR));
#endif
  // One run per outcome, one after the other, so that the runs on the state
  // file append to one log; the logs directory beside "unwritable" cannot be
  // made, nor its result file. Events: what the run asked of the system and
  // showed in the window, in order. Log: the run's lines after the banner and
  // the state file's; none when the run must write no log and create
  // nothing. Result: its outcome, reason and failed entry; "kept" when the
  // run must leave the result there as it was, "none" when there is none.
  const struct {
    std::vector<const wchar_t*> args;
    std::optional<Reason> refused;  // by the fake lock
    bool applies, restarts;
    int code;
    std::vector<std::string> events, log;
    std::string result;
  } cases[] = {
      {{L"--state", state.c_str(), L"--parent-pid", L"7", L"--restart", L"L.exe", L"--", L"a b", L""}, {}, true, true,
       0, {"lock", "wait 7", "apply", "restart L.exe [a b] []"}, {waiting, applying, restarting, complete},
       "installed null null"},
      {{L"--state", state.c_str(), L"--show-ui", L"--product-name", forged.c_str()}, {}, true, true, 0,
       {"window " + utf8(forged) + " Updater", "lock", "WAITING", "INSTALLING", "apply", "RESTARTING", "COMPLETE",
        "sleep 500", "close"},
       {waiting, applying, "Restarting Shop\\r\\n[2026-12-06 09:14:05] x\\x09\\x7f\\u0085\\u2028\\", complete},
       "installed null null"},
      {{L"--state", state.c_str(), L"--show-ui", L"--restart", L"L.exe"}, {}, false, true, 3,
       {"window Project Updater", "lock", "WAITING", "INSTALLING", "apply", "FAILED", "sleep 3000", "close"},
       {waiting, applying, "Failed entry: /replacements/0 \"a\\nb\"; Windows error 5", "Apply failed: " + failed,
        "The update could not be applied"},
       "failed " + json(failed).dump() + R"( {"path":"a\nb","place":"/replacements/0","windows_error":5})"},
      // Another updater holds the lock, or the place is wrong: no wait, the result stays.
      {{L"--state", state.c_str(), L"--parent-pid", L"7", L"--restart", L"L.exe"}, Reason::update_already_running, true,
       true, 3, {"lock"},
       {"Failed entry: state file", "Apply failed: update_already_running", "The update could not be applied"},
       "kept"},
      {{L"--state", state.c_str()}, Reason::invalid_update_state_location, true, true, 3, {"lock"},
       {"Failed entry: state file", "Apply failed: invalid_update_state_location", "The update could not be applied"},
       "kept"},
      {{L"--state", state.c_str(), L"--show-ui", L"--restart", L"L.exe"}, {}, true, false, 4,
       {"window Project Updater", "lock", "WAITING", "INSTALLING", "apply", "RESTARTING", "restart L.exe", "ATTENTION",
        "sleep 3000", "close"},
       {waiting, applying, restarting, "Restart failed", "Update installed, but restart failed"},
       "installed_restart_failed null null"},
      {{L"--state", unwritable.c_str()}, {}, true, true, 0, {"lock", "apply"}, {}, "kept"},
      // Its result cannot be written (see below): one line more, the same exit code.
      {{L"--state", state.c_str(), L"--parent-pid", self.c_str()}, {}, true, true, 0, {"lock", "apply"},  // not itself
       {waiting, applying, restarting, complete, "Result file not written: " + in_the_way}, "none"},
      {{L"--parent-pid", L"7", L"--show-ui", L"--state"}, {}, true, true, 2, {}, {}, "kept"},
      {{L"--preview-ui", L"--parent-pid", L"7", L"--product-name", L"Shop"}, {}, true, true, 0, {"preview Shop"}, {},
       "kept"},
  };
  std::vector<std::string> log;
  const std::string started = format_utc(std::chrono::system_clock::now());
  for (const auto& c : cases) {
    if (c.result == "none") testing::write_file(result_path + L".tmp\\in the way", "");
    const std::optional<std::string> earlier_result = testing::content(result_path);
    const testing::Tree before = testing::snapshot(dir.path());
    std::vector<const wchar_t*> argv = c.args;
    argv.insert(argv.begin(), L"KorvantaUpdater.exe");

    std::vector<std::string> events;
    RunServices services;
    services.run_preview = [&](const std::wstring& product) { return events.push_back("preview " + utf8(product)), 0; };
    services.make_window = [&](std::wstring caption, std::wstring, bool closable) {
      events.push_back("window " + utf8(caption) + (closable ? " closable" : ""));
      return std::unique_ptr<StatusWindow>(std::make_unique<Window>(events));
    };
    services.wait_for_process = [&](std::uint32_t pid) { events.push_back("wait " + std::to_string(pid)); };
    services.lock_update = [&](const std::wstring&, UpdaterLock&) -> std::optional<ApplyError> {
      events.push_back("lock");
      if (!c.refused) return std::nullopt;
      return ApplyError{*c.refused, {}, "", std::string(kStateFilePlace), ""};
    };
    services.apply_update = [&](const std::wstring& path, UpdaterLock&, ApplyReport&,
                                ApplyProgress*) -> std::optional<ApplyError> {
      events.push_back(path == argv[2] ? "apply" : "apply elsewhere");
      if (c.applies) return std::nullopt;
      return ApplyError{Reason::system_message, platform::make_os_error(5), "", "/replacements/0", "a\nb"};
    };
    services.restart_launcher = [&](const std::wstring& path, const std::vector<std::wstring>& args) {
      events.push_back("restart " + utf8(path));
      for (const auto& arg : args) events.back() += " [" + utf8(arg) + "]";
      return c.restarts;
    };
    services.sleep = [&](unsigned ms) { events.push_back("sleep " + std::to_string(ms)); };
    services.now_ms = [] { return 0; };
    EXPECT_EQ(run_updater(static_cast<int>(argv.size()), argv.data(), services), c.code);
    EXPECT_EQ(events, c.events);

    if (!c.log.empty()) log.insert(log.end(), {"----- Korvanta updater started -----", "State file: " + utf8(state)});
    log.insert(log.end(), c.log.begin(), c.log.end());
    if (c.log.empty()) EXPECT_EQ(testing::snapshot(dir.path()), before) << ::testing::PrintToString(c.args);
    else EXPECT_EQ(testing::log_texts(dir / L"S\\logs\\updater.log"), log);

    if (c.result == "kept" || c.result == "none") {
      EXPECT_EQ(testing::content(result_path), c.result == "kept" ? earlier_result : std::nullopt);
      continue;
    }
    json result = testing::result_file(result_path, "run-" + std::to_string(c.code)).value_or(json());
    EXPECT_EQ(result["exit_code"].dump() + " " + result.value("outcome", "") + " " + result["reason"].dump() + " " +
                  result["failed_entry"].dump() + " " + result["state_file_left"].dump(),
              std::to_string(c.code) + " " + c.result + " true");
    const std::string start = result.value("start_time", ""), end = result.value("end_time", "");
    EXPECT_TRUE("2025" < started && started <= start && start <= end) << started << " " << start << " " << end;
  }
}

// With a window, the apply's position shows in the installing phase, a
// status at most every 30 ms but for the first, a change to or from a wait's
// line, the latest before a pause and the end of the last entry; the failed
// phase after it has no percentage. Without a window the apply hears
// nothing. Three entries (a deletion, then 1 and 2 MiB) are 3 * 512 KiB +
// 3 MiB of work.
TEST(Run, ShowsTheApplysProgressOnlyInAWindow) {
  const std::uint64_t MiB = 1 << 20;
  const struct {
    std::uint64_t ms, entries_done, bytes_done;
    std::string_view path;
    bool held = false;
    std::uint64_t held_ms = 0;
  } script[] = {{0, 0, 0, ""},           {0, 0, 0, "old/x.cfg"},       {10, 1, 0, "data/a.pak"},
                {40, 1, MiB, "data/a.pak"}, {41, 2, MiB, "data/b.pak"},   {41, 2, 3 * MiB, "data/b.pak"},
                {41, 2, 3 * MiB, "data/b.pak", true, 0},                  {1162, 2, 3 * MiB, "data/b.pak", true, 1120},
                {1662, 2, 3 * MiB, "data/b.pak"},                         {1663, 3, 3 * MiB, ""}};
  testing::TempDir dir;
  const std::wstring state = dir / L"S\\update-state.json";
  std::vector<std::string> events;
  std::uint64_t now = 0;
  RunServices services;
  services.make_window = [&](std::wstring, std::wstring, bool) {
    return std::unique_ptr<StatusWindow>(std::make_unique<Window>(events));
  };
  services.lock_update = [](const std::wstring&, UpdaterLock&) { return std::optional<ApplyError>(); };
  services.apply_update = [&](const std::wstring&, UpdaterLock&, ApplyReport&, ApplyProgress* progress) {
    if (progress == nullptr) events.push_back("no progress");
    for (const auto& step : script) {
      now = step.ms;
      if (progress) progress->update({3, step.entries_done, 3 * MiB, step.bytes_done, step.path, step.held, step.held_ms});
    }
    return std::optional(ApplyError{});
  };
  services.sleep = [](unsigned) {};
  services.now_ms = [&] { return now; };
  for (const wchar_t* ui : {L"--show-ui", L"--product-name"}) {
    const wchar_t* argv[] = {L"KorvantaUpdater.exe", L"--state", state.c_str(), ui, L"Shop"};
    EXPECT_EQ(run_updater(5, argv, services), 3);
  }
  EXPECT_EQ(events, (std::vector<std::string>{
      "WAITING", "INSTALLING", "INSTALLING Installing the verified update files 0%",
      "INSTALLING data\\a.pak  /  1.0 MiB of 3.0 MiB 33%", "INSTALLING data\\b.pak  /  3.0 MiB of 3.0 MiB 88%",
      "INSTALLING Waiting for data\\b.pak, in use by another program 88%",
      "INSTALLING data\\b.pak  /  3.0 MiB of 3.0 MiB 88%", "INSTALLING Installing the verified update files 100%",
      "FAILED", "close", "no progress"}));
  const std::tuple<std::uint64_t, std::uint64_t, const wchar_t*> figures[] = {
      {1023, 1023, L"1023 B of 1023 B"}, {1023, 1024, L"0.9 KiB of 1.0 KiB"},
      {MiB - 1, 1024 * MiB - 1, L"0.9 MiB of 1023.9 MiB"}, {~0ull, ~0ull, L"16777215.9 TiB of 16777215.9 TiB"}};
  for (const auto& [done, total, text] : figures) EXPECT_EQ(byte_figures(done, total), text) << done << " of " << total;
}

}  // namespace
}  // namespace korvanta

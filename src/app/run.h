#pragma once
// One updater process from the split command line to its exit code.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/progress_status.h"
#include "update/apply.h"
#include "update/apply_progress.h"

namespace korvanta {

enum class ExitCode : int {
  kComplete = 0,       // applied (and restarted when asked); also the preview's result
  kUsage = 2,          // no usable command line or no "--state"; nothing logged or changed
  kApplyFailed = 3,    // the apply step failed; no restart
  kRestartFailed = 4,  // applied, but the launcher could not be started
};

// The operating-system work of a run, replaceable by tests.
struct RunServices {
  std::function<int(const std::wstring& product_name)> run_preview;
  WindowFactory make_window;
  std::function<void(std::uint32_t pid)> wait_for_process;
  // UpdaterLock::take: the state file's place checked, the lock taken.
  std::function<std::optional<ApplyError>(const std::wstring& state_path, UpdaterLock& lock)> lock_update;
  // progress: the window's, or null when there is no window.
  std::function<std::optional<ApplyError>(const std::wstring& state_path, UpdaterLock& lock, ApplyReport& report,
                                          ApplyProgress* progress)>
      apply_update;
  std::function<bool(const std::wstring& path, const std::vector<std::wstring>& args)> restart_launcher;
  std::function<void(unsigned milliseconds)> sleep;
  std::function<std::uint64_t()> now_ms;  // a steady clock
};

// The line the log gets just before "Apply failed: ", saying where:
// "Failed entry: " + the place (see ApplyError), then the entry's path as a
// JSON string, then "; Windows error " + the number for a reason that is the
// system's message. For example: Failed entry: /replacements/2 "data/a.bin";
// Windows error 32
inline constexpr std::string_view kFailedEntryPrefix = "Failed entry: ";
inline constexpr std::string_view kUnknownPlace = "unknown";  // for a failure that names no place
std::string failed_entry_line(const ApplyError& failure);

// The real services: window, process wait, apply engine, restart, sleep,
// clock.
RunServices default_services();

// Parses the options and runs the preview or one update: take the updater
// lock, wait for the launcher, apply, restart, with every phase logged, and
// at the end the result file (update_result.h) unless another updater held
// the lock or the state file is in the wrong place. Returns the exit code,
// which no failure to write the result changes. No exception leaves it.
int run_updater(int argc, const wchar_t* const* argv, const RunServices& services);
int run_updater(int argc, const wchar_t* const* argv);

}  // namespace korvanta

#include "app/run.h"

#include <chrono>
#include <optional>

#include <nlohmann/json.hpp>

#include "app/install_progress.h"
#include "app/options.h"
#include "app/restart.h"
#include "app/update_result.h"
#include "log/run_log.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "update/apply.h"
#include "update/apply_file_system.h"

namespace korvanta {
namespace {

// The phases as the window and the log show them: badge, title, detail.
struct Phase {
  std::wstring badge, title, detail;
};

Phase waiting_phase(const std::wstring& product) {
  return {L"WAITING", L"Waiting for the launcher to close", L"The update will begin as soon as " + product + L" has closed"};
}
Phase installing_phase() { return {L"INSTALLING", L"Applying update", L"Installing the verified update files"}; }
Phase failed_phase() {
  return {L"FAILED", L"The update could not be applied", L"See .korvanta\\logs\\updater.log for details"};
}
Phase restarting_phase(const std::wstring& product) {
  return {L"RESTARTING", L"Restarting " + product, L"The update is installed and ready to launch"};
}
Phase attention_phase(const std::wstring& product) {
  return {L"ATTENTION", L"Update installed, but restart failed", L"Start " + product + L" again manually"};
}
Phase complete_phase(const std::wstring& product) {
  return {L"COMPLETE", L"Update complete", product + L" is ready to use"};
}

constexpr unsigned kFailurePauseMs = 3000;
constexpr unsigned kCompletePauseMs = 500;

void report(RunLog& log, const Phase& phase) { log.set_status(phase.badge, phase.title, phase.detail); }

ProgressStatus status_of(const Phase& phase) {
  ProgressStatus status;
  status.badge = phase.badge;
  status.title = phase.title;
  status.detail = phase.detail;
  return status;
}

// A step's failure, also when it throws.
template <class Step>
std::optional<ApplyError> guarded(const Step& step) {
  try {
    return step();
  } catch (const std::exception& e) {
    ApplyError error = failure(Reason::own_message);
    error.message = e.what();
    return error;
  } catch (...) {
    return ApplyError{};
  }
}

// Whether the state file is still there; when that cannot be told, yes: a
// launcher that looks finds out.
bool state_file_left(const std::wstring& state_path) {
  std::error_code error;
  return platform::file_status(state_path, error).exists || error;
}

ExitCode run_update(const UpdaterOptions& options, const RunServices& services) {
  UpdateResult result;
  result.start = std::chrono::system_clock::now();
  RunLog log(options.state_path, options.show_ui, options.product_name, services.make_window);
  const auto pause = [&](unsigned ms) {
    if (log.has_window()) services.sleep(ms);
  };
  const std::wstring result_path = result_path_for(options.state_path);
  std::optional<ApplyError> failure;
  const auto finish = [&](ExitCode code, unsigned pause_ms) {
    // The result of the updater that holds the lock is not this one's to
    // overwrite; beside a state file in the wrong place, a file of that name
    // may be anybody's.
    if (!failure || (failure->reason != Reason::update_already_running &&
                     failure->reason != Reason::invalid_update_state_location)) {
      result.exit_code = static_cast<int>(code);
      result.failure = failure;
      result.state_file_left = state_file_left(options.state_path);
      result.end = std::chrono::system_clock::now();
      if (const auto why = write_update_result(result_path, result))
        log.write_line(std::string(kResultNotWrittenPrefix) + *why);
    }
    pause(pause_ms);
    return code;
  };

  // Before the wait: a second updater started meanwhile (by a second
  // launcher, say) must refuse, not apply the update while this one waits.
  UpdaterLock lock;
  failure = guarded([&] { return services.lock_update(options.state_path, lock); });
  if (!failure) {
    // Should this run be killed, an earlier run's result must not pass for
    // its own.
    platform::remove_own_file(result_path);
    report(log, waiting_phase(options.product_name));
    // Its own id would be waited for forever.
    if (options.parent_pid != 0 && options.parent_pid != platform::current_process_id())
      services.wait_for_process(options.parent_pid);
    report(log, installing_phase());
    // Without a window the apply tells nobody, and pays nothing for it.
    InstallProgress progress(log, status_of(installing_phase()), services.now_ms);
    failure = guarded([&] {
      return services.apply_update(options.state_path, lock, result.report, log.has_window() ? &progress : nullptr);
    });
  }
  if (failure) {
    log.write_line(failed_entry_line(*failure));
    log.write_line("Apply failed: " + failure->reason_text());
    report(log, failed_phase());
    return finish(ExitCode::kApplyFailed, kFailurePauseMs);
  }

  report(log, restarting_phase(options.product_name));
  if (!options.restart_path.empty() && !services.restart_launcher(options.restart_path, options.restart_args)) {
    log.write_line("Restart failed");
    report(log, attention_phase(options.product_name));
    return finish(ExitCode::kRestartFailed, kFailurePauseMs);
  }
  report(log, complete_phase(options.product_name));
  return finish(ExitCode::kComplete, kCompletePauseMs);
}

}  // namespace

std::string failed_entry_line(const ApplyError& failure) {
  std::string line = std::string(kFailedEntryPrefix);
  line += failure.place.empty() ? kUnknownPlace : failure.place;
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about the
  // temporaries of a chain of string additions in the i686 build.
  if (!failure.path.empty()) {
    line += ' ';
    line += nlohmann::json(failure.path).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  if (const int number = failure.windows_error(); number != 0) {
    line += "; Windows error ";
    line += std::to_string(number);
  }
  return line;
}

RunServices default_services() {
  RunServices services;
  services.run_preview = run_preview;
  services.make_window = default_window_factory();
  services.wait_for_process = platform::wait_for_process_exit;
  services.lock_update = [](const std::wstring& state_path, UpdaterLock& lock) { return lock.take(state_path); };
  services.apply_update = [](const std::wstring& state_path, UpdaterLock& lock, ApplyReport& report,
                             ApplyProgress* progress) {
    PlatformFileSystem file_system;
    return apply_update_with(state_path, file_system, &report, &lock, progress);
  };
  services.restart_launcher = restart_launcher;
  services.sleep = platform::sleep_milliseconds;
  services.now_ms = [] {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  };
  return services;
}

int run_updater(int argc, const wchar_t* const* argv, const RunServices& services) {
  try {
    const std::optional<UpdaterOptions> options = parse_options(argc, argv);
    if (!options) return static_cast<int>(ExitCode::kUsage);
    if (options->preview) return services.run_preview(options->product_name);
    if (options->state_path.empty()) return static_cast<int>(ExitCode::kUsage);
    return static_cast<int>(run_update(*options, services));
  } catch (...) {
    // Out of memory or a window thread that could not start in the preview:
    // nothing sensible is left to do but report failure.
    return static_cast<int>(ExitCode::kApplyFailed);
  }
}

int run_updater(int argc, const wchar_t* const* argv) { return run_updater(argc, argv, default_services()); }

}  // namespace korvanta

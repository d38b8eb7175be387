// What the progress window costs an update: apply_update as the run makes it
// with "--show-ui" (the window open and painting, the apply's progress shown
// in it) against the same without a window, in turns on fresh copies of one
// workload (many small files: the most statuses per second). A Windows
// console program for Wine; it needs a display. Give the directory that
// apply_bench generated, as a Windows path:
//
//   progress_bench_win32 <dir> [repetitions]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/install_progress.h"
#include "apply_workload.h"
#include "bench_support.h"
#include "log/run_log.h"
#include "update/apply.h"

namespace {

namespace fs = std::filesystem;
using namespace korvanta;

// Processor time of the calling thread: the apply's own, without the
// window's painting on its thread.
double thread_seconds() {
  FILETIME creation, exit, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user)) return 0;
  const auto seconds = [](const FILETIME& time) {
    return ((static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime) * 1e-7;
  };
  return seconds(kernel) + seconds(user);
}

std::uint64_t now_ms() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

struct Timing {
  double seconds = 1e300, thread_cpu = 1e300;
  double last = 0;      // the latest run's seconds
  double in_calls = 0;  // of the latest run, in the calls that show the progress
};

// The run's progress, timed call by call: what showing it costs the apply's
// own thread, free of the neighbours' noise that the wall clock carries.
struct TimedProgress final : ApplyProgress {
  explicit TimedProgress(ApplyProgress& inner) : inner(inner) {}
  void update(const ApplyPosition& at) noexcept override {
    const auto start = std::chrono::steady_clock::now();
    inner.update(at);
    seconds += bench::seconds_since(start);
  }
  ApplyProgress& inner;
  double seconds = 0;
};

// One run as run_updater makes it, timed from the apply's start to its end:
// the window (when shown) is open before and closes after.
bool timed_apply(const fs::path& dir, const std::vector<bench::WorkloadFile>& files, bool show_ui, Timing& best) {
  const std::wstring state = prepare_update(dir, files).wstring();
  bool ok = false;
  {
    RunLog log(state, show_ui, L"Bench");
    ProgressStatus phase;
    phase.badge = L"INSTALLING";
    phase.title = L"Applying update";
    phase.detail = L"Installing the verified update files";
    InstallProgress shown(log, phase, now_ms);
    TimedProgress progress(shown);
    const double cpu = thread_seconds();
    const auto start = std::chrono::steady_clock::now();
    ok = !apply_update(state, log.has_window() ? &progress : nullptr);
    best.last = bench::seconds_since(start);
    best.in_calls = progress.seconds;
    best.seconds = std::min(best.seconds, best.last);
    best.thread_cpu = std::min(best.thread_cpu, thread_seconds() - cpu);
    ok = ok && (!show_ui || log.has_window());
  }
  std::error_code error;
  fs::remove_all(dir / "work", error);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: progress_bench_win32 <dir> [repetitions]\n");
    return 2;
  }
  const fs::path dir = argv[1];
  const int repetitions = argc > 2 ? std::atoi(argv[2]) : 7;
  const std::vector<bench::WorkloadFile> files = bench::read_workload(dir);
  std::size_t entries = 0;
  for (const auto& file : files) entries += file.kind != 'O';
  if (files.empty()) {
    std::fprintf(stderr, "no workload in %s: generate it first\n", argv[1]);
    return 1;
  }
  Timing plain, window;
  // On a shared machine the neighbours' load comes and goes: besides the
  // best of each, the median of the ratios of runs made one after the other.
  std::vector<double> ratios, shares;
  for (int i = 0; i < repetitions; ++i) {
    // Which goes first alternates, so that neither always meets a cold cache.
    for (const bool show_ui : {i % 2 == 0, i % 2 != 0}) {
      if (!timed_apply(dir, files, show_ui, show_ui ? window : plain)) {
        std::fprintf(stderr, "run %d %s the window failed\n", i, show_ui ? "with" : "without");
        return 1;
      }
    }
    ratios.push_back(window.last / plain.last);
    shares.push_back(window.in_calls / window.last);
  }
  std::sort(ratios.begin(), ratios.end());
  std::sort(shares.begin(), shares.end());
  const double median = ratios[ratios.size() / 2], share = shares[shares.size() / 2];
  std::printf("apply_update with and without the progress window: %zu entries; best of %d\n", entries, repetitions);
  std::printf("  %-40s %10s %8s %16s %8s\n", "", "seconds", "ratio", "main thread CPU", "ratio");
  std::printf("  %-40s %10.3f %8.3f %16.3f %8.3f\n", "with the window (--show-ui)", window.seconds,
              window.seconds / plain.seconds, window.thread_cpu, window.thread_cpu / plain.thread_cpu);
  std::printf("  %-40s %10.3f %8.3f %16.3f %8.3f\n", "without", plain.seconds, 1.0, plain.thread_cpu, 1.0);
  std::printf("  median of the %zu paired ratios: %.3f\n", ratios.size(), median);
  std::printf("  share of the apply's time spent showing its progress (median): %.5f\n", share);
  bench::print_result("wine_progress_window_seconds", window.seconds);
  bench::print_result("wine_progress_plain_seconds", plain.seconds);
  bench::print_result("wine_progress_window_cpu", window.thread_cpu);
  bench::print_result("wine_progress_plain_cpu", plain.thread_cpu);
  bench::print_result("wine_progress_median_ratio", median);
  bench::print_result("wine_progress_share", share);
  return 0;
}

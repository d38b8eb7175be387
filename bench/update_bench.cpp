// The updater as a program against the floor of its work (floor_bench), on
// installations made fresh for every run: wall time of each process, in
// interleaved pairs (the order swapped every pair, so that neither side
// always runs on a warmer machine), and the peak resident memory of the
// updater's process (the kernel's high-water mark, from wait4).
//
//   update_bench generate <dir> game|small|empty <files> [total MiB]
//   update_bench run <dir> full|delta|manifest-only <repetitions> [--windows] [--extra <n>]
//                [--name <key>] --updater <command...> [--floor <command...>] [--before <command...>]
//                [--window <command...>]
//
// An updater command (--updater; --before: an earlier build of it; --window:
// the updater with its window, given "--show-ui") gets "--state <state
// file>" appended, the floor command the floor's list; each pair runs each of them
// once, each first in its turn. --windows: the programs are Windows programs
// under Wine, and get Z:\ paths. --extra: the manifest lists that many more
// files (not on disk). Prints a table and RESULT lines under <key>: seconds
// (best), ms per entry, the ratio to the floor (median of the pairs), peak
// resident KiB; for an updater that writes update-result.json, the seconds
// until it was written (best). With --window also the window's cost: its
// ratio to --updater in each pair, median, of both times and of the
// processes' processor time.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "update_tree.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace korvanta::bench;

struct Outcome {
  int status = -1;
  double seconds = 0;
  long peak_kib = 0;
  // Until update-result.json was last written (its time stamp): the run
  // without the moment a window stays on screen after it; 0 when it was not.
  double to_result = 0;
  // Processor time of the process, all its threads (under Wine not the
  // wineserver's nor the X server's): what a busy machine's neighbours
  // change least.
  double cpu_seconds = 0;
};

Outcome run_process(std::vector<std::string> command, const fs::path& result_file) {
  std::vector<char*> argv;
  for (auto& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);
  Outcome outcome;
  const auto start = std::chrono::steady_clock::now();
  const auto start_stamp = fs::file_time_type::clock::now();
  // The program's own output is not the benchmark's; its errors are.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return outcome;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return outcome;
  outcome.seconds = seconds_since(start);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  outcome.peak_kib = usage.ru_maxrss;
  const auto seconds_of = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
  outcome.cpu_seconds = seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
  std::error_code error;
  if (const auto stamp = fs::last_write_time(result_file, error); !error)
    outcome.to_result = std::chrono::duration<double>(stamp - start_stamp).count();
  return outcome;
}

std::string tail_of(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text.size() > 600 ? text.substr(text.size() - 600) : text;
}

// One program the run measures: its command, and its figures over the pairs.
struct Side {
  std::string name;  // "updater", "before" (an earlier updater), "window" (the updater with its window) or "floor"
  std::vector<std::string> command;
  std::vector<double> seconds, to_result, cpu_seconds;
  long peak_kib = 0;
  bool is_floor() const { return name == "floor"; }
};

int run(int argc, char** argv) {
  const fs::path dir = argv[2];
  const std::string kind_name = argv[3];
  const int repetitions = std::max(1, std::atoi(argv[4]));
  bool windows = false;
  std::size_t extra = 0;
  std::string key = kind_name;
  std::vector<Side> sides;
  for (int i = 5; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--windows") windows = true;
    else if (word == "--extra" && i + 1 < argc) extra = std::strtoull(argv[++i], nullptr, 10);
    else if (word == "--name" && i + 1 < argc) key = argv[++i];
    else if (word == "--updater" || word == "--floor" || word == "--before" || word == "--window")
      sides.push_back({word.substr(2), {}});
    else if (!sides.empty()) sides.back().command.push_back(word);
  }
  const UpdateKind kind = kind_name == "full"    ? UpdateKind::full
                          : kind_name == "delta" ? UpdateKind::delta
                                                 : UpdateKind::manifest_only;
  const std::vector<TreeFile> tree = read_tree(dir);
  if (tree.empty() || sides.empty()) {
    std::fprintf(stderr, "no tree in %s (generate it first), or no program to run\n", dir.c_str());
    return 2;
  }
  const std::vector<Entry> entries = update_entries(tree, kind);
  std::size_t replaced = 0, added = 0, deleted = 0, listed = 0;
  for (const Entry& entry : entries) (entry.kind == 'R' ? replaced : entry.kind == 'N' ? added : deleted)++;

  // Each program once on an update of one entry, not timed: the first start
  // of a program under Wine (its DLLs, the server's state) is not the one to
  // measure.
  for (Side& side : sides) {
    const std::vector<Entry> one(entries.begin(), entries.begin() + std::min<std::size_t>(1, entries.size()));
    const Work work = prepare_work(dir, tree, one, windows);
    std::vector<std::string> command = side.command;
    if (side.is_floor()) command.push_back(program_path(work.floor_list, windows));
    else command.insert(command.end(), {"--state", program_path(work.state_file, windows)});
    run_process(command, work.data_dir / "update-result.json");
  }
  for (int rep = 0; rep < repetitions; ++rep) {
    std::printf("  pair %d:", rep + 1);
    for (std::size_t turn = 0; turn < sides.size(); ++turn) {
      // Each side goes first in its turn of the pairs.
      Side& side = sides[(turn + rep) % sides.size()];
      const Work work = prepare_work(dir, tree, entries, windows, extra);
      listed = work.listed;
      std::vector<std::string> command = side.command;
      if (side.is_floor()) {
        command.push_back(program_path(work.floor_list, windows));
      } else {
        command.push_back("--state");
        command.push_back(program_path(work.state_file, windows));
      }
      const Outcome outcome = run_process(command, work.data_dir / "update-result.json");
      std::string fault = outcome.status != 0 ? "exit status " + std::to_string(outcome.status) : "";
      if (fault.empty()) fault = check_work(dir, work, entries);
      if (fault.empty() && !side.is_floor() &&
          (fs::exists(work.state_file) || !fs::exists(work.data_dir / "build-manifest.json")))
        fault = "the state file is still there or no manifest was written";
      if (!fault.empty()) {
        std::fprintf(stderr, "\n%s run %d failed: %s\n%s\n", side.name.c_str(), rep + 1, fault.c_str(),
                     tail_of(work.data_dir / "logs" / "updater.log").c_str());
        return 1;
      }
      side.seconds.push_back(outcome.seconds);
      side.to_result.push_back(outcome.to_result);
      side.cpu_seconds.push_back(outcome.cpu_seconds);
      side.peak_kib = std::max(side.peak_kib, outcome.peak_kib);
      std::printf(" %s %.3f s", side.name.c_str(), outcome.seconds);
      if (outcome.to_result > 0) std::printf(" (result %.3f s, cpu %.3f s)", outcome.to_result, outcome.cpu_seconds);
      std::fflush(stdout);
    }
    fs::remove_all(dir / "work");
    std::printf("\n");
  }

  const std::size_t files = std::max<std::size_t>(1, entries.size());
  std::printf("%s: %zu replaced, %zu new, %zu deleted; %zu listed files (entries and manifest files); best of %d\n",
              key.c_str(), replaced, added, deleted, listed, repetitions);
  print_result(key + "_listed", static_cast<double>(listed));
  print_result(key + "_entries", static_cast<double>(entries.size()));
  const Side *floor = nullptr, *updater = nullptr;
  for (const Side& side : sides) {
    if (side.is_floor()) floor = &side;
    if (side.name == "updater") updater = &side;
  }
  // The ratio of a to b in each pair, taken in the same pair; their median.
  const auto median_ratio = [](const std::vector<double>& a, const std::vector<double>& b) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < a.size(); ++i) ratios.push_back(a[i] / b[i]);
    std::sort(ratios.begin(), ratios.end());
    return ratios.size() % 2 ? ratios[ratios.size() / 2]
                             : (ratios[ratios.size() / 2 - 1] + ratios[ratios.size() / 2]) / 2;
  };
  std::vector<std::pair<std::string, double>> results;
  for (const Side& side : sides) {
    const std::string name = key + "_" + side.name;
    const double best = *std::min_element(side.seconds.begin(), side.seconds.end());
    std::printf("  %-8s best %8.3f s, %7.3f ms per entry", side.name.c_str(), best, best * 1000 / files);
    results.emplace_back(name + "_seconds", best);
    results.emplace_back(name + "_ms_per_file", best * 1000 / files);
    if (!side.is_floor()) {
      std::printf(", peak resident %ld KiB (%.0f bytes per listed file)", side.peak_kib,
                  side.peak_kib * 1024.0 / static_cast<double>(listed));
      results.emplace_back(name + "_peak_kib", static_cast<double>(side.peak_kib));
    }
    if (floor && !side.is_floor()) {
      const double median = median_ratio(side.seconds, floor->seconds);
      std::printf(", / floor %.3f (median of the pairs)", median);
      results.emplace_back(name + "_ratio", median);
    }
    const bool to_result = std::all_of(side.to_result.begin(), side.to_result.end(), [](double t) { return t > 0; });
    if (!side.is_floor() && to_result) {
      const double result_best = *std::min_element(side.to_result.begin(), side.to_result.end());
      std::printf("; until its result file: best %.3f s", result_best);
      results.emplace_back(name + "_to_result_seconds", result_best);
    }
    std::printf("\n");
    if (side.name == "window" && updater) {
      const double whole = median_ratio(side.seconds, updater->seconds);
      std::printf("  window / updater, median of the pairs: %.3f of the process", whole);
      results.emplace_back(key + "_window_to_updater", whole);
      const double cpu = median_ratio(side.cpu_seconds, updater->cpu_seconds);
      std::printf(", %.3f of its processor time", cpu);
      results.emplace_back(key + "_window_to_updater_cpu", cpu);
      if (to_result && std::all_of(updater->to_result.begin(), updater->to_result.end(), [](double t) { return t > 0; })) {
        const double until = median_ratio(side.to_result, updater->to_result);
        std::printf(", %.3f until the result file", until);
        results.emplace_back(key + "_window_to_updater_to_result", until);
      }
      std::printf("\n");
    }
  }
  for (const auto& [name, value] : results) print_result(name, value);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "generate" && argc > 4) {
    const std::string sizes = argv[3];
    TreeShape shape;
    shape.sizes = sizes == "small" ? Sizes::small : sizes == "empty" ? Sizes::empty : Sizes::game;
    shape.files = std::atoi(argv[4]);
    if (argc > 5) shape.total_bytes = std::strtoull(argv[5], nullptr, 10) << 20;
    generate_tree(argv[2], shape);
    return 0;
  }
  if (mode == "run" && argc > 5) return run(argc, argv);
  std::fprintf(stderr,
               "usage: update_bench generate <dir> game|small|empty <files> [total MiB]\n"
               "       update_bench run <dir> full|delta|manifest-only <repetitions> [--windows] [--extra <n>]"
               " [--name <key>] --updater <command...> [--floor <command...>] [--before <command...>]"
               " [--window <command...>]\n");
  return 2;
}

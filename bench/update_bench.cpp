// The updater as a program against the floor of its work (floor_bench), on
// installations made fresh for every run: wall time of each process, in
// interleaved pairs (the order swapped every pair, so that neither side
// always runs on a warmer machine), and the peak resident memory of the
// updater's process (the kernel's high-water mark, from wait4).
//
//   update_bench generate <dir> game|small|empty <files> [total MiB]
//   update_bench run <dir> full|delta|manifest-only <repetitions> [--windows] [--extra <n>]
//                [--name <key>] -- <updater command...> [-- <floor command...>]
//
// The updater command gets "--state <state file>" appended, the floor
// command the floor's list. --windows: the programs are Windows programs
// under Wine, and get Z:\ paths. --extra: the manifest lists that many more
// files (not on disk). Prints a table and RESULT lines under <key>.
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
};

Outcome run_process(std::vector<std::string> command) {
  std::vector<char*> argv;
  for (auto& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);
  Outcome outcome;
  const auto start = std::chrono::steady_clock::now();
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
  return outcome;
}

std::string tail_of(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text.size() > 600 ? text.substr(text.size() - 600) : text;
}

int run(int argc, char** argv) {
  const fs::path dir = argv[2];
  const std::string kind_name = argv[3];
  const int repetitions = std::max(1, std::atoi(argv[4]));
  bool windows = false;
  std::size_t extra = 0;
  std::string key = kind_name;
  std::vector<std::string> updater, floor;
  int i = 5;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (!std::strcmp(argv[i], "--windows")) windows = true;
    else if (!std::strcmp(argv[i], "--extra") && i + 1 < argc) extra = std::strtoull(argv[++i], nullptr, 10);
    else if (!std::strcmp(argv[i], "--name") && i + 1 < argc) key = argv[++i];
  }
  for (++i; i < argc && std::strcmp(argv[i], "--") != 0; ++i) updater.push_back(argv[i]);
  for (++i; i < argc; ++i) floor.push_back(argv[i]);
  const UpdateKind kind = kind_name == "full"    ? UpdateKind::full
                          : kind_name == "delta" ? UpdateKind::delta
                                                 : UpdateKind::manifest_only;
  const std::vector<TreeFile> tree = read_tree(dir);
  if (tree.empty() || updater.empty()) {
    std::fprintf(stderr, "no tree in %s (generate it first), or no updater command\n", dir.c_str());
    return 2;
  }
  const std::vector<Entry> entries = update_entries(tree, kind);
  std::size_t replaced = 0, added = 0, deleted = 0;
  for (const Entry& entry : entries) (entry.kind == 'R' ? replaced : entry.kind == 'N' ? added : deleted)++;

  double best_updater = 1e300, best_floor = 1e300;
  std::vector<double> ratios;
  long peak_kib = 0;
  std::size_t listed = 0;
  for (int rep = 0; rep < repetitions; ++rep) {
    double updater_seconds = 0, floor_seconds = 0;
    for (int side = 0; side < (floor.empty() ? 1 : 2); ++side) {
      const bool floor_turn = floor.empty() ? false : (side == 0) == (rep % 2 == 1);
      const Work work = prepare_work(dir, tree, entries, windows, extra);
      listed = work.listed;
      std::vector<std::string> command = floor_turn ? floor : updater;
      if (floor_turn) {
        command.push_back(program_path(work.floor_list, windows));
      } else {
        command.push_back("--state");
        command.push_back(program_path(work.state_file, windows));
      }
      const Outcome outcome = run_process(command);
      std::string fault = outcome.status != 0 ? "exit status " + std::to_string(outcome.status) : "";
      if (fault.empty()) fault = check_work(dir, work, entries);
      if (fault.empty() && !floor_turn && (fs::exists(work.state_file) || !fs::exists(work.data_dir / "build-manifest.json")))
        fault = "the state file is still there or no manifest was written";
      if (!fault.empty()) {
        std::fprintf(stderr, "%s run %d failed: %s\n%s\n", floor_turn ? "floor" : "updater", rep, fault.c_str(),
                     tail_of(work.data_dir / "logs" / "updater.log").c_str());
        return 1;
      }
      (floor_turn ? floor_seconds : updater_seconds) = outcome.seconds;
      if (!floor_turn) peak_kib = std::max(peak_kib, outcome.peak_kib);
    }
    fs::remove_all(dir / "work");
    best_updater = std::min(best_updater, updater_seconds);
    if (!floor.empty()) {
      best_floor = std::min(best_floor, floor_seconds);
      ratios.push_back(updater_seconds / floor_seconds);
    }
    std::printf("  pair %d: updater %.3f s%s", rep + 1, updater_seconds, floor.empty() ? "\n" : "");
    if (!floor.empty()) std::printf(", floor %.3f s, ratio %.3f\n", floor_seconds, ratios.back());
    std::fflush(stdout);
  }
  const std::size_t files = std::max<std::size_t>(1, entries.size());
  std::printf("%s: %zu replaced, %zu new, %zu deleted; %zu listed files (entries and manifest files)\n", key.c_str(),
              replaced, added, deleted, listed);
  std::printf("  updater best %.3f s (%.3f ms per entry), peak resident %ld KiB (%.0f bytes per listed file)\n",
              best_updater, best_updater * 1000 / files, peak_kib, peak_kib * 1024.0 / listed);
  print_result(key + "_updater_seconds", best_updater);
  print_result(key + "_updater_ms_per_file", best_updater * 1000 / files);
  print_result(key + "_peak_kib", static_cast<double>(peak_kib));
  print_result(key + "_listed", static_cast<double>(listed));
  if (!floor.empty()) {
    std::sort(ratios.begin(), ratios.end());
    const double median = ratios[ratios.size() / 2];
    std::printf("  floor best %.3f s (%.3f ms per entry); updater / floor: %.3f (median of the pairs), %.3f (best of each)\n",
                best_floor, best_floor * 1000 / files, median, best_updater / best_floor);
    print_result(key + "_floor_seconds", best_floor);
    print_result(key + "_floor_ms_per_file", best_floor * 1000 / files);
    print_result(key + "_ratio", median);
  }
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
               " [--name <key>] -- <updater...> [-- <floor...>]\n");
  return 2;
}

#pragma once
// The update that the apply benchmark installs, built once on disk and then
// set up afresh for every timed run from hard links, so that each run reads
// the same cached bytes and no run pays for copying a gigabyte.
//
// <dir>/listing.tsv     one line per file: kind, relative path, size, SHA-256
// <dir>/pristine/...    the staged files and the installed files to begin with
// <dir>/work/Game/...   one run's installation (removed after the run)
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace korvanta::bench {

struct WorkloadFile {
  // 'R' staged, replaces an installed file; 'N' staged, new; 'O' the
  // installed file that an 'R' replaces; 'D' installed, to be deleted.
  char kind = 0;
  std::string path;  // relative, "/" separated
  std::uint64_t size = 0;
  std::string sha256;
};

struct WorkloadShape {
  int replaced = 1000;
  int added = 1000;
  int deleted = 200;
  std::uint64_t staged_bytes = 1ull << 30;
};

// Writes the pristine files and the listing (native only; the Windows
// benchmark reads what this wrote). Throws on an I/O error.
void generate_workload(const std::filesystem::path& dir, const WorkloadShape& shape);

// Nothing when the listing is missing or unreadable.
std::vector<WorkloadFile> read_workload(const std::filesystem::path& dir);

// A fresh installation and staging root under <dir>/work for one run, made
// of hard links to the pristine files, and the state file that describes
// the update; returns the state file's path.
std::filesystem::path prepare_update(const std::filesystem::path& dir, const std::vector<WorkloadFile>& files);

// Times apply_update against the baseline (hash every staged file, rename it
// into place) on fresh copies of the workload, taking turns; prints the
// table and the RESULT lines under key_prefix. Returns the exit code.
int run_apply_benchmark(const std::filesystem::path& dir, int repetitions, const std::string& key_prefix);

}  // namespace korvanta::bench

#include "apply_workload.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "bench_support.h"
#include "manifest/sha256.h"
#include "platform/text.h"
#include "update/apply.h"

namespace korvanta::bench {
namespace {

namespace fs = std::filesystem;

std::string utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::wstring wide(const fs::path& path) { return platform::utf8_to_wide(utf8(path)); }

fs::path under(const fs::path& root, const std::string& relative) {
  fs::path path = root / fs::path(std::u8string(relative.begin(), relative.end()));
  return path.make_preferred();
}

std::string numbered(const char* format, int a, int b) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// Bytes that do not repeat, so that no file system or cache can shortcut them.
void write_random_file(const fs::path& path, std::uint64_t size, std::uint64_t seed, std::string* sha256) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<std::uint64_t> chunk(16384);
  Sha256 hasher;
  std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (std::uint64_t left = size; left > 0;) {
    for (auto& word : chunk) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      word = x;
    }
    const std::size_t bytes = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size() * 8));
    out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(bytes));
    hasher.update(chunk.data(), bytes);
    left -= bytes;
  }
  if (!out) throw std::runtime_error("cannot write " + utf8(path));
  if (sha256) *sha256 = hasher.final_hex();
}

struct Work {
  fs::path root;
  fs::path data_dir;
  fs::path staging;
  fs::path backup;
  fs::path state_file;
};

// A fresh installation and staging root made of hard links to the pristine
// files, and the state file that describes the update.
Work prepare_work(const fs::path& dir, const std::vector<WorkloadFile>& files) {
  Work work;
  work.root = (dir / "work" / "Game").make_preferred();
  work.data_dir = work.root / ".korvanta";
  work.staging = work.data_dir / "staging" / "build-2";
  work.backup = work.data_dir / "backup";
  work.state_file = work.data_dir / "update-state.json";
  fs::remove_all(dir / "work");

  nlohmann::json replacements = nlohmann::json::array();
  nlohmann::json deletions = nlohmann::json::array();
  nlohmann::json manifest_files = nlohmann::json::array();
  std::uint64_t total = 0;
  for (const auto& file : files) {
    const bool staged = file.kind == 'R' || file.kind == 'N';
    const fs::path from = under(dir / "pristine" / (staged ? "staged" : "installed"), file.path);
    const fs::path to = under(staged ? work.staging : work.root, file.path);
    fs::create_directories(to.parent_path());
    fs::create_hard_link(from, to);
    if (staged) {
      replacements.push_back({{"path", file.path}, {"staged_path", utf8(to)}, {"size", file.size}, {"sha256", file.sha256}});
      manifest_files.push_back({{"path", file.path}, {"size", file.size}, {"sha256", file.sha256}});
      total += file.size;
    } else if (file.kind == 'D') {
      deletions.push_back(file.path);
    }
  }
  const nlohmann::json state = {
      {"install_root", utf8(work.root)},
      {"manifest_path", utf8(work.data_dir / "build-manifest.json")},
      {"backup_root", utf8(work.backup)},
      {"staging_root", utf8(work.staging)},
      {"deletions", deletions},
      {"replacements", replacements},
      {"manifest",
       {{"id", "build-2"}, {"id_mod", "bench"}, {"channel", "stable"}, {"version", "2.0.0"}, {"status", "published"},
        {"manifest_hash", ""}, {"total_size", total}, {"files", manifest_files}}},
  };
  std::ofstream(work.state_file, std::ios::binary) << state.dump(2);
  return work;
}

// The least an updater has to do: hash each staged file and rename it into
// place.
bool run_baseline(const Work& work, const std::vector<WorkloadFile>& files) {
  for (const auto& file : files) {
    if (file.kind != 'R' && file.kind != 'N') continue;
    const fs::path staged = under(work.staging, file.path);
    const fs::path target = under(work.root, file.path);
    std::error_code error;
    if (sha256_file_hex(wide(staged), error) != file.sha256) return false;
    fs::create_directories(target.parent_path(), error);
    fs::rename(staged, target, error);
    if (error) return false;
  }
  return true;
}

}  // namespace

void generate_workload(const fs::path& dir, const WorkloadShape& shape) {
  std::mt19937_64 random(2026);
  // Sizes spread evenly on a log scale from 1 KiB to 8 MiB, then scaled so
  // that the staged files add up to exactly staged_bytes.
  const int staged_count = shape.replaced + shape.added;
  std::vector<double> raw(staged_count);
  double raw_total = 0;
  std::uniform_real_distribution<double> exponent(10.0, 23.0);
  for (auto& size : raw) raw_total += size = std::exp2(exponent(random));
  std::vector<WorkloadFile> files;
  std::uint64_t assigned = 0;
  for (int i = 0; i < staged_count; ++i) {
    WorkloadFile file;
    const bool replaces = i < shape.replaced;
    file.kind = replaces ? 'R' : 'N';
    const int n = replaces ? i : i - shape.replaced;
    file.path = numbered(replaces ? "data/d%02d/r%04d.pak" : "content/n%02d/n%04d.pak", n % 40, n);
    file.size = i + 1 == staged_count ? shape.staged_bytes - assigned
                                      : std::max<std::uint64_t>(1, static_cast<std::uint64_t>(
                                                                       raw[i] / raw_total * shape.staged_bytes));
    assigned += file.size;
    files.push_back(file);
    if (replaces) files.push_back({'O', file.path, 4096, ""});
  }
  for (int j = 0; j < shape.deleted; ++j) files.push_back({'D', numbered("data/d%02d/x%04d.pak", j % 40, j), 16384, ""});

  fs::remove_all(dir / "pristine");
  fs::remove_all(dir / "work");
  std::uint64_t seed = 1;
  for (auto& file : files) {
    const bool staged = file.kind == 'R' || file.kind == 'N';
    write_random_file(under(dir / "pristine" / (staged ? "staged" : "installed"), file.path), file.size, seed++,
                      &file.sha256);
  }
  std::ofstream listing(dir / "listing.tsv", std::ios::binary | std::ios::trunc);
  for (const auto& file : files)
    listing << file.kind << '\t' << file.path << '\t' << file.size << '\t' << file.sha256 << '\n';
  if (!listing) throw std::runtime_error("cannot write the listing");
}

fs::path prepare_update(const fs::path& dir, const std::vector<WorkloadFile>& files) {
  return prepare_work(dir, files).state_file;
}

std::vector<WorkloadFile> read_workload(const fs::path& dir) {
  std::vector<WorkloadFile> files;
  std::ifstream listing(dir / "listing.tsv", std::ios::binary);
  std::string line;
  while (std::getline(listing, line)) {
    std::istringstream fields(line);
    WorkloadFile file;
    std::string kind;
    std::getline(fields, kind, '\t');
    std::getline(fields, file.path, '\t');
    fields >> file.size;
    fields.ignore(1);
    std::getline(fields, file.sha256);
    if (kind.size() != 1 || file.path.empty()) return {};
    file.kind = kind[0];
    files.push_back(file);
  }
  return files;
}

int run_apply_benchmark(const fs::path& dir, int repetitions, const std::string& key_prefix) {
  const std::vector<WorkloadFile> files = read_workload(dir);
  if (files.empty()) {
    std::fprintf(stderr, "no workload in %s: generate it first\n", utf8(dir).c_str());
    return 1;
  }
  int staged = 0, replaced = 0, deleted = 0;
  std::uint64_t staged_bytes = 0;
  for (const auto& file : files) {
    if (file.kind == 'R' || file.kind == 'N') ++staged, staged_bytes += file.size;
    if (file.kind == 'R') ++replaced;
    if (file.kind == 'D') ++deleted;
  }

  double baseline = 1e300, apply = 1e300, baseline_cpu = 1e300, apply_cpu = 1e300;
  for (int i = 0; i < repetitions; ++i) {
    Work work = prepare_work(dir, files);
    const double cpu_before_baseline = cpu_seconds();
    const auto start_baseline = std::chrono::steady_clock::now();
    const bool baseline_ok = run_baseline(work, files);
    baseline = std::min(baseline, seconds_since(start_baseline));
    baseline_cpu = std::min(baseline_cpu, cpu_seconds() - cpu_before_baseline);

    work = prepare_work(dir, files);
    const double cpu_before_apply = cpu_seconds();
    const auto start_apply = std::chrono::steady_clock::now();
    const std::optional<ApplyError> failure = apply_update(wide(work.state_file));
    const bool apply_ok = !failure;
    apply = std::min(apply, seconds_since(start_apply));
    apply_cpu = std::min(apply_cpu, cpu_seconds() - cpu_before_apply);
    const bool state_gone = !fs::exists(work.state_file);
    fs::remove_all(dir / "work");
    if (!baseline_ok || !apply_ok || !state_gone) {
      std::fprintf(stderr, "run %d failed: baseline %d, apply %d (%s)\n", i, baseline_ok, apply_ok,
                   failure ? failure->reason_text().c_str() : "");
      return 1;
    }
  }

  std::printf("apply_update: %d staged files (%d replace installed files, %d new), %.0f MiB, %d deletions; best of %d\n",
              staged, replaced, staged - replaced, staged_bytes / kMiB, deleted, repetitions);
  std::printf("  %-46s %10s %8s %12s\n", "", "seconds", "ratio", "CPU seconds");
  std::printf("  %-46s %10.3f %8.3f %12.3f\n", "apply_update", apply, apply / baseline, apply_cpu);
  std::printf("  %-46s %10.3f %8.3f %12.3f\n", "baseline: hash each staged file, rename it", baseline, 1.0,
              baseline_cpu);
  print_result(key_prefix + "apply_seconds", apply);
  print_result(key_prefix + "baseline_seconds", baseline);
  return 0;
}

}  // namespace korvanta::bench

// What each entry of an update costs in calls of the apply engine's
// file-system seam (ApplyFileSystem), counted natively: a count does not
// depend on the machine's load. Updates of only replacements of installed
// files, only new files (half of them in new folders), only deletions, and
// a delta of all three, each against an update of the manifest alone (the
// fixed calls, subtracted).
//
//   calls_bench <scratch dir> [--trace]    --trace: every call of one entry of each kind
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "bench_support.h"
#include "platform/text.h"
#include "update/apply.h"
#include "update/apply_file_system.h"
#include "update_tree.h"

namespace {

namespace fs = std::filesystem;
using namespace korvanta;
using namespace korvanta::bench;

// The real file system, with every call counted by its kind.
class CountingFileSystem : public PlatformFileSystem {
 public:
  explicit CountingFileSystem(std::wstring root, bool trace) : root_(std::move(root)), trace_(trace) {}
  std::map<std::string, long> counts;

  platform::FileStatus status(const std::wstring& path, std::error_code& error) override {
    return note("status", path), PlatformFileSystem::status(path, error);
  }
  std::optional<platform::FileIdentity> identity(const std::wstring& path) override {
    return note("identity", path), PlatformFileSystem::identity(path);
  }
  std::error_code create_directories(const std::wstring& path) override {
    return note("create_directories", path), PlatformFileSystem::create_directories(path);
  }
  std::error_code rename(const std::wstring& from, const std::wstring& to) override {
    return note("rename", from, to), PlatformFileSystem::rename(from, to);
  }
  std::error_code copy_file(const std::wstring& from, const std::wstring& to) override {
    return note("copy_file", from, to), PlatformFileSystem::copy_file(from, to);
  }
  std::error_code remove(const std::wstring& path) override {
    return note("remove", path), PlatformFileSystem::remove(path);
  }
  std::error_code remove_all(const std::wstring& path) override {
    return note("remove_all", path), PlatformFileSystem::remove_all(path);
  }
  std::string sha256_file_hex(const std::wstring& path, std::uint64_t size, std::uint64_t& found_size,
                              std::error_code& error, const HashProgress& progress) override {
    return note("sha256_file_hex", path), PlatformFileSystem::sha256_file_hex(path, size, found_size, error, progress);
  }
  std::optional<WriteFailure> write_build_manifest(const std::wstring& path, const BuildManifest& manifest) override {
    return note("write_build_manifest", path), PlatformFileSystem::write_build_manifest(path, manifest);
  }

 private:
  void note(const char* kind, const std::wstring& path, const std::wstring& to = {}) {
    ++counts[kind];
    if (!trace_) return;
    const auto shown = [&](std::wstring p) {  // relative to the installation, "/" separated
      std::replace(p.begin(), p.end(), L'\\', L'/');
      return platform::wide_to_utf8(p.rfind(root_, 0) == 0 ? p.substr(root_.size() + 1) : p);
    };
    std::printf("    %-20s %s%s%s\n", kind, shown(path).c_str(), to.empty() ? "" : " -> ", to.empty() ? "" : shown(to).c_str());
  }
  std::wstring root_;
  bool trace_;
};

// The calls of one update of the given entries, by kind.
std::map<std::string, long> count_calls(const fs::path& dir, const std::vector<TreeFile>& tree,
                                        const std::vector<Entry>& entries, bool trace) {
  const Work work = prepare_work(dir, tree, entries, false);
  CountingFileSystem counting(platform::utf8_to_wide(work.root.string()), trace);
  if (const auto failure = apply_update_with(platform::utf8_to_wide(work.state_file.string()), counting)) {
    std::fprintf(stderr, "apply failed: %s at %s\n", failure->reason_text().c_str(), failure->place.c_str());
    std::exit(1);
  }
  if (const std::string fault = check_work(dir, work, entries); !fault.empty()) {
    std::fprintf(stderr, "apply left a fault: %s\n", fault.c_str());
    std::exit(1);
  }
  fs::remove_all(dir / "work");
  return counting.counts;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: calls_bench <scratch dir> [--trace]\n");
    return 2;
  }
  const fs::path dir = argv[1];
  const bool trace = argc > 2 && !std::strcmp(argv[2], "--trace");
  TreeShape shape;
  shape.files = 2500;
  shape.sizes = Sizes::empty;
  if (read_tree(dir).size() != static_cast<std::size_t>(shape.files + shape.files / 50)) generate_tree(dir, shape);
  const std::vector<TreeFile> tree = read_tree(dir);

  // The entries of each kind: installed files replaced, new files, installed
  // files deleted, each K of them (the new files: every one the tree has).
  std::vector<Entry> replaced, added, deleted, delta;
  std::vector<const TreeFile*> installed;
  for (const TreeFile& file : tree) {
    if (file.kind == 'A') added.push_back({'N', &file});
    else installed.push_back(&file);
  }
  const std::size_t k = added.size();
  for (std::size_t i = 0; i < k; ++i) {
    deleted.push_back({'D', installed[i]});
    replaced.push_back({'R', installed[k + i]});
  }
  delta = update_entries(tree, UpdateKind::delta);

  if (trace) {
    for (const auto& [name, entries] : {std::pair<const char*, std::vector<Entry>>{"replaced file", {replaced[0]}},
                                        {"new file", {added[0]}},
                                        {"new file in a new folder", {added[1]}},
                                        {"deletion", {deleted[0]}},
                                        {"manifest only (the fixed calls)", {}}}) {
      std::printf("-- calls of an update of one %s:\n", name);
      count_calls(dir, tree, entries, true);
    }
    return 0;
  }

  const auto fixed = count_calls(dir, tree, {}, false);
  const std::pair<const char*, std::vector<Entry>*> runs[] = {
      {"per replaced", &replaced}, {"per new", &added}, {"per deletion", &deleted}, {"delta, per entry", &delta}};
  std::map<std::string, std::map<std::string, double>> table;  // kind -> run -> calls per entry
  std::map<std::string, double> totals;
  for (const auto& [name, entries] : runs) {
    for (const auto& [kind, count] : count_calls(dir, tree, *entries, false)) {
      const double per_entry = (count - (fixed.count(kind) ? fixed.at(kind) : 0)) / double(entries->size());
      table[kind][name] = per_entry;
      totals[name] += per_entry;
    }
  }
  std::printf("calls of ApplyFileSystem per entry (%zu entries of each kind; delta: %zu entries), less the fixed calls\n",
              k, delta.size());
  std::printf("  %-22s %14s %14s %14s %18s %8s\n", "call", "per replaced", "per new", "per deletion", "delta, per entry",
              "fixed");
  for (const auto& [kind, row] : table) {
    std::printf("  %-22s", kind.c_str());
    for (const auto& [name, entries] : runs) {
      const auto it = row.find(name);
      std::printf(" %*.2f", name == runs[3].first ? 18 : 14, it == row.end() ? 0.0 : it->second);
    }
    std::printf(" %8ld\n", fixed.count(kind) ? fixed.at(kind) : 0L);
  }
  std::printf("  %-22s %14.2f %14.2f %14.2f %18.2f\n", "all", totals["per replaced"], totals["per new"],
              totals["per deletion"], totals["delta, per entry"]);
  print_result("calls_per_replaced", totals["per replaced"]);
  print_result("calls_per_new", totals["per new"]);
  print_result("calls_per_deletion", totals["per deletion"]);
  print_result("calls_per_delta_entry", totals["delta, per entry"]);
  return 0;
}

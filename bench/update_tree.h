#pragma once
// The installations the update benchmarks work on, made by the benchmark
// itself: a tree of files named and sized like a game's (many small files in
// folders of a few dozen, a few large ones), written once under <dir>/pristine
// and then set up afresh for every run from hard links, so that every run
// reads the same cached bytes and no run pays for copying them.
//
// <dir>/listing.tsv          one line per file: kind, relative path, size, SHA-256
// <dir>/pristine/installed/  the tree as installed before the update
// <dir>/pristine/staged/     the new versions of every tree file, and the new files
// <dir>/work/Game/           one run's installation (removed after the run)
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace korvanta::bench {

// How sizes are spread: "game" (many small files, a few large ones, scaled
// to a total), "small" (1 to 16 KiB each), "empty" (0 bytes each: for runs
// where only the count of entries matters, such as memory).
enum class Sizes { game, small, empty };

struct TreeFile {
  char kind = 0;  // 'T' a tree file (installed, with a new version staged); 'A' a new file (staged only)
  std::string path;  // relative, "/" separated
  std::uint64_t size = 0;
  std::string sha256;  // of the staged version
};

struct TreeShape {
  int files = 5000;  // tree files; the new files come on top (2 %)
  Sizes sizes = Sizes::game;
  std::uint64_t total_bytes = 512ull << 20;  // of the staged tree files, for Sizes::game
};

// Writes the pristine files and the listing. Throws on an I/O error.
void generate_tree(const std::filesystem::path& dir, const TreeShape& shape);

// Nothing when the listing is missing or unreadable.
std::vector<TreeFile> read_tree(const std::filesystem::path& dir);

// What one run installs: every tree file replaced ("full"), or 10 % of them
// replaced, 2 % deleted and 2 % new ("delta"); the manifest lists the tree
// after the update. manifest_only: no replacement and no deletion, only the
// manifest (the tree files in it, as if installed already).
enum class UpdateKind { full, delta, manifest_only };

struct Entry {
  char kind = 0;  // 'R' replaces an installed file, 'N' new, 'D' deleted
  const TreeFile* file = nullptr;
};
std::vector<Entry> update_entries(const std::vector<TreeFile>& tree, UpdateKind kind);

// One run's installation, with every path as the program under test takes
// it: native, or a Windows path on Wine's drive Z: (windows_paths).
struct Work {
  std::filesystem::path root, data_dir, staging, backup, state_file, floor_list;
  std::size_t listed = 0;  // deletions + replacements + manifest files
};

// A fresh installation of hard links to the pristine files, the state file
// that describes the update and the floor's list of the same work. With
// extra_manifest_files > 0 the manifest also lists that many files more
// (not on disk: the manifest is only written).
Work prepare_work(const std::filesystem::path& dir, const std::vector<TreeFile>& tree,
                  const std::vector<Entry>& entries, bool windows_paths, std::size_t extra_manifest_files = 0);

// Whether the run left what an update must leave: every staged file at its
// target (the same file as the pristine one), every old file in the backup
// root, every deleted file gone. The first fault as text, "" when none.
std::string check_work(const std::filesystem::path& dir, const Work& work, const std::vector<Entry>& entries);

// A native path as the program takes it: itself, or Z:\... for Wine.
std::string program_path(const std::filesystem::path& path, bool windows_paths);

}  // namespace korvanta::bench

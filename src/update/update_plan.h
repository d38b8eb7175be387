#pragma once
// The update as the apply engine carries it out: what the state file asks
// for, every path checked and in its normal form, read once before anything
// changes. Nothing in the engine reads the state file's JSON after it.
#include <algorithm>
#include <array>
#include <functional>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "manifest/build_manifest.h"
#include "update/apply_error.h"

namespace korvanta {

class ApplyFileSystem;

// An entry's relative path: the normal form the engine joins to a root, and
// the text the state file gives, which the failure line quotes. `given` is
// left empty when it is the normal form itself (nearly always).
struct EntryPath {
  std::string path;  // normalize_relative_path form, "/" separators
  std::string given;
  const std::string& as_given() const { return given.empty() ? path : given; }
};

struct Deletion : EntryPath {};

// A replacement's announced SHA-256: 64 hexadecimal digits in either letter
// case, held as their 32 bytes. Any other text is held as no digest, which
// no file's digest matches.
class AnnouncedDigest {
 public:
  AnnouncedDigest() = default;
  explicit AnnouncedDigest(std::string_view text);
  // Whether a file's digest, 64 lower-case hexadecimal digits, is this one.
  bool matches(std::string_view digest) const;

 private:
  std::array<unsigned char, 32> bytes_{};
  bool valid_ = false;
};

struct Replacement : EntryPath {
  std::string staged_path;   // "staged_path" as given (UTF-8: half the memory of its wide form); inside the staging root
  std::uint64_t size = 0;    // json_count of "size"
  AnnouncedDigest sha256;    // "sha256"
};

struct UpdatePlan {
  std::wstring state_file;  // the given path, absolute and lexically normal
  std::wstring data_dir;    // its parent: the installation's ".korvanta"
  std::wstring install_root;  // parent of data_dir (not the key's string)
  std::wstring manifest_path;
  std::wstring backup_root;
  std::wstring staging_root;
  std::vector<Deletion> deletions;        // in the state file's order
  std::vector<Replacement> replacements;  // in the state file's order
  BuildManifest manifest;                 // the new build's, to write once every file is in place
};

// A list of entries' relative paths, looked up ignoring ASCII letter case:
// a sorted list of the lowered paths' hashes, so a lookup costs the same
// however long the list, and the paths are not copied.
template <class Entry>
class PathsIgnoringCase {
 public:
  explicit PathsIgnoringCase(const std::vector<Entry>& entries) : entries_(entries) {
    keys_.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) keys_.emplace_back(key_of(to_lower_ascii(entries[i].path)), i);
    std::sort(keys_.begin(), keys_.end());
  }
  // Calls found(index) for each entry whose path, ASCII-lowered, is lowered,
  // in the order of the entries.
  template <class Found>
  void find(const std::string& lowered, Found found) const {
    const std::size_t key = key_of(lowered);
    for (auto it = std::lower_bound(keys_.begin(), keys_.end(), std::pair<std::size_t, std::size_t>{key, 0});
         it != keys_.end() && it->first == key; ++it)
      if (to_lower_ascii(entries_[it->second].path) == lowered) found(it->second);
  }

 private:
  static std::size_t key_of(const std::string& lowered) { return std::hash<std::string>()(lowered); }
  const std::vector<Entry>& entries_;
  std::vector<std::pair<std::size_t, std::size_t>> keys_;  // hash of the lowered path, index
};

// The place of an entry in the state file, for the failure line.
std::string deletion_place(std::size_t index);
std::string replacement_place(std::size_t index);

// The rules about the plan as a whole, checked before the first change, in
// this order, each failing at the first entry that breaks it:
// deletion_in_data_directory and replacement_in_data_directory for a path
// whose first part names the data directory (".korvanta" in any ASCII letter
// case, a stream of it ".korvanta:x", or, asked of the file system, a short
// name of it); staged_file_listed_twice for a replacement whose staged file
// an earlier one names too (the comparison of paths by text);
// replacement_inside_replacement for a replacement whose path lies inside
// another's, or holds another (the later of the two). Nothing when the plan
// keeps them all. Changes nothing.
std::optional<ApplyError> check_update_plan(const UpdatePlan& plan, ApplyFileSystem& file_system);

}  // namespace korvanta

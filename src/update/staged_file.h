#pragma once
// The check of one staged file just before it replaces an installed one.
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace korvanta {

class ApplyFileSystem;

// One entry of "replacements" as the apply step uses it.
struct Replacement {
  std::string path;          // normalize_relative_path form, "/" separators
  std::wstring staged_path;  // "staged_path" widened from UTF-8
  std::uint64_t size = 0;    // json_to_u64 of "size"
  std::string sha256;        // "sha256" with its ASCII letters lowered
};

enum class StagedCheck {
  verified,  // the staged file is the announced one
  missing,   // there is no staged file; reason is "staged_file_size_mismatch"
  refused,   // reason says why
};

// Reads one entry (an object with "path", "staged_path" and "sha256" strings
// and a "size", as the state file's shape check guarantees) and proves that
// its staged file lies inside staging_root, has the announced size and the
// announced SHA-256, in that order; the path is refused first. Verified:
// replacement is filled. Missing: replacement holds the entry's values, so
// the caller can look for an earlier run's installation of it. Otherwise
// reason is "invalid_replacement_path", "staged_file_outside_staging_root",
// "staged_file_size_mismatch" (a directory, or another size),
// "staged_file_hash_mismatch", "failed_to_open_file" (present with the right
// size but unreadable), or the system's message when the file's status
// cannot be queried for another reason than its absence. Changes nothing.
StagedCheck verify_staged_file(const nlohmann::json& entry, const std::wstring& staging_root,
                               ApplyFileSystem& file_system, Replacement& replacement, std::string& reason);

// True when the file at path has exactly the replacement's announced size
// and SHA-256; false when it differs, is missing or cannot be read. Hashes
// only a file of the right size.
bool holds_announced_content(ApplyFileSystem& file_system, const std::wstring& path, const Replacement& replacement);

}  // namespace korvanta

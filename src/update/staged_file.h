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

// Reads one entry (an object with "path", "staged_path" and "sha256" strings
// and a "size", as the state file's shape check guarantees) and proves that
// its staged file lies inside staging_root, has the announced size and the
// announced SHA-256, in that order; the path is refused first. On success
// fills replacement and returns true; otherwise returns false with reason:
// "invalid_replacement_path", "staged_file_outside_staging_root",
// "staged_file_size_mismatch" (missing, a directory, or another size),
// "staged_file_hash_mismatch", "failed_to_open_file" (present with the right
// size but unreadable), or the system's message when the file's status
// cannot be queried for another reason than its absence. Changes nothing.
bool verify_staged_file(const nlohmann::json& entry, const std::wstring& staging_root, ApplyFileSystem& file_system,
                        Replacement& replacement, std::string& reason);

}  // namespace korvanta

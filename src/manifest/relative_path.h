#pragma once
// The one gate for relative paths that come from the launcher's files (build
// manifest entries, deletions and replacements of the state file).
#include <optional>
#include <string>
#include <string_view>

namespace korvanta {

// Takes UTF-8 text, examined byte by byte. Backslashes become "/"; refuses
// the empty path, a leading "/", a drive-qualified path (ASCII letter then
// ":" as the first two bytes), and any empty, "." or ".." segment (one
// trailing "/" is allowed and dropped). Returns the segments joined by "/",
// case and every other byte unchanged, or nothing when refused. Never throws
// except for out-of-memory.
std::optional<std::string> normalize_relative_path(std::string_view path);

}  // namespace korvanta

#pragma once
// The one gate for relative paths that come from the launcher's files (build
// manifest entries, deletions and replacements of the state file).
#include <optional>
#include <string>
#include <string_view>

namespace korvanta {

// Takes UTF-8 text, examined byte by byte. Backslashes become "/"; refuses
// the empty path, a leading "/", a drive-qualified path (ASCII letter then
// ":" as the first two bytes), any empty segment (one trailing "/" is
// allowed and dropped), any segment that ends in a dot or a space (".",
// "..", "...", "a.", "b "), and any segment that names a device on Windows
// ("con", "prn", "aux", "nul", "com0".."com9", "lpt0".."lpt9", "com" or
// "lpt" with a superscript 1, 2 or 3, "conin$", "conout$"; in any ASCII case,
// with or without an extension or ":stream", spaces before it allowed). Returns the segments joined by "/",
// case and every other byte unchanged, or nothing when refused. Never throws
// except for out-of-memory.
std::optional<std::string> normalize_relative_path(std::string_view path);

}  // namespace korvanta

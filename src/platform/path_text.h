#pragma once
// Windows path syntax as plain text: the same answers on Windows and on the
// host where the portable code is tested. Both "\" and "/" separate; a root
// name is a drive ("D:") or a network server ("\\server"). Nothing here
// touches the file system.
#include <string>
#include <string_view>

namespace korvanta::platform::path_text {

constexpr wchar_t preferred_separator = L'\\';

constexpr bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Length of the root name: 2 for "D:", the server part for "\\server\share",
// else 0.
std::size_t root_name_length(std::wstring_view path);

// True when the path has a root name and a root directory ("D:\x", "\\srv\s").
bool is_absolute(std::wstring_view path);

// The path without its last element and the separators in front of it,
// keeping a root directory: "D:\a\b.exe" -> "D:\a", "D:\b.exe" -> "D:\",
// "b.exe" -> "", "D:\a\" -> "D:\a".
std::wstring parent_path(std::wstring_view path);

// The text after the last separator that follows the root name; empty when
// the path ends with a separator.
std::wstring file_name(std::wstring_view path);

// "." elements and "name\.." pairs removed by text, separator runs collapsed,
// every separator a backslash; ".." right after a root directory dropped; an
// empty result becomes ".".
std::wstring lexically_normal(std::wstring_view path);

// Paths this long and longer exceed what the system's file functions accept
// in their plain form (MAX_PATH, less room for an 8.3 name when a directory
// is created).
inline constexpr std::size_t kExtendedLengthThreshold = 248;

// The form of an absolute path that the file functions accept at any length:
// "\\?\D:\..." for a drive path, "\\?\UNC\server\share\..." for a network
// path, made lexically normal with backslashes first, since that form
// resolves no "/", "." or "..". A path shorter than kExtendedLengthThreshold,
// one already in a device form ("\\?\", "\\.\") and one without a root name
// and root directory comes back unchanged.
std::wstring extended_length(std::wstring_view absolute_path);

// base, one backslash, then tail (no separator added when base is empty or
// already ends in one, or is a bare drive such as "D:").
std::wstring join(std::wstring_view base, std::wstring_view tail);

}  // namespace korvanta::platform::path_text

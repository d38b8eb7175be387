#pragma once
#include <string>

namespace korvanta::platform {

// The path made absolute against the process's current directory by text
// (GetFullPathNameW on Windows; on the host a path with a root directory is
// kept and any other is joined to the current directory). Returns the input
// unchanged when the system cannot make it absolute (the empty path among
// them).
std::wstring full_path(const std::wstring& path);

// The text to hand to the system's file functions for a path of any length:
// the path itself while its full path is shorter than
// path_text::kExtendedLengthThreshold, else that full path in the
// extended-length form. On the host the path itself.
std::wstring file_api_path(const std::wstring& path);

}  // namespace korvanta::platform

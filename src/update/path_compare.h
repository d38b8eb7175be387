#pragma once
// Deciding by text alone whether paths name the same place, whether one lies
// inside another, and what a path's file name is. Nothing here asks the file
// system: links, junctions and short names are not resolved.
#include <string>
#include <string_view>

namespace korvanta {

// The path made absolute against the current directory (the system's
// full-path operation), then compare_form_of_absolute.
std::wstring compare_form(const std::wstring& path);

// The textual steps on an already absolute path: lexically normal with
// backslashes, trailing backslashes removed while longer than 3 characters
// (so "D:\" keeps its own), ASCII letters lowered (nothing else).
std::wstring compare_form_of_absolute(std::wstring_view absolute_path);

bool paths_equal(const std::wstring& a, const std::wstring& b);

// True when candidate is root itself or lies below it ("r\..."; a sibling
// such as "r2" is not inside). Below a drive root "d:\" is anything that
// starts with it. A root whose comparison form is empty (the empty path)
// contains nothing.
bool is_within(const std::wstring& root, const std::wstring& candidate);

// True when the last component of path, ASCII-lowered, equals expected_lower.
// A path ending in a separator has an empty last component.
bool file_name_is(const std::wstring& path, std::wstring_view expected_lower);

}  // namespace korvanta

#include "platform/path_text.h"

#include <vector>

namespace korvanta::platform::path_text {
namespace {

bool is_ascii_letter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Index of the first character after the root name and the run of
// separators that forms the root directory.
std::size_t relative_start(std::wstring_view path) {
  std::size_t i = root_name_length(path);
  while (i < path.size() && is_separator(path[i])) ++i;
  return i;
}

}  // namespace

std::size_t root_name_length(std::wstring_view path) {
  if (path.size() >= 2 && path[1] == L':' && is_ascii_letter(path[0])) return 2;
  if (path.size() >= 3 && is_separator(path[0]) && is_separator(path[1]) && !is_separator(path[2])) {
    std::size_t i = 2;
    while (i < path.size() && !is_separator(path[i])) ++i;
    return i;
  }
  return 0;
}

bool is_absolute(std::wstring_view path) {
  const std::size_t root = root_name_length(path);
  return root > 0 && root < path.size() && is_separator(path[root]);
}

std::wstring parent_path(std::wstring_view path) {
  const std::size_t rel = relative_start(path);
  if (rel == path.size()) return std::wstring(path);  // only a root: its own parent
  std::size_t last_sep = path.size();
  for (std::size_t i = path.size(); i > rel; --i) {
    if (is_separator(path[i - 1])) {
      last_sep = i - 1;
      break;
    }
  }
  if (last_sep == path.size()) return std::wstring(path.substr(0, rel));  // the root, or nothing
  std::size_t end = last_sep;
  while (end > rel && is_separator(path[end - 1])) --end;
  return std::wstring(path.substr(0, end));
}

std::wstring file_name(std::wstring_view path) {
  const std::size_t root = root_name_length(path);
  std::size_t start = root;
  for (std::size_t i = root; i < path.size(); ++i)
    if (is_separator(path[i])) start = i + 1;
  return std::wstring(path.substr(start));
}

std::wstring lexically_normal(std::wstring_view path) {
  if (path.empty()) return {};
  const std::size_t root = root_name_length(path);
  std::wstring out;
  for (std::size_t i = 0; i < root; ++i) out += is_separator(path[i]) ? preferred_separator : path[i];
  const bool has_root_dir = root < path.size() && is_separator(path[root]);
  if (has_root_dir) out += preferred_separator;

  std::vector<std::wstring_view> names;
  bool trailing = false;  // the result ends with a separator
  std::size_t i = relative_start(path);
  while (i < path.size()) {
    std::size_t end = i;
    while (end < path.size() && !is_separator(path[end])) ++end;
    const std::wstring_view name = path.substr(i, end - i);
    i = end;
    while (i < path.size() && is_separator(path[i])) ++i;
    const bool followed_by_separator = end < path.size();
    if (name == L".") {
      trailing = true;
    } else if (name == L"..") {
      if (!names.empty() && names.back() != L"..") {
        names.pop_back();
        trailing = true;
      } else if (names.empty() && has_root_dir) {
        trailing = false;
      } else {
        names.push_back(name);
        trailing = false;
      }
    } else {
      names.push_back(name);
      trailing = followed_by_separator;
    }
  }
  if (!names.empty() && names.back() == L"..") trailing = false;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (k > 0) out += preferred_separator;
    out += names[k];
  }
  if (trailing && !names.empty()) out += preferred_separator;
  if (out.empty()) out = L".";
  return out;
}

std::wstring extended_length(std::wstring_view absolute_path) {
  if (absolute_path.size() < kExtendedLengthThreshold || !is_absolute(absolute_path)) return std::wstring(absolute_path);
  const std::wstring normal = lexically_normal(absolute_path);
  if (normal.rfind(L"\\\\?\\", 0) == 0 || normal.rfind(L"\\\\.\\", 0) == 0) return std::wstring(absolute_path);
  if (normal.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC" + normal.substr(1);
  return L"\\\\?\\" + normal;
}

std::wstring join(std::wstring_view base, std::wstring_view tail) {
  std::wstring out(base);
  const bool bare_drive = base.size() == 2 && root_name_length(base) == 2;
  if (!out.empty() && !is_separator(out.back()) && !bare_drive) out += preferred_separator;
  out += tail;
  return out;
}

}  // namespace korvanta::platform::path_text

#include "platform/full_path.h"

#include <filesystem>
#include <system_error>

#include "platform/path_text.h"
#include "platform/text.h"

namespace korvanta::platform {

std::wstring full_path(const std::wstring& path) {
  if (path.empty()) return path;
  // A root directory follows the root name (none for "/tmp/x", "D:" for
  // "D:\x"): such a path is already absolute in the updater's text.
  const std::size_t root = path_text::root_name_length(path);
  if (root < path.size() && path_text::is_separator(path[root])) return path;
  std::error_code error;
  const auto current = std::filesystem::current_path(error);
  if (error) return path;
  return path_text::join(utf8_to_wide(current.string()), path);
}

std::wstring file_api_path(const std::wstring& path) { return path; }

}  // namespace korvanta::platform

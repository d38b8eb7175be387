#include "platform/file_system.h"

#include <windows.h>

#include "platform/error.h"
#include "platform/path_text.h"

namespace korvanta::platform {

std::filesystem::path fs_path(const std::wstring& path) { return std::filesystem::path(path); }

std::error_code create_directories(const std::wstring& path) {
  if (path.empty()) return make_os_error(ERROR_PATH_NOT_FOUND);
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return {};
    return make_os_error(ERROR_ALREADY_EXISTS);
  }
  const std::wstring parent = path_text::parent_path(path);
  if (!parent.empty() && parent != path) {
    if (auto error = create_directories(parent)) return error;
  }
  if (CreateDirectoryW(path.c_str(), nullptr)) return {};
  const auto error = last_os_error();
  // Lost a race with another creator, or the path ended in a separator that
  // named the directory just made.
  const DWORD now = GetFileAttributesW(path.c_str());
  if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY)) return {};
  return error;
}

}  // namespace korvanta::platform

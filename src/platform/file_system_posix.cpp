#include "platform/file_system.h"

#include <algorithm>

#include "platform/text.h"

namespace korvanta::platform {

std::filesystem::path fs_path(const std::wstring& path) {
  std::string text = wide_to_utf8(path);
  std::replace(text.begin(), text.end(), '\\', '/');
  return std::filesystem::path(text);
}

std::error_code create_directories(const std::wstring& path) {
  std::error_code error;
  const auto target = fs_path(path);
  std::filesystem::create_directories(target, error);
  if (!error && !std::filesystem::is_directory(target, error) && !error)
    error = std::make_error_code(std::errc::not_a_directory);
  return error;
}

}  // namespace korvanta::platform

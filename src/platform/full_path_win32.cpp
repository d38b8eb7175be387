#include "platform/full_path.h"

#include <windows.h>

#include "platform/path_text.h"

namespace korvanta::platform {

std::wstring full_path(const std::wstring& path) {
  if (path.empty()) return path;
  std::wstring buffer(MAX_PATH, L'\0');
  // The needed size can change between calls when another thread changes the
  // current directory; retry a few times rather than trust one answer.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) return path;
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.assign(length, L'\0');  // length includes the terminating NUL here
  }
  return path;
}

std::wstring file_api_path(const std::wstring& path) {
  // A short relative path can name a long one below a deep current directory.
  if (path.size() < path_text::kExtendedLengthThreshold && path_text::is_absolute(path)) return path;
  const std::wstring full = full_path(path);
  if (full.size() < path_text::kExtendedLengthThreshold) return path;
  return path_text::extended_length(full);
}

}  // namespace korvanta::platform

#include "platform/lock_file.h"

#include <windows.h>

#include <string>

#include "platform/error.h"
#include "platform/full_path.h"

namespace korvanta::platform {

LockFile::~LockFile() {
  if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
}

std::error_code LockFile::acquire(const std::wstring& path) {
  // Shared for reading only, so that a launcher can read the holder's id
  // while a second holder (asking to share nothing) meets a sharing
  // violation. Windows deletes it when the last handle closes, which a killed
  // process's handles do too. A link in its place is opened (and so deleted)
  // itself, never the file it points to.
  const std::wstring target = file_api_path(path);
  const DWORD flags = FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE handle =
      CreateFileW(target.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_os_error();
  handle_ = handle;
  // A file left by a power cut may hold an older id: it is overwritten and cut.
  const std::string id = std::to_string(GetCurrentProcessId());
  DWORD written = 0;
  if (WriteFile(handle, id.data(), static_cast<DWORD>(id.size()), &written, nullptr)) SetEndOfFile(handle);
  return {};
}

bool LockFile::held_elsewhere(const std::error_code& error) noexcept {
  return error.category() == os_category() && error.value() == ERROR_SHARING_VIOLATION;
}

}  // namespace korvanta::platform

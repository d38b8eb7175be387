#include "platform/file_io.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "platform/error.h"
#include "platform/full_path.h"
#include "platform/lock_retry_win32.h"

namespace korvanta::platform {
namespace {

HANDLE as_handle(void* handle) { return static_cast<HANDLE>(handle); }

// ReadFile and WriteFile take a DWORD count; larger requests go in pieces.
constexpr std::size_t kMaxIo = 0x40000000;

}  // namespace

InputFile::InputFile(InputFile&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

InputFile::~InputFile() { close(); }

std::error_code InputFile::open(const std::wstring& path) {
  close();
  // Sharing everything: the launcher, an antivirus scanner or the game may
  // hold the file, and a hash must not stop them renaming or deleting it. A
  // scanner that holds a freshly staged file without sharing it is waited out.
  const std::wstring target = file_api_path(path);
  HANDLE handle = INVALID_HANDLE_VALUE;
  const DWORD result = retry_while_locked([&] {
    handle = CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
  });
  if (result != ERROR_SUCCESS) return make_os_error(static_cast<int>(result));
  handle_ = handle;
  return {};
}

bool InputFile::is_open() const noexcept { return handle_ != nullptr; }

std::uint64_t InputFile::size(std::error_code& error) const noexcept {
  error.clear();
  LARGE_INTEGER size{};
  if (handle_ == nullptr || !GetFileSizeEx(handle_, &size)) return error = last_os_error(), 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t InputFile::read(void* buffer, std::size_t size, std::error_code& error) noexcept {
  error.clear();
  if (handle_ == nullptr) {
    error = make_os_error(ERROR_INVALID_HANDLE);
    return 0;
  }
  DWORD got = 0;
  if (!ReadFile(as_handle(handle_), buffer, static_cast<DWORD>(std::min(size, kMaxIo)), &got, nullptr)) {
    error = last_os_error();
    return 0;
  }
  return got;
}

void InputFile::close() noexcept {
  if (handle_ != nullptr) CloseHandle(as_handle(std::exchange(handle_, nullptr)));
}

OutputFile::OutputFile(OutputFile&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

OutputFile::~OutputFile() { close(); }

std::error_code OutputFile::create(const std::wstring& path) {
  close();
  const std::wstring target = file_api_path(path);
  HANDLE handle = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_os_error();
  handle_ = handle;
  return {};
}

bool OutputFile::is_open() const noexcept { return handle_ != nullptr; }

std::error_code OutputFile::write(std::string_view bytes) noexcept {
  if (handle_ == nullptr) return make_os_error(ERROR_INVALID_HANDLE);
  while (!bytes.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min(bytes.size(), kMaxIo));
    if (!WriteFile(as_handle(handle_), bytes.data(), chunk, &written, nullptr)) return last_os_error();
    if (written == 0) return make_os_error(ERROR_WRITE_FAULT);
    bytes.remove_prefix(written);
  }
  return {};
}

std::error_code OutputFile::flush() noexcept {
  if (handle_ == nullptr) return make_os_error(ERROR_INVALID_HANDLE);
  if (!FlushFileBuffers(as_handle(handle_))) return last_os_error();
  return {};
}

std::error_code OutputFile::close() noexcept {
  if (handle_ == nullptr) return {};
  if (!CloseHandle(as_handle(std::exchange(handle_, nullptr)))) return last_os_error();
  return {};
}

std::error_code replace_file(const std::wstring& from, const std::wstring& to) {
  // Windows refuses to replace a read-only file (ERROR_ACCESS_DENIED); Wine
  // replaces it. Asking first gives the same answer on both.
  const std::wstring source = file_api_path(from), target = file_api_path(to);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
      !(attributes & FILE_ATTRIBUTE_DIRECTORY))
    return make_os_error(ERROR_ACCESS_DENIED);
  // MOVEFILE_WRITE_THROUGH: the call returns only once the rename is on the
  // disk, so a power cut after a reported success keeps the new file.
  // A file target that another program holds open without sharing deletion
  // makes the replace fail with ERROR_ACCESS_DENIED rather than a sharing
  // violation; the read-only case is refused above, so for a file that is
  // waited out like a lock. A directory in the way is no hold.
  const bool directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  const DWORD result = retry_while_locked(
      [&] {
        return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                   ? ERROR_SUCCESS
                   : GetLastError();
      },
      directory ? ERROR_SHARING_VIOLATION : ERROR_ACCESS_DENIED);
  if (result != ERROR_SUCCESS) return make_os_error(static_cast<int>(result));
  return {};
}

std::error_code remove_file(const std::wstring& path) {
  const std::wstring target = file_api_path(path);
  if (DeleteFileW(target.c_str())) return {};
  const auto error = last_os_error();
  if (error.value() == ERROR_FILE_NOT_FOUND || error.value() == ERROR_PATH_NOT_FOUND) return {};
  return error;
}

}  // namespace korvanta::platform

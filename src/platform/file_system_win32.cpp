#include "platform/file_system.h"

#include <windows.h>

#include <vector>

#include "platform/error.h"
#include "platform/full_path.h"
#include "platform/handle_win32.h"
#include "platform/lock_retry_win32.h"
#include "platform/path_text.h"
#include "platform/tree_removal.h"

namespace korvanta::platform {
namespace {

std::uint64_t combine(DWORD high, DWORD low) { return (static_cast<std::uint64_t>(high) << 32) | low; }

bool is_not_found_code(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return true;
    default:
      return false;
  }
}

// The attributes and size of what a link or junction points to. The
// attribute query describes the link itself, so open the target (no data
// access, which no sharing mode can refuse) and ask the handle.
FileStatus followed_status(const std::wstring& path, std::error_code& error) {
  const std::wstring target = file_api_path(path);
  UniqueHandle handle(CreateFileW(target.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) {
    const auto failure = last_os_error();
    if (!is_not_found_code(static_cast<DWORD>(failure.value()))) error = failure;
    return {};
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle.get(), &info)) {
    error = last_os_error();
    return {};
  }
  FileStatus status;
  status.exists = true;
  status.is_directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (!status.is_directory) status.size = combine(info.nFileSizeHigh, info.nFileSizeLow);
  return status;
}

// Win32 error code of a call that reports failure as FALSE.
DWORD result_of(BOOL succeeded) { return succeeded ? ERROR_SUCCESS : GetLastError(); }

std::error_code as_error(DWORD code) { return code == ERROR_SUCCESS ? std::error_code{} : make_os_error(static_cast<int>(code)); }

bool delete_file(const std::wstring& path, std::error_code& error) {
  const std::wstring target = file_api_path(path);
  error = as_error(retry_while_locked([&] { return result_of(DeleteFileW(target.c_str())); }));
  return !error;
}

// Below a directory being removed whole, read-only files are removed too
// (the staging root holds only what the launcher put there).
std::error_code delete_file_forcing(const std::wstring& path, DWORD attributes) {
  std::error_code error;
  if (delete_file(path, error)) return {};
  if (error.value() == ERROR_ACCESS_DENIED && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesW(file_api_path(path).c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    error.clear();
    if (delete_file(path, error)) return {};
  }
  return error;
}

// Removes what a directory holds but its subdirectories, whose paths it
// adds to subdirectories. Links and junctions are removed themselves, never
// entered. Returns the first error and goes on after it.
std::error_code empty_directory(const std::wstring& directory, std::vector<std::wstring>& subdirectories) {
  std::error_code first;
  WIN32_FIND_DATAW entry{};
  const std::wstring pattern = file_api_path(path_text::join(directory, L"*"));
  HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) {
    const auto error = last_os_error();
    return is_not_found_code(static_cast<DWORD>(error.value())) ? std::error_code{} : error;
  }
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring child = path_text::join(directory, name);
    const DWORD attributes = entry.dwFileAttributes;
    std::error_code error;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      subdirectories.push_back(child);
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      const std::wstring target = file_api_path(child);
      if (!RemoveDirectoryW(target.c_str())) error = last_os_error();
    } else {
      error = delete_file_forcing(child, attributes);
    }
    if (error && !first) first = error;
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return first;
}

}  // namespace

std::filesystem::path fs_path(const std::wstring& path) { return std::filesystem::path(file_api_path(path)); }

std::error_code create_directories(const std::wstring& path) {
  if (path.empty()) return make_os_error(ERROR_PATH_NOT_FOUND);
  // The missing ancestors, as the lengths of the prefixes that name them
  // (a parent is a prefix of its path), found without recursion: a path of
  // thousands of levels must not exhaust the stack.
  std::vector<std::size_t> missing;
  for (std::wstring at = path;;) {
    const DWORD attributes = GetFileAttributesW(file_api_path(at).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if (attributes & FILE_ATTRIBUTE_DIRECTORY) break;
      return make_os_error(ERROR_ALREADY_EXISTS);
    }
    missing.push_back(at.size());
    std::wstring parent = path_text::parent_path(at);
    if (parent.empty() || parent == at) break;
    at = std::move(parent);
  }
  for (auto length = missing.rbegin(); length != missing.rend(); ++length) {
    const std::wstring target = file_api_path(path.substr(0, *length));
    if (CreateDirectoryW(target.c_str(), nullptr)) continue;
    const auto error = last_os_error();
    // Lost a race with another creator, or the path ended in a separator that
    // named the directory just made.
    const DWORD now = GetFileAttributesW(target.c_str());
    if (now == INVALID_FILE_ATTRIBUTES || !(now & FILE_ATTRIBUTE_DIRECTORY)) return error;
  }
  return {};
}

FileStatus file_status(const std::wstring& path, std::error_code& error) {
  error.clear();
  WIN32_FILE_ATTRIBUTE_DATA data{};
  const std::wstring target = file_api_path(path);
  if (!GetFileAttributesExW(target.c_str(), GetFileExInfoStandard, &data)) {
    const auto failure = last_os_error();
    if (!is_not_found_code(static_cast<DWORD>(failure.value()))) error = failure;
    return {};
  }
  if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FileStatus followed = followed_status(path, error);
    followed.is_link = followed.exists;
    return followed;
  }
  FileStatus status;
  status.exists = true;
  status.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (!status.is_directory) status.size = combine(data.nFileSizeHigh, data.nFileSizeLow);
  return status;
}

std::optional<FileIdentity> file_identity(const std::wstring& path) {
  // What the path names, a link itself: no data access, which no sharing
  // mode can refuse.
  const auto information = [](const std::wstring& of, BY_HANDLE_FILE_INFORMATION& info) {
    const std::wstring target = file_api_path(of);
    const UniqueHandle handle(CreateFileW(target.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return handle && GetFileInformationByHandle(handle.get(), &info);
  };
  BY_HANDLE_FILE_INFORMATION info{}, folder{};
  if (!information(path, info)) return std::nullopt;
  FileIdentity identity{info.dwVolumeSerialNumber, combine(info.nFileIndexHigh, info.nFileIndexLow),
                        info.nNumberOfLinks};
  if (identity.names > 1 && information(path_text::parent_path(path), folder)) {
    // The entry as stored: a search for the path itself answers with the
    // stored name, whatever spelling found it.
    WIN32_FIND_DATAW found{};
    const std::wstring target = file_api_path(path);
    const HANDLE find = FindFirstFileW(target.c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      FindClose(find);
      identity.folder = combine(folder.nFileIndexHigh, folder.nFileIndexLow);
      identity.entry = found.cFileName;
    }
  }
  return identity;
}

std::error_code rename_path(const std::wstring& from, const std::wstring& to) {
  // No MOVEFILE_COPY_ALLOWED: across volumes that would be a copy that a
  // crash can leave half done at the target. The caller copies instead, in
  // its own safe order.
  const std::wstring source = file_api_path(from), target = file_api_path(to);
  return as_error(retry_while_locked(
      [&] { return result_of(MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)); }));
}

std::error_code copy_file(const std::wstring& from, const std::wstring& to) {
  const std::wstring source = file_api_path(from), target = file_api_path(to);
  return as_error(retry_while_locked([&] { return result_of(CopyFileW(source.c_str(), target.c_str(), FALSE)); }));
}

std::error_code remove_path(const std::wstring& path) {
  // The attribute query describes a link itself, so a link to a directory
  // (or a junction) is removed as the directory entry it is.
  const std::wstring target = file_api_path(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const auto error = last_os_error();
    return is_not_found_code(static_cast<DWORD>(error.value())) ? std::error_code{} : error;
  }
  const DWORD result = retry_while_locked([&] {
    return result_of((attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryW(target.c_str())
                                                              : DeleteFileW(target.c_str()));
  });
  return is_not_found_code(result) ? std::error_code{} : as_error(result);
}

std::error_code remove_own_file(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(file_api_path(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const auto error = last_os_error();
    return is_not_found_code(static_cast<DWORD>(error.value())) ? std::error_code{} : error;
  }
  const std::error_code error = delete_file_forcing(path, attributes);
  return is_not_found_error(error) ? std::error_code{} : error;
}

std::error_code remove_all(const std::wstring& path) {
  const std::wstring target = file_api_path(path);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const auto error = last_os_error();
    return is_not_found_code(static_cast<DWORD>(error.value())) ? std::error_code{} : error;
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return remove_path(path);
  return remove_tree_iteratively(path, empty_directory, [](const std::wstring& directory) {
    const std::wstring emptied = file_api_path(directory);
    if (RemoveDirectoryW(emptied.c_str())) return std::error_code{};
    const auto error = last_os_error();
    return is_not_found_code(static_cast<DWORD>(error.value())) ? std::error_code{} : error;
  });
}

std::error_code list_directory(const std::wstring& path, std::vector<DirectoryEntry>& entries) {
  entries.clear();
  WIN32_FIND_DATAW entry{};
  const std::wstring pattern = file_api_path(path_text::join(path, L"*"));
  HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return last_os_error();
  std::error_code error;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    const DWORD attributes = entry.dwFileAttributes;
    entries.push_back({name, (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)});
  } while (FindNextFileW(find, &entry));
  if (const DWORD code = GetLastError(); code != ERROR_NO_MORE_FILES) error = make_os_error(static_cast<int>(code));
  FindClose(find);
  return error;
}

bool is_not_found_error(const std::error_code& error) {
  return error && error.category() == os_category() && is_not_found_code(static_cast<DWORD>(error.value()));
}

bool is_directory_not_empty_error(const std::error_code& error) {
  return error.category() == os_category() && error.value() == ERROR_DIR_NOT_EMPTY;
}

bool is_cross_device_error(const std::error_code& error) {
  return error.category() == os_category() && error.value() == ERROR_NOT_SAME_DEVICE;
}

}  // namespace korvanta::platform

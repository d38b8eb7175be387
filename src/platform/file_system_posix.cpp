#include "platform/file_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>

#include "platform/error.h"
#include "platform/text.h"

namespace korvanta::platform {
namespace fs = std::filesystem;

fs::path fs_path(const std::wstring& path) {
  std::string text = wide_to_utf8(path);
  std::replace(text.begin(), text.end(), '\\', '/');
  return fs::path(text);
}

std::error_code create_directories(const std::wstring& path) {
  std::error_code error;
  const auto target = fs_path(path);
  fs::create_directories(target, error);
  if (!error && !fs::is_directory(target, error) && !error)
    error = std::make_error_code(std::errc::not_a_directory);
  return error;
}

FileStatus file_status(const std::wstring& path, std::error_code& error) {
  error.clear();
  FileStatus result;
  struct stat info {};
  if (::stat(fs_path(path).c_str(), &info) != 0) {
    error = std::error_code(errno, std::system_category());
    if (is_not_found_error(error)) error.clear();
    return result;
  }
  result.exists = true;
  result.is_directory = S_ISDIR(info.st_mode);
  if (!result.is_directory) result.size = static_cast<std::uint64_t>(info.st_size);
  struct stat link {};
  result.is_link = ::lstat(fs_path(path).c_str(), &link) == 0 && S_ISLNK(link.st_mode);
  return result;
}

std::optional<FileIdentity> file_identity(const std::wstring& path) {
  const fs::path target = fs_path(path);
  struct stat info {}, folder {};
  if (::lstat(target.c_str(), &info) != 0) return std::nullopt;
  FileIdentity identity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
                        static_cast<std::uint64_t>(info.st_nlink)};
  const fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
  if (identity.names > 1 && ::stat(parent.c_str(), &folder) == 0) {
    identity.folder = static_cast<std::uint64_t>(folder.st_ino);
    identity.entry = utf8_to_wide(target.filename().string());
  }
  return identity;
}

std::error_code rename_path(const std::wstring& from, const std::wstring& to) {
  std::error_code error;
  fs::rename(fs_path(from), fs_path(to), error);
  return error;
}

std::error_code copy_file(const std::wstring& from, const std::wstring& to) {
  std::error_code error;
  fs::copy_file(fs_path(from), fs_path(to), fs::copy_options::overwrite_existing, error);
  return error;
}

std::error_code remove_path(const std::wstring& path) {
  std::error_code error;
  fs::remove(fs_path(path), error);
  if (is_not_found_error(error)) error.clear();
  return error;
}

std::error_code remove_own_file(const std::wstring& path) {
  // Whether a file may be unlinked is its directory's to say, not its own.
  if (::unlink(fs_path(path).c_str()) == 0) return {};
  const std::error_code error = last_os_error();
  return is_not_found_error(error) ? std::error_code{} : error;
}

std::error_code remove_all(const std::wstring& path) {
  // std::filesystem::remove_all removes symbolic links without following them.
  std::error_code error;
  fs::remove_all(fs_path(path), error);
  if (is_not_found_error(error)) error.clear();
  return error;
}

std::error_code list_directory(const std::wstring& path, std::vector<DirectoryEntry>& entries) {
  entries.clear();
  std::error_code error;
  for (fs::directory_iterator it(fs_path(path), error), end; !error && it != end; it.increment(error))
    entries.push_back({utf8_to_wide(it->path().filename().string()), it->symlink_status().type() == fs::file_type::directory});
  return error;
}

bool is_not_found_error(const std::error_code& error) {
  return error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
}

bool is_directory_not_empty_error(const std::error_code& error) {
  return error == std::errc::directory_not_empty || error == std::errc::file_exists;
}

bool is_cross_device_error(const std::error_code& error) { return error == std::errc::cross_device_link; }

}  // namespace korvanta::platform

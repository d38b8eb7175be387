#pragma once
// File-system operations on wide paths, each reporting failure as an
// operating-system error code (see error.h). On Windows these call Win32
// directly so that every failure carries its Win32 error code; on the host
// they rest on std::filesystem.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace korvanta::platform {

// The host-side form of a wide path: on Windows the form the system's file
// functions take (file_api_path: extended-length when long); elsewhere its
// UTF-8 text with backslashes turned into slashes, so that the Windows path
// text the updater builds names the same place in native tests.
std::filesystem::path fs_path(const std::wstring& path);

// Creates the directory and every missing ancestor. An existing directory is
// no error; a file in the way is.
std::error_code create_directories(const std::wstring& path);

// What lies at a path, links followed.
struct FileStatus {
  bool exists = false;
  bool is_directory = false;
  std::uint64_t size = 0;  // bytes of a file; 0 for a directory
  bool is_link = false;  // the path itself is a link or junction (the rest describes its target)
};

// A missing file, a missing directory on the path or a dangling link gives
// exists == false and no error; any other failure (access refused on a
// parent, say) gives exists == false and that error.
FileStatus file_status(const std::wstring& path, std::error_code& error);

// Which file a path resolves to, as the system knows it: the volume and the
// file's index on it (device and inode on the host), and how many names
// (hard links) the file has. For a file with more than one name, also the
// directory entry the path resolves to: its folder's index and its name as
// stored there (another letter case or a short name resolves to the stored
// name; another hard link is another entry).
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  std::uint64_t names = 1;
  std::uint64_t folder = 0;
  std::wstring entry;
};

// Whether two identities are one directory entry: two spellings of one name.
// A file with more than one name whose entry could not be read counts as
// that entry (the caller's safe side: it leaves the file alone).
inline bool same_entry(const FileIdentity& a, const FileIdentity& b) {
  return a.volume == b.volume && a.index == b.index &&
         (a.names == 1 || b.names == 1 || a.entry.empty() || b.entry.empty() ||
          (a.folder == b.folder && a.entry == b.entry));
}

// A link is itself, not what it points to. Nothing when the path names
// nothing or cannot be examined.
std::optional<FileIdentity> file_identity(const std::wstring& path);

// Moves a file (or directory) to a new path on the same volume, replacing a
// file already there (MoveFileExW with MOVEFILE_REPLACE_EXISTING on
// Windows). Across volumes it fails: a copy there is the caller's to make.
std::error_code rename_path(const std::wstring& from, const std::wstring& to);

// Copies a file's content to a new path, overwriting a file already there.
std::error_code copy_file(const std::wstring& from, const std::wstring& to);

// Removes a file, a link (never what it points to) or an empty directory. A
// path that does not exist is no error.
std::error_code remove_path(const std::wstring& path);

// Removes a file of the updater's own whatever its attributes: a read-only
// one too (on Windows). A missing file is no error; a directory is not
// removed.
std::error_code remove_own_file(const std::wstring& path);

// Removes a directory and everything below it. Links and junctions met on
// the way are removed themselves; nothing they point to is entered. Goes on
// after a failure and returns the first error.
std::error_code remove_all(const std::wstring& path);

// What a directory holds (without "." and ".."): each entry's name, and
// whether it is a directory to enter. A link or junction is not one: it is
// an entry of its own, never followed.
struct DirectoryEntry {
  std::wstring name;
  bool is_directory = false;
};
std::error_code list_directory(const std::wstring& path, std::vector<DirectoryEntry>& entries);

// Error classes the apply step decides on.
bool is_not_found_error(const std::error_code& error);       // missing file or directory on the path
bool is_directory_not_empty_error(const std::error_code& error);
bool is_cross_device_error(const std::error_code& error);    // a rename to another volume

}  // namespace korvanta::platform

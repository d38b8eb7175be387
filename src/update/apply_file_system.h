#pragma once
// The file system as the apply engine sees it. The engine takes it as an
// interface so that tests can make any single call fail and check that a
// player's files survive; the real one is the platform layer.
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "manifest/build_manifest.h"
#include "manifest/manifest_writer.h"
#include "manifest/sha256.h"
#include "platform/file_system.h"

namespace korvanta {

class ApplyFileSystem {
 public:
  virtual ~ApplyFileSystem() = default;

  // Links followed. Absence (of the file or of a directory on the path) is
  // exists == false without an error; any other failure sets error.
  virtual platform::FileStatus status(const std::wstring& path, std::error_code& error) = 0;
  // Which file the path resolves to; nothing when it names nothing.
  virtual std::optional<platform::FileIdentity> identity(const std::wstring& path) = 0;
  // Creates a directory and its missing ancestors; an existing one is fine.
  virtual std::error_code create_directories(const std::wstring& path) = 0;
  // Renames on one volume, replacing an existing target.
  virtual std::error_code rename(const std::wstring& from, const std::wstring& to) = 0;
  // Copies a file, overwriting the target.
  virtual std::error_code copy_file(const std::wstring& from, const std::wstring& to) = 0;
  // Removes a file, a link or an empty directory; a missing path is no error.
  virtual std::error_code remove(const std::wstring& path) = 0;
  // Removes a file of the updater's own (the state file) whatever its
  // attributes; a missing path is no error.
  virtual std::error_code remove_own_file(const std::wstring& path) = 0;
  // Removes a directory tree without following links out of it; read-only
  // files in it too.
  virtual std::error_code remove_all(const std::wstring& path) = 0;
  // What a directory holds; links are entries of their own, never entered.
  virtual std::error_code list_directory(const std::wstring& path, std::vector<platform::DirectoryEntry>& entries) = 0;
  // SHA-256 of a file that should hold size bytes, as 64 lower-case hex
  // digits, in one open; "" with error set when the file cannot be opened (a
  // directory cannot), "" with found_size set and no error when its size
  // differs (it is not read). progress, when set, hears the bytes read so far.
  virtual std::string sha256_file_hex(const std::wstring& path, std::uint64_t size, std::uint64_t& found_size,
                                      std::error_code& error, const HashProgress& progress) = 0;
  // write_build_manifest's contract: what failed, or nothing.
  virtual std::optional<WriteFailure> write_build_manifest(const std::wstring& path, const BuildManifest& manifest) = 0;
};

// The platform layer and the integrity layer's hashing and manifest writer.
class PlatformFileSystem : public ApplyFileSystem {
 public:
  platform::FileStatus status(const std::wstring& path, std::error_code& error) override;
  std::optional<platform::FileIdentity> identity(const std::wstring& path) override;
  std::error_code create_directories(const std::wstring& path) override;
  std::error_code rename(const std::wstring& from, const std::wstring& to) override;
  std::error_code copy_file(const std::wstring& from, const std::wstring& to) override;
  std::error_code remove(const std::wstring& path) override;
  std::error_code remove_own_file(const std::wstring& path) override;
  std::error_code remove_all(const std::wstring& path) override;
  std::error_code list_directory(const std::wstring& path, std::vector<platform::DirectoryEntry>& entries) override;
  std::string sha256_file_hex(const std::wstring& path, std::uint64_t size, std::uint64_t& found_size,
                              std::error_code& error, const HashProgress& progress) override;
  std::optional<WriteFailure> write_build_manifest(const std::wstring& path, const BuildManifest& manifest) override;
};

}  // namespace korvanta

#include "update/apply_file_system.h"

#include "manifest/manifest_writer.h"
#include "manifest/sha256.h"

namespace korvanta {

platform::FileStatus PlatformFileSystem::status(const std::wstring& path, std::error_code& error) {
  return platform::file_status(path, error);
}

std::optional<platform::FileIdentity> PlatformFileSystem::identity(const std::wstring& path) {
  return platform::file_identity(path);
}

std::error_code PlatformFileSystem::create_directories(const std::wstring& path) {
  return platform::create_directories(path);
}

std::error_code PlatformFileSystem::rename(const std::wstring& from, const std::wstring& to) {
  return platform::rename_path(from, to);
}

std::error_code PlatformFileSystem::copy_file(const std::wstring& from, const std::wstring& to) {
  return platform::copy_file(from, to);
}

std::error_code PlatformFileSystem::remove(const std::wstring& path) { return platform::remove_path(path); }

std::error_code PlatformFileSystem::remove_own_file(const std::wstring& path) {
  return platform::remove_own_file(path);
}

std::error_code PlatformFileSystem::remove_all(const std::wstring& path) { return platform::remove_all(path); }

std::error_code PlatformFileSystem::list_directory(const std::wstring& path,
                                                   std::vector<platform::DirectoryEntry>& entries) {
  return platform::list_directory(path, entries);
}

std::string PlatformFileSystem::sha256_file_hex(const std::wstring& path, std::uint64_t size, std::uint64_t& found_size,
                                                std::error_code& error, const HashProgress& progress) {
  return sha256_file_hex_of_size(path, size, found_size, error, progress);
}

std::optional<WriteFailure> PlatformFileSystem::write_build_manifest(const std::wstring& path,
                                                                     const BuildManifest& manifest) {
  return korvanta::write_build_manifest(path, manifest);
}

}  // namespace korvanta

#pragma once
// The reason codes with which the apply step fails, as the launcher and the
// run log read them. A failed file operation reports the operating system's
// message instead (platform::os_error_text).

namespace korvanta::reason {

inline constexpr const char* kInvalidUpdateStateLocation = "invalid_update_state_location";
inline constexpr const char* kFailedToLoadUpdateState = "failed_to_load_update_state";
inline constexpr const char* kInvalidUpdateState = "invalid_update_state";
inline constexpr const char* kInstallRootMismatch = "update_state_install_root_mismatch";
inline constexpr const char* kManifestPathOutsideInstall = "update_state_manifest_path_outside_install";
inline constexpr const char* kBackupRootOutsideInstall = "update_state_backup_root_outside_install";
inline constexpr const char* kStagingRootOutsideInstall = "update_state_staging_root_outside_install";
inline constexpr const char* kUpdateAlreadyRunning = "update_already_running";
inline constexpr const char* kInvalidDeletionPath = "invalid_deletion_path";
inline constexpr const char* kInvalidReplacementPath = "invalid_replacement_path";
inline constexpr const char* kStagedFileOutsideStagingRoot = "staged_file_outside_staging_root";
inline constexpr const char* kStagedFileSizeMismatch = "staged_file_size_mismatch";
inline constexpr const char* kStagedFileHashMismatch = "staged_file_hash_mismatch";
inline constexpr const char* kInvalidUpdateManifest = "invalid_update_manifest";
inline constexpr const char* kFailedToOpenFile = "failed_to_open_file";
inline constexpr const char* kFailedToWriteFile = "failed_to_write_file";
inline constexpr const char* kUnexpectedError = "unexpected_error";

}  // namespace korvanta::reason

#include "update/apply_error.h"

#include "platform/error.h"

namespace korvanta {

std::string_view reason_code(Reason reason) noexcept {
  switch (reason) {
    case Reason::system_message:
    case Reason::own_message: return {};
    case Reason::invalid_update_state_location: return "invalid_update_state_location";
    case Reason::failed_to_load_update_state: return "failed_to_load_update_state";
    case Reason::invalid_update_state: return "invalid_update_state";
    case Reason::update_already_running: return "update_already_running";
    case Reason::install_root_mismatch: return "update_state_install_root_mismatch";
    case Reason::manifest_path_outside_install: return "update_state_manifest_path_outside_install";
    case Reason::backup_root_outside_install: return "update_state_backup_root_outside_install";
    case Reason::staging_root_outside_install: return "update_state_staging_root_outside_install";
    case Reason::invalid_deletion_path: return "invalid_deletion_path";
    case Reason::deletion_in_data_directory: return "deletion_in_data_directory";
    case Reason::invalid_replacement_path: return "invalid_replacement_path";
    case Reason::replacement_in_data_directory: return "replacement_in_data_directory";
    case Reason::staged_file_outside_staging_root: return "staged_file_outside_staging_root";
    case Reason::staged_file_listed_twice: return "staged_file_listed_twice";
    case Reason::replacement_inside_replacement: return "replacement_inside_replacement";
    case Reason::invalid_update_manifest: return "invalid_update_manifest";
    case Reason::staged_file_size_mismatch: return "staged_file_size_mismatch";
    case Reason::staged_file_hash_mismatch: return "staged_file_hash_mismatch";
    case Reason::failed_to_open_file: return "failed_to_open_file";
    case Reason::failed_to_write_file: return "failed_to_write_file";
    case Reason::unexpected_error: break;
  }
  return "unexpected_error";
}

std::string ApplyError::reason_text() const {
  switch (reason) {
    case Reason::system_message: return platform::os_error_text(system);
    case Reason::own_message: return message.empty() ? std::string(reason_code(Reason::unexpected_error)) : message;
    default: return std::string(reason_code(reason));
  }
}

ApplyError system_failure(std::error_code error) { return {Reason::system_message, error, {}, {}, {}}; }

ApplyError failure(Reason reason, std::error_code error) { return {reason, error, {}, {}, {}}; }

}  // namespace korvanta

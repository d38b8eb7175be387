#pragma once
// How an apply fails: the one value that travels from the call that failed
// to the run log's "Failed entry: " and "Apply failed: " lines.
#include <string>
#include <string_view>
#include <system_error>

namespace korvanta {

// Why: a documented reason code, the system's message for the error of the
// call that failed, or a message of its own.
enum class Reason {
  system_message,  // reason_text is the system's message for `system`
  own_message,     // reason_text is `message` (a library's words, a directory creation's)
  invalid_update_state_location,
  failed_to_load_update_state,
  invalid_update_state,
  update_already_running,
  install_root_mismatch,
  manifest_path_outside_install,
  backup_root_outside_install,
  staging_root_outside_install,
  invalid_deletion_path,
  deletion_in_data_directory,
  invalid_replacement_path,
  replacement_in_data_directory,
  staged_file_outside_staging_root,
  staged_file_listed_twice,
  replacement_inside_replacement,
  invalid_update_manifest,
  staged_file_size_mismatch,
  staged_file_hash_mismatch,
  failed_to_open_file,
  failed_to_write_file,
  unexpected_error,
};

// The documented code of a reason ("staged_file_hash_mismatch"); empty for
// the two messages.
std::string_view reason_code(Reason reason) noexcept;

// How the first stage names the state file as a whole, and the clean-up.
inline constexpr std::string_view kStateFilePlace = "state file";
inline constexpr std::string_view kManifestPlace = "/manifest";

struct ApplyError {
  Reason reason = Reason::unexpected_error;
  // The error of the call that failed, when a call failed (kept for a
  // documented code too, "failed_to_open_file" of a staged file, say).
  std::error_code system;
  std::string message;  // for Reason::own_message
  // Where: kStateFilePlace (its place, its text, another updater at work);
  // the JSON pointer of the state file's key, or of the first value of the
  // wrong shape, that the first stage refused ("/install_root",
  // "/replacements/2/size"); the entry ("/deletions/0", "/replacements/3");
  // kManifestPlace.
  std::string place;
  std::string path;  // the entry's path as the state file gives it, for an entry

  // What "Apply failed: " says: the code, or the message.
  std::string reason_text() const;
  // The system's error number when the reason is its message, else 0.
  int windows_error() const noexcept { return reason == Reason::system_message ? system.value() : 0; }
};

// A failure of a system call, reported in the system's words.
ApplyError system_failure(std::error_code error);
// A failure with a documented code (and the error of the call behind it).
ApplyError failure(Reason reason, std::error_code error = {});

}  // namespace korvanta

#pragma once
#include <string>

namespace korvanta {

class ApplyFileSystem;

// Where an apply stopped, for the launcher.
struct ApplyFailure {
  // "state file" (its place, its text, or another updater at work); the JSON
  // pointer of the state file's key, or of the first value of the wrong
  // shape, that the first stage refused ("/install_root",
  // "/replacements/2/size"); the entry being applied ("/deletions/0",
  // "/replacements/3"); "/manifest"; or "clean-up".
  std::string place;
  std::string path;       // the entry's "path" as the state file gives it, for an entry
  int system_error = 0;   // the system's error number when the reason is its message
};

// Installs the update described by the state file at state_path (as given on
// the command line). True when the update has been installed. On false,
// reason holds one snake_case reason code or the operating system's message
// for a failed file operation; on true it is left untouched. Never throws.
//
// Every installed file that is deleted or replaced is first put in the
// backup root (a deletion is copied there, a replacement moved there). A
// failure stops at once and undoes nothing already completed; the state file
// and the staging root then stay for the launcher.
// On false, failure (when given) says where.
bool apply_update(const std::wstring& state_path, std::string& reason, ApplyFailure* failure = nullptr);

// apply_update on the given file system (tests inject failures through it).
bool apply_update_with(const std::wstring& state_path, std::string& reason, ApplyFileSystem& file_system,
                       ApplyFailure* failure = nullptr);

}  // namespace korvanta

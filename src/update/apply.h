#pragma once
#include <string>

namespace korvanta {

class ApplyFileSystem;

// Installs the update described by the state file at state_path (as given on
// the command line). True when the update has been installed. On false,
// reason holds one snake_case reason code or the operating system's message
// for a failed file operation; on true it is left untouched. Never throws.
//
// Every installed file that is deleted or replaced is first put in the
// backup root (a deletion is copied there, a replacement moved there). A
// failure stops at once and undoes nothing already completed; the state file
// and the staging root then stay for the launcher.
bool apply_update(const std::wstring& state_path, std::string& reason);

// apply_update on the given file system (tests inject failures through it).
bool apply_update_with(const std::wstring& state_path, std::string& reason, ApplyFileSystem& file_system);

}  // namespace korvanta

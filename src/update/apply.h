#pragma once
#include <string>

namespace korvanta {

// Installs the update described by the state file at state_path (as given on
// the command line). True when the update has been installed. On false,
// reason holds one snake_case reason code or the operating system's message
// for a failed file operation; on true it is left untouched. Never throws.
bool apply_update(const std::wstring& state_path, std::string& reason);

}  // namespace korvanta

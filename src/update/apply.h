#pragma once
#include <optional>
#include <string>

#include "update/apply_error.h"

namespace korvanta {

class ApplyFileSystem;
class ApplyProgress;

// Installs the update described by the state file at state_path (as given on
// the command line). Nothing when the update has been installed; otherwise
// the failure: its reason, the error of the call that failed, and where it
// stopped. Never throws.
//
// The state file is read whole and every rule that it alone decides is
// checked before anything changes. Every installed file that is deleted or
// replaced is first put in the backup root (a deletion is copied there, a
// replacement moved there). A failure stops at once and undoes nothing
// already completed; the state file and the staging root then stay for the
// launcher.
//
// progress, when given, hears where the apply is as it goes (see
// ApplyProgress), including the waits for files other programs hold.
std::optional<ApplyError> apply_update(const std::wstring& state_path, ApplyProgress* progress = nullptr);

// apply_update on the given file system (tests inject failures through it).
std::optional<ApplyError> apply_update_with(const std::wstring& state_path, ApplyFileSystem& file_system,
                                            ApplyProgress* progress = nullptr);

}  // namespace korvanta

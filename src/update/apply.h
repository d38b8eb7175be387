#pragma once
#include <cstddef>
#include <optional>
#include <string>

#include "update/apply_error.h"
#include "update/updater_lock.h"

namespace korvanta {

class ApplyFileSystem;
class ApplyProgress;

// What an apply did, counted as it goes: after a failure, what was done
// before it.
struct ApplyReport {
  std::size_t deleted = 0;            // deletions whose installed file this run removed
  std::size_t replaced = 0;           // replacements this run installed
  std::size_t already_installed = 0;  // replacements found installed by an earlier run
  // The new build's manifest "id" and "version", once it is written.
  std::optional<std::string> build_id, build_version;
};

// Installs the update described by the state file at state_path (as given on
// the command line). Nothing when the update has been installed; otherwise
// the failure: its reason, the error of the call that failed, and where it
// stopped. Never throws.
//
// The state file is read to its end and every rule that it alone decides is
// checked before anything changes. Every installed file that is deleted or
// replaced is first put in the backup root (moved there, by a rename where
// the volume allows). A failure stops at once and undoes nothing already
// completed; the state file and the staging root then stay for the
// launcher. Takes the installation's UpdaterLock for the apply.
//
// progress, when given, hears where the apply is as it goes (see
// ApplyProgress), including the waits for files other programs hold.
std::optional<ApplyError> apply_update(const std::wstring& state_path, ApplyProgress* progress = nullptr);

// apply_update on the given file system (tests inject failures through it).
// report, when given, counts what the apply does as it goes. held, when
// given, is the installation's lock as the caller took it (the run takes it
// before it waits for the launcher); without it, or when it is not held, the
// apply takes the lock itself. progress: as for apply_update.
std::optional<ApplyError> apply_update_with(const std::wstring& state_path, ApplyFileSystem& file_system,
                                            ApplyReport* report = nullptr, UpdaterLock* held = nullptr,
                                            ApplyProgress* progress = nullptr);

}  // namespace korvanta

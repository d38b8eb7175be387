#pragma once
// One updater at a time in an installation: two would back up and install
// the same files at once. The lock is .korvanta\updater.lock, held from the
// check of the state file's place to the end of the run (the wait for the
// launcher included) and holding the updater's process id. It comes before
// the state file is read, so that an updater cannot act on a state file that
// another has just finished with.
#include <optional>
#include <string>

#include "platform/lock_file.h"
#include "update/apply_error.h"

namespace korvanta {

inline constexpr const wchar_t* kLockFileName = L"updater.lock";

class UpdaterLock {
 public:
  // Checks where the state file at state_path (as given on the command line)
  // lies, then takes the lock of its installation. The refusal, at
  // kStateFilePlace: invalid_update_state_location; update_already_running
  // while another updater holds the lock; the system's error when it cannot
  // be taken at all (something in its way), so two updaters never work at
  // once. Without the data directory there is no lock to take, and no state
  // file either, which loading it reports: nothing, and held() stays false.
  // Reads no state file; once held, taking it again does nothing.
  std::optional<ApplyError> take(const std::wstring& state_path);
  bool held() const noexcept { return held_; }

 private:
  platform::LockFile file_;
  bool held_ = false;
};

}  // namespace korvanta

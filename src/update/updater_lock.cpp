#include "update/updater_lock.h"

#include "platform/file_system.h"
#include "platform/path_text.h"
#include "update/update_plan.h"
#include "update/update_state.h"

namespace korvanta {

std::optional<ApplyError> UpdaterLock::take(const std::wstring& state_path) {
  if (held_) return std::nullopt;
  UpdatePlan located;
  if (auto error = locate_update_state(state_path, located)) return error;
  const std::error_code error = file_.acquire(platform::path_text::join(located.data_dir, kLockFileName));
  if (!error) held_ = true;
  if (!error || platform::is_not_found_error(error)) return std::nullopt;
  ApplyError refused = platform::LockFile::held_elsewhere(error) ? failure(Reason::update_already_running, error)
                                                                 : system_failure(error);
  refused.place = kStateFilePlace;
  return refused;
}

}  // namespace korvanta

#include "update/apply.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <set>
#include <vector>

#include "manifest/build_manifest.h"
#include "platform/file_system.h"
#include "platform/lock_file.h"
#include "platform/path_text.h"
#include "platform/text.h"
#include "update/apply_file_system.h"
#include "update/staged_file.h"
#include "update/update_plan.h"
#include "update/update_state.h"

namespace korvanta {
namespace {

namespace path_text = platform::path_text;

// Nothing when a step worked; otherwise why it did not.
using Outcome = std::optional<ApplyError>;

// In the data directory while an updater works on the installation.
constexpr const wchar_t* kLockFileName = L"updater.lock";

// A checked relative path under a root. The path is UTF-8 like the roots;
// its "/" separators become the platform's.
std::wstring join_relative(const std::wstring& root, const std::string& relative) {
  std::wstring tail = platform::utf8_to_wide(relative);
  for (wchar_t& c : tail)
    if (c == L'/') c = path_text::preferred_separator;
  return path_text::join(root, tail);
}

// What lies at path. An error other than absence is a failure: deciding
// "absent" on it could skip a backup.
Outcome status_of(ApplyFileSystem& fs, const std::wstring& path, platform::FileStatus& status) {
  std::error_code error;
  status = fs.status(path, error);
  if (error) return system_failure(error);
  return std::nullopt;
}

// A rename, or where the rename fails a copy and the removal of the source.
Outcome move_file(ApplyFileSystem& fs, const std::wstring& from, const std::wstring& to) {
  if (auto error = fs.create_directories(path_text::parent_path(to))) return system_failure(error);
  if (!fs.rename(from, to)) return std::nullopt;
  // The rename's own error is not reported: the copy decides.
  if (auto error = fs.copy_file(from, to)) return system_failure(error);
  if (auto error = fs.remove(from)) return system_failure(error);
  return std::nullopt;
}

// Beside a target that a staged file could not be renamed to: its copy, on
// its way into place.
constexpr const wchar_t* kCopySuffix = L".korvanta-copy";

// A staged file that cannot be renamed into place (on another volume, or held
// by a scanner that does not share deletion) is copied beside the target and
// that copy renamed into place, so an interrupted copy never leaves part of a
// file installed; a copy left by an interrupted run is removed. The staged
// file stays in the staging root when it cannot be removed; the clean-up
// removes it.
Outcome install_staged_file(ApplyFileSystem& fs, const std::wstring& staged, const std::wstring& target) {
  const std::wstring copy = target + kCopySuffix;
  if (auto error = fs.create_directories(path_text::parent_path(target))) return system_failure(error);
  if (!fs.rename(staged, target)) return fs.remove(copy), std::nullopt;
  if (auto error = fs.copy_file(staged, copy)) return system_failure(error);
  if (auto error = fs.rename(copy, target)) {
    fs.remove(copy);
    return system_failure(error);
  }
  fs.remove(staged);
  return std::nullopt;
}

Outcome backup_before_delete(ApplyFileSystem& fs, const UpdatePlan& plan, const std::string& relative) {
  const std::wstring installed = join_relative(plan.install_root, relative);
  platform::FileStatus status;
  if (auto error = status_of(fs, installed, status)) return error;
  if (!status.exists) return std::nullopt;
  const std::wstring backup = join_relative(plan.backup_root, relative);
  if (auto error = fs.create_directories(path_text::parent_path(backup))) return system_failure(error);
  if (auto error = fs.copy_file(installed, backup)) return system_failure(error);
  return std::nullopt;
}

Outcome replace_file(ApplyFileSystem& fs, const UpdatePlan& plan, const Replacement& replacement) {
  const std::wstring target = join_relative(plan.install_root, replacement.path);
  const std::wstring backup = join_relative(plan.backup_root, replacement.path);
  platform::FileStatus status;
  if (auto error = status_of(fs, target, status)) return error;
  bool had_target = status.exists;
  if (status.is_directory) {
    // An empty folder in the file's place (its files deleted by this update)
    // holds nothing to back up: it goes, and no backup waits to come back.
    const std::error_code removed = fs.remove(target);
    if (!removed) had_target = false;
    else if (!platform::is_directory_not_empty_error(removed)) return system_failure(removed);
  }
  if (had_target) {
    // A backup already in place and the new version installed: an earlier
    // run of this update installed the file by a copy and stopped before it
    // removed the staged one. Moving the new version into the backup would
    // put it over the player's original.
    platform::FileStatus backed_up;
    if (auto error = status_of(fs, backup, backed_up)) return error;
    if (backed_up.exists && holds_announced_content(fs, target, replacement)) return std::nullopt;
    if (auto error = move_file(fs, target, backup)) return error;
  }
  Outcome installed = install_staged_file(fs, platform::utf8_to_wide(replacement.staged_path), target);
  if (installed && had_target) {
    // Put the old file back; should that fail too, it is still the backup,
    // and the installation's failure is what the launcher must hear.
    platform::FileStatus back;
    if (!status_of(fs, backup, back) && back.exists) move_file(fs, backup, target);
  }
  return installed;
}

// Whether a deletion names a file that a replacement names too, in the same
// spelling up to ASCII case or, for a file that is there, in any spelling
// that Windows resolves to that file's name (letter case beyond ASCII, a
// short name). A hard link is another name, and a link another file: both
// are deleted.
class ReplacedFiles {
 public:
  ReplacedFiles(ApplyFileSystem& fs, const UpdatePlan& plan) : fs_(fs), plan_(plan) {
    for (const Replacement& replacement : plan.replacements) names_.insert(to_lower_ascii(replacement.path));
  }
  bool contain(const std::string& relative) {
    if (names_.count(to_lower_ascii(relative)) != 0) return true;
    const auto file = fs_.identity(join_relative(plan_.install_root, relative));
    if (!file) return false;
    if (!identities_) {
      identities_.emplace();
      for (const Replacement& replacement : plan_.replacements)
        if (auto identity = fs_.identity(join_relative(plan_.install_root, replacement.path)))
          identities_->push_back(*identity);
    }
    return std::any_of(identities_->begin(), identities_->end(),
                       [&](const platform::FileIdentity& target) { return platform::same_entry(target, *file); });
  }

 private:
  ApplyFileSystem& fs_;
  const UpdatePlan& plan_;
  std::set<std::string> names_;
  std::optional<std::vector<platform::FileIdentity>> identities_;  // of the targets there, once needed
};

// Where the apply is: the place and path an exception is reported at.
struct Where {
  std::string place{kStateFilePlace};
  std::string path;
  void enter(std::string entry_place, const EntryPath& entry) {
    place = std::move(entry_place);
    path = entry.as_given();
  }
};

// A failure at the entry the apply is at.
ApplyError at(ApplyError error, const Where& where) {
  error.place = where.place;
  error.path = where.path;
  return error;
}

Outcome apply_deletions(ApplyFileSystem& fs, const UpdatePlan& plan, Where& where) {
  // A file that is also replaced is left to its replacement, which moves the
  // installed file into the backup root itself. Deleting it first would copy
  // whatever is installed over that backup: after an interrupted run, when
  // the launcher runs the same update again, that is the new version, and the
  // player's original would be gone.
  ReplacedFiles replaced(fs, plan);
  for (std::size_t i = 0; i < plan.deletions.size(); ++i) {
    const Deletion& deletion = plan.deletions[i];
    where.enter(deletion_place(i), deletion);
    if (replaced.contain(deletion.path)) continue;
    Outcome error = backup_before_delete(fs, plan, deletion.path);
    if (!error)
      if (auto removed = fs.remove(join_relative(plan.install_root, deletion.path))) error = system_failure(removed);
    if (error) return at(std::move(*error), where);
  }
  return std::nullopt;
}

Outcome apply_replacement(ApplyFileSystem& fs, const UpdatePlan& plan, const Replacement& replacement) {
  bool missing = false;
  Outcome error = verify_staged_file(fs, replacement, &missing);
  // The staged file is gone and its new version installed: an earlier run
  // of this update got this far before it was interrupted.
  if (error && missing && holds_announced_content(fs, join_relative(plan.install_root, replacement.path), replacement))
    return std::nullopt;
  if (error) return error;
  return replace_file(fs, plan, replacement);
}

Outcome apply_replacements(ApplyFileSystem& fs, const UpdatePlan& plan, Where& where) {
  for (std::size_t i = 0; i < plan.replacements.size(); ++i) {
    where.enter(replacement_place(i), plan.replacements[i]);
    if (auto error = apply_replacement(fs, plan, plan.replacements[i])) return at(std::move(*error), where);
  }
  return std::nullopt;
}

// The manifest writer's failure in the reasons the launcher knows.
ApplyError manifest_failure(const WriteFailure& failed) {
  using Step = WriteFailure::Step;
  ApplyError error;
  switch (failed.step) {
    case Step::create:
    case Step::replace: error = failure(Reason::failed_to_open_file, failed.system); break;
    case Step::write: error = failure(Reason::failed_to_write_file, failed.system); break;
    case Step::create_directories:
    case Step::encode:
    case Step::memory:
      error = failure(Reason::own_message, failed.system);
      error.message = failed.message;
      break;
  }
  error.place = kManifestPlace;
  return error;
}

// Errors here do not undo a completed update.
void clean_up(ApplyFileSystem& fs, const UpdatePlan& plan) {
  if (auto error = fs.remove(plan.staging_root); platform::is_directory_not_empty_error(error))
    fs.remove_all(plan.staging_root);
  fs.remove(plan.state_file);
}

Outcome apply(const std::wstring& state_path, ApplyFileSystem& fs, Where& where) {
  UpdatePlan plan;
  if (auto error = locate_update_state(state_path, plan)) return error;
  // One updater at a time in an installation: two would back up and install
  // the same files at once. Taken before the state file is read, so that an
  // updater cannot act on a state file that another has just finished with.
  // A lock that cannot be taken at all (something in its way) refuses too,
  // with the system's reason; without the directory there is no state file
  // either, which loading it reports.
  platform::LockFile lock;
  if (const std::error_code error = lock.acquire(path_text::join(plan.data_dir, kLockFileName));
      error && !platform::is_not_found_error(error)) {
    ApplyError refused = platform::LockFile::held_elsewhere(error) ? failure(Reason::update_already_running, error)
                                                                   : system_failure(error);
    refused.place = kStateFilePlace;
    return refused;
  }
  if (auto error = load_update_plan(state_path, plan, fs)) return error;
  if (auto error = apply_deletions(fs, plan, where)) return error;
  if (auto error = apply_replacements(fs, plan, where)) return error;
  where = {std::string(kManifestPlace), {}};
  if (auto failed = fs.write_build_manifest(plan.manifest_path, plan.manifest)) return manifest_failure(*failed);
  where = {"clean-up", {}};
  clean_up(fs, plan);
  return std::nullopt;
}

}  // namespace

std::optional<ApplyError> apply_update_with(const std::wstring& state_path, ApplyFileSystem& file_system) {
  Where where;
  try {
    return apply(state_path, file_system, where);
  } catch (const std::exception& e) {
    ApplyError error = at(failure(Reason::own_message), where);
    error.message = e.what();
    return error;
  } catch (...) {
    return at(failure(Reason::unexpected_error), where);
  }
}

std::optional<ApplyError> apply_update(const std::wstring& state_path) {
  PlatformFileSystem file_system;
  return apply_update_with(state_path, file_system);
}

}  // namespace korvanta

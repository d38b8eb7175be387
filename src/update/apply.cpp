#include "update/apply.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <set>
#include <vector>

#include "manifest/build_manifest.h"
#include "manifest/relative_path.h"
#include "platform/error.h"
#include "platform/lock_file.h"
#include "platform/path_text.h"
#include "platform/text.h"
#include "update/apply_file_system.h"
#include "update/reason_codes.h"
#include "update/staged_file.h"
#include "update/update_state.h"

namespace korvanta {
namespace {

namespace path_text = platform::path_text;

// In the data directory while an updater works on the installation.
constexpr const wchar_t* kLockFileName = L"updater.lock";

bool fail(std::string& reason, const std::error_code& error) {
  reason = platform::os_error_text(error);
  return false;
}

// A checked relative path under a root. The path is UTF-8 like the roots;
// its "/" separators become the platform's.
std::wstring join_relative(const std::wstring& root, const std::string& relative) {
  std::wstring tail = platform::utf8_to_wide(relative);
  for (wchar_t& c : tail)
    if (c == L'/') c = path_text::preferred_separator;
  return path_text::join(root, tail);
}

// Whether something lies at path. An error other than absence is a failure:
// deciding "absent" on it could skip a backup.
bool exists(ApplyFileSystem& fs, const std::wstring& path, bool& found, std::string& reason) {
  std::error_code error;
  found = fs.status(path, error).exists;
  if (error) return fail(reason, error);
  return true;
}

// A rename, or where the rename fails a copy and the removal of the source.
bool move_file(ApplyFileSystem& fs, const std::wstring& from, const std::wstring& to, std::string& reason) {
  if (auto error = fs.create_directories(path_text::parent_path(to))) return fail(reason, error);
  if (!fs.rename(from, to)) return true;
  // The rename's own error is not reported: the copy decides.
  if (auto error = fs.copy_file(from, to)) return fail(reason, error);
  if (auto error = fs.remove(from)) return fail(reason, error);
  return true;
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
bool install_staged_file(ApplyFileSystem& fs, const std::wstring& staged, const std::wstring& target,
                         std::string& reason) {
  const std::wstring copy = target + kCopySuffix;
  if (auto error = fs.create_directories(path_text::parent_path(target))) return fail(reason, error);
  if (!fs.rename(staged, target)) return fs.remove(copy), true;
  if (auto error = fs.copy_file(staged, copy)) return fail(reason, error);
  if (auto error = fs.rename(copy, target)) {
    fs.remove(copy);
    return fail(reason, error);
  }
  fs.remove(staged);
  return true;
}

bool backup_before_delete(ApplyFileSystem& fs, const UpdateState& state, const std::string& relative,
                          std::string& reason) {
  const std::wstring installed = join_relative(state.install_root, relative);
  bool found = false;
  if (!exists(fs, installed, found, reason)) return false;
  if (!found) return true;
  const std::wstring backup = join_relative(state.backup_root, relative);
  if (auto error = fs.create_directories(path_text::parent_path(backup))) return fail(reason, error);
  if (auto error = fs.copy_file(installed, backup)) return fail(reason, error);
  return true;
}

bool replace_file(ApplyFileSystem& fs, const UpdateState& state, const Replacement& replacement,
                  std::string& reason) {
  const std::wstring target = join_relative(state.install_root, replacement.path);
  const std::wstring backup = join_relative(state.backup_root, replacement.path);
  std::error_code error;
  const platform::FileStatus status = fs.status(target, error);
  if (error) return fail(reason, error);
  bool had_target = status.exists;
  if (status.is_directory) {
    // An empty folder in the file's place (its files deleted by this update)
    // holds nothing to back up: it goes, and no backup waits to come back.
    const std::error_code removed = fs.remove(target);
    if (!removed) had_target = false;
    else if (!platform::is_directory_not_empty_error(removed)) return fail(reason, removed);
  }
  if (had_target) {
    // A backup already in place and the new version installed: an earlier
    // run of this update installed the file by a copy and stopped before it
    // removed the staged one. Moving the new version into the backup would
    // put it over the player's original.
    bool backed_up = false;
    if (!exists(fs, backup, backed_up, reason)) return false;
    if (backed_up && holds_announced_content(fs, target, replacement)) return true;
    if (!move_file(fs, target, backup, reason)) return false;
  }
  if (install_staged_file(fs, replacement.staged_path, target, reason)) return true;
  if (had_target) {
    // Put the old file back; should that fail too, it is still the backup,
    // and the installation's failure is what the launcher must hear.
    std::string ignored;
    bool backup_found = false;
    if (exists(fs, backup, backup_found, ignored) && backup_found) move_file(fs, backup, target, ignored);
  }
  return false;
}

// The paths that "replacements" will install. Entries the replacement check
// will refuse are left out; that check reports them in its turn.
std::vector<std::string> replacement_targets(const UpdateState& state) {
  std::vector<std::string> targets;
  for (const auto& entry : state_list(state.document.at("replacements"))) {
    if (auto relative = normalize_relative_path(entry.at("path").get_ref<const std::string&>()))
      targets.push_back(std::move(*relative));
  }
  return targets;
}

// Whether a deletion names a file that a replacement names too, in the same
// spelling up to ASCII case or, for a file that is there, in any spelling
// that Windows resolves to that file's name (letter case beyond ASCII, a
// short name). A hard link is another name, and a link another file: both
// are deleted.
class ReplacedFiles {
 public:
  ReplacedFiles(ApplyFileSystem& fs, const UpdateState& state) : fs_(fs), state_(state) {
    for (const std::string& target : replacement_targets(state)) {
      names_.insert(to_lower_ascii(target));
      paths_.push_back(join_relative(state.install_root, target));
    }
  }
  bool contain(const std::string& relative) {
    if (names_.count(to_lower_ascii(relative)) != 0) return true;
    const auto file = fs_.identity(join_relative(state_.install_root, relative));
    if (!file) return false;
    if (!identities_) {
      identities_.emplace();
      for (const std::wstring& path : paths_)
        if (auto identity = fs_.identity(path)) identities_->push_back(*identity);
    }
    return std::any_of(identities_->begin(), identities_->end(),
                       [&](const platform::FileIdentity& target) { return platform::same_entry(target, *file); });
  }

 private:
  ApplyFileSystem& fs_;
  const UpdateState& state_;
  std::set<std::string> names_;
  std::vector<std::wstring> paths_;
  std::optional<std::vector<platform::FileIdentity>> identities_;  // of the targets there, once needed
};

bool apply_deletions(ApplyFileSystem& fs, const UpdateState& state, std::string& reason, ApplyFailure& where) {
  // A file that is also replaced is left to its replacement, which moves the
  // installed file into the backup root itself. Deleting it first would copy
  // whatever is installed over that backup: after an interrupted run, when
  // the launcher runs the same update again, that is the new version, and the
  // player's original would be gone.
  ReplacedFiles replaced(fs, state);
  std::size_t index = 0;
  for (const auto& entry : state_list(state.document.at("deletions"))) {
    where = {"/deletions/" + std::to_string(index++), entry.get<std::string>()};
    const std::optional<std::string> relative = normalize_relative_path(entry.get_ref<const std::string&>());
    if (!relative) {
      reason = reason::kInvalidDeletionPath;
      return false;
    }
    if (replaced.contain(*relative)) continue;
    if (!backup_before_delete(fs, state, *relative, reason)) return false;
    if (auto error = fs.remove(join_relative(state.install_root, *relative))) return fail(reason, error);
  }
  return true;
}

bool apply_replacements(ApplyFileSystem& fs, const UpdateState& state, std::string& reason, ApplyFailure& where) {
  std::size_t index = 0;
  for (const auto& entry : state_list(state.document.at("replacements"))) {
    where = {"/replacements/" + std::to_string(index++), entry.at("path").get<std::string>()};
    Replacement replacement;
    const StagedCheck check = verify_staged_file(entry, state.staging_root, fs, replacement, reason);
    // The staged file is gone and its new version installed: an earlier run
    // of this update got this far before it was interrupted.
    if (check == StagedCheck::missing &&
        holds_announced_content(fs, join_relative(state.install_root, replacement.path), replacement))
      continue;
    if (check != StagedCheck::verified || !replace_file(fs, state, replacement, reason)) return false;
  }
  return true;
}

bool write_manifest(ApplyFileSystem& fs, const UpdateState& state, std::string& reason) {
  std::optional<BuildManifest> manifest;
  try {
    manifest = parse_build_manifest(state.document.at("manifest"));
  } catch (const nlohmann::json::exception&) {
    // A manifest of the wrong structure is as unusable as one with a bad path.
  }
  if (!manifest) {
    reason = reason::kInvalidUpdateManifest;
    return false;
  }
  return fs.write_build_manifest(state.manifest_path, *manifest, &reason);
}

// Errors here do not undo a completed update.
void clean_up(ApplyFileSystem& fs, const UpdateState& state) {
  if (auto error = fs.remove(state.staging_root); platform::is_directory_not_empty_error(error))
    fs.remove_all(state.staging_root);
  fs.remove(state.state_file);
}

bool apply(const std::wstring& state_path, ApplyFileSystem& fs, std::string& reason, ApplyFailure& where) {
  UpdateState state;
  where = {kStateFilePlace, ""};
  if (!locate_update_state(state_path, state, reason)) return false;
  // One updater at a time in an installation: two would back up and install
  // the same files at once. Taken before the state file is read, so that an
  // updater cannot act on a state file that another has just finished with.
  // A lock that cannot be taken at all (something in its way) refuses too,
  // with the system's reason; without the directory there is no state file
  // either, which loading it reports.
  platform::LockFile lock;
  if (const std::error_code error = lock.acquire(path_text::join(state.data_dir, kLockFileName));
      error && !platform::is_not_found_error(error)) {
    if (platform::LockFile::held_elsewhere(error)) {
      reason = reason::kUpdateAlreadyRunning;
    } else {
      fail(reason, error);
      where.system_error = error.value();
    }
    return false;
  }
  if (!load_update_state(state_path, state, reason, where.place)) return false;
  if (!apply_deletions(fs, state, reason, where)) return false;
  if (!apply_replacements(fs, state, reason, where)) return false;
  where = {"/manifest", ""};
  if (!write_manifest(fs, state, reason)) return false;
  where = {"clean-up", ""};
  clean_up(fs, state);
  return true;
}

// The file system of one apply, remembering the last error any call
// reported, so that a reason taken from the system's message can be given
// with its number.
class ErrorRecorder : public ApplyFileSystem {
 public:
  explicit ErrorRecorder(ApplyFileSystem& fs) : fs_(fs) {}
  std::error_code last_error;

  platform::FileStatus status(const std::wstring& path, std::error_code& error) override {
    const platform::FileStatus status = fs_.status(path, error);
    return note(error), status;
  }
  std::optional<platform::FileIdentity> identity(const std::wstring& path) override { return fs_.identity(path); }
  std::error_code create_directories(const std::wstring& path) override {
    return note(fs_.create_directories(path));
  }
  std::error_code rename(const std::wstring& from, const std::wstring& to) override {
    return note(fs_.rename(from, to));
  }
  std::error_code copy_file(const std::wstring& from, const std::wstring& to) override {
    return note(fs_.copy_file(from, to));
  }
  std::error_code remove(const std::wstring& path) override { return note(fs_.remove(path)); }
  std::error_code remove_all(const std::wstring& path) override { return note(fs_.remove_all(path)); }
  std::string sha256_file_hex(const std::wstring& path) override { return fs_.sha256_file_hex(path); }
  bool write_build_manifest(const std::wstring& path, const BuildManifest& manifest, std::string* reason) override {
    return fs_.write_build_manifest(path, manifest, reason);
  }

 private:
  std::error_code note(std::error_code error) {
    if (error) last_error = error;
    return error;
  }
  ApplyFileSystem& fs_;
};

}  // namespace

bool apply_update_with(const std::wstring& state_path, std::string& reason, ApplyFileSystem& file_system,
                       ApplyFailure* failure) {
  std::string why;
  ApplyFailure where;
  ErrorRecorder recorder(file_system);
  try {
    if (apply(state_path, recorder, why, where)) return true;
  } catch (const std::exception& e) {
    why = e.what();
  } catch (...) {
    why.clear();
  }
  reason = why.empty() ? reason::kUnexpectedError : why;
  if (failure != nullptr) {
    *failure = std::move(where);
    if (recorder.last_error && reason == platform::os_error_text(recorder.last_error))
      failure->system_error = recorder.last_error.value();
  }
  return false;
}

bool apply_update(const std::wstring& state_path, std::string& reason, ApplyFailure* failure) {
  PlatformFileSystem file_system;
  return apply_update_with(state_path, reason, file_system, failure);
}

}  // namespace korvanta

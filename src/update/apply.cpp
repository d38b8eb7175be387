#include "update/apply.h"

#include <algorithm>
#include <exception>
#include <optional>
#include <functional>
#include <tuple>
#include <unordered_set>
#include <vector>

#include "manifest/build_manifest.h"
#include "platform/file_system.h"
#include "platform/path_text.h"
#include "platform/text.h"
#include "update/apply_file_system.h"
#include "update/apply_progress.h"
#include "update/staged_file.h"
#include "update/update_plan.h"
#include "update/update_state.h"

namespace korvanta {
namespace {

namespace path_text = platform::path_text;

// Nothing when a step worked; otherwise why it did not.
using Outcome = std::optional<ApplyError>;

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

// In the data directory: the updater's own folder for copies on their way
// into place (a name no installed file can have: entries into .korvanta are
// refused), removed at the start of every apply and after a successful one.
constexpr const wchar_t* kCopiesFolderName = L"copies";
// Beside a destination on another volume than the data directory: its copy.
constexpr const wchar_t* kCopySuffix = L".korvanta-copy";

// The name of the copy beside a destination: the destination's name, a
// digest of its whole path and kCopySuffix, a name that neither a build nor a
// player gives a file (nor the backup of one), and the same for the same
// destination in every run, so an interrupted run's copy is taken over.
std::wstring beside(const std::wstring& destination) {
  std::uint64_t digest = 14695981039346656037ull;  // FNV-1a
  for (const wchar_t c : destination) digest = (digest ^ static_cast<std::uint64_t>(c)) * 1099511628211ull;
  wchar_t hex[17];
  for (int i = 0; i < 16; ++i) hex[i] = L"0123456789abcdef"[(digest >> (60 - 4 * i)) & 0xF];
  hex[16] = L'\0';
  return destination + L"." + hex + kCopySuffix;
}

// The file work of one apply.
struct Work {
  ApplyFileSystem& fs;
  const UpdatePlan& plan;
  ApplyReport& report;
  ProgressMeter& meter;
  std::wstring copies;  // kCopiesFolderName in the data directory
  std::size_t copies_made = 0;
  // Whether an earlier run may have changed the installation: the backup
  // root was there when this one began (every run makes it before its first
  // change). Only then can an installed file already be the new version.
  bool resumed = true;
  bool changing = false;
  // The folders made or found in this apply: each is made once, not walked
  // up again for every file in it.
  std::unordered_set<std::wstring> folders;

  // Called before each change: the first one makes the backup root.
  Outcome begin_change() {
    if (changing) return std::nullopt;
    changing = true;
    return ensure_folder(plan.backup_root);
  }
  Outcome ensure_folder(const std::wstring& folder) {
    if (auto error = begin_change()) return error;
    if (folders.count(folder) != 0) return std::nullopt;
    if (auto error = fs.create_directories(folder)) return system_failure(error);
    folders.insert(folder);
    return std::nullopt;
  }
  // Removes every copy, whatever its attributes.
  void discard_copies() {
    fs.remove_all(copies);
    folders.erase(copies);
  }
};

// source copied to destination whole or not at all: the copy is made under a
// name of the updater's own and then renamed into place, so a copy cut short
// (a full disk, a killed updater) never lies under a real name, and no
// player's file is overwritten or removed on its way. A destination on another
// volume than the data directory (a folder that is a junction to another
// drive) gets its copy beside it. A failed copy is removed.
Outcome copy_into_place(Work& work, const std::wstring& source, const std::wstring& destination) {
  ApplyFileSystem& fs = work.fs;
  if (auto error = work.ensure_folder(work.copies)) return error;
  std::wstring copy = path_text::join(work.copies, std::to_wstring(++work.copies_made));
  for (bool in_own_folder = true;; in_own_folder = false) {
    std::error_code error = fs.copy_file(source, copy);
    if (!error) error = fs.rename(copy, destination);
    if (!error) return std::nullopt;
    if (in_own_folder) work.discard_copies();
    else fs.remove(copy);
    if (!in_own_folder || !platform::is_cross_device_error(error)) return system_failure(error);
    copy = beside(destination);
  }
}

// A file moved: a rename, or where the rename fails (the file held by a
// program that does not share its deletion, another volume) a copy into
// place and the removal of the source. The source may stay only when
// source_may_stay (a staged file: the clean-up removes it).
Outcome move_file(Work& work, const std::wstring& from, const std::wstring& to, bool source_may_stay = false) {
  if (auto error = work.ensure_folder(path_text::parent_path(to))) return error;
  if (!work.fs.rename(from, to)) return std::nullopt;
  // The rename's own error is not reported: the copy decides.
  if (auto error = copy_into_place(work, from, to)) return error;
  if (auto error = work.fs.remove(from); error && !source_may_stay) return system_failure(error);
  return std::nullopt;
}

// A deletion's file goes into the backup root: moved there, in one step where
// a rename can. A folder at its path is not the file the build deletes (it
// may be the new build's, made by a replacement below it when the update ran
// before): it stays.
Outcome delete_file(Work& work, const Deletion& deletion) {
  const std::wstring installed = join_relative(work.plan.install_root, deletion.path);
  platform::FileStatus status;
  if (auto error = status_of(work.fs, installed, status)) return error;
  if (!status.exists || status.is_directory) return std::nullopt;
  const std::wstring backup = join_relative(work.plan.backup_root, deletion.path);
  if (auto error = move_file(work, installed, backup)) return error;
  ++work.report.deleted;
  return std::nullopt;
}

// A folder where a replacement's file goes: every file it holds, the player's
// too, is moved into the backup root under its own relative path (a folder
// there already, the backup of files the deletions moved, takes them in), and
// the emptied folders are removed. Without recursion: a folder may be deep.
Outcome empty_into_backup(Work& work, const std::wstring& folder, const std::wstring& backup) {
  std::vector<std::pair<std::wstring, std::wstring>> pending{{folder, backup}};
  std::vector<std::wstring> emptied;  // each folder after its parent
  std::vector<platform::DirectoryEntry> entries;
  while (!pending.empty()) {
    const auto [here, there] = std::move(pending.back());
    pending.pop_back();
    emptied.push_back(here);
    if (auto error = work.fs.list_directory(here, entries)) return system_failure(error);
    // Two names that differ only in ASCII case (Wine on a case-sensitive
    // folder) would share one backup: the second stays, and the folder's
    // removal then fails.
    std::unordered_set<std::wstring> names;
    for (const platform::DirectoryEntry& entry : entries) {
      std::wstring lowered = entry.name;
      for (wchar_t& c : lowered) c = (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
      if (!names.insert(std::move(lowered)).second) continue;
      std::wstring from = path_text::join(here, entry.name), to = path_text::join(there, entry.name);
      if (entry.is_directory) pending.emplace_back(std::move(from), std::move(to));
      else if (auto error = move_file(work, from, to)) return error;
    }
  }
  work.folders.clear();  // some of them are gone now
  if (auto error = work.begin_change()) return error;
  for (auto it = emptied.rbegin(); it != emptied.rend(); ++it)
    if (auto error = work.fs.remove(*it)) return system_failure(error);
  return std::nullopt;
}

Outcome replace_file(Work& work, const Replacement& replacement) {
  ApplyFileSystem& fs = work.fs;
  const std::wstring target = join_relative(work.plan.install_root, replacement.path);
  const std::wstring backup = join_relative(work.plan.backup_root, replacement.path);
  platform::FileStatus status;
  if (auto error = status_of(fs, target, status)) return error;
  // A link (to a folder too) is moved as itself, never entered.
  const bool folder = status.is_directory && !status.is_link;
  bool had_target = status.exists && !folder;
  if (folder)
    if (auto error = empty_into_backup(work, target, backup)) return error;
  if (had_target) {
    // The new version already in place: an earlier run of this update
    // installed it and stopped, or failed later and the launcher staged it
    // again. Moving it into the backup would put it over the player's
    // original, back up a file the player never had, or meet the backup of
    // the file the new build's folder replaced. Only a file of the new
    // version's size is hashed, and only after an earlier run: on a first
    // run no installed file is read.
    if (work.resumed && status.size == replacement.size &&
        holds_announced_content(fs, target, replacement, work.meter.hashed()))
      return ++work.report.already_installed, std::nullopt;
    if (auto error = move_file(work, target, backup)) return error;
  }
  Outcome installed = move_file(work, platform::utf8_to_wide(replacement.staged_path), target, /*source_may_stay=*/true);
  if (installed && had_target) {
    // Put the old file back; should that fail too, it is still the backup,
    // and the installation's failure is what the launcher must hear.
    platform::FileStatus back;
    if (!status_of(fs, backup, back) && back.exists) move_file(work, backup, target);
  }
  return installed;
}

// Whether a path holds what Windows also spells otherwise: a letter beyond
// ASCII, whose case it folds; the "~" of a short name; the ":" of a stream
// ("x::$DATA" is x). Only then can two paths that differ beyond ASCII case
// name one file.
bool spelled_freely(const std::string& relative) {
  return std::any_of(relative.begin(), relative.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80 || c == '~' || c == ':'; });
}

// Whether a deletion names a file that a replacement names too, in the same
// spelling up to ASCII case or, for a file that is there, in any spelling
// that Windows resolves to that file's name (letter case beyond ASCII, a
// short name). A hard link is another name, and a link another file: both
// are deleted. The file system is asked only where another spelling is
// possible at all, and each replaced file at most once; every lookup is a
// search of a sorted list, so a long list costs no more per entry.
class ReplacedFiles {
 public:
  ReplacedFiles(ApplyFileSystem& fs, const UpdatePlan& plan) : fs_(fs), plan_(plan), names_(plan.replacements) {
    for (std::size_t i = 0; i < plan.replacements.size(); ++i)
      if (spelled_freely(plan.replacements[i].path)) freely_spelled_.push_back(i);
  }

  bool contain(const std::string& relative) {
    bool named = false;
    names_.find(to_lower_ascii(relative), [&](std::size_t) { named = true; });
    if (named) return true;
    // A deletion spelled plainly can only be another spelling of a replaced
    // file that is spelled freely.
    const bool free = spelled_freely(relative);
    if (!free && freely_spelled_.empty()) return false;
    const auto file = fs_.identity(join_relative(plan_.install_root, relative));
    if (!file) return false;
    const std::vector<platform::FileIdentity>& targets = identities(free);
    const auto same_file = [](const platform::FileIdentity& a, const platform::FileIdentity& b) {
      return std::tie(a.volume, a.index) < std::tie(b.volume, b.index);
    };
    const auto [first, last] = std::equal_range(targets.begin(), targets.end(), *file, same_file);
    return std::any_of(first, last, [&](const platform::FileIdentity& target) { return platform::same_entry(target, *file); });
  }

 private:
  // The identities of the replaced files that are there: of all of them, or
  // of the freely spelled ones; asked once, then sorted.
  const std::vector<platform::FileIdentity>& identities(bool of_all) {
    std::optional<std::vector<platform::FileIdentity>>& known = of_all ? all_ : freely_;
    if (!known) {
      known.emplace();
      const auto add = [&](std::size_t i) {
        if (auto identity = fs_.identity(join_relative(plan_.install_root, plan_.replacements[i].path)))
          known->push_back(std::move(*identity));
      };
      if (of_all)
        for (std::size_t i = 0; i < plan_.replacements.size(); ++i) add(i);
      else
        for (const std::size_t i : freely_spelled_) add(i);
      std::sort(known->begin(), known->end(), [](const auto& a, const auto& b) {
        return std::tie(a.volume, a.index) < std::tie(b.volume, b.index);
      });
    }
    return *known;
  }

  ApplyFileSystem& fs_;
  const UpdatePlan& plan_;
  const PathsIgnoringCase<Replacement> names_;
  std::vector<std::size_t> freely_spelled_;  // replacements
  std::optional<std::vector<platform::FileIdentity>> all_, freely_;
};

// Which deletions repeat an earlier one's path, ignoring ASCII case. On
// Windows that is the same file, which the first has moved; where letter case
// tells files apart (Wine on a case-sensitive folder), moving the second
// would put it over the first one's backup.
std::vector<bool> repeated_ignoring_case(const std::vector<Deletion>& deletions) {
  const PathsIgnoringCase<Deletion> paths(deletions);
  std::vector<bool> repeated(deletions.size());
  for (std::size_t i = 0; i < deletions.size(); ++i)
    paths.find(to_lower_ascii(deletions[i].path), [&](std::size_t j) { repeated[i] = repeated[i] || j < i; });
  return repeated;
}

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

Outcome apply_deletions(Work& work, Where& where) {
  const UpdatePlan& plan = work.plan;
  // A file that is also replaced is left to its replacement, which moves the
  // installed file into the backup root itself. Deleting it first would copy
  // whatever is installed over that backup: after an interrupted run, when
  // the launcher runs the same update again, that is the new version, and the
  // player's original would be gone.
  ReplacedFiles replaced(work.fs, plan);
  const std::vector<bool> repeated = repeated_ignoring_case(plan.deletions);
  for (std::size_t i = 0; i < plan.deletions.size(); ++i) {
    const Deletion& deletion = plan.deletions[i];
    where.enter(deletion_place(i), deletion);
    work.meter.enter(deletion.path, 0);
    if (repeated[i] || replaced.contain(deletion.path)) continue;
    if (auto error = delete_file(work, deletion)) return at(std::move(*error), where);
  }
  return std::nullopt;
}

Outcome apply_replacement(Work& work, const Replacement& replacement) {
  platform::FileStatus staged;
  Outcome error = verify_staged_file(work.fs, replacement, &staged, work.meter.hashed());
  // The staged file is gone and its new version installed: an earlier run
  // of this update got this far before it was interrupted.
  if (error && error->reason == Reason::staged_file_size_mismatch && !staged.exists &&
      holds_announced_content(work.fs, join_relative(work.plan.install_root, replacement.path), replacement,
                              work.meter.hashed()))
    return ++work.report.already_installed, std::nullopt;
  if (error) return error;
  return replace_file(work, replacement);
}

Outcome apply_replacements(Work& work, Where& where) {
  const UpdatePlan& plan = work.plan;
  for (std::size_t i = 0; i < plan.replacements.size(); ++i) {
    where.enter(replacement_place(i), plan.replacements[i]);
    work.meter.enter(plan.replacements[i].path, plan.replacements[i].size);
    const std::size_t found = work.report.already_installed;
    if (auto error = apply_replacement(work, plan.replacements[i])) return at(std::move(*error), where);
    work.report.replaced += work.report.already_installed == found ? 1 : 0;
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

// Errors here do not undo a completed update. The state file goes whatever
// its attributes: left behind, it would tell the launcher that the update is
// still to do.
void clean_up(Work& work) {
  ApplyFileSystem& fs = work.fs;
  work.discard_copies();
  if (auto error = fs.remove(work.plan.staging_root); platform::is_directory_not_empty_error(error))
    fs.remove_all(work.plan.staging_root);
  fs.remove_own_file(work.plan.state_file);
}

Outcome apply(const std::wstring& state_path, ApplyFileSystem& fs, UpdaterLock& lock, Where& where,
              ApplyReport& report, ProgressMeter& meter) {
  UpdatePlan plan;
  if (auto error = locate_update_state(state_path, plan)) return error;
  if (auto error = lock.take(state_path)) return error;
  if (auto error = load_update_plan(state_path, plan, fs)) return error;
  Work work{fs, plan, report, meter, path_text::join(plan.data_dir, kCopiesFolderName)};
  work.discard_copies();  // an interrupted run's, whatever their attributes
  if (!plan.deletions.empty() || !plan.replacements.empty()) {
    platform::FileStatus backup_root;
    if (auto error = status_of(fs, plan.backup_root, backup_root)) return error;
    work.resumed = backup_root.exists;
  }
  meter.plan(plan);
  if (auto error = apply_deletions(work, where)) return error;
  if (auto error = apply_replacements(work, where)) return error;
  meter.finish();
  where = {std::string(kManifestPlace), {}};
  if (auto failed = fs.write_build_manifest(plan.manifest_path, plan.manifest)) return manifest_failure(*failed);
  report.build_id = plan.manifest.id;
  report.build_version = plan.manifest.version;
  where = {"clean-up", {}};
  clean_up(work);
  return std::nullopt;
}

}  // namespace

std::optional<ApplyError> apply_update_with(const std::wstring& state_path, ApplyFileSystem& file_system,
                                            ApplyReport* report, UpdaterLock* held, ApplyProgress* progress) {
  Where where;
  UpdaterLock own;
  ApplyReport uncounted;
  try {
    ProgressMeter meter(progress);
    return apply(state_path, file_system, held ? *held : own, where, report ? *report : uncounted, meter);
  } catch (const std::exception& e) {
    ApplyError error = at(failure(Reason::own_message), where);
    error.message = e.what();
    return error;
  } catch (...) {
    return at(failure(Reason::unexpected_error), where);
  }
}

std::optional<ApplyError> apply_update(const std::wstring& state_path, ApplyProgress* progress) {
  PlatformFileSystem file_system;
  return apply_update_with(state_path, file_system, nullptr, nullptr, progress);
}

}  // namespace korvanta

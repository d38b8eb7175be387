#pragma once
// update-state.json: where it must lie, how it is read, the shape it must
// have, the directories it names, and the plan it describes. The only place
// that reads the state file's JSON. Its checks change nothing on disk.
#include <cstddef>
#include <optional>
#include <string>

#include "update/apply_error.h"
#include "update/update_plan.h"

namespace korvanta {

// Arrays and objects nested deeper than this (the top-level object is
// level 1) make a state document unreadable. A state file needs five levels;
// the rest is room for the manifest's free-form metadata.
inline constexpr std::size_t kMaxStateDepth = 128;

// The first step of the apply: where the state file at state_path (as given
// on the command line) is. Fills plan.state_file and plan.data_dir;
// invalid_update_state_location when the file is not update-state.json in a
// .korvanta directory. Reads nothing.
std::optional<ApplyError> locate_update_state(const std::wstring& state_path, UpdatePlan& plan);

// The rest of the first stage, on a located plan: reads the state file at
// state_path straight into the plan, as a stream of the JSON parser's events
// through a fixed buffer (the document is never held whole), and refuses, in
// this order, a file that cannot be opened or read, whose text is not JSON
// (comments refused; a UTF-8 byte-order mark skipped; whatever follows the
// first complete value is not read) or that nests deeper than kMaxStateDepth
// (failed_to_load_update_state); one of another shape (invalid_update_state,
// at the JSON pointer of the first value that breaks it: "" for a top level
// that is not an object; "install_root", "manifest_path", "backup_root",
// "staging_root" strings; "deletions" an array of strings or null;
// "replacements" an array (or null) of objects each with "path",
// "staged_path" and "sha256" strings and a "size"; "manifest" an object; no
// NUL in a string that names a file or directory; where a key repeats, the
// last one counts); each directory it names, each deletion's path
// (invalid_deletion_path), each replacement's path and staged file's place
// (invalid_replacement_path, staged_file_outside_staging_root, entry by
// entry), the manifest (invalid_update_manifest), and then what
// check_update_plan refuses. The failure names its place: kStateFilePlace,
// the JSON pointer of the key (or, for the shape, of the first value) at
// fault, the entry, or kManifestPlace. Creates, changes and removes nothing.
std::optional<ApplyError> load_update_plan(const std::wstring& state_path, UpdatePlan& plan,
                                           ApplyFileSystem& file_system);

}  // namespace korvanta

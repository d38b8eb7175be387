#pragma once
// update-state.json: where it must lie, how it is read, the shape it must
// have, and the directories it names. Its checks change nothing on disk.
#include <cstddef>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace korvanta {

// What the apply step takes from the state file and its location, for the
// length of one apply.
struct UpdateState {
  std::wstring state_file;  // the given path, absolute and lexically normal
  std::wstring data_dir;    // its parent: the installation's ".korvanta"
  nlohmann::json document;  // the whole file, of the shape check_state_shape accepts
  std::wstring install_root;  // parent of data_dir (not the key's string)
  std::wstring manifest_path;
  std::wstring backup_root;
  std::wstring staging_root;
};

// Arrays and objects nested deeper than this (the top-level object is
// level 1) make a state document unreadable. A state file needs five levels;
// the rest is room for the manifest's free-form metadata.
inline constexpr std::size_t kMaxStateDepth = 128;

// Parses one JSON value from the file (opened sharing reading and writing).
// A UTF-8 byte-order mark is skipped, comments are refused, and whatever
// follows the first complete value is not read. Nothing when the file cannot
// be opened, its text is not JSON, or it nests deeper than kMaxStateDepth.
std::optional<nlohmann::json> load_state_document(const std::wstring& path);

// The JSON pointer of the first value that breaks the shape below ("" for
// a top level that is not an object), or nothing when the document has it.
std::optional<std::string> state_shape_fault(const nlohmann::json& document);

// True when the document has the shape the apply step reads without further
// type checks: an object with the seven keys; "install_root",
// "manifest_path", "backup_root", "staging_root" strings; "deletions" an
// array of strings or null; "replacements" an array (or null) of objects each
// with "path", "staged_path" and "sha256" strings and a "size"; "manifest" an
// object. None of the strings that name a file or directory (the four roots,
// the deletions, each replacement's "path" and "staged_path") may hold a NUL
// character. Pure: looks at nothing but the document. Never throws.
bool has_valid_state_shape(const nlohmann::json& document) noexcept;

// How a failure of the first stage names the state file as a whole.
inline constexpr const char* kStateFilePlace = "state file";

// The first step of the apply: where the state file at state_path (as given
// on the command line) is. Fills state.state_file and state.data_dir; false
// with reason "invalid_update_state_location" when the file is not
// update-state.json in a .korvanta directory. Reads nothing.
bool locate_update_state(const std::wstring& state_path, UpdateState& state, std::string& reason);

// The rest of the first stage, on a located state: loads the state file,
// checks its shape and the directories it names, in that order. On success
// fills state; on failure returns false with reason set to the first failed
// check's code and where to what it refused: kStateFilePlace, or the JSON
// pointer of the key (or, for the shape, of the first value) at fault.
// Creates, changes and removes nothing.
bool load_update_state(const std::wstring& state_path, UpdateState& state, std::string& reason, std::string& where);

// A "deletions" or "replacements" value as a list: null is the empty list.
const nlohmann::json& state_list(const nlohmann::json& value);

}  // namespace korvanta

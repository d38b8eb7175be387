#include "update/update_state.h"

#include <fstream>

#include "platform/file_system.h"
#include "platform/full_path.h"
#include "platform/path_text.h"
#include "platform/text.h"
#include "update/path_compare.h"
#include "update/reason_codes.h"

namespace korvanta {
namespace {

using nlohmann::json;

constexpr const char* kPathKeys[] = {"install_root", "manifest_path", "backup_root", "staging_root"};

bool is_list_of(const json& value, bool (*element_ok)(const json&)) {
  if (value.is_null()) return true;
  if (!value.is_array()) return false;
  for (const json& element : value)
    if (!element_ok(element)) return false;
  return true;
}

bool has_string(const json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string();
}

// A string that names a file or directory. A NUL character would end the
// path in the system's calls, which would then act on another place than the
// one the checks compared.
bool is_path(const json& value) {
  return value.is_string() && value.get_ref<const std::string&>().find('\0') == std::string::npos;
}

bool has_path(const json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && is_path(*it);
}

bool is_deletion(const json& entry) { return is_path(entry); }

bool is_replacement(const json& entry) {
  return entry.is_object() && has_path(entry, "path") && has_path(entry, "staged_path") &&
         has_string(entry, "sha256") && entry.contains("size");
}

// The library's document builder, refusing arrays and objects nested deeper
// than kMaxStateDepth. Parsing and destroying a value need no recursion, but
// copying and writing one do (the manifest's metadata is copied and written
// back): a few thousand levels would overflow the main thread's 1 MiB stack
// of the 32-bit process, far into the apply.
class DepthLimitedBuilder : public nlohmann::detail::json_sax_dom_parser<json> {
 public:
  explicit DepthLimitedBuilder(json& result) : json_sax_dom_parser(result, /*allow_exceptions=*/false) {}
  bool start_object(std::size_t elements) { return enter() && json_sax_dom_parser::start_object(elements); }
  bool end_object() { --depth_; return json_sax_dom_parser::end_object(); }
  bool start_array(std::size_t elements) { return enter() && json_sax_dom_parser::start_array(elements); }
  bool end_array() { --depth_; return json_sax_dom_parser::end_array(); }

 private:
  bool enter() { return ++depth_ <= kMaxStateDepth; }
  std::size_t depth_ = 0;
};

// The path string of a key, widened from UTF-8. Empty when the string is.
std::wstring wide_value(const json& document, const char* key) {
  return platform::utf8_to_wide(document.at(key).get_ref<const std::string&>());
}

}  // namespace

std::optional<json> load_state_document(const std::wstring& path) {
  std::ifstream in(platform::fs_path(path), std::ios::binary);
  if (!in) return std::nullopt;
  try {
    json document;
    DepthLimitedBuilder builder(document);
    // Not strict: one value is read and whatever follows it is not.
    if (!json::sax_parse(in, &builder, json::input_format_t::json, /*strict=*/false)) return std::nullopt;
    return document;
  } catch (const json::exception&) {
    return std::nullopt;
  }
}

bool has_valid_state_shape(const json& document) noexcept {
  if (!document.is_object()) return false;
  for (const char* key : kPathKeys)
    if (!has_path(document, key)) return false;
  const auto deletions = document.find("deletions");
  const auto replacements = document.find("replacements");
  const auto manifest = document.find("manifest");
  return deletions != document.end() && is_list_of(*deletions, is_deletion) && replacements != document.end() &&
         is_list_of(*replacements, is_replacement) && manifest != document.end() && manifest->is_object();
}

const json& state_list(const json& value) {
  static const json empty = json::array();
  return value.is_null() ? empty : value;
}

bool load_update_state(const std::wstring& state_path, UpdateState& state, std::string& reason) {
  namespace path_text = platform::path_text;
  state.state_file = path_text::lexically_normal(platform::full_path(state_path));
  state.data_dir = path_text::parent_path(state.state_file);
  if (!file_name_is(state.state_file, L"update-state.json") || !file_name_is(state.data_dir, L".korvanta")) {
    reason = reason::kInvalidUpdateStateLocation;
    return false;
  }

  std::optional<json> document = load_state_document(state_path);
  if (!document) {
    reason = reason::kFailedToLoadUpdateState;
    return false;
  }
  // A document of another shape would otherwise stop half-way through the
  // apply, or never be read at all; refuse it before anything changes.
  if (!has_valid_state_shape(*document)) {
    reason = reason::kInvalidUpdateState;
    return false;
  }
  state.document = std::move(*document);

  // An empty string would be resolved to the current directory, which could
  // happen to match; it never names the place, so each fails its own check.
  state.install_root = path_text::parent_path(state.data_dir);
  const std::wstring named_root = wide_value(state.document, "install_root");
  if (named_root.empty() || !paths_equal(state.install_root, named_root)) {
    reason = reason::kInstallRootMismatch;
    return false;
  }
  // The path itself must end in the file's name: one ending in a separator
  // compares equal, but would have the manifest written into a directory of
  // that name after every file had changed.
  state.manifest_path = wide_value(state.document, "manifest_path");
  if (!file_name_is(state.manifest_path, L"build-manifest.json") ||
      !paths_equal(state.manifest_path, path_text::join(state.data_dir, L"build-manifest.json"))) {
    reason = reason::kManifestPathOutsideInstall;
    return false;
  }
  state.backup_root = wide_value(state.document, "backup_root");
  if (state.backup_root.empty() || !is_within(path_text::join(state.data_dir, L"backup"), state.backup_root)) {
    reason = reason::kBackupRootOutsideInstall;
    return false;
  }
  state.staging_root = wide_value(state.document, "staging_root");
  if (state.staging_root.empty() || !is_within(path_text::join(state.data_dir, L"staging"), state.staging_root)) {
    reason = reason::kStagingRootOutsideInstall;
    return false;
  }
  return true;
}

}  // namespace korvanta

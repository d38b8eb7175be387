#include "update/update_state.h"

#include <string>

#include "platform/file_io.h"
#include "platform/full_path.h"
#include "platform/path_text.h"
#include "platform/text.h"
#include "update/path_compare.h"
#include "update/reason_codes.h"

namespace korvanta {
namespace {

using nlohmann::json;

constexpr const char* kPathKeys[] = {"install_root", "manifest_path", "backup_root", "staging_root"};

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

// What of one list element breaks its shape: "" for the whole element, a
// "/key" within it, or nothing.
using ElementFault = std::optional<std::string>;

ElementFault deletion_fault(const json& entry) { return is_path(entry) ? ElementFault() : ""; }

ElementFault replacement_fault(const json& entry) {
  if (!entry.is_object()) return "";
  for (const char* key : {"path", "staged_path"})
    if (!has_path(entry, key)) return std::string("/") + key;
  if (!has_string(entry, "sha256")) return "/sha256";
  if (!entry.contains("size")) return "/size";
  return std::nullopt;
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
  // Opened as staged files are: a scanner that holds the freshly written
  // state file for a moment is waited out.
  platform::InputFile file;
  if (file.open(path)) return std::nullopt;
  std::string text, buffer(65536, '\0');
  std::error_code error;
  for (std::size_t got; (got = file.read(buffer.data(), buffer.size(), error)) > 0;) text.append(buffer, 0, got);
  if (error) return std::nullopt;
  try {
    json document;
    DepthLimitedBuilder builder(document);
    // Not strict: one value is read and whatever follows it is not.
    if (!json::sax_parse(text, &builder, json::input_format_t::json, /*strict=*/false)) return std::nullopt;
    return document;
  } catch (const json::exception&) {
    return std::nullopt;
  }
}

std::optional<std::string> state_shape_fault(const json& document) {
  if (!document.is_object()) return std::string();
  for (const char* key : kPathKeys)
    if (!has_path(document, key)) return std::string("/") + key;
  const auto list_fault = [&document](const char* key, ElementFault (*element_fault)(const json&)) {
    const auto list = document.find(key);
    if (list == document.end() || !(list->is_null() || list->is_array())) return ElementFault(std::string("/") + key);
    for (std::size_t i = 0; list->is_array() && i < list->size(); ++i)
      if (const auto fault = element_fault((*list)[i]))
        return ElementFault(std::string("/") + key + "/" + std::to_string(i) + *fault);
    return ElementFault();
  };
  if (auto fault = list_fault("deletions", deletion_fault)) return fault;
  if (auto fault = list_fault("replacements", replacement_fault)) return fault;
  const auto manifest = document.find("manifest");
  if (manifest == document.end() || !manifest->is_object()) return std::string("/manifest");
  return std::nullopt;
}

bool has_valid_state_shape(const json& document) noexcept {
  try {
    return !state_shape_fault(document);
  } catch (...) {
    return false;  // out of memory
  }
}

const json& state_list(const json& value) {
  static const json empty = json::array();
  return value.is_null() ? empty : value;
}

bool locate_update_state(const std::wstring& state_path, UpdateState& state, std::string& reason) {
  namespace path_text = platform::path_text;
  state.state_file = path_text::lexically_normal(platform::full_path(state_path));
  state.data_dir = path_text::parent_path(state.state_file);
  if (file_name_is(state.state_file, L"update-state.json") && file_name_is(state.data_dir, L".korvanta")) return true;
  reason = reason::kInvalidUpdateStateLocation;
  return false;
}

bool load_update_state(const std::wstring& state_path, UpdateState& state, std::string& reason, std::string& where) {
  namespace path_text = platform::path_text;
  where = kStateFilePlace;
  std::optional<json> document = load_state_document(state_path);
  if (!document) {
    reason = reason::kFailedToLoadUpdateState;
    return false;
  }
  // A document of another shape would otherwise stop half-way through the
  // apply, or never be read at all; refuse it before anything changes.
  if (const auto fault = state_shape_fault(*document)) {
    if (!fault->empty()) where = *fault;
    reason = reason::kInvalidUpdateState;
    return false;
  }
  state.document = std::move(*document);

  // An empty string would be resolved to the current directory, which could
  // happen to match; it never names the place, so each fails its own check.
  where = "/install_root";
  state.install_root = path_text::parent_path(state.data_dir);
  const std::wstring named_root = wide_value(state.document, "install_root");
  if (named_root.empty() || !paths_equal(state.install_root, named_root)) {
    reason = reason::kInstallRootMismatch;
    return false;
  }
  // The path itself must end in the file's name: one ending in a separator
  // compares equal, but would have the manifest written into a directory of
  // that name after every file had changed.
  where = "/manifest_path";
  state.manifest_path = wide_value(state.document, "manifest_path");
  if (!file_name_is(state.manifest_path, L"build-manifest.json") ||
      !paths_equal(state.manifest_path, path_text::join(state.data_dir, L"build-manifest.json"))) {
    reason = reason::kManifestPathOutsideInstall;
    return false;
  }
  where = "/backup_root";
  state.backup_root = wide_value(state.document, "backup_root");
  if (state.backup_root.empty() || !is_within(path_text::join(state.data_dir, L"backup"), state.backup_root)) {
    reason = reason::kBackupRootOutsideInstall;
    return false;
  }
  where = "/staging_root";
  state.staging_root = wide_value(state.document, "staging_root");
  if (state.staging_root.empty() || !is_within(path_text::join(state.data_dir, L"staging"), state.staging_root)) {
    reason = reason::kStagingRootOutsideInstall;
    return false;
  }
  return true;
}

}  // namespace korvanta

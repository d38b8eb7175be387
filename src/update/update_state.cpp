#include "update/update_state.h"

#include <string>

#include "manifest/build_manifest.h"
#include "manifest/relative_path.h"
#include "platform/file_io.h"
#include "platform/full_path.h"
#include "platform/path_text.h"
#include "platform/text.h"
#include "update/path_compare.h"

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

// A "deletions" or "replacements" value as a list: null is the empty list.
const json& state_list(const json& value) {
  static const json empty = json::array();
  return value.is_null() ? empty : value;
}

ApplyError refused(Reason reason, std::string place, std::string path = {}) {
  ApplyError error = failure(reason);
  error.place = std::move(place);
  error.path = std::move(path);
  return error;
}

// An entry's path; nothing when normalize_relative_path refuses it.
std::optional<EntryPath> entry_path(const std::string& given) {
  std::optional<std::string> path = normalize_relative_path(given);
  if (!path) return std::nullopt;
  EntryPath entry{std::move(*path), {}};
  if (entry.path != given) entry.given = given;
  return entry;
}

// The directories the state file names, each against its fixed place.
std::optional<ApplyError> check_roots(const json& document, UpdatePlan& plan) {
  namespace path_text = platform::path_text;
  // An empty string would be resolved to the current directory, which could
  // happen to match; it never names the place, so each fails its own check.
  plan.install_root = path_text::parent_path(plan.data_dir);
  const std::wstring named_root = wide_value(document, "install_root");
  if (named_root.empty() || !paths_equal(plan.install_root, named_root))
    return refused(Reason::install_root_mismatch, "/install_root");
  // The path itself must end in the file's name: one ending in a separator
  // compares equal, but would have the manifest written into a directory of
  // that name after every file had changed.
  plan.manifest_path = wide_value(document, "manifest_path");
  if (!file_name_is(plan.manifest_path, L"build-manifest.json") ||
      !paths_equal(plan.manifest_path, path_text::join(plan.data_dir, L"build-manifest.json")))
    return refused(Reason::manifest_path_outside_install, "/manifest_path");
  plan.backup_root = wide_value(document, "backup_root");
  if (plan.backup_root.empty() || !is_within(path_text::join(plan.data_dir, L"backup"), plan.backup_root))
    return refused(Reason::backup_root_outside_install, "/backup_root");
  plan.staging_root = wide_value(document, "staging_root");
  if (plan.staging_root.empty() || !is_within(path_text::join(plan.data_dir, L"staging"), plan.staging_root))
    return refused(Reason::staging_root_outside_install, "/staging_root");
  return std::nullopt;
}

// The entries, each refused as the engine would have refused it on reaching
// it: every path is known before the first change.
std::optional<ApplyError> read_entries(const json& document, UpdatePlan& plan) {
  std::size_t index = 0;
  for (const json& entry : state_list(document.at("deletions"))) {
    const std::string& given = entry.get_ref<const std::string&>();
    std::optional<EntryPath> path = entry_path(given);
    if (!path) return refused(Reason::invalid_deletion_path, deletion_place(index), given);
    plan.deletions.push_back({std::move(*path)});
    ++index;
  }
  index = 0;
  for (const json& entry : state_list(document.at("replacements"))) {
    const std::string& given = entry.at("path").get_ref<const std::string&>();
    std::optional<EntryPath> path = entry_path(given);
    if (!path) return refused(Reason::invalid_replacement_path, replacement_place(index), given);
    Replacement replacement{std::move(*path)};
    replacement.staged_path = platform::utf8_to_wide(entry.at("staged_path").get_ref<const std::string&>());
    replacement.size = json_to_u64(entry.at("size"));
    replacement.sha256 = to_lower_ascii(entry.at("sha256").get<std::string>());
    if (!is_within(plan.staging_root, replacement.staged_path))
      return refused(Reason::staged_file_outside_staging_root, replacement_place(index), given);
    plan.replacements.push_back(std::move(replacement));
    ++index;
  }
  return std::nullopt;
}

// The new build's manifest, read now rather than once the files have
// changed: a launcher's faulty manifest must leave the old build whole.
std::optional<ApplyError> read_manifest(const json& document, UpdatePlan& plan) {
  std::optional<BuildManifest> manifest;
  try {
    manifest = parse_build_manifest(document.at("manifest"));
  } catch (const json::exception&) {
    // A manifest of the wrong structure is as unusable as one with a bad path.
  }
  if (!manifest) return refused(Reason::invalid_update_manifest, std::string(kManifestPlace));
  plan.manifest = std::move(*manifest);
  return std::nullopt;
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

std::optional<ApplyError> locate_update_state(const std::wstring& state_path, UpdatePlan& plan) {
  namespace path_text = platform::path_text;
  plan.state_file = path_text::lexically_normal(platform::full_path(state_path));
  plan.data_dir = path_text::parent_path(plan.state_file);
  if (file_name_is(plan.state_file, L"update-state.json") && file_name_is(plan.data_dir, L".korvanta"))
    return std::nullopt;
  return refused(Reason::invalid_update_state_location, std::string(kStateFilePlace));
}

std::optional<ApplyError> load_update_plan(const std::wstring& state_path, UpdatePlan& plan,
                                           ApplyFileSystem& file_system) {
  std::optional<json> document = load_state_document(state_path);
  if (!document) return refused(Reason::failed_to_load_update_state, std::string(kStateFilePlace));
  // A document of another shape would otherwise stop half-way through the
  // apply, or never be read at all; refuse it before anything changes.
  if (const auto fault = state_shape_fault(*document))
    return refused(Reason::invalid_update_state, fault->empty() ? std::string(kStateFilePlace) : *fault);
  if (auto error = check_roots(*document, plan)) return error;
  if (auto error = read_entries(*document, plan)) return error;
  if (auto error = read_manifest(*document, plan)) return error;
  document.reset();  // the plan holds all of it now
  return check_update_plan(plan, file_system);
}

}  // namespace korvanta

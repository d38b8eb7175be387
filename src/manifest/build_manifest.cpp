#include "manifest/build_manifest.h"

#include <algorithm>
#include <limits>
#include <set>

#include "manifest/relative_path.h"

namespace korvanta {
namespace {

using nlohmann::json;

// The member's string; out_of_range 403 when absent, type_error 302 when it
// holds another type.
std::string required_string(const json& object, const char* key) { return object.at(key).get<std::string>(); }

// The member's string when the key is present (a present null or number is
// a type_error 302, not a fall-back to the default).
std::string optional_string(const json& object, const char* key, const char* fallback) {
  const auto it = object.find(key);
  return it == object.end() ? std::string(fallback) : it->get<std::string>();
}

// Any JSON value, copied whole, null included.
json optional_value(const json& object, const char* key) {
  const auto it = object.find(key);
  return it == object.end() ? json::object() : *it;
}

json metadata_to_json(const json& metadata) { return metadata.is_null() ? json::object() : metadata; }

}  // namespace

std::uint64_t json_to_u64(const json& value) noexcept {
  switch (value.type()) {
    case json::value_t::number_unsigned:
      return value.get_ref<const json::number_unsigned_t&>();
    case json::value_t::number_integer: {
      const auto number = value.get_ref<const json::number_integer_t&>();
      return number < 0 ? 0 : static_cast<std::uint64_t>(number);
    }
    case json::value_t::number_float: {
      const double number = value.get_ref<const json::number_float_t&>();
      // 2^64 is exact as a double; at or above it the cast would be
      // undefined, so the count saturates. NaN is not below 0.0 either way
      // and reads as 0.
      constexpr double two_to_the_64 = 18446744073709551616.0;
      if (!(number > 0.0)) return 0;
      if (number >= two_to_the_64) return std::numeric_limits<std::uint64_t>::max();
      return static_cast<std::uint64_t>(number);
    }
    default:
      return 0;
  }
}

std::string to_lower_ascii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
  return text;
}

std::optional<ManifestFile> parse_manifest_file(const json& entry) {
  // The path first: an entry with a refused path is refused whatever else it
  // lacks.
  auto path = normalize_relative_path(required_string(entry, "path"));
  if (!path) return std::nullopt;

  ManifestFile file;
  file.id = optional_string(entry, "id", "");
  file.path = std::move(*path);
  file.size = json_to_u64(entry.at("size"));
  file.sha256 = to_lower_ascii(required_string(entry, "sha256"));
  file.object_key = optional_string(entry, "object_key", "");
  file.content_type = optional_string(entry, "content_type", kDefaultContentType);
  file.metadata = optional_value(entry, "metadata");
  return file;
}

std::optional<BuildManifest> parse_build_manifest(const json& manifest) {
  BuildManifest result;
  result.id = required_string(manifest, "id");
  result.id_mod = required_string(manifest, "id_mod");
  result.channel = required_string(manifest, "channel");
  result.version = required_string(manifest, "version");
  result.status = required_string(manifest, "status");
  result.manifest_hash = required_string(manifest, "manifest_hash");
  result.total_size = json_to_u64(manifest.at("total_size"));
  result.metadata = optional_value(manifest, "metadata");

  // The library's iteration: an array's elements, an object's member values
  // by key, nothing for null, and any other value as its own single element
  // (which then fails as an entry that is not an object).
  std::set<std::string> seen_paths;
  for (const json& element : manifest.at("files")) {
    auto file = parse_manifest_file(element);
    if (!file) return std::nullopt;
    if (!seen_paths.insert(to_lower_ascii(file->path)).second) return std::nullopt;
    result.files.push_back(std::move(*file));
  }
  return result;
}

json manifest_file_to_json(const ManifestFile& file) {
  json out = json::object();
  out["id"] = file.id;
  out["path"] = file.path;
  out["size"] = file.size;
  out["sha256"] = file.sha256;
  out["object_key"] = file.object_key;
  out["content_type"] = file.content_type;
  out["metadata"] = metadata_to_json(file.metadata);
  return out;
}

json build_manifest_to_json(const BuildManifest& manifest) {
  json out = json::object();
  out["id"] = manifest.id;
  out["id_mod"] = manifest.id_mod;
  out["channel"] = manifest.channel;
  out["version"] = manifest.version;
  out["status"] = manifest.status;
  out["manifest_hash"] = manifest.manifest_hash;
  out["total_size"] = manifest.total_size;
  out["metadata"] = metadata_to_json(manifest.metadata);
  json files = json::array();
  for (const auto& file : manifest.files) files.push_back(manifest_file_to_json(file));
  out["files"] = std::move(files);
  return out;
}

}  // namespace korvanta

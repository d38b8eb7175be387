#pragma once
// The build manifest: one build of a mod as it lies in an installation, and
// its JSON form (read and written only here).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace korvanta {

inline constexpr const char* kDefaultContentType = "application/octet-stream";

struct ManifestFile {
  std::string id;
  std::string path;  // normalize_relative_path form
  std::uint64_t size = 0;
  std::string sha256;  // ASCII lower case
  std::string object_key;
  std::string content_type = kDefaultContentType;
  nlohmann::json metadata = nlohmann::json::object();
};

struct BuildManifest {
  std::string id;
  std::string id_mod;
  std::string channel;
  std::string version;
  std::string status;
  std::string manifest_hash;
  std::uint64_t total_size = 0;
  nlohmann::json metadata = nlohmann::json::object();
  std::vector<ManifestFile> files;
};

// A JSON number as an unsigned 64-bit count: unsigned as is; negative -> 0;
// floating point truncated toward zero, negative (or NaN) -> 0, at or above
// 2^64 (which includes integers too large for 64 bits, held as floating point
// by the parser) -> 18446744073709551615 (saturated); any other JSON type ->
// 0. Never throws.
std::uint64_t json_to_u64(const nlohmann::json& value) noexcept;

// Lowers the ASCII letters A-Z only; every other byte unchanged.
std::string to_lower_ascii(std::string text);

// One element of "files". Empty when its "path" is refused by
// normalize_relative_path (no later key is read then). Throws the JSON
// library's type_error 304 (not an object), out_of_range 403 (required key
// absent) or type_error 302 (a string key holding another type).
std::optional<ManifestFile> parse_manifest_file(const nlohmann::json& entry);

// The whole manifest. Empty when an entry's path is refused or two paths are
// equal after ASCII lower-casing; throws like parse_manifest_file for
// structural faults. Never returns a partial manifest.
std::optional<BuildManifest> parse_build_manifest(const nlohmann::json& manifest);

nlohmann::json manifest_file_to_json(const ManifestFile& file);
nlohmann::json build_manifest_to_json(const BuildManifest& manifest);

}  // namespace korvanta

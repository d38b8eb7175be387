#pragma once
// Writing the build manifest into the installation.
#include <string>

#include <nlohmann/json.hpp>

#include "manifest/build_manifest.h"

namespace korvanta {

// Writes the value as JSON text (4-space indentation, LF line ends, UTF-8
// unescaped, no newline after the closing brace) to path, creating missing
// directories. The text goes to a temporary file in the same directory
// (path + ".tmp", overwritten if a crash left one) that is flushed to the
// disk and then replaces the target, so the target is either the old or the
// new manifest, never a part of one; the temporary file is removed on every
// failure. Returns false on failure with *reason (when
// given) set to: the directory-creation message; "failed_to_open_file" when
// the target cannot be written or replaced; "failed_to_write_file" when a
// write, flush or close fails; the JSON library's message for a string that
// is not UTF-8 (nothing is touched then). Never throws; reason is left alone
// on success.
bool write_json_file(const std::wstring& path, const nlohmann::json& value, std::string* reason = nullptr);

// write_json_file of build_manifest_to_json(manifest).
bool write_build_manifest(const std::wstring& path, const BuildManifest& manifest, std::string* reason = nullptr);

}  // namespace korvanta

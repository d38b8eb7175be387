// The build manifest reader and writer on arbitrary JSON text. Only the
// structural exceptions the reader documents may escape it; a manifest that
// is read keeps its invariants, and written (as the exact text that goes to
// disk) and read again gives the same record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "manifest/build_manifest.h"
#include "manifest/relative_path.h"

namespace {

using nlohmann::json;

void check(bool condition) {
  if (!condition) std::abort();
}

void check_invariants(const korvanta::BuildManifest& manifest) {
  std::set<std::string> lowered;
  for (const auto& file : manifest.files) {
    check(korvanta::normalize_relative_path(file.path) == file.path);
    check(lowered.insert(korvanta::to_lower_ascii(file.path)).second);
    check(korvanta::to_lower_ascii(file.sha256) == file.sha256);
  }
}

// Reads a manifest; empty when refused or when the reader raised one of its
// documented structural exceptions. Any other exception is a bug and is left
// to escape (libFuzzer reports it).
std::optional<korvanta::BuildManifest> read(const json& value) {
  try {
    return korvanta::parse_build_manifest(value);
  } catch (const json::type_error& e) {
    check(e.id == 302 || e.id == 304);
  } catch (const json::out_of_range& e) {
    check(e.id == 403);
  }
  return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const json input = json::parse(data, data + size, nullptr, /*allow_exceptions=*/false);
  if (input.is_discarded()) return 0;

  // Each element of "files" (or the value itself) as a lone entry.
  try {
    const auto file = korvanta::parse_manifest_file(input);
    if (file) check(korvanta::normalize_relative_path(file->path) == file->path);
  } catch (const json::type_error& e) {
    check(e.id == 302 || e.id == 304);
  } catch (const json::out_of_range& e) {
    check(e.id == 403);
  }

  const auto manifest = read(input);
  if (!manifest) return 0;
  check_invariants(*manifest);

  // Parsed strings are valid UTF-8, so the strict writer must accept them.
  const json written = korvanta::build_manifest_to_json(*manifest);
  check(written.size() == 9);
  const std::string text = written.dump(4, ' ', false, json::error_handler_t::strict);
  check(text.find('\r') == std::string::npos);
  check(!text.empty() && text.back() == '}');

  const auto again = read(json::parse(text));
  check(again.has_value());
  check_invariants(*again);
  const json rewritten = korvanta::build_manifest_to_json(*again);
  check(rewritten == written);
  check(rewritten.dump(4, ' ', false, json::error_handler_t::strict) == text);
  check(again->files.size() == manifest->files.size());
  return 0;
}

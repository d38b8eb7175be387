// The state file from the first byte to the end of the apply, on arbitrary
// documents: the shape check on the parsed value, the first stage on a real
// state file (location, load, shape, roots), and the second stage on an
// in-memory file system that holds a small installation and never fails.
// Every "@ROOT@" in the input becomes the installation root (JSON-escaped),
// so inputs reach the checks behind the roots without knowing the temporary
// directory.
//
// Invariants: the apply fails only with one of its reason codes (a stray
// exception's message would mean an unhandled shape); the loader and the
// shape check decide the first two refusals; a refusal by the first stage
// touches nothing; no installed file's content is ever lost; a success has
// written a manifest that reads back as the document's own.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "manifest/build_manifest.h"
#include "manifest/relative_path.h"
#include "manifest/sha256.h"
#include "platform/text.h"
#include "update/apply.h"
#include "update/apply_file_system.h"
#include "update/path_compare.h"
#include "update/reason_codes.h"
#include "update/update_state.h"

namespace {

using nlohmann::json;

void check(bool condition) {
  if (!condition) std::abort();
}

std::string hex_sha256(const std::string& bytes) {
  korvanta::Sha256 hasher;
  hasher.update(bytes.data(), bytes.size());
  return hasher.final_hex();
}

// Files by comparison form (absolute, backslashes, ASCII lower case), as the
// system's case-insensitive names would meet. A path is cut at a NUL as the
// system's calls cut it. Directories exist implicitly above files and
// explicitly once created.
class MemoryFileSystem : public korvanta::ApplyFileSystem {
 public:
  std::map<std::wstring, std::string> files;
  std::set<std::wstring> directories;
  int changes = 0;

  static std::wstring key(const std::wstring& path) {
    return korvanta::compare_form(path.substr(0, path.find(L'\0')));
  }
  bool is_directory(const std::wstring& k) const {
    if (directories.count(k)) return true;
    const auto it = files.lower_bound(k + L"\\");
    return it != files.end() && it->first.starts_with(k + L"\\");
  }

  korvanta::platform::FileStatus status(const std::wstring& path, std::error_code& error) override {
    error.clear();
    const std::wstring k = key(path);
    korvanta::platform::FileStatus result;
    if (const auto it = files.find(k); it != files.end()) {
      result.exists = true;
      result.size = it->second.size();
    } else if (is_directory(k)) {
      result.exists = result.is_directory = true;
    }
    return result;
  }
  std::error_code create_directories(const std::wstring& path) override {
    const std::wstring k = key(path);
    if (files.count(k)) return std::make_error_code(std::errc::file_exists);
    ++changes;
    directories.insert(k);
    return {};
  }
  std::error_code rename(const std::wstring& from, const std::wstring& to) override {
    const std::wstring f = key(from), t = key(to);
    if (!files.count(f)) return std::make_error_code(std::errc::no_such_file_or_directory);  // files only
    if (is_directory(t)) return std::make_error_code(std::errc::is_a_directory);
    ++changes;
    std::string content = files[f];
    files.erase(f);
    files[t] = std::move(content);
    return {};
  }
  std::error_code copy_file(const std::wstring& from, const std::wstring& to) override {
    const std::wstring f = key(from), t = key(to);
    if (!files.count(f)) return std::make_error_code(std::errc::no_such_file_or_directory);
    if (is_directory(t)) return std::make_error_code(std::errc::is_a_directory);
    ++changes;
    files[t] = files[f];
    return {};
  }
  std::error_code remove(const std::wstring& path) override {
    const std::wstring k = key(path);
    if (files.erase(k)) {
      ++changes;
      return {};
    }
    const auto it = files.lower_bound(k + L"\\");
    if (it != files.end() && it->first.starts_with(k + L"\\")) return std::make_error_code(std::errc::directory_not_empty);
    if (directories.erase(k)) ++changes;
    return {};
  }
  std::error_code remove_all(const std::wstring& path) override {
    const std::wstring k = key(path);
    ++changes;
    files.erase(k);
    for (auto it = files.lower_bound(k + L"\\"); it != files.end() && it->first.starts_with(k + L"\\");)
      it = files.erase(it);
    return {};
  }
  std::string sha256_file_hex(const std::wstring& path) override {
    const auto it = files.find(key(path));
    if (it == files.end()) throw std::runtime_error("failed_to_open_file");
    return hex_sha256(it->second);
  }
  bool write_build_manifest(const std::wstring& path, const korvanta::BuildManifest& manifest,
                            std::string* reason) override {
    try {
      ++changes;
      files[key(path)] =
          korvanta::build_manifest_to_json(manifest).dump(4, ' ', false, json::error_handler_t::strict);
      return true;
    } catch (const std::exception& e) {
      if (reason) *reason = e.what();
      return false;
    }
  }
};

const std::set<std::string> kFirstStageReasons = {
    korvanta::reason::kInvalidUpdateStateLocation, korvanta::reason::kFailedToLoadUpdateState,
    korvanta::reason::kInvalidUpdateState,         korvanta::reason::kInstallRootMismatch,
    korvanta::reason::kManifestPathOutsideInstall, korvanta::reason::kBackupRootOutsideInstall,
    korvanta::reason::kStagingRootOutsideInstall};
const std::set<std::string> kSecondStageReasons = {
    korvanta::reason::kInvalidDeletionPath,    korvanta::reason::kInvalidReplacementPath,
    korvanta::reason::kStagedFileOutsideStagingRoot, korvanta::reason::kStagedFileSizeMismatch,
    korvanta::reason::kStagedFileHashMismatch, korvanta::reason::kInvalidUpdateManifest};

struct Place {
  std::filesystem::path dir;
  std::wstring root, data_dir, state_path;
  std::string root_json;  // the root as JSON string content
};

const Place& place() {
  static const Place p = [] {
    Place p;
    // libFuzzer ends without running exit handlers, so each run clears what
    // runs that have ended left behind.
    const std::string prefix = "korvanta-state-fuzz-";
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path(), ignored)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(prefix, 0) != 0) continue;
      const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
      if (pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
        std::filesystem::remove_all(entry.path(), ignored);
    }
    p.dir = std::filesystem::temp_directory_path() / (prefix + std::to_string(getpid()));
    std::filesystem::create_directories(p.dir / "Game" / ".korvanta");
    const std::string root = (p.dir / "Game").string();
    p.root = korvanta::platform::utf8_to_wide(root);
    p.data_dir = p.root + L"\\.korvanta";
    p.state_path = p.data_dir + L"\\update-state.json";
    const std::string quoted = json(root).dump();
    p.root_json = quoted.substr(1, quoted.size() - 2);
    return p;
  }();
  return p;
}

std::string with_root(std::string text, const std::string& root) {
  const std::string mark = "@ROOT@";
  for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + root.size()))
    text.replace(at, mark.size(), root);
  return text;
}

bool replaces_a_path_twice(const json& document) {
  std::set<std::string> seen;
  for (const json& entry : korvanta::state_list(document.at("replacements"))) {
    const auto path = korvanta::normalize_relative_path(entry.at("path").get_ref<const std::string&>());
    if (path && !seen.insert(korvanta::to_lower_ascii(*path)).second) return true;
  }
  return false;
}

void install(MemoryFileSystem& fs, const std::wstring& path, const std::string& content) {
  fs.files[MemoryFileSystem::key(path)] = content;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Place& p = place();
  const std::string text = with_root(std::string(reinterpret_cast<const char*>(data), size), p.root_json);

  // The shape check on the value in memory; it never throws.
  const json parsed = json::parse(text, nullptr, /*allow_exceptions=*/false);
  const bool shaped = !parsed.is_discarded() && korvanta::has_valid_state_shape(parsed);

  {
    std::ofstream out(p.dir / "Game" / ".korvanta" / "update-state.json", std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    check(static_cast<bool>(out));
  }

  MemoryFileSystem fs;
  const std::wstring staging = p.data_dir + L"\\staging\\build-2";
  install(fs, p.root + L"\\game.exe", "game, build 1");
  install(fs, p.root + L"\\data\\old.pak", "old pack, build 1");
  install(fs, p.root + L"\\data\\level.pak", "level pack, build 1");
  install(fs, p.data_dir + L"\\build-manifest.json", "manifest of build 1");
  install(fs, staging + L"\\data\\level.pak", "level pack, build 2");
  install(fs, staging + L"\\data\\new.pak", "new pack, build 2");
  const auto before = fs.files;

  std::string reason = "untouched";
  const bool applied = korvanta::apply_update_with(p.state_path, reason, fs);

  // What the first stage reads: the same file, the same loader.
  const auto loaded = korvanta::load_state_document(p.state_path);
  const bool loaded_shaped = loaded && korvanta::has_valid_state_shape(*loaded);
  if (!parsed.is_discarded() && loaded) check(shaped == loaded_shaped);

  if (!applied) {
    const bool first = kFirstStageReasons.count(reason) != 0;
    check(first || kSecondStageReasons.count(reason) != 0 || reason == korvanta::reason::kFailedToOpenFile);
    if (first) check(fs.changes == 0 && fs.files == before);
    if (!loaded) check(reason == korvanta::reason::kFailedToLoadUpdateState);
    if (loaded && !loaded_shaped) check(reason == korvanta::reason::kInvalidUpdateState);
  } else {
    check(reason == "untouched");
    check(loaded_shaped);
    const auto manifest = fs.files.find(MemoryFileSystem::key(p.data_dir + L"\\build-manifest.json"));
    check(manifest != fs.files.end());
    const auto written = korvanta::parse_build_manifest(json::parse(manifest->second));
    check(written.has_value());
    const auto announced = korvanta::parse_build_manifest(loaded->at("manifest"));
    check(announced.has_value());
    check(korvanta::build_manifest_to_json(*written) == korvanta::build_manifest_to_json(*announced));
  }

  // Nothing lost: every installed file's content is still somewhere, in
  // place or in the backup root. The one exception is by rule: a path listed
  // twice among the replacements backs up its first new version over the
  // backup of the file installed before.
  if (loaded_shaped && !replaces_a_path_twice(*loaded)) {
    std::multiset<std::string> contents;
    for (const auto& [k, content] : fs.files) contents.insert(content);
    for (const char* kept : {"game, build 1", "old pack, build 1", "level pack, build 1"})
      check(contents.count(kept) != 0);
  }
  return 0;
}

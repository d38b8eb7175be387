#include "support/bad_states.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "manifest/sha256.h"
#include "platform/file_system.h"
#include "platform/text.h"
#include "update/reason_codes.h"

namespace korvanta::testing {
namespace fs = std::filesystem;

namespace {

constexpr const char* kPlaceholder = "@ROOT@";
constexpr const char* kSampleRoot = "D:\\\\Games\\\\Korvanta Shop";  // as JSON text

std::string sha256_of(const std::string& bytes) {
  Sha256 hasher;
  hasher.update(bytes.data(), bytes.size());
  return hasher.final_hex();
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string json_string_content(const std::string& utf8) {
  const std::string quoted = nlohmann::json(utf8).dump();
  return quoted.substr(1, quoted.size() - 2);
}

std::string utf8_key(const fs::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

// The sample with the root as placeholder: the base of the generated cases.
std::string template_state() {
  return replace_all(read_file(source_path("tests/data/sample-update-state.json")), kSampleRoot, kPlaceholder);
}

std::vector<BadState> generated_states() {
  std::vector<BadState> out;
  const nlohmann::json base = nlohmann::json::parse(template_state());
  constexpr std::size_t kTenMegabytes = 10 * 1024 * 1024;
  {
    nlohmann::json state = base;
    state["install_root"] = std::string(kPlaceholder) + "\\" + std::string(kTenMegabytes, 'x');
    out.push_back({"generated-10-mb-install-root", state.dump(2), reason::kInstallRootMismatch, true});
  }
  {
    std::string text = template_state();
    text.insert(1, std::string(kTenMegabytes, ' '));
    text.resize(text.size() - 3);  // the closing brackets
    out.push_back({"generated-10-mb-truncated", text, reason::kFailedToLoadUpdateState, true});
  }
  constexpr int kDeletions = 100000;
  {
    nlohmann::json state = base;
    state["deletions"] = nlohmann::json::array();
    for (int i = 1; i < kDeletions; ++i) state["deletions"].push_back("gone/" + std::to_string(i) + ".dat");
    state["deletions"].push_back(7);
    out.push_back({"generated-100000-deletions-last-a-number", state.dump(), reason::kInvalidUpdateState, true});
    state["deletions"].back() = "../outside/keep.txt";
    out.push_back({"generated-100000-deletions-last-escaping", state.dump(), reason::kInvalidDeletionPath, true});
  }
  constexpr std::size_t kLevels = 100000;
  out.push_back({"generated-100000-nested-arrays", std::string(kLevels, '[') + std::string(kLevels, ']'),
                 reason::kFailedToLoadUpdateState, true});
  {
    std::string nested;
    for (std::size_t i = 0; i < kLevels; ++i) nested += "{\"a\":";
    nested += "{}" + std::string(kLevels, '}');
    nlohmann::json state = base;
    state["manifest"]["metadata"]["deep"] = "@DEEP@";
    const std::string text = replace_all(state.dump(2), "\"@DEEP@\"", nested);
    out.push_back({"generated-100000-nested-objects-in-metadata", text, reason::kFailedToLoadUpdateState, true});
  }
  return out;
}

}  // namespace

std::wstring source_path(const std::string& relative) {
  std::wstring path = platform::utf8_to_wide(std::string(KORVANTA_SOURCE_DIR) + "/" + relative);
#ifdef _WIN32
  std::replace(path.begin(), path.end(), L'/', L'\\');
#endif
  return path;
}

std::vector<BadState> bad_states(bool generated_large) {
  const nlohmann::json expected = nlohmann::json::parse(read_file(source_path("tests/data/bad-states-expected.json")));
  std::vector<BadState> out;
  const fs::path dir = platform::fs_path(source_path("tests/data/bad-states"));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(utf8_key(entry.path().filename()));
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    // A file without an expectation has no place in the corpus: at() throws.
    const auto& expectation = expected.at(name);
    out.push_back({name, read_file(source_path("tests/data/bad-states/" + name)),
                   expectation.at("reason").get<std::string>(), expectation.at("unchanged").get<bool>()});
  }
  if (out.size() != expected.size()) throw std::runtime_error("bad-states-expected.json names a missing file");
  if (generated_large)
    for (auto& state : generated_states()) out.push_back(std::move(state));
  return out;
}

const std::vector<std::string>& reason_codes() {
  static const std::vector<std::string> codes = {
      reason::kInvalidUpdateStateLocation, reason::kFailedToLoadUpdateState, reason::kInvalidUpdateState,
      reason::kInstallRootMismatch,        reason::kManifestPathOutsideInstall, reason::kBackupRootOutsideInstall,
      reason::kStagingRootOutsideInstall,  reason::kInvalidDeletionPath,      reason::kInvalidReplacementPath,
      reason::kStagedFileOutsideStagingRoot, reason::kStagedFileSizeMismatch, reason::kStagedFileHashMismatch,
      reason::kInvalidUpdateManifest,      reason::kFailedToOpenFile,         reason::kUnexpectedError};
  return codes;
}

Tree tree_of(const std::wstring& dir) {
  Tree tree;
  const fs::path base = platform::fs_path(dir);
  for (auto it = fs::recursive_directory_iterator(base); it != fs::recursive_directory_iterator(); ++it) {
    const std::string key = utf8_key(it->path().lexically_relative(base));
    if (it->is_directory()) {
      tree[key] = {0, "<dir>"};
    } else {
      const std::string bytes = read_file(platform::utf8_to_wide(utf8_key(it->path())));
      tree[key] = {bytes.size(), sha256_of(bytes)};
    }
  }
  return tree;
}

SampleInstallation::SampleInstallation() : root_(temp_ / L"Game") {
  write_file(root_ + L"\\game.exe", "game, build 1");
  write_file(root_ + L"\\data\\old.pak", "old pack, build 1");
  write_file(root_ + L"\\data\\level.pak", "level pack, build 1");
  write_file(root_ + L"\\.korvanta\\build-manifest.json", "{\"id\": \"build-1\"}");
  write_file(root_ + L"\\.korvanta\\staging\\build-2\\data\\level.pak", "level pack, build 2");
  write_file(root_ + L"\\.korvanta\\staging\\build-2\\data\\new.pak", "new pack, build 2");
  write_file(temp_ / L"outside\\keep.txt", "outside");
}

void SampleInstallation::write_state(const std::string& bytes_with_placeholder) const {
  write_file(state_path(),
             replace_all(bytes_with_placeholder, kPlaceholder, json_string_content(platform::wide_to_utf8(root_))));
}

std::string SampleInstallation::sample_state() const {
  return replace_all(read_file(source_path("tests/data/sample-update-state.json")), kSampleRoot,
                     json_string_content(platform::wide_to_utf8(root_)));
}

std::vector<std::string> SampleInstallation::lost_files(const Tree& before, const Tree& after) {
  const std::string installed = "Game/";
  const std::string backup = "Game/.korvanta/backup/build-1/";
  const std::string staging = "Game/.korvanta/staging/build-2/";
  std::vector<std::string> lost;
  for (const auto& [path, entry] : before) {
    if (entry.sha256 == "<dir>") continue;
    const auto same = [&](const std::string& where) {
      const auto it = after.find(where);
      return it != after.end() && it->second == entry;
    };
    if (same(path)) continue;
    const bool installed_file = path.rfind(installed, 0) == 0 && path.rfind("Game/.korvanta/", 0) != 0;
    if (installed_file && same(backup + path.substr(installed.size()))) continue;
    // A staged file may have been installed.
    if (path.rfind(staging, 0) == 0 && same(installed + path.substr(staging.size()))) continue;
    lost.push_back(path);
  }
  return lost;
}

}  // namespace korvanta::testing

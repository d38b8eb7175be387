#pragma once
// An installation with its ".korvanta" directory, a staging root with staged
// files, and a state file describing the update, built on real files for
// the apply engine's tests.
#include <filesystem>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "manifest/sha256.h"
#include "platform/text.h"
#include "support/temp_dir.h"
#include "update/apply.h"
#include "update/apply_file_system.h"

namespace korvanta::testing {

inline std::string utf8(const std::wstring& text) { return platform::wide_to_utf8(text); }

inline std::string sha256_of(const std::string& bytes) {
  Sha256 hasher;
  hasher.update(bytes.data(), bytes.size());
  return hasher.final_hex();
}

inline nlohmann::json sample_manifest() {
  return {{"id", "build-2"}, {"id_mod", "mod-7"}, {"channel", "stable"}, {"version", "2.0.0"},
          {"status", "published"}, {"manifest_hash", "abc"}, {"total_size", 0}, {"files", nlohmann::json::array()}};
}

struct Installation {
  TempDir temp;
  std::wstring root = temp / L"Game";
  std::wstring data_dir = root + L"\\.korvanta";
  std::wstring state_path = data_dir + L"\\update-state.json";
  std::wstring staging = data_dir + L"\\staging\\build-2";
  std::wstring backup = data_dir + L"\\backup";
  std::wstring manifest = data_dir + L"\\build-manifest.json";
  nlohmann::json state = {{"install_root", utf8(root)},
                          {"manifest_path", utf8(manifest)},
                          {"backup_root", utf8(backup)},
                          {"staging_root", utf8(staging)},
                          {"deletions", nlohmann::json::array()},
                          {"replacements", nlohmann::json::array()},
                          {"manifest", sample_manifest()}};

  Installation() { write_file(temp / L"outside\\keep.txt", "outside"); }
  // With other names for the data directory and the state file.
  Installation(const std::wstring& data_name, const std::wstring& state_name) : Installation() {
    data_dir = root + L"\\" + data_name;
    state_path = data_dir + L"\\" + state_name;
    staging = data_dir + L"\\staging";
    backup = data_dir + L"\\backup";
    manifest = data_dir + L"\\build-manifest.json";
    state["manifest_path"] = utf8(manifest);
    state["backup_root"] = utf8(backup);
    state["staging_root"] = utf8(staging);
  }

  static std::wstring under(const std::wstring& dir, const std::wstring& relative) {
    return dir + L"\\" + relative;
  }
  std::wstring installed_path(const std::wstring& relative) const { return under(root, relative); }
  std::wstring backup_path(const std::wstring& relative) const { return under(backup, relative); }

  void install(const std::wstring& relative, const std::string& bytes) { write_file(installed_path(relative), bytes); }

  // Stages bytes under staged_name and adds a replacement of relative that
  // announces their true size and digest. Returns the entry's index.
  std::size_t replace(const std::wstring& relative, const std::string& bytes, const std::wstring& staged_name = L"") {
    const std::wstring staged = under(staging, staged_name.empty() ? relative : staged_name);
    write_file(staged, bytes);
    state["replacements"].push_back(
        {{"path", utf8(relative)}, {"staged_path", utf8(staged)}, {"size", bytes.size()}, {"sha256", sha256_of(bytes)}});
    return state["replacements"].size() - 1;
  }

  void remove(const std::wstring& relative) { state["deletions"].push_back(utf8(relative)); }

  void write_state() const { write_file(state_path, state.dump(2)); }

  bool apply(std::string& reason) const {
    write_state();
    return apply_update(state_path, reason);
  }
  bool apply(std::string& reason, ApplyFileSystem& file_system) const {
    write_state();
    return apply_update_with(state_path, reason, file_system);
  }

  std::string installed(const std::wstring& relative) const { return read_file(installed_path(relative)); }
  bool is_installed(const std::wstring& relative) const { return file_exists(installed_path(relative)); }
  std::string backed_up(const std::wstring& relative) const { return read_file(backup_path(relative)); }
  bool is_backed_up(const std::wstring& relative) const { return file_exists(backup_path(relative)); }
};

// Every file and directory below dir with its content ("<dir>" for a
// directory), keyed by the path relative to dir. Links are listed, not
// followed.
using Tree = std::map<std::string, std::string>;

inline std::string path_utf8(const std::filesystem::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

inline Tree snapshot(const std::wstring& dir) {
  namespace fs = std::filesystem;
  Tree tree;
  const fs::path base = platform::fs_path(dir);
  for (auto it = fs::recursive_directory_iterator(base); it != fs::recursive_directory_iterator(); ++it) {
    const std::string key = path_utf8(it->path().lexically_relative(base));
    if (it->is_symlink()) {
      tree[key] = "<link " + path_utf8(fs::read_symlink(it->path())) + ">";
    } else if (it->is_directory()) {
      tree[key] = "<dir>";
    } else {
      tree[key] = read_file(platform::utf8_to_wide(path_utf8(it->path())));
    }
  }
  return tree;
}

// The part of a tree below a relative directory prefix ("" for all).
inline Tree subtree(const Tree& tree, const std::string& prefix) {
  Tree out;
  for (const auto& [key, value] : tree)
    if (key.rfind(prefix + "/", 0) == 0) out[key.substr(prefix.size() + 1)] = value;
  return out;
}

}  // namespace korvanta::testing

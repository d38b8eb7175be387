#pragma once
// What the whole suite shares: a temporary directory that removes itself,
// files on the updater's wide paths, a snapshot of a directory tree, the run
// log's line texts, an installation with a staged update and its state file,
// and the check that no player's file was lost. No GoogleTest here: the
// state fuzzer uses it too.
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "manifest/build_manifest.h"

namespace korvanta::testing {

std::string utf8(const std::wstring& text);
std::wstring wide(const std::string& text);
std::string sha256_of(const std::string& bytes);

// Polls condition until it holds (true) or timeout has passed (false). Under
// Wine the first window of a process can take seconds to appear.
bool eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::minutes(1));

// A manifest from its JSON text, through the reader the state file's loader
// uses; nothing when the text is not JSON or the reader refuses it.
std::optional<BuildManifest> read_manifest(const std::string& text);

class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::wstring& path() const { return path_; }  // absolute, the updater's wide form
  std::wstring operator/(const std::wstring& relative) const;

 private:
  std::wstring path_;
};

void write_file(const std::wstring& path, const std::string& bytes);  // creates parent directories
std::optional<std::string> content(const std::wstring& path);        // nothing when there is no file

// A helper program built beside the test programs (tests/tools), on Windows.
std::wstring tool_path(const std::wstring& name);

// Every file and directory below dir by its "/"-separated relative path: a
// file's content, or "<dir>".
using Tree = std::map<std::string, std::string>;
Tree snapshot(const std::wstring& dir);

// The result file at path, parsed (discarded when it is not JSON; nothing
// when there is none), and kept as update-results/<name>.json in the working
// directory, where the schema check (tests/schemas) validates it after the
// test programs have run.
std::optional<nlohmann::json> result_file(const std::wstring& path, const std::string& name);

// The texts of the run log's lines; nothing when any byte falls outside the
// "[YYYY-MM-DD HH:MM:SS] text" CR LF form.
std::optional<std::vector<std::string>> log_texts(const std::wstring& log_path);

// <temp>\<root_name> with its .korvanta directory, a staging root, a backup
// root and a state file naming them; <temp>\outside holds a file that no
// update may touch.
struct Installation {
  explicit Installation(const std::wstring& root_name = L"Game");

  TempDir temp;
  std::wstring root, data_dir, state_path, staging, backup, manifest, log;
  nlohmann::json state;

  std::wstring installed_path(const std::wstring& relative) const { return root + L"\\" + relative; }
  std::wstring backup_path(const std::wstring& relative) const { return backup + L"\\" + relative; }
  std::wstring staged_path(const std::wstring& relative) const { return staging + L"\\" + relative; }
  void install(const std::wstring& relative, const std::string& bytes) const;
  // Stages bytes and announces them, with their true size and digest, as the
  // replacement of relative.
  void replace(const std::wstring& relative, const std::string& bytes);
  void remove(const std::wstring& relative) { state["deletions"].push_back(utf8(relative)); }
  void write_state() const;

  // Where a player's file went missing between two snapshots of temp: every
  // file installed before that the update deletes or replaces is still
  // installed or in the backup root with its old content, every staged file
  // of the state's replacements is still staged or installed at its target,
  // and nothing outside the installation changed. Empty when nothing is lost.
  std::string lost_files(const Tree& before, const Tree& after) const;
};

}  // namespace korvanta::testing

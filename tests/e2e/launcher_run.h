#pragma once
// One run of the launcher stand-in (tests/tools/launcher_standin_win32.cpp):
// it builds an installation and a staged update from a scenario, starts the
// real KorvantaUpdater.exe as the platform's launcher does and exits; the
// updater's process handle comes back to this process through the stand-in's
// report, so the exit code is collected without a race. Windows only.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/restart.h"
#include "manifest/sha256.h"
#include "platform/handle_win32.h"
#include "platform/path_text.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace korvanta::e2e {

using nlohmann::json;
using platform::UniqueHandle;

inline std::string utf8(const std::wstring& text) { return platform::wide_to_utf8(text); }
inline std::wstring wide(const std::string& text) { return platform::utf8_to_wide(text); }

// Paths beyond MAX_PATH are read here through the form that allows them, so
// a check never fails for its own reasons.
inline std::wstring extended(const std::wstring& path) {
  if (path.size() < 240 || path.rfind(L"\\\\", 0) == 0) return path;
  return L"\\\\?\\" + path;
}

inline bool exists(const std::wstring& path) {
  return GetFileAttributesW(extended(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::optional<std::string> read_bytes(const std::wstring& path) {
  UniqueHandle file(CreateFileW(extended(path).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  return bytes;
}

inline void write_bytes(const std::wstring& path, const std::string& bytes) {
  UniqueHandle file(
      CreateFileW(extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size())
    ADD_FAILURE() << "cannot write " << utf8(path);
}

// Polls until the condition holds or the limit has passed.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

struct Process {
  UniqueHandle handle;
  DWORD pid = 0;
};

inline Process start_process(const std::wstring& exe, const std::vector<std::wstring>& args) {
  std::wstring line = build_command_line(exe, args);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  Process process;
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    CloseHandle(info.hThread);
    process.handle.reset(info.hProcess);
    process.pid = info.dwProcessId;
  }
  return process;
}

// The exit code, or -1 when the process did not end in time (it is then
// terminated, so a hang fails the test instead of the whole run).
inline int wait_for_exit(HANDLE process, std::chrono::milliseconds limit) {
  if (WaitForSingleObject(process, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
    TerminateProcess(process, 99);
    WaitForSingleObject(process, 5000);
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  return static_cast<int>(code);
}

// A scenario's content: a string, or {"text": t, "repeat": n}.
inline std::string content_of(const json& spec) {
  if (spec.is_string()) return spec.get<std::string>();
  std::string out;
  for (std::size_t i = 0, n = spec.at("repeat").get<std::size_t>(); i < n; ++i) out += spec.at("text").get<std::string>();
  return out;
}

// A scenario's relative path ("/" or "\") under a root.
inline std::wstring under(const std::wstring& root, const std::string& relative) {
  std::wstring tail = wide(relative);
  for (wchar_t& c : tail)
    if (c == L'/') c = L'\\';
  return platform::path_text::join(root, tail);
}

// The texts of the log's lines, each checked for its "[YYYY-MM-DD HH:MM:SS] "
// prefix and CR LF end.
inline std::vector<std::string> log_texts(const std::wstring& log_path) {
  std::vector<std::string> texts;
  const auto log = read_bytes(log_path);
  if (!log) {
    ADD_FAILURE() << "no log at " << utf8(log_path);
    return texts;
  }
  static const std::regex line(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] ([^\r\n]*))");
  std::size_t start = 0;
  while (start < log->size()) {
    const std::size_t end = log->find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "a log line without CR LF: " << log->substr(start);
      break;
    }
    std::smatch match;
    const std::string text = log->substr(start, end - start);
    if (std::regex_match(text, match, line)) {
      texts.push_back(match[1]);
    } else {
      ADD_FAILURE() << "a log line without its time stamp: " << text;
    }
    start = end + 2;
  }
  return texts;
}

enum class Ending { kComplete, kApplyFailed, kRestartFailed };

// What one run writes to the log.
inline std::vector<std::string> expected_log(const std::wstring& state_arg, const std::string& product, Ending ending,
                                             const std::string& reason = {}) {
  std::vector<std::string> lines = {"----- Korvanta updater started -----", "State file: " + utf8(state_arg),
                                    "Waiting for the launcher to close", "Applying update"};
  if (ending == Ending::kApplyFailed) {
    lines.insert(lines.end(), {"Apply failed: " + reason, "The update could not be applied"});
  } else {
    lines.push_back("Restarting " + product);
    if (ending == Ending::kRestartFailed) {
      lines.insert(lines.end(), {"Restart failed", "Update installed, but restart failed"});
    } else {
      lines.push_back("Update complete");
    }
  }
  return lines;
}

class LauncherRun {
 public:
  // The installation is built in a fresh temporary directory under
  // root_name, unless the scenario names its own "install_root".
  explicit LauncherRun(json scenario, const std::wstring& root_name = L"Korvanta Shop")
      : scenario_(std::move(scenario)) {
    if (!scenario_.contains("install_root")) scenario_["install_root"] = utf8(dir_ / root_name);
    root_ = wide(scenario_["install_root"].get<std::string>());
    scenario_["record"] = utf8(record_path());
    scenario_["report"] = utf8(dir_ / L"report.json");
    scenario_["report_to_pid"] = GetCurrentProcessId();
  }

  const json& scenario() const { return scenario_; }
  json& scenario() { return scenario_; }  // to change before start()
  const std::wstring& root() const { return root_; }
  std::wstring data_dir() const { return root_ + L"\\.korvanta"; }
  std::wstring state_path() const { return data_dir() + L"\\update-state.json"; }
  std::wstring state_arg() const {
    return scenario_.contains("state_arg") ? wide(scenario_["state_arg"].get<std::string>()) : state_path();
  }
  std::wstring log_path() const {
    return platform::path_text::join(platform::path_text::parent_path(state_arg()), L"logs\\updater.log");
  }
  std::wstring staging_root() const { return under(data_dir(), scenario_.value("staging_root", "staging\\build-2")); }
  std::wstring backup_root() const { return under(data_dir(), scenario_.value("backup_root", "backup\\build-1")); }
  std::wstring manifest_path() const { return data_dir() + L"\\build-manifest.json"; }
  std::wstring record_path() const { return dir_ / L"record.json"; }
  std::string product() const { return scenario_.value("product_name", "Korvanta Shop"); }

  // Starts the stand-in, which builds everything and starts the updater.
  void start() {
    write_bytes(dir_ / L"scenario.json", scenario_.dump(2));
    standin_ = start_process(testing::tool_path(L"launcher_standin"), {L"prepare-and-start", dir_ / L"scenario.json"});
    ASSERT_TRUE(standin_.handle) << "cannot start the stand-in";
  }

  // The stand-in's process while it lingers.
  HANDLE standin() const { return standin_.handle.get(); }

  // Waits for the stand-in to hand over the updater, then for the updater to
  // end; returns its exit code (-1: it did not start or did not end in time).
  int finish(std::chrono::seconds limit = std::chrono::seconds(90)) {
    if (!standin_.handle) return -1;
    const int standin_code = wait_for_exit(standin_.handle.get(), limit);
    EXPECT_EQ(standin_code, 0) << "the stand-in could not prepare the scenario or start the updater";
    const auto report = read_bytes(dir_ / L"report.json");
    if (standin_code != 0 || !report) return -1;
    updater_.reset(reinterpret_cast<HANDLE>(json::parse(*report).at("handle").get<std::uintptr_t>()));
    return wait_for_exit(updater_.get(), limit);
  }

  // The updater's process, once finish() or take_updater() has it.
  HANDLE updater() const { return updater_.get(); }

  // For tests that stop the updater themselves: waits for the stand-in and
  // takes the updater's handle without waiting for it.
  bool take_updater(std::chrono::seconds limit = std::chrono::seconds(90)) {
    if (!standin_.handle || wait_for_exit(standin_.handle.get(), limit) != 0) return false;
    const auto report = read_bytes(dir_ / L"report.json");
    if (!report) return false;
    updater_.reset(reinterpret_cast<HANDLE>(json::parse(*report).at("handle").get<std::uintptr_t>()));
    return true;
  }

  // What the restarted launcher received, waiting for it to write it down.
  std::optional<json> restart_record() const {
    if (!eventually([&] { return exists(record_path()); })) return std::nullopt;
    return json::parse(read_bytes(record_path()).value_or("null"));
  }

  std::vector<std::string> log() const { return log_texts(log_path()); }

  // --- The scenario's files.
  std::wstring installed_path(const std::string& relative) const { return under(root_, relative); }
  std::wstring backup_path(const std::string& relative) const { return under(backup_root(), relative); }
  std::wstring staged_path(const json& replacement) const {
    return replacement.contains("staged_file") ? under(root_, replacement["staged_file"].get<std::string>())
                                               : under(staging_root(), replacement["path"].get<std::string>());
  }
  // Build 1: {relative path: content}.
  const json& installed() const {
    static const json none = json::object();
    const auto it = scenario_.find("installed");
    return it == scenario_.end() ? none : *it;
  }
  // Build 1's content of a path (nullopt: not installed).
  std::optional<std::string> old_content(const std::string& relative) const {
    const auto it = installed().find(relative);
    if (it == installed().end()) return std::nullopt;
    return content_of(*it);
  }

  // After a successful run: deletions gone with their backups, replacements
  // installed with the old files in the backup root, untouched files as they
  // were, the manifest of build 2 written, staging root and state file gone.
  void expect_applied() const {
    std::vector<std::string> touched;
    for (const json& entry : scenario_.value("deletions", json::array())) {
      const std::string relative = entry.get<std::string>();
      touched.push_back(relative);
      EXPECT_FALSE(exists(installed_path(relative))) << relative;
      EXPECT_EQ(read_bytes(backup_path(relative)), old_content(relative)) << relative;
    }
    json files = json::array();
    for (const json& entry : scenario_.value("replacements", json::array())) {
      const std::string relative = entry["path"].get<std::string>();
      const std::string content = content_of(entry["content"]);
      touched.push_back(relative);
      EXPECT_EQ(read_bytes(installed_path(relative)), content) << relative;
      EXPECT_EQ(read_bytes(backup_path(relative)), old_content(relative)) << relative;
      std::string normal = relative;
      for (char& c : normal)
        if (c == '\\') c = '/';
      Sha256 hasher;
      hasher.update(content.data(), content.size());
      files.push_back({{"path", normal}, {"size", content.size()}, {"sha256", hasher.final_hex()}});
    }
    for (const auto& [relative, content] : installed().items()) {
      if (relative.back() == '/' || std::find(touched.begin(), touched.end(), relative) != touched.end()) continue;
      EXPECT_EQ(read_bytes(installed_path(relative)), content_of(content)) << relative << " should be untouched";
    }
    const auto manifest = read_bytes(manifest_path());
    ASSERT_TRUE(manifest) << "no build manifest";
    const json written = json::parse(*manifest);
    EXPECT_EQ(written.at("id"), "build-2");
    json written_files = json::array();
    for (const json& file : written.at("files"))
      written_files.push_back({{"path", file.at("path")}, {"size", file.at("size")}, {"sha256", file.at("sha256")}});
    EXPECT_EQ(written_files, files);
    EXPECT_FALSE(exists(staging_root()));
    EXPECT_FALSE(exists(state_path()));
  }

  // After any stop or failure: every file of build 1 is installed (old or new
  // version) or its old version is in the backup root, every new file is
  // installed or still staged, and nothing installed holds anything else.
  void expect_nothing_lost(const std::string& context = {}) const {
    const json replacements = scenario_.value("replacements", json::array());
    const auto new_content = [&](const std::string& relative) -> std::optional<std::string> {
      for (const json& entry : replacements)
        if (entry["path"] == relative) return content_of(entry["content"]);
      return std::nullopt;
    };
    for (const auto& [relative, content] : installed().items()) {
      if (relative.back() == '/') {
        EXPECT_TRUE(exists(installed_path(relative)) || exists(backup_path(relative))) << context << relative;
        continue;
      }
      const std::string old_version = content_of(content);
      const auto installed = read_bytes(installed_path(relative));
      const auto backed_up = read_bytes(backup_path(relative));
      EXPECT_TRUE(installed == old_version || backed_up == old_version) << context << relative << " is lost";
      EXPECT_TRUE(!installed || installed == old_version || installed == new_content(relative))
          << context << relative << " holds something else";
    }
    for (const json& entry : replacements) {
      const std::string relative = entry["path"].get<std::string>();
      const std::string content = content_of(entry["content"]);
      EXPECT_TRUE(read_bytes(installed_path(relative)) == content || read_bytes(staged_path(entry)) == content)
          << context << relative << ": the new version is neither installed nor staged";
    }
  }

 private:
  testing::TempDir dir_;
  json scenario_;
  std::wstring root_;
  Process standin_;
  UniqueHandle updater_;
};

}  // namespace korvanta::e2e

#include "support/test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

#include "manifest/build_manifest.h"
#include "manifest/relative_path.h"
#include "manifest/sha256.h"
#include "platform/file_system.h"
#include "platform/path_text.h"
#include "platform/text.h"

namespace korvanta::testing {
namespace fs = std::filesystem;

std::string utf8(const std::wstring& text) { return platform::wide_to_utf8(text); }
std::wstring wide(const std::string& text) { return platform::utf8_to_wide(text); }

std::string sha256_of(const std::string& bytes) {
  Sha256 hasher;
  hasher.update(bytes.data(), bytes.size());
  return hasher.final_hex();
}

std::optional<BuildManifest> read_manifest(const std::string& text) {
  ManifestReader reader;
  if (!nlohmann::json::sax_parse(text, &reader)) return std::nullopt;
  return reader.take();
}

namespace {

std::string generic(const fs::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

// The "/"-separated form of a path below base.
std::string relative_to(const std::wstring& base, const std::wstring& path) {
  std::string text = utf8(path.substr(base.size() + 1));
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

}  // namespace

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  for (const auto end = std::chrono::steady_clock::now() + timeout; !condition();
       std::this_thread::sleep_for(std::chrono::milliseconds(2)))
    if (std::chrono::steady_clock::now() > end) return false;
  return true;
}

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  fs::path dir;
  do dir = fs::temp_directory_path() / ("korvanta-test-" + stamp + "-" + std::to_string(counter++));
  while (!fs::create_directory(dir));  // another test program may have taken the name
  path_ = wide(generic(fs::absolute(dir)));
#ifdef _WIN32
  std::replace(path_.begin(), path_.end(), L'/', L'\\');
#endif
}

// Read-only files and paths past the classic length limit included.
TempDir::~TempDir() { platform::remove_all(path_); }

std::wstring TempDir::operator/(const std::wstring& relative) const { return platform::path_text::join(path_, relative); }

void write_file(const std::wstring& path, const std::string& bytes) {
  const auto target = platform::fs_path(path);
  fs::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + utf8(path));
}

std::optional<std::string> content(const std::wstring& path) {
  std::error_code error;
  if (!fs::is_regular_file(platform::fs_path(path), error)) return std::nullopt;
  std::ifstream in(platform::fs_path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#ifdef _WIN32
std::wstring tool_path(const std::wstring& name) {
  std::wstring self(32768, L'\0');
  self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
  return platform::path_text::join(platform::path_text::parent_path(self), name + L".exe");
}
#endif

// On Windows the walk uses the system's calls: the standard library's
// directory iterator there stops at the classic length limit.
Tree snapshot(const std::wstring& dir) {
  Tree tree;
  const auto add = [&](const std::wstring& path, bool is_directory) {
    const auto bytes = is_directory ? std::optional<std::string>("<dir>") : content(path);
    if (!bytes) throw std::runtime_error("cannot read " + utf8(path));
    tree[relative_to(dir, path)] = *bytes;
  };
#ifdef _WIN32
  for (std::vector<std::wstring> pending{dir}; !pending.empty();) {
    const std::wstring here = std::move(pending.back());
    pending.pop_back();
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW(platform::fs_path(platform::path_text::join(here, L"*")).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot list " + utf8(here));
    do {
      const std::wstring name = found.cFileName, path = platform::path_text::join(here, name);
      const bool is_directory = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
      if (name == L"." || name == L"..") continue;
      add(path, is_directory);
      if (is_directory) pending.push_back(path);
    } while (FindNextFileW(find, &found));
    FindClose(find);
  }
#else
  for (auto it = fs::recursive_directory_iterator(platform::fs_path(dir)); it != fs::recursive_directory_iterator(); ++it)
    add(wide(it->path().string()), it->is_directory());
#endif
  return tree;
}

std::optional<nlohmann::json> result_file(const std::wstring& path, const std::string& name) {
  const std::optional<std::string> text = content(path);
  if (!text) return std::nullopt;
  fs::create_directories("update-results");
  std::ofstream(fs::path("update-results") / (name + ".json"), std::ios::binary) << *text;
  return nlohmann::json::parse(*text, nullptr, false);
}

std::optional<std::vector<std::string>> log_texts(const std::wstring& log_path) {
  const std::optional<std::string> text = content(log_path);
  if (!text) return std::nullopt;
  static const std::regex line(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] ([^\r\n]*)\r\n)");
  std::vector<std::string> texts;
  auto at = text->cbegin();
  for (std::smatch m; at != text->cend() && std::regex_search(at, text->cend(), m, line,
                                                               std::regex_constants::match_continuous);
       at = m[0].second)
    texts.push_back(m[1]);
  return at == text->cend() ? std::optional(texts) : std::nullopt;
}

Installation::Installation(const std::wstring& root_name)
    : root(temp / root_name), data_dir(root + L"\\.korvanta"), state_path(data_dir + L"\\update-state.json"),
      staging(data_dir + L"\\staging\\build-2"), backup(data_dir + L"\\backup\\build-1"),
      manifest(data_dir + L"\\build-manifest.json"), log(data_dir + L"\\logs\\updater.log") {
  state = {{"install_root", utf8(root)}, {"manifest_path", utf8(manifest)}, {"backup_root", utf8(backup)},
           {"staging_root", utf8(data_dir + L"\\staging")}, {"deletions", nlohmann::json::array()},
           {"replacements", nlohmann::json::array()},
           {"manifest",
            {{"id", "build-2"}, {"id_mod", "mod-7"}, {"channel", "stable"}, {"version", "2.0.0"},
             {"status", "published"}, {"manifest_hash", "abc"}, {"total_size", 0},
             {"files", nlohmann::json::array()}}}};
  write_file(temp / L"outside\\keep.txt", "outside");
}

void Installation::install(const std::wstring& relative, const std::string& bytes) const {
  write_file(installed_path(relative), bytes);
}

void Installation::replace(const std::wstring& relative, const std::string& bytes) {
  write_file(staged_path(relative), bytes);
  state["replacements"].push_back({{"path", utf8(relative)}, {"staged_path", utf8(staged_path(relative))},
                                   {"size", bytes.size()}, {"sha256", sha256_of(bytes)}});
}

void Installation::write_state() const { write_file(state_path, state.dump(2)); }

std::string Installation::lost_files(const Tree& before, const Tree& after) const {
  const std::string root_key = relative_to(temp.path(), root) + "/";
  const std::string backup_key = relative_to(temp.path(), backup) + "/";
  // The file system compares names without regard to ASCII case.
  Tree found;
  for (const auto& [key, bytes] : after) found[to_lower_ascii(key)] = bytes;
  const auto holds = [&](const std::string& key, const std::string& bytes) {
    const auto it = found.find(to_lower_ascii(key));
    return it != found.end() && it->second == bytes;
  };
  for (const auto& [key, bytes] : before) {
    if (key.rfind(root_key, 0) != 0) {
      if (!holds(key, bytes)) return key + " outside the installation changed";
    } else if (bytes != "<dir>" && key.rfind(root_key + ".korvanta/", 0) != 0) {
      const std::string relative = key.substr(root_key.size());
      if (!holds(key, bytes) && !holds(backup_key + relative, bytes)) return "the old " + relative + " is lost";
    }
  }
  for (const auto& [key, bytes] : after)
    if (key.rfind(root_key, 0) != 0 && before.count(key) == 0) return key + " appeared outside the installation";
  // The state's replacements are the fixture's own, or none.
  for (const auto& entry : state.value("replacements", nlohmann::json::array())) {
    const std::wstring staged = wide(entry["staged_path"].get<std::string>());
    if (staged.rfind(temp.path() + L"\\", 0) != 0) continue;
    const auto was = before.find(relative_to(temp.path(), staged));
    if (was == before.end() || was->second == "<dir>") continue;
    const auto path = normalize_relative_path(entry["path"].get<std::string>());
    if (!holds(was->first, was->second) && !(path && holds(root_key + *path, was->second)))
      return "the staged " + was->first + " is lost";
  }
  return "";
}

}  // namespace korvanta::testing

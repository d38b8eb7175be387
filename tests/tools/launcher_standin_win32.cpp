// Test stand-in for the platform's launcher, in two roles.
//
//   launcher_standin.exe prepare-and-start <scenario.json>
//     Builds an installation of build 1, stages build 2 under
//     .korvanta\staging, writes .korvanta\update-state.json with the new
//     build's manifest, starts KorvantaUpdater.exe as the launcher does
//     (--state, --parent-pid <own pid>, --show-ui, --product-name, --restart
//     <launcher> -- record <record file> <arguments...>), optionally lingers,
//     and exits. Exit code 0 once the updater has been started.
//
//   launcher_standin.exe record <output.json> [arguments...]
//     The restarted launcher: writes {"args": [...arguments...], "cwd": "..."}
//     (UTF-8) to a temporary file and moves it into place.
//
// The scenario (UTF-8 JSON, every key optional but "install_root"):
//   "install_root"   the installation to build (absolute)
//   "installed"      {relative path: content} of build 1; a path ending in "/"
//                    is made a directory
//   "deletions"      [relative path] as written to the state file
//   "replacements"   [{"path", "content", optional "staged_file" (relative to
//                    the installation root; default the path under the staging
//                    root), "size", "sha256" (defaults: the content's)}]
//   "staging_root", "backup_root"   below .korvanta (default staging\build-2,
//                    backup\build-1)
//   "state"          JSON merge patch applied to the state document
//   "state_text"     the state file's text instead of the document
//   "state_arg"      the "--state" value instead of the state file's path
//   "product_name"   (default "Korvanta Shop"); "show_ui" (default true)
//   "restart"        "self" (default), "install" (a copy of this program at
//                    <install_root>\launcher.exe), "none", or a path as given
//   "record"         the record file of the restarted instance
//   "restart_args"   arguments after "record <file>"
//   "updater"        KorvantaUpdater.exe (default: beside this program)
//   "report"         a file that receives {"pid": updater pid, "handle": a
//                    handle of the updater process duplicated into the
//                    process "report_to_pid"}, written before this program
//                    exits, so the caller can collect the exit code without
//                    a race
//   "linger_ms"      how long to keep running after starting the updater
// A content is a string, or {"text": t, "repeat": n} for t repeated n times.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/restart.h"
#include "manifest/sha256.h"
#include "platform/handle_win32.h"
#include "platform/path_text.h"
#include "platform/text.h"

namespace {

using nlohmann::json;
using korvanta::platform::UniqueHandle;
using korvanta::platform::utf8_to_wide;
using korvanta::platform::wide_to_utf8;
namespace path_text = korvanta::platform::path_text;

// The form of a path that the file functions accept beyond MAX_PATH: the
// scenario may build an installation deeper than the updater can reach, and
// must not fail doing so itself.
std::wstring extended(const std::wstring& path) {
  if (path.size() < 240 || path.rfind(L"\\\\", 0) == 0) return path;
  std::wstring out = L"\\\\?\\" + path;
  for (wchar_t& c : out)
    if (c == L'/') c = L'\\';
  return out;
}

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

void make_directories(const std::wstring& dir) {
  if (dir.empty()) return;
  const DWORD attributes = GetFileAttributesW(extended(dir).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  const std::wstring parent = path_text::parent_path(dir);
  if (parent != dir) make_directories(parent);
  if (!CreateDirectoryW(extended(dir).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    fail("cannot create directory " + wide_to_utf8(dir) + ", error " + std::to_string(GetLastError()));
}

void write_bytes(const std::wstring& path, const std::string& bytes) {
  make_directories(path_text::parent_path(path));
  UniqueHandle file(
      CreateFileW(extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) fail("cannot create " + wide_to_utf8(path) + ", error " + std::to_string(GetLastError()));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) || written == 0)
      fail("cannot write " + wide_to_utf8(path));
    done += written;
  }
}

std::string read_bytes(const std::wstring& path) {
  UniqueHandle file(CreateFileW(extended(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) fail("cannot open " + wide_to_utf8(path));
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  return bytes;
}

// Atomically: a reader polling for the file never sees half of it.
void publish(const std::wstring& path, const std::string& bytes) {
  const std::wstring temporary = path + L".tmp";
  write_bytes(temporary, bytes);
  if (!MoveFileExW(extended(temporary).c_str(), extended(path).c_str(), MOVEFILE_REPLACE_EXISTING))
    fail("cannot move " + wide_to_utf8(temporary) + " into place");
}

std::string content_of(const json& spec) {
  if (spec.is_string()) return spec.get<std::string>();
  const std::string text = spec.at("text").get<std::string>();
  std::string out;
  const auto repeat = spec.at("repeat").get<std::size_t>();
  out.reserve(text.size() * repeat);
  for (std::size_t i = 0; i < repeat; ++i) out += text;
  return out;
}

std::string sha256_of(const std::string& bytes) {
  korvanta::Sha256 hasher;
  hasher.update(bytes.data(), bytes.size());
  return hasher.final_hex();
}

// A relative path of the scenario ("/" or "\") under a root.
std::wstring under(const std::wstring& root, const std::string& relative) {
  std::wstring tail = utf8_to_wide(relative);
  for (wchar_t& c : tail)
    if (c == L'/') c = L'\\';
  return path_text::join(root, tail);
}

std::wstring own_path() {
  std::wstring buffer(32768, L'\0');
  buffer.resize(GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size())));
  return buffer;
}

int prepare_and_start(const std::wstring& scenario_path) {
  const json scenario = json::parse(read_bytes(scenario_path));
  const std::wstring root = utf8_to_wide(scenario.at("install_root").get<std::string>());
  const std::wstring data_dir = root + L"\\.korvanta";
  const std::wstring staging_root = under(data_dir, scenario.value("staging_root", "staging\\build-2"));
  const std::wstring backup_root = under(data_dir, scenario.value("backup_root", "backup\\build-1"));
  const std::wstring state_path = data_dir + L"\\update-state.json";

  // Build 1.
  make_directories(root);
  const json installed = scenario.value("installed", json::object());
  for (const auto& [relative, content] : installed.items()) {
    if (!relative.empty() && relative.back() == '/') {
      make_directories(under(root, relative));
    } else {
      write_bytes(under(root, relative), content_of(content));
    }
  }

  // Build 2, staged, and its manifest.
  json replacements = json::array();
  json files = json::array();
  std::uint64_t total = 0;
  for (const json& entry : scenario.value("replacements", json::array())) {
    const std::string relative = entry.at("path").get<std::string>();
    const std::string content = content_of(entry.at("content"));
    const std::wstring staged =
        entry.contains("staged_file") ? under(root, entry["staged_file"].get<std::string>()) : under(staging_root, relative);
    write_bytes(staged, content);
    const std::string digest = sha256_of(content);
    replacements.push_back({{"path", relative},
                            {"staged_path", wide_to_utf8(staged)},
                            {"size", entry.value("size", json(content.size()))},
                            {"sha256", entry.value("sha256", digest)}});
    files.push_back({{"path", relative}, {"size", content.size()}, {"sha256", digest}});
    total += content.size();
  }
  json state = {{"install_root", wide_to_utf8(root)},
                {"manifest_path", wide_to_utf8(data_dir + L"\\build-manifest.json")},
                {"backup_root", wide_to_utf8(backup_root)},
                {"staging_root", wide_to_utf8(staging_root)},
                {"deletions", scenario.value("deletions", json::array())},
                {"replacements", replacements},
                {"manifest",
                 {{"id", "build-2"},
                  {"id_mod", "korvanta-shop"},
                  {"channel", "stable"},
                  {"version", "2.0.0"},
                  {"status", "published"},
                  {"manifest_hash", "stand-in"},
                  {"total_size", total},
                  {"files", files}}}};
  if (scenario.contains("state")) state.merge_patch(scenario["state"]);
  write_bytes(state_path, scenario.contains("state_text") ? scenario["state_text"].get<std::string>() : state.dump(2));

  // The updater's command line, as the launcher builds it.
  const std::wstring self = own_path();
  const std::wstring updater = scenario.contains("updater")
                                   ? utf8_to_wide(scenario["updater"].get<std::string>())
                                   : path_text::join(path_text::parent_path(self), L"KorvantaUpdater.exe");
  std::vector<std::wstring> args = {
      L"--state",
      scenario.contains("state_arg") ? utf8_to_wide(scenario["state_arg"].get<std::string>()) : state_path,
      L"--parent-pid", std::to_wstring(GetCurrentProcessId())};
  if (scenario.value("show_ui", true)) args.push_back(L"--show-ui");
  args.push_back(L"--product-name");
  args.push_back(utf8_to_wide(scenario.value("product_name", "Korvanta Shop")));
  const std::string restart = scenario.value("restart", "self");
  if (restart != "none") {
    std::wstring launcher = self;
    if (restart == "install") {
      launcher = root + L"\\launcher.exe";
      if (!CopyFileW(extended(self).c_str(), extended(launcher).c_str(), FALSE)) fail("cannot copy the launcher");
    } else if (restart != "self") {
      launcher = utf8_to_wide(restart);
    }
    args.insert(args.end(), {L"--restart", launcher, L"--", L"record",
                             utf8_to_wide(scenario.value("record", wide_to_utf8(root + L".record.json")))});
    for (const json& arg : scenario.value("restart_args", json::array())) args.push_back(utf8_to_wide(arg.get<std::string>()));
  }

  std::wstring command_line = korvanta::build_command_line(updater, args);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    std::fprintf(stderr, "cannot start the updater, error %lu\n", GetLastError());
    return 3;
  }
  CloseHandle(info.hThread);
  const UniqueHandle process(info.hProcess);

  if (scenario.contains("report")) {
    json report = {{"pid", info.dwProcessId}, {"handle", 0}};
    if (scenario.contains("report_to_pid")) {
      const UniqueHandle target(OpenProcess(PROCESS_DUP_HANDLE, FALSE, scenario["report_to_pid"].get<DWORD>()));
      HANDLE duplicate = nullptr;
      if (!target || !DuplicateHandle(GetCurrentProcess(), process.get(), target.get(), &duplicate,
                                      SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE, 0))
        fail("cannot hand the updater's process to the caller");
      report["handle"] = reinterpret_cast<std::uintptr_t>(duplicate);
    }
    publish(utf8_to_wide(scenario["report"].get<std::string>()), report.dump());
  }
  Sleep(scenario.value("linger_ms", 0u));
  return 0;
}

int record(int argc, wchar_t** argv) {
  json out = {{"args", json::array()}};
  for (int i = 3; i < argc; ++i) out["args"].push_back(wide_to_utf8(argv[i]));
  std::wstring cwd(32768, L'\0');
  cwd.resize(GetCurrentDirectoryW(static_cast<DWORD>(cwd.size()), cwd.data()));
  out["cwd"] = wide_to_utf8(cwd);
  publish(argv[2], out.dump());
  return 0;
}

}  // namespace

int wmain() {
  // The system's own splitting, as the restarted launcher would see it.
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 3) {
    std::fprintf(stderr, "usage: launcher_standin prepare-and-start <scenario.json> | record <output.json> [args...]\n");
    return 1;
  }
  try {
    const std::wstring role = argv[1];
    if (role == L"prepare-and-start") return prepare_and_start(argv[2]);
    if (role == L"record") return record(argc, argv);
    std::fprintf(stderr, "unknown role\n");
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "launcher_standin: %s\n", e.what());
    return 2;
  }
}

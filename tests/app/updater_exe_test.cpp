// The real KorvantaUpdater.exe, started as the launcher starts it: one run per
// outcome a launcher sees.
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include "app/restart.h"
#include "platform/handle_win32.h"
#include "support/test_support.h"
#include "ui/progress_window.h"

namespace korvanta {
namespace {

// A program in a job of its own, so that what it starts in turn is counted
// and waited for too.
struct Started {
  explicit Started(const std::vector<std::wstring>& args, const std::wstring& tool = L"KorvantaUpdater") {
    std::wstring line = build_command_line(testing::tool_path(tool), args);
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION info{};
    CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup, &info);
    process.reset(info.hProcess);
    AssignProcessToJobObject(job.get(), info.hProcess);
    ResumeThread(platform::UniqueHandle(info.hThread).get());
  }
  bool running(DWORD ms = 10) const { return WaitForSingleObject(process.get(), ms) == WAIT_TIMEOUT; }
  // Waits (a minute at most) until the program and all it started have ended.
  std::string finish() const {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION jobs{};
    for (int i = 0; i < 6000 && QueryInformationJobObject(job.get(), JobObjectBasicAccountingInformation, &jobs,
                                                          sizeof jobs, nullptr) && jobs.ActiveProcesses != 0; ++i)
      Sleep(10);
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    return "exit " + std::to_string(code) + ", processes " + std::to_string(jobs.TotalProcesses);
  }

  platform::UniqueHandle job{CreateJobObjectW(nullptr, nullptr)}, process;
};

// The log after one more run with this ending.
std::vector<std::string> log_of(const testing::Installation& install, const std::vector<std::string>& ending,
                                std::vector<std::string> log = {}) {
  log.insert(log.end(), {"----- Korvanta updater started -----", "State file: " + testing::utf8(install.state_path),
                         "Waiting for the launcher to close", "Applying update"});
  log.insert(log.end(), ending.begin(), ending.end());
  return log;
}

testing::Tree without_log(testing::Tree tree) {
  std::erase_if(tree, [](const auto& entry) {
    return entry.first.find(".korvanta/logs") != std::string::npos || entry.first.ends_with("update-result.json");
  });
  return tree;
}

// What a launcher finds in the updater lock, opened as the guide says.
std::string lock_holder(const std::wstring& path) {
  const platform::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                                FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
  char text[16];
  DWORD read = 0;
  return file && ReadFile(file.get(), text, sizeof text, &read, nullptr) ? std::string(text, read) : "";
}

// The result but its times, whose form the schema check validates.
std::string summary(std::optional<nlohmann::json> result) {
  if (result) result->erase("start_time"), result->erase("end_time");
  return result.value_or(nullptr).dump();
}

// The closing launcher holds readme.txt open for reading only, as a running
// program holds its files: an update that did not wait for it to end would
// fail to replace it. A second updater, started meanwhile, must leave it all
// to the first. The state file is read-only, and must go all the same.
TEST(UpdaterExe, WaitsForTheLauncherToEndThenInstallsTheUpdateAndRestartsIt) {
  testing::Installation install(L"Caf\u00e9 \u6f22\u5b57");
  install.install(L"readme.txt", "build 1");
  install.install(L"old.txt", "old");
  install.remove(L"old.txt");
  install.replace(L"readme.txt", "build 2");
  install.replace(L"mods/new/a.txt", "new");
  install.write_state();
  SetFileAttributesW(install.state_path.c_str(), FILE_ATTRIBUTE_READONLY);
  const std::wstring launcher = install.installed_path(L"launcher.exe"), ready = install.temp / L"ready";
  ASSERT_TRUE(CopyFileW(testing::tool_path(L"arg_echo").c_str(), launcher.c_str(), TRUE));
  const Started closing({install.installed_path(L"readme.txt"), ready, ready + L"!"}, L"hold_file");
  while (testing::content(ready).value_or("").empty() && closing.running()) continue;
  const testing::Tree before = testing::snapshot(install.temp.path());

  const std::vector<std::wstring> line = {
      L"--state", install.state_path, L"--parent-pid", testing::wide(*testing::content(ready)), L"--product-name",
      L"Shop", L"--restart", launcher, L"--", install.temp / L"received.json", L"with space", L"say \"hi\"",
      L"C:\\dir\\", L"", L"a\\\\\"b\\\\"};
  const Started run(line);
  while (testing::log_texts(install.log).value_or(std::vector<std::string>()).size() < 3 && run.running()) continue;
  // It says it waits: a second in which an updater that went on would have
  // failed on the held file and ended.
  EXPECT_TRUE(run.running(1000)) << "it should be waiting";
  EXPECT_EQ(lock_holder(install.data_dir + L"\\updater.lock"), std::to_string(GetProcessId(run.process.get())));
  EXPECT_EQ(Started({L"--state", install.state_path, L"--restart", launcher}).finish(), "exit 3, processes 1");
  EXPECT_FALSE(testing::content(install.data_dir + L"\\update-result.json"));
  testing::Tree waiting = without_log(testing::snapshot(install.temp.path()));
  EXPECT_EQ(waiting.erase(testing::utf8(L"Caf\u00e9 \u6f22\u5b57/.korvanta/updater.lock")), 1u);
  EXPECT_EQ(waiting, before);
  testing::write_file(ready + L"!", "");
  EXPECT_EQ(closing.finish(), "exit 0, processes 1");
  EXPECT_EQ(run.finish(), "exit 0, processes 2");

  nlohmann::json received = {{"args", nlohmann::json::array()}, {"cwd", testing::utf8(install.root)}};
  for (auto arg = line.begin() + 10; arg != line.end(); ++arg) received["args"].push_back(testing::utf8(*arg));
  EXPECT_EQ(testing::content(install.temp / L"received.json"), received.dump());
  std::vector<std::string> log = log_of(install, {"Restarting Shop", "Update complete"});
  log.insert(log.begin() + 3, {log[0], log[1], "Failed entry: state file", "Apply failed: update_already_running",
                               "The update could not be applied"});  // the second updater's, during the wait
  EXPECT_EQ(testing::log_texts(install.log), log);
  EXPECT_EQ(summary(testing::result_file(install.data_dir + L"\\update-result.json", "exe-0")),
            R"({"already_installed":0,"build":{"id":"build-2","version":"2.0.0"},"deleted":1,"exit_code":0,)"
            R"("failed_entry":null,"outcome":"installed","reason":null,"replaced":2,"state_file_left":false})");
  EXPECT_EQ(nlohmann::json::parse(testing::content(install.manifest).value_or("{}")).value("id", ""), "build-2");
  EXPECT_EQ(without_log(testing::snapshot(install.root)), (testing::Tree{
      {".korvanta", "<dir>"}, {".korvanta/backup", "<dir>"}, {".korvanta/backup/build-1", "<dir>"},
      {".korvanta/backup/build-1/readme.txt", "build 1"}, {"launcher.exe", testing::content(launcher).value_or("")},
      {".korvanta/backup/build-1/old.txt", "old"},
      {".korvanta/build-manifest.json", testing::content(install.manifest).value_or("")}, {"mods", "<dir>"},
      {"mods/new", "<dir>"}, {"mods/new/a.txt", "new"}, {"readme.txt", "build 2"}}));
}

// Exit 2, then 3 on a staged file of another digest, then, restaged, 4 for a
// launcher that cannot be started.
TEST(UpdaterExe, FailuresChangeOnlyWhatTheyShouldAndRestartNothing) {
  testing::Installation install;
  install.install(L"readme.txt", "build 1");
  install.replace(L"readme.txt", "build 2");
  testing::write_file(install.staged_path(L"readme.txt"), "build X");
  install.write_state();
  const testing::Tree before = testing::snapshot(install.temp.path());
  std::vector<std::wstring> line = {L"--parent-pid", L"launcher", L"--state", install.state_path, L"--restart",
                                    testing::tool_path(L"arg_echo"), L"--", install.temp / L"received.json"};
  EXPECT_EQ(Started(line).finish(), "exit 2, processes 1");
  EXPECT_EQ(testing::snapshot(install.temp.path()), before);

  line.erase(line.begin(), line.begin() + 2);
  EXPECT_EQ(Started(line).finish(), "exit 3, processes 1");
  const auto failed = log_of(install, {"Failed entry: /replacements/0 \"readme.txt\"",
                                       "Apply failed: staged_file_hash_mismatch", "The update could not be applied"});
  EXPECT_EQ(testing::log_texts(install.log), failed);
  EXPECT_EQ(without_log(testing::snapshot(install.temp.path())), before);
  EXPECT_EQ(summary(testing::result_file(install.data_dir + L"\\update-result.json", "exe-3")),
            R"({"already_installed":0,"build":null,"deleted":0,"exit_code":3,"failed_entry":{"path":"readme.txt",)"
            R"("place":"/replacements/0","windows_error":null},"outcome":"failed",)"
            R"("reason":"staged_file_hash_mismatch","replaced":0,"state_file_left":true})");

  testing::write_file(install.staged_path(L"readme.txt"), "build 2");
  line[3] = install.temp / L"missing\\launcher.exe";
  EXPECT_EQ(Started(line).finish(), "exit 4, processes 1");
  EXPECT_EQ(testing::content(install.installed_path(L"readme.txt")), "build 2");
  EXPECT_EQ(testing::log_texts(install.log),
            log_of(install, {"Restarting Project", "Restart failed", "Update installed, but restart failed"}, failed));
  EXPECT_EQ(summary(testing::result_file(install.data_dir + L"\\update-result.json", "exe-4")),
            R"({"already_installed":0,"build":{"id":"build-2","version":"2.0.0"},"deleted":0,"exit_code":4,)"
            R"("failed_entry":null,"outcome":"installed_restart_failed","reason":null,"replaced":1,)"
            R"("state_file_left":false})");
}

// The window's client area as the screen shows it.
// The client area (width x height) of a window as the screen shows it, row
// by row, each pixel 0xRRGGBB; nothing once the window is gone.
std::vector<std::uint32_t> picture(HWND window, int width, int height) {
  POINT origin{};
  std::vector<std::uint32_t> pixels(std::size_t(width) * height);
  BITMAPINFO info{{sizeof(BITMAPINFOHEADER), width, -height, 1, 32}};
  const gdi::WindowDc screen(nullptr);
  const gdi::MemoryDc memory(screen.get());
  const gdi::Bitmap bitmap(CreateCompatibleBitmap(screen.get(), width, height));
  if (const gdi::Selection selection(memory.get(), bitmap.get());
      !ClientToScreen(window, &origin) ||
      !BitBlt(memory.get(), 0, 0, width, height, screen.get(), origin.x, origin.y, SRCCOPY))
    return {};
  GetDIBits(memory.get(), bitmap.get(), 0, height, pixels.data(), &info, DIB_RGB_COLORS);
  for (std::uint32_t& pixel : pixels) pixel &= 0xffffff;
  return pixels;
}

// Two moments of one update, each while a scanner holds a staged file: the
// fill runs from the track's left edge, further the second time, with a
// percentage beside the detail.
TEST(UpdaterExe, ShowsTheUpdateGrowInItsWindow) {
  testing::Installation install;
  for (const wchar_t* name : {L"a.pak", L"held-1.pak", L"b.pak", L"held-2.pak"}) install.replace(name, "new");
  install.write_state();
  std::vector<std::unique_ptr<Started>> scanners;
  for (const std::wstring name : {L"held-1.pak", L"held-2.pak"}) {
    const std::wstring ready = install.temp / (name + L".ready");
    scanners.push_back(std::make_unique<Started>(std::vector{install.staged_path(name), ready, ready + L"!"}, L"hold_file"));
    while (testing::content(ready).value_or("").empty() && scanners.back()->running()) continue;
  }
  const Started run({L"--state", install.state_path, L"--show-ui"});
  HWND window = nullptr;
  ASSERT_TRUE(testing::eventually([&] { return (window = FindWindowW(kWindowClassName, nullptr)) != nullptr; }));
  RECT client{};
  GetClientRect(window, &client);
  const int w = client.right, dpi = GetDeviceCaps(gdi::WindowDc(nullptr).get(), LOGPIXELSX);
  const FrameLayout l = frame_layout(w, client.bottom, dpi);
  const auto rgb = [](Colour c) { return std::uint32_t(c.red) << 16 | c.green << 8 | c.blue; };
  int before = l.margin + scale(8, dpi);  // the stub of 0%
  for (const std::wstring held : {L"held-1.pak", L"held-2.pak"}) {
    ASSERT_TRUE(testing::eventually([&] {
      const std::vector<std::uint32_t> p = picture(window, w, client.bottom);
      int end = l.margin;
      bool percentage = false;
      while (!p.empty() && end < l.track.right && p[(l.track.top + l.track.bottom) / 2 * w + end] == rgb(colours::kAccent))
        ++end;
      for (int y = l.percentage.top; !p.empty() && y < l.percentage.bottom; ++y)
        for (int x = l.percentage.left; x < l.percentage.right; ++x) percentage |= p[y * w + x] != rgb(colours::kBackground);
      return percentage && end > before && (before = end);
    })) << testing::utf8(held) << ", after a fill to " << before;
    testing::write_file(install.temp / (held + L".ready!"), "");
  }
  EXPECT_EQ(run.finish(), "exit 0, processes 1");
  EXPECT_EQ(testing::content(install.installed_path(L"held-2.pak")), "new");
}

}  // namespace
}  // namespace korvanta
#endif

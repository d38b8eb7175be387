#include "platform/process.h"

#include <windows.h>

#include <vector>

#include "platform/handle_win32.h"

namespace korvanta::platform {

void wait_for_process_exit(std::uint32_t pid) {
  const UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
  if (!process) return;
  WaitForSingleObject(process.get(), INFINITE);
}

bool start_process(const std::wstring& command_line, const std::wstring& working_directory) {
  // CreateProcessW may write into the command line, so it gets a copy.
  std::vector<wchar_t> buffer(command_line.begin(), command_line.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  // An empty directory is refused (ERROR_DIRECTORY), which would make a bare
  // launcher name impossible to start.
  const wchar_t* directory = working_directory.empty() ? nullptr : working_directory.c_str();
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, directory, &startup, &info)) {
    return false;
  }
  UniqueHandle thread(info.hThread);
  UniqueHandle process(info.hProcess);
  thread.reset();
  process.reset();
  return true;
}

void sleep_milliseconds(unsigned milliseconds) { Sleep(milliseconds); }

std::uint32_t current_process_id() { return GetCurrentProcessId(); }

}  // namespace korvanta::platform

// Test stand-in for a restarted launcher: records the arguments it received
// (as the system splits its command line) and its working directory.
//   arg_echo.exe <output.json> [arguments...]
// The record is {"args": [...every argument after the output path...],
// "cwd": "..."} in UTF-8, written to a temporary file first and then moved
// into place, so a reader never sees half of it.
#include <windows.h>
#include <shellapi.h>

#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/text.h"

int wmain() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 2) return 1;
  nlohmann::json record;
  record["args"] = nlohmann::json::array();
  for (int i = 2; i < argc; ++i) record["args"].push_back(korvanta::platform::wide_to_utf8(argv[i]));
  wchar_t cwd[MAX_PATH * 4];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH * 4, cwd);
  record["cwd"] = korvanta::platform::wide_to_utf8(std::wstring(cwd, length));
  const std::wstring target = argv[1];
  const std::wstring temporary = target + L".tmp";
  {
    std::ofstream out(temporary.c_str(), std::ios::binary | std::ios::trunc);
    out << record.dump();
    if (!out) return 1;
  }
  const bool moved = MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
  LocalFree(argv);
  return moved ? 0 : 1;
}

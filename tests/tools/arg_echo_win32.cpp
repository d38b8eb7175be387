// Test stand-in for a restarted launcher: records the arguments it received,
// as the system splits its command line, and its working directory.
//   arg_echo.exe <record.json> [arguments...]
// The record is {"args": [every argument after the record's path], "cwd": "..."}
// in UTF-8.
#include <windows.h>
#include <shellapi.h>
#include <direct.h>

#include <fstream>

#include <nlohmann/json.hpp>

#include "platform/text.h"

using korvanta::platform::wide_to_utf8;

int wmain() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 2) return 1;
  nlohmann::json record = {{"args", nlohmann::json::array()}, {"cwd", wide_to_utf8(_wgetcwd(nullptr, 0))}};
  for (int i = 2; i < argc; ++i) record["args"].push_back(wide_to_utf8(argv[i]));
  return (std::ofstream(argv[1], std::ios::binary) << record.dump()) ? 0 : 1;
}

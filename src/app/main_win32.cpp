// Process entry of KorvantaUpdater.exe: split the wide command line and run.
#include <windows.h>
#include <shellapi.h>

#include "app/run.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return static_cast<int>(korvanta::ExitCode::kUsage);
  const int result = korvanta::run_updater(argc, argv);
  LocalFree(argv);
  return result;
}

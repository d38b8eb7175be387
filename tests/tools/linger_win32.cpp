// Test stand-in for a launcher that is still closing: sleeps for the given
// number of milliseconds, then exits. With a second argument it first writes
// its process id there (for scripts, which cannot learn it otherwise).
//   linger.exe <milliseconds> [pid-file]
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  const unsigned long ms = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 1000;
  if (argc > 2) {
    if (std::FILE* file = _wfopen(argv[2], L"wb")) {
      std::fprintf(file, "%lu", static_cast<unsigned long>(GetCurrentProcessId()));
      std::fclose(file);
    }
  }
  Sleep(static_cast<DWORD>(ms));
  return 0;
}

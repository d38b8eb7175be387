// Test stand-in for a launcher that is still closing: sleeps for the given
// number of milliseconds, then exits.
//   linger.exe <milliseconds>
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  const unsigned long ms = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 1000;
  Sleep(static_cast<DWORD>(ms));
  return 0;
}

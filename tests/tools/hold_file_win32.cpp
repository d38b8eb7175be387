// Test stand-in for another program that keeps a file open and lets others
// only read it: opens the file for reading with FILE_SHARE_READ alone,
// creates the ready marker, then waits until the release file appears (or
// the time-out passes) and exits.
//   hold_file.exe <file> <ready marker> <release file> [timeout ms]
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  const DWORD timeout = argc > 4 ? std::wcstoul(argv[4], nullptr, 10) : 30000;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return 3;
  HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 4;
  CloseHandle(ready);
  const ULONGLONG deadline = GetTickCount64() + timeout;
  while (GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < deadline) Sleep(10);
  CloseHandle(file);
  return 0;
}

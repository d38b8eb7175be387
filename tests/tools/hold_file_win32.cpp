// Test stand-in for a program that keeps a file open and lets others only
// read it, as a running launcher holds its own files: opens the file for
// reading with FILE_SHARE_READ alone, writes its process id to the ready
// marker, then waits until the release file appears (a minute at most).
//   hold_file.exe <file> <ready marker> <release file>
#include <windows.h>

#include <cstdio>

int wmain(int, wchar_t** argv) {
  const HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  std::FILE* ready = _wfopen(argv[2], L"wb");
  if (file == INVALID_HANDLE_VALUE || ready == nullptr) return 3;
  std::fprintf(ready, "%lu", GetCurrentProcessId());
  std::fclose(ready);
  for (int i = 0; i < 6000 && GetFileAttributesW(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
  return 0;
}

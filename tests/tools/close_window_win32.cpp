// Asks the progress window to close, as a user's click on its close box does.
//   close_window.exe [seconds to wait for the window, default 30]
// Exits 0 once WM_CLOSE has been posted, 1 when no window appeared in time.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  const unsigned long seconds = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 30;
  for (unsigned long waited = 0; waited < seconds * 20; ++waited) {
    if (HWND window = FindWindowW(L"KorvantaPatcherWindowV2", nullptr)) {
      PostMessageW(window, WM_CLOSE, 0, 0);
      return 0;
    }
    Sleep(50);
  }
  return 1;
}

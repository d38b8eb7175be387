#pragma once
// Waiting out another program's short hold on a file (Windows code only).
#include <windows.h>

#include <algorithm>

namespace korvanta::platform {

// How long one file operation keeps trying while the file is held.
inline constexpr ULONGLONG kLockRetryMs = 5000;

// Antivirus scanners, search indexers and backup tools open a freshly
// written file for a moment without sharing it for writing or deletion; the
// launcher's staged files are the usual victims. Runs attempt (a callable
// that returns a Win32 error code, ERROR_SUCCESS when it worked) again while
// it fails with a sharing or lock violation, pausing a little longer each
// time, for at most kLockRetryMs; returns the last result. Any other result
// returns at once, but also_held: an error that means a hold for this call.
template <class Attempt>
DWORD retry_while_locked(Attempt attempt, DWORD also_held = ERROR_SHARING_VIOLATION) {
  const ULONGLONG deadline = GetTickCount64() + kLockRetryMs;
  ULONGLONG pause = 20;
  for (;;) {
    const DWORD result = attempt();
    const ULONGLONG now = GetTickCount64();
    const bool held = result == ERROR_SHARING_VIOLATION || result == ERROR_LOCK_VIOLATION || result == also_held;
    if (!held || now >= deadline) return result;
    Sleep(static_cast<DWORD>(std::min(pause, deadline - now)));
    pause = std::min<ULONGLONG>(pause * 2, 500);
  }
}

}  // namespace korvanta::platform

#pragma once
// Waiting out another program's short hold on a file (Windows code only).
#include <windows.h>

#include <algorithm>

#include "platform/held_file_wait.h"

namespace korvanta::platform {

// How long one file operation keeps trying while the file is held.
inline constexpr ULONGLONG kLockRetryMs = 5000;

// Antivirus scanners, search indexers and backup tools open a freshly
// written file for a moment without sharing it for writing or deletion; the
// launcher's staged files are the usual victims. Runs attempt (a callable
// that returns a Win32 error code, ERROR_SUCCESS when it worked) again while
// it fails with a sharing or lock violation, pausing a little longer each
// time through the thread's held_file_wait(), for at most kLockRetryMs;
// returns the last result. Any other result returns at once, but also_held:
// an error that means a hold for this call.
template <class Attempt>
DWORD retry_while_locked(Attempt attempt, DWORD also_held = ERROR_SHARING_VIOLATION) {
  HeldFileWait& wait = held_file_wait();
  const ULONGLONG start = GetTickCount64();
  ULONGLONG pause = 20, paused = 0;
  for (;;) {
    const DWORD result = attempt();
    // A wait that does not sleep (a test's) still reaches the bound by the
    // pauses it was asked for.
    const ULONGLONG waited = std::max(GetTickCount64() - start, paused);
    const bool held = result == ERROR_SHARING_VIOLATION || result == ERROR_LOCK_VIOLATION || result == also_held;
    if (!held || waited >= kLockRetryMs) {
      if (paused > 0) wait.ended();
      return result;
    }
    const ULONGLONG ms = std::min(pause, kLockRetryMs - waited);
    wait.pause(static_cast<std::uint32_t>(ms), waited);
    paused += ms;
    pause = std::min<ULONGLONG>(pause * 2, 500);
  }
}

}  // namespace korvanta::platform

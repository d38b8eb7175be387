#include "ui/progress_status.h"

namespace korvanta {

// The window exists only in the Windows build.
WindowFactory default_window_factory() {
  return [](std::wstring, std::wstring, bool) { return std::unique_ptr<StatusWindow>(); };
}

int run_preview(const std::wstring&) { return 0; }

}  // namespace korvanta

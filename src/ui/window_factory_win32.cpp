#include "ui/progress_status.h"

namespace korvanta {

// Placeholder until the progress window lands.
WindowFactory default_window_factory() {
  return [](std::wstring, std::wstring, bool) { return std::unique_ptr<StatusWindow>(); };
}

int run_preview(const std::wstring&) { return 0; }

}  // namespace korvanta

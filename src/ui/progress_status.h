#pragma once
// What the progress window shows, and the window as the rest of the updater
// sees it. Portable: the run and its log use these on every platform.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace korvanta {

// The name shown when the launcher gives none.
inline constexpr std::wstring_view kDefaultProductName = L"Project";

// Between a progress detail's path and its figures ("data\a.pak  /  72.4
// MiB of 106.0 MiB"): the window keeps the figures whole when the path must
// be shortened.
inline constexpr std::wstring_view kDetailSeparator = L"  /  ";

struct ProgressStatus {
  std::wstring badge = L"STARTING";
  std::wstring title = L"Checking for updates";
  std::wstring detail = L"Please wait while we prepare the update.";
  std::uint64_t done = 0;
  std::uint64_t total = 0;  // 0: no progress value, the bar moves on its own
  bool preview = false;
};

// A window that shows a status. show_status never waits for the window to
// repaint. Destroying the object closes the window and waits for its thread.
class StatusWindow {
 public:
  virtual ~StatusWindow() = default;
  virtual void show_status(ProgressStatus status) = 0;
};

// Creates a window with its caption, product name and whether the user may
// close it. May return null (no window on this platform); throws
// std::system_error when the window's thread cannot be started.
using WindowFactory = std::function<std::unique_ptr<StatusWindow>(
    std::wstring window_title, std::wstring product_name, bool allow_user_close)>;

// The platform's window: ProgressWindow on Windows, none on the host.
WindowFactory default_window_factory();

// Shows the sample download screen until the user closes it; returns the
// process exit code (0). Touches no file.
int run_preview(const std::wstring& product_name);

}  // namespace korvanta

#pragma once
// The progress window: a dark, custom-painted status window on a thread of
// its own, so that the main thread can block in the wait for the launcher and
// in file work while the window keeps animating (Windows code only).
//
// Threads:
// - main thread: constructor, show_status, wait_until_closed, destructor.
// - UI thread (`ui_thread_`): thread_main, every window message, paint. It
//   alone touches fonts_, dpi_ and frame_counter_ while it runs; the
//   destructor releases the fonts after joining it.
// - Shared: `status_` under `status_mutex_` (main writes, paint copies);
//   `ready_` under `ready_mutex_` (start handshake only); `hwnd_` (written by
//   the UI thread, read by both), `closing_` and `animated_` (written by
//   main) and `status_posted_` are atomic. No code holds two of the mutexes at once.
// The main thread reaches the window only by posting messages; it never
// sends one, so it never blocks on a busy UI thread.
#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "ui/frame_win32.h"
#include "ui/progress_status.h"

namespace korvanta {

inline constexpr wchar_t kWindowClassName[] = L"KorvantaPatcherWindowV2";
inline constexpr std::wstring_view kUpdaterCaptionSuffix = L" Updater";
inline constexpr std::wstring_view kPreviewCaptionSuffix = L" Updater - UI Preview";

// Private messages, always posted.
inline constexpr UINT MSG_STATUS_CHANGED = WM_APP + 0x51;  // the status changed: repaint
inline constexpr UINT MSG_CLOSE_WINDOW = WM_APP + 0x52;    // the owner closes the window
inline constexpr UINT MSG_SHOW_WINDOW = WM_APP + 0x53;     // wParam non-zero: show without activating; 0: hide

inline constexpr UINT_PTR ANIMATION_TIMER_ID = 1;
inline constexpr UINT kAnimationPeriodMs = 30;

class ProgressWindow final : public StatusWindow {
 public:
  // Starts the UI thread and returns once it has tried to create the window.
  // An empty product_name becomes "Project"; an empty window_title becomes
  // product_name + " Updater". allow_user_close says whether a close request
  // from the user (close box, Alt+F4, any WM_CLOSE) destroys the window.
  // A window that cannot be created leaves an inert object: statuses are
  // stored, nothing is shown, destruction returns at once. Throws
  // std::system_error when the thread cannot be started.
  ProgressWindow(std::wstring window_title, std::wstring product_name, bool allow_user_close);
  // The UI thread and the window hold the object's address.
  ProgressWindow(const ProgressWindow&) = delete;
  ProgressWindow& operator=(const ProgressWindow&) = delete;
  // Closes the window, waits for the UI thread to end, releases the fonts.
  ~ProgressWindow() override;

  // Replaces the status and asks for a repaint without waiting for it. Only
  // the latest status is ever drawn; works (storing only) when the window
  // was never created or is already closed.
  void show_status(ProgressStatus status) override;

  // Waits until the UI thread has ended, without asking the window to close:
  // the user must close it, which only allow_user_close permits. Returns at
  // once when there is no window or it has been waited for already.
  void wait_until_closed();

  // The window while it exists, else null.
  HWND window_handle() const noexcept { return hwnd_.load(); }

 private:
  void thread_main() noexcept;
  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void paint(HWND window);
  void create_fonts(int dpi);
  void release_fonts() noexcept;

  // Read-only after construction.
  std::wstring window_title_;
  std::wstring product_name_;
  const bool allow_user_close_;

  std::atomic<bool> closing_{false};
  std::atomic<HWND> hwnd_{nullptr};
  // Set by show_status when it posts MSG_STATUS_CHANGED, cleared when the UI
  // thread takes the message, so at most one is ever queued however often
  // the status changes: a full message queue would refuse the close message.
  std::atomic<bool> status_posted_{false};
  // Whether the status has no progress value, so the bar moves on its own
  // and the timer must repaint; a frame with a fill changes only with its
  // status, which repaints it.
  std::atomic<bool> animated_{true};
  std::thread ui_thread_;

  std::mutex ready_mutex_;
  std::condition_variable ready_cv_;
  bool ready_ = false;  // the UI thread has tried to create the window

  std::mutex status_mutex_;
  ProgressStatus status_;

  // UI thread only.
  Fonts fonts_;
  int dpi_ = 96;
  std::uint32_t frame_counter_ = 0;
};

// The sample content of the preview: a download at 724 of 1060.
ProgressStatus preview_status();

}  // namespace korvanta

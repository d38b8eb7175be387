// The window on its own thread: start, close, status updates, preview
// (Windows only; under Wine these need an X display).
#ifdef _WIN32
#include "ui/progress_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <string>

#include "platform/handle_win32.h"
#include "support/ui_testing_win32.h"
#include "ui/layout.h"

namespace korvanta {
namespace {

using testing::capture_client;
using testing::distance;
using testing::eventually;
using testing::strongest_pixel;
using testing::Watchdog;

#define SKIP_WITHOUT_DISPLAY() \
  if (!testing::has_display()) GTEST_SKIP() << "no display for a window"

// An update window named "Shop Updater" as `progress`, its handle as `window`,
// under a watchdog.
#define OPEN_UPDATE_WINDOW(what)                              \
  SKIP_WITHOUT_DISPLAY();                                     \
  Watchdog watchdog(what);                                    \
  ProgressWindow progress(L"Shop Updater", L"Shop", false);   \
  const HWND window = progress.window_handle();               \
  ASSERT_NE(window, nullptr)

// The colour of the footer line as the window shows it now.
Colour shown_footer(HWND window) {
  const testing::Canvas shown = capture_client(window);
  const FrameLayout layout = frame_layout(shown.width(), shown.height(), 96);
  return strongest_pixel(shown, layout.footer, colours::kBackground);
}

// Posted messages are handled in order: once the window has been hidden by
// the message posted after `message`, `message` has been handled.
void post_and_settle(HWND window, UINT message) {
  // The constructor returns before the UI thread shows the window.
  ASSERT_TRUE(eventually([&] { return IsWindowVisible(window) != FALSE; }));
  ASSERT_TRUE(PostMessageW(window, message, 0, 0));
  ASSERT_TRUE(PostMessageW(window, MSG_SHOW_WINDOW, 0, 0));
  ASSERT_TRUE(eventually([&] { return !IsWindowVisible(window) || !IsWindow(window); }));
}

TEST(ProgressWindow, ShowsTheCaptionAndIgnoresTheUsersCloseDuringAnUpdate) {
  SKIP_WITHOUT_DISPLAY();
  HWND window = nullptr;
  {
    Watchdog watchdog("an update window's life");
    ProgressWindow progress(L"Shop Updater", L"Shop", false);
    window = progress.window_handle();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(FindWindowW(kWindowClassName, L"Shop Updater"), window);

    post_and_settle(window, WM_CLOSE);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(progress.window_handle(), window);
  }
  EXPECT_FALSE(IsWindow(window));  // the owner's close gets through
}

TEST(ProgressWindow, PreviewClosesOnTheUsersRequestAndWaitingThenEnds) {
  SKIP_WITHOUT_DISPLAY();
  Watchdog watchdog("a preview window's close");
  ProgressWindow progress(L"Shop Updater - UI Preview", L"Shop", true);
  const HWND window = progress.window_handle();
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(PostMessageW(window, WM_CLOSE, 0, 0));
  progress.wait_until_closed();
  EXPECT_EQ(progress.window_handle(), nullptr);
  EXPECT_FALSE(IsWindow(window));
  progress.wait_until_closed();  // again: returns at once
}

// The second also shows that empty names fall back to the default caption.
TEST(ProgressWindow, TwoWindowsOneAfterTheOtherShareTheClass) {
  SKIP_WITHOUT_DISPLAY();
  Watchdog watchdog("two windows in a row");
  struct Case {
    const wchar_t *title, *product, *caption;
  };
  for (const Case& c : {Case{L"First Updater", L"Shop", L"First Updater"}, Case{L"", L"", L"Project Updater"}}) {
    ProgressWindow progress(c.title, c.product, false);
    ASSERT_NE(progress.window_handle(), nullptr) << c.caption;
    EXPECT_EQ(FindWindowW(kWindowClassName, c.caption), progress.window_handle());
  }
  EXPECT_EQ(FindWindowW(kWindowClassName, nullptr), nullptr);
}

// A window class of the same name registered earlier serves the window (the
// window's own registration then fails); one that refuses creation leaves an
// inert object.
LRESULT CALLBACK refuse_creation(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) return FALSE;
  return DefWindowProcW(window, message, wparam, lparam);
}

TEST(ProgressWindow, AWindowThatCannotBeCreatedLeavesAnInertObject) {
  SKIP_WITHOUT_DISPLAY();
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  UnregisterClassW(kWindowClassName, instance);  // left by earlier tests; no window of it exists now
  WNDCLASSEXW refusing{};
  refusing.cbSize = sizeof refusing;
  refusing.lpfnWndProc = refuse_creation;
  refusing.hInstance = instance;
  refusing.lpszClassName = kWindowClassName;
  ASSERT_NE(RegisterClassExW(&refusing), 0);
  {
    Watchdog watchdog("an inert window");
    ProgressWindow progress(L"Shop Updater", L"Shop", false);
    EXPECT_EQ(progress.window_handle(), nullptr);
    progress.show_status(ProgressStatus{});
    progress.wait_until_closed();
  }
  EXPECT_TRUE(UnregisterClassW(kWindowClassName, instance));
}

TEST(ProgressWindow, ShowsTheLatestStatusAtTheNextRepaint) {
  OPEN_UPDATE_WINDOW("status repaints");
  ProgressStatus update;
  ProgressStatus preview;
  preview.preview = true;
  const auto footer_is = [&](Colour colour) { return distance(shown_footer(window), colour) < 40; };

  ASSERT_TRUE(eventually([&] { return footer_is(colours::kMutedText); }));
  progress.show_status(update);
  progress.show_status(preview);  // two in a row: the second is what shows
  EXPECT_TRUE(eventually([&] { return footer_is(colours::kBadgeText); }));
  progress.show_status(update);
  EXPECT_TRUE(eventually([&] { return footer_is(colours::kMutedText); }));
}

TEST(ProgressWindow, TheSegmentMovesWithTheTimer) {
  OPEN_UPDATE_WINDOW("animation");
  const auto segment_start = [&] {
    const testing::Canvas shown = capture_client(window);
    const FrameLayout layout = frame_layout(shown.width(), shown.height(), 96);
    const int bar = (layout.track.top + layout.track.bottom) / 2;
    for (int x = layout.track.left; x < layout.track.right; ++x) {
      if (shown.pixel(x, bar) == colours::kAccent) return x;
    }
    return -1;
  };
  // The segment grows in at the left end, then its left edge moves right.
  const int margin = frame_layout(0, 0, 96).margin;
  EXPECT_TRUE(eventually([&] { return segment_start() > margin + 8; }));
}

TEST(ProgressWindow, FollowsADpiChangeWithTheSuggestedRectangle) {
  OPEN_UPDATE_WINDOW("a DPI change");
  RECT suggested{100, 50, 100 + scale(kWindowWidth, 144), 50 + scale(kWindowHeight, 144)};
  SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  RECT now{};
  GetWindowRect(window, &now);
  EXPECT_EQ(now.right - now.left, suggested.right - suggested.left);
  EXPECT_EQ(now.bottom - now.top, suggested.bottom - suggested.top);
  // The top bar is drawn 5 pixels high at 144 DPI.
  EXPECT_TRUE(eventually([&] {
    const testing::Canvas shown = capture_client(window);
    return shown.pixel(1, 4) == colours::kAccent && shown.pixel(1, 5) == colours::kBackground;
  }));
}

// Counts the status messages the UI thread takes from its queue, and holds
// the UI thread at the first one until released.
struct StatusMessageProbe {
  static inline std::atomic<int> taken{0};
  static inline HANDLE release = nullptr;
  static LRESULT CALLBACK hook(int code, WPARAM wparam, LPARAM lparam) {
    const auto* message = reinterpret_cast<const MSG*>(lparam);
    if (code == HC_ACTION && wparam == PM_REMOVE && message->message == MSG_STATUS_CHANGED &&
        taken.fetch_add(1) == 0) {
      WaitForSingleObject(release, 20000);
    }
    return CallNextHookEx(nullptr, code, wparam, lparam);
  }
};

TEST(ProgressWindow, AFloodOfStatusUpdatesQueuesOneRepaintAndTheCloseGetsThrough) {
  SKIP_WITHOUT_DISPLAY();
  Watchdog watchdog("a flood of status updates and the close");
  auto progress = std::make_unique<ProgressWindow>(L"Shop Updater", L"Shop", false);
  const HWND window = progress->window_handle();
  ASSERT_NE(window, nullptr);
  const platform::UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  StatusMessageProbe::release = release.get();
  StatusMessageProbe::taken = 0;
  const HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, StatusMessageProbe::hook, nullptr,
                                       GetWindowThreadProcessId(window, nullptr));
  ASSERT_NE(hook, nullptr);

  progress->show_status(ProgressStatus{});
  ASSERT_TRUE(eventually([] { return StatusMessageProbe::taken == 1; }));  // the UI thread is held
  // More updates than a Windows message queue holds (10000): were each to
  // leave a message of its own, the queue would refuse the close message.
  for (int i = 0; i < 30000; ++i) {
    ProgressStatus status;
    status.title = L"Step " + std::to_wstring(i);
    status.done = static_cast<std::uint64_t>(i);
    status.total = 30000;
    progress->show_status(std::move(status));
  }
  SetEvent(release.get());
  post_and_settle(window, WM_NULL);
  EXPECT_LE(StatusMessageProbe::taken, 2);
  UnhookWindowsHookEx(hook);
  progress.reset();
}

TEST(ProgressWindow, PaintingKeepsNoGdiObjects) {
  OPEN_UPDATE_WINDOW("painting hundreds of frames");
  const auto repaint = [&](int times) {
    for (int i = 0; i < times; ++i) RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  };
  // The constructor returns before the UI thread shows the window and makes
  // what its first paints need.
  ASSERT_TRUE(eventually([&] { return IsWindowVisible(window) != FALSE; }));
  repaint(5);
  const unsigned before = testing::gdi_object_count();
  repaint(300);
  // The timer's paints hold a few objects for a moment; a leak of one a paint
  // would leave hundreds.
  EXPECT_TRUE(eventually([&] { return testing::gdi_object_count() <= before; }))
      << testing::gdi_object_count() << " GDI objects, " << before << " before";
}

TEST(RunPreview, ShowsTheSampleUntilTheUserClosesItAndReturnsZero) {
  SKIP_WITHOUT_DISPLAY();
  for (const std::wstring name : {L"Shop", L""}) {
    Watchdog watchdog("the preview");
    const std::wstring caption = name + L" Updater - UI Preview";
    auto result = std::async(std::launch::async, [&] { return run_preview(name); });
    HWND window = nullptr;
    ASSERT_TRUE(eventually([&] { return (window = FindWindowW(kWindowClassName, caption.c_str())) != nullptr; }));
    EXPECT_TRUE(eventually([&] { return distance(shown_footer(window), colours::kBadgeText) < 40; }));
    EXPECT_EQ(result.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    ASSERT_TRUE(PostMessageW(window, WM_CLOSE, 0, 0));
    EXPECT_EQ(result.get(), 0);
    EXPECT_FALSE(IsWindow(window));
  }
}

}  // namespace
}  // namespace korvanta
#endif

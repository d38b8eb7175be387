// The window on its own thread, and one frame drawn into a bitmap (Windows
// only). Under Wine a window needs an X display: scripts/test provides one,
// and without it the window tests fail.
#ifdef _WIN32
#include "ui/progress_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <utility>

#include "support/test_support.h"

namespace korvanta {

// Holds the UI thread until `release` and counts the status messages it takes.
const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
std::atomic<int> statuses_taken{0};
LRESULT CALLBACK hold(int code, WPARAM remove, LPARAM message) {
  statuses_taken += remove == PM_REMOVE && reinterpret_cast<const MSG*>(message)->message == MSG_STATUS_CHANGED;
  WaitForSingleObject(release, INFINITE);
  return CallNextHookEx(nullptr, code, remove, message);
}

// A message for each status would fill the window's queue (10000 messages on
// Windows), which would then refuse the owner's close; Wine's queue has no
// such limit, so the status messages taken are counted too. A close that
// never comes fails by the test's time limit.
TEST(ProgressWindow, IgnoresTheUsersCloseTakesAFloodOfStatusesAsOneRepaintAndFitsAnyDpiItIsGiven) {
  auto progress = std::make_unique<ProgressWindow>(L"Shop Updater", L"Shop", false);
  const HWND window = progress->window_handle();
  ASSERT_NE(window, nullptr) << "no window: no display?";
  const HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, hold, nullptr, GetWindowThreadProcessId(window, nullptr));
  for (std::uint64_t i = 0; i < 30000; ++i) progress->show_status({L"B", L"T", L"D", i, 30000, false});
  SetEvent(release);
  SendMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(window));
  // The client area holds the frame laid out at the window's DPI, and at the
  // DPI a posted WM_DPICHANGED names, with no rectangle behind its lParam.
  const auto holds = [&](int dpi) {
    RECT c{};
    return GetClientRect(window, &c) && c.right == scale(kContentWidth, dpi) && c.bottom == scale(kContentHeight, dpi);
  };
  EXPECT_TRUE(holds(GetDeviceCaps(gdi::WindowDc(nullptr).get(), LOGPIXELSX)));
  PostMessageW(window, WM_DPICHANGED, MAKEWPARAM(144, 144), 0);
  EXPECT_TRUE(testing::eventually([&] { return holds(144); }));
  progress.reset();  // the owner's close
  UnhookWindowsHookEx(hook);
  EXPECT_EQ(statuses_taken, 1);
}

// Wine counts no GDI objects per process; its handle table takes a handle by
// its index alone, so there every index is asked for.
unsigned gdi_objects() {
  unsigned live = 0, counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  for (ULONG_PTR i = 1; counted == 0 && i < 0x10000; ++i) live += GetObjectType(HGDIOBJ(i)) != 0;
  return counted + live;
}

TEST(RunPreview, RepaintsWithoutKeepingGdiObjectsUntilTheUserClosesItAndReturnsZero) {
  auto result = std::async(std::launch::async, [] { return run_preview(L"Shop"); });
  HWND window = nullptr;
  ASSERT_TRUE(testing::eventually([&] { return IsWindowVisible(window = FindWindowW(kWindowClassName, nullptr)); }));
  const auto repaint = [&] { RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); };
  repaint();  // the first paints make objects of the system's own
  const unsigned before = gdi_objects();
  for (int i = 0; i < 300; ++i) repaint();
  // The timer's paint holds a few for a moment; a leak would leave hundreds.
  EXPECT_TRUE(testing::eventually([&] { return gdi_objects() <= before; })) << gdi_objects() << " now, " << before << " before";
  EXPECT_TRUE(IsWindowVisible(window));  // still waiting for the user
  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(result.get(), 0);
}

// The preview's 724 of 1060 in the window's client area at each DPI; the
// context keeps its own pen, brush and font. A detail path too long for its
// line loses its middle, never the figures after it.
TEST(Frame, PaintsTheAccentBarTheBackgroundAndTheFillOverTheTrackAt96And144Dpi) {
  for (const int dpi : {96, 144}) {
    const FrameLayout l = frame_layout(scale(kContentWidth, dpi), scale(kContentHeight, dpi), dpi);
    const gdi::MemoryDc dc(nullptr);
    const gdi::Bitmap bitmap(CreateBitmap(l.width, l.height, 1, 32, nullptr));
    const gdi::Selection selection(dc.get(), bitmap.get());
    const Fonts fonts = make_fonts(dpi);
    {
      const std::wstring figures = L"  /  72.4 MiB of 106.0 MiB", path = L"game\\" + std::wstring(99, L'x') + L"\\a.sds";
      const gdi::Selection font(dc.get(), fonts.detail_font.get());
      const std::wstring fitted = fit_detail(dc.get(), path + figures, l.detail.width());
      EXPECT_TRUE(fitted.starts_with(L"game\\x") && fitted.ends_with(figures) && fitted.size() < path.size()) << dpi;
    }
    draw_frame(dc.get(), l.width, l.height, dpi, 0, L"Shop", preview_status(), fonts);
    const int bar = (l.track.top + l.track.bottom) / 2, fill_end = determinate_fill(l, 724, 1060).right;
    const auto at = [&](int x, int y) { return GetPixel(dc.get(), x, y); };
    EXPECT_EQ(at(0, l.top_bar.bottom - 1), gdi::colour_ref(colours::kAccent)) << dpi;
    EXPECT_EQ(at(l.width - 1, l.top_bar.bottom), gdi::colour_ref(colours::kBackground)) << dpi;
    EXPECT_EQ(at(fill_end - 3, bar), gdi::colour_ref(colours::kAccent)) << dpi;
    EXPECT_EQ(at(fill_end + 2, bar), gdi::colour_ref(colours::kTrack)) << dpi;
    for (const auto& [kind, stock] : {std::pair{OBJ_PEN, BLACK_PEN}, {OBJ_BRUSH, WHITE_BRUSH}, {OBJ_FONT, SYSTEM_FONT}})
      EXPECT_EQ(GetCurrentObject(dc.get(), kind), GetStockObject(stock)) << kind;
  }
}

}  // namespace korvanta
#endif

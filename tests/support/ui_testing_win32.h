#pragma once
// Helpers for tests that draw frames or drive a window (Windows only):
// a bitmap whose pixels can be read, a copy of a window's client area,
// polling with a deadline, and a watchdog that turns a deadlock into a
// failing test run instead of a hanging one.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "ui/gdi_win32.h"
#include "ui/layout.h"

namespace korvanta::testing {

// A top-down 32-bit bitmap selected into its own memory device context.
class Canvas {
 public:
  Canvas(int width, int height)
      : width_(width), height_(height), dc_(nullptr), bitmap_(create(width, height, &bits_)), selection_(dc_.get(), bitmap_.get()) {}

  HDC dc() const noexcept { return dc_.get(); }
  int width() const noexcept { return width_; }
  int height() const noexcept { return height_; }
  bool valid() const noexcept { return dc_ && bitmap_ && bits_ != nullptr; }

  Colour pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
      ADD_FAILURE() << "pixel (" << x << ", " << y << ") outside " << width_ << " x " << height_;
      return {};
    }
    GdiFlush();
    const DWORD value = static_cast<const DWORD*>(bits_)[static_cast<std::size_t>(y) * width_ + x];
    return Colour{static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 8),
                  static_cast<std::uint8_t>(value)};
  }

 private:
  static HBITMAP create(int width, int height, void** bits) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down: row 0 is the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0);
  }

  int width_, height_;
  void* bits_ = nullptr;
  gdi::MemoryDc dc_;
  gdi::Bitmap bitmap_;
  gdi::Selection selection_;
};

// The largest difference of one colour channel.
inline int distance(Colour a, Colour b) {
  const auto d = [](int x, int y) { return x > y ? x - y : y - x; };
  return std::max({d(a.red, b.red), d(a.green, b.green), d(a.blue, b.blue)});
}

// The pixel of `area` that stands out most from `ground`: the core of a
// text's strokes, where anti-aliasing leaves the text colour itself.
inline Colour strongest_pixel(const Canvas& canvas, const Rect& area, Colour ground) {
  Colour best = ground;
  for (int y = std::max(area.top, 0); y < std::min(area.bottom, canvas.height()); ++y) {
    for (int x = std::max(area.left, 0); x < std::min(area.right, canvas.width()); ++x) {
      const Colour c = canvas.pixel(x, y);
      if (distance(c, ground) > distance(best, ground)) best = c;
    }
  }
  return best;
}

// What the window shows in its client area now.
inline Canvas capture_client(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  Canvas canvas(client.right, client.bottom);
  const gdi::WindowDc source(window);
  BitBlt(canvas.dc(), 0, 0, client.right, client.bottom, source.get(), 0, 0, SRCCOPY);
  return canvas;
}

// The GDI objects this process holds. Wine does not count them per process
// (GetGuiResources gives 0); its handle table accepts a handle by its index
// alone, with a zero high word, so there every index is asked for.
inline unsigned gdi_object_count() {
  const DWORD counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  if (counted != 0) return counted;
  unsigned live = 0;
  for (ULONG_PTR index = 1; index < 0x10000; ++index) {
    if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0) ++live;
  }
  return live;
}

// Polls `condition` until it holds or `limit` has passed.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Ends the test program with a message if the scope does not end within
// `limit`: a deadlock fails the run at once and says where.
class Watchdog {
 public:
  explicit Watchdog(std::string what, std::chrono::seconds limit = std::chrono::seconds(20))
      : what_(std::move(what)), thread_([this, limit] {
          std::unique_lock lock(mutex_);
          if (!done_cv_.wait_for(lock, limit, [this] { return done_; })) {
            std::fprintf(stderr, "\nDEADLOCK: %s did not finish in time\n", what_.c_str());
            std::fflush(stderr);
            std::_Exit(3);
          }
        }) {}
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;
  ~Watchdog() {
    {
      const std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_one();
    thread_.join();
  }

 private:
  std::string what_;
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

// Under Wine a window needs an X display; without one, tests that need a
// window skip. Windows itself always has a desktop.
inline bool has_display() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const bool wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
  if (!wine) return true;
  wchar_t value[2];
  return GetEnvironmentVariableW(L"DISPLAY", value, 2) > 0;
}

}  // namespace korvanta::testing

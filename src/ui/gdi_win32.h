#pragma once
// Owners of GDI objects and device contexts (Windows code only). The window
// paints about 33 times a second for as long as an update runs, so every
// object a frame creates, and every selection into a device context, is
// released by its owner on every path out of the frame.
//
// Declare the object before the selection that uses it: members and locals
// are destroyed in reverse order, so the selection is undone before the
// object is deleted, as GDI requires.
#include <windows.h>

#include <utility>

#include "ui/layout.h"

namespace korvanta::gdi {

inline COLORREF colour_ref(Colour colour) noexcept { return RGB(colour.red, colour.green, colour.blue); }

// One brush, pen, font or bitmap, deleted with DeleteObject.
template <class Handle>
class Object {
 public:
  Object() noexcept = default;
  explicit Object(Handle handle) noexcept : handle_(handle) {}
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;
  Object(Object&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Object& operator=(Object&& other) noexcept {
    if (this != &other) reset(std::exchange(other.handle_, nullptr));
    return *this;
  }
  ~Object() { reset(); }

  Handle get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != nullptr; }
  void reset(Handle handle = nullptr) noexcept {
    if (handle_ != nullptr) DeleteObject(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = nullptr;
};

using Brush = Object<HBRUSH>;
using Pen = Object<HPEN>;
using Font = Object<HFONT>;
using Bitmap = Object<HBITMAP>;

inline Brush solid_brush(Colour colour) noexcept { return Brush(CreateSolidBrush(colour_ref(colour))); }
inline Pen solid_pen(int width, Colour colour) noexcept { return Pen(CreatePen(PS_SOLID, width, colour_ref(colour))); }

// A memory device context, deleted with DeleteDC.
class MemoryDc {
 public:
  MemoryDc() noexcept = default;
  explicit MemoryDc(HDC compatible_with) noexcept : dc_(CreateCompatibleDC(compatible_with)) {}
  MemoryDc(const MemoryDc&) = delete;
  MemoryDc& operator=(const MemoryDc&) = delete;
  MemoryDc(MemoryDc&& other) noexcept : dc_(std::exchange(other.dc_, nullptr)) {}
  MemoryDc& operator=(MemoryDc&& other) noexcept {
    if (this != &other) {
      reset();
      dc_ = std::exchange(other.dc_, nullptr);
    }
    return *this;
  }
  ~MemoryDc() { reset(); }

  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  void reset() noexcept {
    if (dc_ != nullptr) DeleteDC(dc_);
    dc_ = nullptr;
  }
  HDC dc_ = nullptr;
};

// A window's device context from GetDC, given back with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND window) noexcept : window_(window), dc_(GetDC(window)) {}
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  WindowDc(WindowDc&& other) noexcept
      : window_(std::exchange(other.window_, nullptr)), dc_(std::exchange(other.dc_, nullptr)) {}
  WindowDc& operator=(WindowDc&&) = delete;
  ~WindowDc() {
    if (dc_ != nullptr) ReleaseDC(window_, dc_);
  }

  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND window_ = nullptr;
  HDC dc_ = nullptr;
};

// BeginPaint ... EndPaint for one WM_PAINT.
class PaintDc {
 public:
  explicit PaintDc(HWND window) noexcept : window_(window) { dc_ = BeginPaint(window_, &paint_); }
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;
  PaintDc(PaintDc&&) = delete;  // PAINTSTRUCT belongs to this call of the window procedure
  PaintDc& operator=(PaintDc&&) = delete;
  ~PaintDc() { EndPaint(window_, &paint_); }

  HDC get() const noexcept { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_ = nullptr;
};

// Selects an object into a device context and selects the previous one back
// when it goes. A null object selects nothing, so a font that could not be
// created leaves the context's current font in use.
class Selection {
 public:
  Selection(HDC dc, HGDIOBJ object) noexcept : dc_(dc) {
    if (dc_ != nullptr && object != nullptr) previous_ = SelectObject(dc_, object);
  }
  Selection(const Selection&) = delete;
  Selection& operator=(const Selection&) = delete;
  Selection(Selection&& other) noexcept
      : dc_(std::exchange(other.dc_, nullptr)), previous_(std::exchange(other.previous_, nullptr)) {}
  Selection& operator=(Selection&&) = delete;
  ~Selection() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
  }

 private:
  HDC dc_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

}  // namespace korvanta::gdi

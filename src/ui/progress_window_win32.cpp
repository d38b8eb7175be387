#include "ui/progress_window.h"

#include <utility>

#include "ui/layout.h"

namespace korvanta {
namespace {

constexpr DWORD kWindowExStyle = WS_EX_DLGMODALFRAME | WS_EX_APPWINDOW;  // no caption icon, a taskbar button
constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU;                  // a close box; no sizing, no min/max

// Frame attributes of the desktop window manager, by number: older SDK
// headers lack some of them, and older systems refuse them (harmlessly).
constexpr DWORD kDwmUseImmersiveDarkMode = 20;
constexpr DWORD kDwmWindowCornerPreference = 33;
constexpr DWORD kDwmBorderColour = 34;
constexpr DWORD kDwmCaptionColour = 35;
constexpr DWORD kDwmTextColour = 36;
constexpr DWORD kDwmRoundCorners = 2;

class Library {
 public:
  explicit Library(const wchar_t* name) noexcept : module_(LoadLibraryW(name)) {}
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  ~Library() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  HMODULE get() const noexcept { return module_; }

 private:
  HMODULE module_;
};

// GetProcAddress's result as the function type it really has. The detour
// through void (*)() is the one cast between function types that GCC does
// not warn about.
template <class Function>
Function function_from(HMODULE module, const char* name) noexcept {
  if (module == nullptr) return nullptr;
  const FARPROC proc = GetProcAddress(module, name);
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(proc));
}

// Dark caption, round corners and the window's own colours on the frame.
// Looked up at run time: the library and the function are missing on older
// systems, where the default frame stays.
void apply_frame_colours(HWND window) noexcept {
  using SetAttribute = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
  const Library dwm(L"dwmapi.dll");
  const auto set_attribute = function_from<SetAttribute>(dwm.get(), "DwmSetWindowAttribute");
  if (set_attribute == nullptr) return;
  const auto set = [&](DWORD attribute, DWORD value) { set_attribute(window, attribute, &value, sizeof value); };
  set(kDwmUseImmersiveDarkMode, 1);
  set(kDwmWindowCornerPreference, kDwmRoundCorners);
  set(kDwmBorderColour, gdi::colour_ref(colours::kLine));
  set(kDwmCaptionColour, gdi::colour_ref(colours::kBackground));
  set(kDwmTextColour, gdi::colour_ref(colours::kSecondaryText));
}

// The window's DPI. GetDpiForWindow exists from Windows 10 1607 on and is
// looked up at run time; before that the screen's LOGPIXELSX serves. For
// this DPI-unaware program Windows says 96; Wine says the system's DPI.
int window_dpi(HWND window) noexcept {
  using GetDpi = UINT(WINAPI*)(HWND);
  const auto get_dpi = function_from<GetDpi>(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow");
  if (get_dpi != nullptr) return static_cast<int>(get_dpi(window));
  const gdi::WindowDc dc(window);
  if (!dc) return 96;
  return GetDeviceCaps(dc.get(), LOGPIXELSX);
}

// The window's place for dpi: a client area that holds the frame laid out at
// dpi, whatever the system's caption and borders take, centred on the screen.
Rect window_place(int dpi) noexcept {
  RECT frame{};
  AdjustWindowRectEx(&frame, kWindowStyle, FALSE, kWindowExStyle);
  return window_rect({GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)},
                     {frame.right - frame.left, frame.bottom - frame.top}, dpi);
}

// Sizes and centres the window for dpi, as window_place says.
void fit_window(HWND window, int dpi) noexcept {
  const Rect place = window_place(dpi);
  SetWindowPos(window, nullptr, place.left, place.top, place.width(), place.height(), SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

ProgressWindow::ProgressWindow(std::wstring window_title, std::wstring product_name, bool allow_user_close)
    : window_title_(std::move(window_title)),
      product_name_(std::move(product_name)),
      allow_user_close_(allow_user_close) {
  if (product_name_.empty()) product_name_ = kDefaultProductName;
  if (window_title_.empty()) window_title_ = product_name_ + std::wstring(kUpdaterCaptionSuffix);
  ui_thread_ = std::thread(&ProgressWindow::thread_main, this);
  std::unique_lock lock(ready_mutex_);
  ready_cv_.wait(lock, [this] { return ready_; });
}

ProgressWindow::~ProgressWindow() {
  if (ui_thread_.joinable()) {
    closing_.exchange(true);
    // Another program can fill the window's queue (Windows takes 10,000
    // messages a thread), which refuses the post: try again until it is taken
    // or the window is gone. A window that goes away between the load and the
    // post makes the post fail harmlessly: its thread is ending anyway.
    for (HWND window = hwnd_.load(); window != nullptr && !PostMessageW(window, MSG_CLOSE_WINDOW, 0, 0);
         window = hwnd_.load())
      Sleep(10);
    ui_thread_.join();
  }
  release_fonts();
}

void ProgressWindow::show_status(ProgressStatus status) {
  {
    const std::lock_guard lock(status_mutex_);
    status_.badge = std::move(status.badge);
    status_.title = std::move(status.title);
    status_.detail = std::move(status.detail);
    status_.done = status.done;
    status_.total = status.total;
    status_.preview = status.preview;
  }
  animated_.store(status.total == 0);
  const HWND window = hwnd_.load();
  if (window == nullptr) return;
  // A message already queued repaints with whatever status is current when
  // the UI thread gets to it, this one included.
  if (status_posted_.exchange(true)) return;
  if (!PostMessageW(window, MSG_STATUS_CHANGED, 0, 0)) status_posted_.store(false);
}

void ProgressWindow::wait_until_closed() {
  if (ui_thread_.joinable()) ui_thread_.join();
}

void ProgressWindow::thread_main() noexcept {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = &ProgressWindow::window_proc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = kWindowClassName;
  // Fails when an earlier window of this process registered the class; that
  // registration serves. The class is never unregistered.
  RegisterClassExW(&window_class);

  // Placed for 96 DPI until WM_CREATE knows the window's own DPI.
  const Rect place = window_place(96);
  // WM_NCCREATE and WM_CREATE arrive during this call: when it returns, the
  // window has its caption, frame colours, DPI, size, fonts and timer.
  const HWND window = CreateWindowExW(kWindowExStyle, kWindowClassName, window_title_.c_str(), kWindowStyle, place.left,
                                      place.top, place.width(), place.height(), nullptr, nullptr, instance, this);
  hwnd_.exchange(window);
  {
    const std::lock_guard lock(ready_mutex_);
    ready_ = true;
  }
  ready_cv_.notify_one();
  if (window == nullptr) return;

  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

LRESULT CALLBACK ProgressWindow::window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<ProgressWindow*>(reinterpret_cast<const CREATESTRUCTW*>(lparam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_.exchange(window);
    // DefWindowProcW would set the caption here; WM_CREATE does.
    return TRUE;
  }
  auto* self = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wparam, lparam);  // before WM_NCCREATE
  try {
    return self->handle_message(window, message, wparam, lparam);
  } catch (...) {
    // Out of memory while copying texts. No exception may unwind through
    // the system's dispatch; a frame that could not be drawn must still be
    // validated, or WM_PAINT would come back at once, forever.
    if (message == WM_PAINT) ValidateRect(window, nullptr);
    return 0;
  }
}

LRESULT ProgressWindow::handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      SetWindowTextW(window, window_title_.c_str());
      apply_frame_colours(window);
      dpi_ = window_dpi(window);
      create_fonts(dpi_);
      fit_window(window, dpi_);
      SetTimer(window, ANIMATION_TIMER_ID, kAnimationPeriodMs, nullptr);
      return 0;
    case WM_DESTROY:
      KillTimer(window, ANIMATION_TIMER_ID);
      hwnd_.exchange(nullptr);
      PostQuitMessage(0);
      return 0;
    case WM_PAINT:
      paint(window);
      return 0;
    case WM_CLOSE:
      // During a real update the user cannot close the window: the updater
      // must finish what it started. Only the owner's close gets through.
      if (allow_user_close_ || closing_.load()) DestroyWindow(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // paint covers the whole client area; erasing would flicker
    case WM_TIMER:
      if (wparam == ANIMATION_TIMER_ID) {
        ++frame_counter_;
        // Under Wine each frame costs more than a millisecond of processor
        // time; a still frame is not drawn again until its status changes.
        if (animated_.load()) InvalidateRect(window, nullptr, FALSE);
      }
      return 0;
    case WM_DPICHANGED:
      // Any program can post this message with any parameters, so lParam,
      // the system's suggested rectangle, is never read: the window sizes
      // itself from the new DPI, as at creation, and keeps its DPI when the
      // new one is out of reason.
      // Closing, or the DPI it has already: nothing to do, so that a flood of
      // these messages cannot hold up the close behind it.
      if (const int dpi = LOWORD(wparam); dpi >= kMinDpi && dpi <= kMaxDpi && dpi != dpi_ && !closing_.load()) {
        dpi_ = dpi;
        create_fonts(dpi_);
        fit_window(window, dpi_);
      }
      return 0;
    case MSG_STATUS_CHANGED:
      status_posted_.store(false);
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case MSG_CLOSE_WINDOW:
      DestroyWindow(window);
      return 0;
    case MSG_SHOW_WINDOW:
      ShowWindow(window, wparam != 0 ? SW_SHOWNA : SW_HIDE);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

void ProgressWindow::paint(HWND window) {
  const gdi::PaintDc target(window);
  RECT client{};
  GetClientRect(window, &client);
  const int width = client.right;
  const int height = client.bottom;

  // Drawn off-screen and copied in one transfer, so the 33 repaints a second
  // never show a half-drawn frame.
  const gdi::MemoryDc memory(target.get());
  const gdi::Bitmap bitmap(CreateCompatibleBitmap(target.get(), width, height));
  const gdi::Selection bitmap_selection(memory.get(), bitmap.get());

  ProgressStatus snapshot;
  {
    // Held for the copy only, never while drawing, so show_status waits at
    // most for three strings to be copied.
    const std::lock_guard lock(status_mutex_);
    snapshot = status_;
  }
  draw_frame(memory.get(), width, height, dpi_, frame_counter_, product_name_, snapshot, fonts_);
  BitBlt(target.get(), 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
}

void ProgressWindow::create_fonts(int dpi) {
  release_fonts();
  fonts_ = make_fonts(dpi);
}

void ProgressWindow::release_fonts() noexcept { fonts_ = Fonts{}; }

}  // namespace korvanta

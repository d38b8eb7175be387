#pragma once
// The progress window's picture as numbers: colours, texts, fonts, where
// each element goes for a client size and DPI, and the progress bar's
// arithmetic. Portable and free of drawing calls, so the host build tests it;
// frame_win32.cpp turns it into GDI calls.
//
// Every measure is a 96-DPI pixel value scaled by the window's DPI, each
// measure by itself: 19 + 9 is scale(19) + scale(9), never scale(28), so
// that every edge at any DPI is the rounding of its own 96-DPI value.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvanta {

struct Colour {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
  friend constexpr bool operator==(const Colour&, const Colour&) = default;
};

namespace colours {
inline constexpr Colour kBackground{13, 14, 16};       // client area; also the frame's caption
inline constexpr Colour kAccent{226, 48, 58};          // top bar, logo, pill dot, progress fill
inline constexpr Colour kPrimaryText{242, 244, 247};   // wordmark, heading, percentage
inline constexpr Colour kSecondaryText{157, 163, 173}; // title, detail; also the frame's caption text
inline constexpr Colour kMutedText{104, 110, 120};     // header caption, footer of a real update
inline constexpr Colour kBadgeText{246, 102, 110};     // pill text, footer of the preview
inline constexpr Colour kPillFill{20, 22, 25};
inline constexpr Colour kLine{43, 46, 51};             // pill border, separator; also the frame's border
inline constexpr Colour kTrack{28, 30, 34};            // progress track, fill and border
}  // namespace colours

inline constexpr std::wstring_view kWordmarkText = L"KORVANTA";
inline constexpr std::wstring_view kHeaderCaptionText = L"/  PATCH SYSTEM";
inline constexpr std::wstring_view kUpdateFooterText = L"SAFE INSTALL  /  FILES ARE VERIFIED BEFORE APPLYING";
inline constexpr std::wstring_view kPreviewFooterText = L"UI PREVIEW  /  NO FILES WILL BE CHANGED";

// A font as asked of the system; a face that is not installed is replaced
// by the system's font mapping.
struct FontSpec {
  std::wstring_view face;
  int points = 0;
  int weight = 0;
};
inline constexpr FontSpec kWordmarkFont{L"Segoe UI Variable Text", 9, 700};
inline constexpr FontSpec kBadgeFont{L"Segoe UI Variable Text", 7, 700};
inline constexpr FontSpec kHeadingFont{L"Segoe UI Variable Display", 21, 600};
inline constexpr FontSpec kSubtitleFont{L"Segoe UI Variable Text", 11, 600};
inline constexpr FontSpec kDetailFont{L"Segoe UI Variable Text", 9, 400};
inline constexpr FontSpec kCaptionFont{L"Segoe UI Variable Text", 7, 600};

// The client area the frame is laid out in, at 96 DPI; at any other DPI each
// measure is scaled. With the dialog frame of 96 DPI (3-pixel borders, a
// 23-pixel caption) the window is 590 x 292.
inline constexpr int kContentWidth = 584;
inline constexpr int kContentHeight = 263;

// The DPIs the window takes: half to five times 96 (the system offers 100% to
// 500%). Anything else, such as 0 in a message any program can post, leaves
// the window at the DPI it has.
inline constexpr int kMinDpi = 48;
inline constexpr int kMaxDpi = 480;

struct Point {
  int x = 0;
  int y = 0;
  friend constexpr bool operator==(const Point&, const Point&) = default;
};

struct Size {
  int width = 0;
  int height = 0;
};

// Left and top inside, right and bottom outside, as GDI rectangles are.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  constexpr int width() const noexcept { return right - left; }
  constexpr int height() const noexcept { return bottom - top; }
  friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

// number * numerator / denominator computed in 64 bits and rounded to the
// nearest integer, halves away from zero, as the system's MulDiv does; -1
// when the denominator is 0 or the result does not fit in 32 bits.
int mul_div(int number, int numerator, int denominator) noexcept;

// A 96-DPI measure at `dpi`.
inline int scale(int value, int dpi) noexcept { return mul_div(value, dpi, 96); }

// The character height of a font of `points` at `dpi`, negative as the
// system's font creation takes it ("this character height, not cell height").
inline int font_height(int points, int dpi) noexcept { return -mul_div(points, dpi, 72); }

// Where the window goes on a screen at dpi when its borders and caption take
// frame.width x frame.height pixels: a client area of the content's size at
// dpi plus the frame, centred, but never left of or above the screen's origin.
Rect window_rect(Size screen, Size frame, int dpi) noexcept;

// The zigzag logo: a polyline of five points drawn with a pen of pen_width.
struct LogoMark {
  int pen_width = 0;
  std::array<Point, 5> points{};
};

// Every element of one frame for a client area of width x height at dpi.
struct FrameLayout {
  int dpi = 96;
  int width = 0;
  int height = 0;
  int margin = 0;       // M: content runs from M to width - M
  int track_width = 0;  // TW = (width - M) - M; may be negative for tiny sizes
  Rect top_bar;
  LogoMark logo;
  Rect wordmark;
  Rect header_caption;
  Rect pill;
  int pill_corner = 0;
  Rect pill_dot;  // bounding box of the dot's ellipse
  Rect pill_text;
  Rect heading;
  Rect title;
  Rect track;
  int track_corner = 0;
  Rect detail;
  Rect percentage;
  Rect separator;
  Rect footer;
};

FrameLayout frame_layout(int width, int height, int dpi) noexcept;

// The sliding segment of a bar without progress value after frame_counter
// ticks: it grows in at the left end of the track, moves scale(4) per tick,
// shrinks out at the right end and starts again. The position is taken in
// unsigned 32-bit arithmetic, so the sweep restarts where the tick product
// wraps at 2^32. Nothing while the segment has no width (at tick 0, for one)
// or when the track is too small to hold a cycle.
std::optional<Rect> indeterminate_segment(const FrameLayout& layout, std::uint32_t frame_counter) noexcept;

// The fill of a bar at done / total (total not 0): the track's fraction,
// clamped to the whole track and rounded halves away from zero, but never
// narrower than a scale(8) stub.
Rect determinate_fill(const FrameLayout& layout, std::uint64_t done, std::uint64_t total) noexcept;

// What is drawn over the track: the segment when total is 0, else the fill.
std::optional<Rect> progress_fill(const FrameLayout& layout, std::uint32_t frame_counter, std::uint64_t done,
                                  std::uint64_t total) noexcept;

// floor(done * 100 / total) limited to 100, exact for every pair of 64-bit
// values (the product is never allowed to wrap). total must not be 0.
unsigned percentage(std::uint64_t done, std::uint64_t total) noexcept;

// "68%" and the like; empty when total is 0 (no progress value).
std::wstring percentage_text(std::uint64_t done, std::uint64_t total);

struct FooterStyle {
  std::wstring_view text;
  Colour colour;
};

// The footer line: the preview says that nothing will change, in the badge
// colour; a real update says that files are verified, muted.
FooterStyle footer_style(bool preview) noexcept;

}  // namespace korvanta

#pragma once
// One frame of the progress window, drawn into any device context: the
// window paints through it off-screen, and tests and the benchmark draw it
// into a bitmap of their own (Windows code only).
#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "ui/gdi_win32.h"
#include "ui/progress_status.h"

namespace korvanta {

// The six fonts of a frame, made for one DPI and replaced as a set.
struct Fonts {
  gdi::Font wordmark_font;
  gdi::Font badge_font;
  gdi::Font heading_font;
  gdi::Font subtitle_font;
  gdi::Font detail_font;
  gdi::Font caption_font;
};

// Creates the fonts for dpi. A font the system cannot create stays null and
// its texts are drawn with the context's current font.
Fonts make_fonts(int dpi);

// The detail as it fits width pixels in dc's current font: whole when it
// fits; otherwise a path loses its middle to an ellipsis (a last name that is
// too long by itself, its end), and of "<path>  /  <figures>" only the path
// gives way, so the figures always show whole. (The system's path ellipsis
// alone keeps what follows the last separator, which to Wine is the "/"
// before the figures: the file's name would go.)
std::wstring fit_detail(HDC dc, std::wstring_view detail, int width);

// Draws the whole frame over (0, 0, width, height) of dc: background, header,
// pill, heading, title, progress bar, detail, percentage, separator, footer.
// product_name is the heading; status is a snapshot that nobody else changes
// during the call. Results of drawing calls are not checked: a failed call
// leaves its element out of this frame only. Every object it creates is
// deleted, and dc's selections are as they were, when it returns.
void draw_frame(HDC dc, int width, int height, int dpi, std::uint32_t frame_counter, std::wstring_view product_name,
                const ProgressStatus& status, const Fonts& fonts);

}  // namespace korvanta

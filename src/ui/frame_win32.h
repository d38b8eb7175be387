#pragma once
// One frame of the progress window, drawn into any device context: the
// window paints through it off-screen, and tests and the benchmark draw it
// into a bitmap of their own (Windows code only).
#include <windows.h>

#include <cstdint>
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

// Draws the whole frame over (0, 0, width, height) of dc: background, header,
// pill, heading, title, progress bar, detail, percentage, separator, footer.
// product_name is the heading; status is a snapshot that nobody else changes
// during the call. Results of drawing calls are not checked: a failed call
// leaves its element out of this frame only. Every object it creates is
// deleted, and dc's selections are as they were, when it returns.
void draw_frame(HDC dc, int width, int height, int dpi, std::uint32_t frame_counter, std::wstring_view product_name,
                const ProgressStatus& status, const Fonts& fonts);

}  // namespace korvanta

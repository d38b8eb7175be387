// Frames drawn into a bitmap, read back pixel by pixel (Windows only).
#ifdef _WIN32
#include "ui/frame_win32.h"

#include <gtest/gtest.h>

#include "support/ui_testing_win32.h"
#include "ui/layout.h"
#include "ui/progress_window.h"

namespace korvanta {
namespace {

using testing::Canvas;
using testing::distance;
using testing::strongest_pixel;

constexpr int kWidth = 584;
constexpr int kHeight = 263;

struct DrawnFrame {
  Canvas canvas;
  FrameLayout layout;
};

// A client area of the window's size at 96 DPI, grown with the DPI as the
// system's suggested rectangle grows it.
DrawnFrame draw(int dpi, const ProgressStatus& status, std::uint32_t frame_counter = 0) {
  const int width = scale(kWidth, dpi);
  const int height = scale(kHeight, dpi);
  const Fonts fonts = make_fonts(dpi);
  DrawnFrame drawn{Canvas(width, height), frame_layout(width, height, dpi)};
  draw_frame(drawn.canvas.dc(), width, height, dpi, frame_counter, L"Shop", status, fonts);
  return drawn;
}

int middle(const Rect& r) { return (r.top + r.bottom) / 2; }

TEST(Frame, PaintsEachElementWhereTheLayoutPutsItAt96And144Dpi) {
  for (const int dpi : {96, 144}) {
    SCOPED_TRACE(dpi);
    const DrawnFrame f = draw(dpi, preview_status());
    ASSERT_TRUE(f.canvas.valid());
    const FrameLayout& l = f.layout;
    const auto at = [&](int x, int y) { return f.canvas.pixel(x, y); };

    const int w = l.width, h = l.height;
    EXPECT_EQ(at(0, h - 1), colours::kBackground);
    EXPECT_EQ(at(w - 1, h - 1), colours::kBackground);
    EXPECT_EQ(at(0, 0), colours::kAccent);
    EXPECT_EQ(at(w - 1, l.top_bar.bottom - 1), colours::kAccent);  // 3 pixels at 96 DPI, 5 at 144
    EXPECT_EQ(at(w - 1, l.top_bar.bottom), colours::kBackground);

    const auto& logo = l.logo.points;
    EXPECT_EQ(at((logo[0].x + logo[1].x) / 2, (logo[0].y + logo[1].y) / 2), colours::kAccent);
    EXPECT_EQ(at((l.pill_dot.left + l.pill_dot.right) / 2, middle(l.pill_dot)), colours::kAccent);
    EXPECT_EQ(at(l.pill.left + scale(5, dpi), middle(l.pill)), colours::kPillFill);
    EXPECT_EQ(at(l.pill.left, middle(l.pill)), colours::kLine);

    // 724 of 1060: the fill ends where the arithmetic says, the track goes on.
    const Rect fill = determinate_fill(l, 724, 1060);
    const int bar = middle(l.track);
    EXPECT_EQ(at(fill.left + 2, bar), colours::kAccent);
    EXPECT_EQ(at(fill.right - 3, bar), colours::kAccent);
    EXPECT_EQ(at(fill.right + 2, bar), colours::kTrack);
    EXPECT_EQ(at(l.track.right - 3, bar), colours::kTrack);
    EXPECT_EQ(at(l.track.right + 1, bar), colours::kBackground);

    EXPECT_EQ(at(l.margin + 1, l.separator.top), colours::kLine);
    EXPECT_EQ(at(l.margin + 1, l.separator.bottom), colours::kBackground);

    // Texts: the heading and the percentage in primary text, the pill text in
    // the badge colour.
    EXPECT_LT(distance(strongest_pixel(f.canvas, l.heading, colours::kBackground), colours::kPrimaryText), 40);
    EXPECT_LT(distance(strongest_pixel(f.canvas, l.percentage, colours::kBackground), colours::kPrimaryText), 40);
    EXPECT_LT(distance(strongest_pixel(f.canvas, l.pill_text, colours::kPillFill), colours::kBadgeText), 60);
    // The footer's colour follows the preview flag.
    EXPECT_LT(distance(strongest_pixel(f.canvas, l.footer, colours::kBackground), colours::kBadgeText), 40);
    const DrawnFrame update = draw(dpi, ProgressStatus{});
    EXPECT_LT(distance(strongest_pixel(update.canvas, l.footer, colours::kBackground), colours::kMutedText), 40);
  }
}

TEST(Frame, WithoutProgressValueOnlyTheSegmentCoversTheTrack) {
  const ProgressStatus status;  // total 0
  for (const std::uint32_t frame : {0u, 1u, 100u, 150u, 0xffffffffu}) {
    SCOPED_TRACE(frame);
    const DrawnFrame f = draw(96, status, frame);
    const FrameLayout& l = f.layout;
    const std::optional<Rect> segment = indeterminate_segment(l, frame);
    const int bar = middle(l.track);
    for (int x = l.track.left + 1; x < l.track.right - 1; ++x) {
      const bool inside = segment && x >= segment->left + 1 && x < segment->right - 1;
      const bool outside = !segment || x < segment->left - 1 || x > segment->right;
      if (inside) {
        ASSERT_EQ(f.canvas.pixel(x, bar), colours::kAccent) << x;
      } else if (outside) {
        ASSERT_EQ(f.canvas.pixel(x, bar), colours::kTrack) << x;
      }
    }
    // No progress value: no percentage.
    EXPECT_EQ(strongest_pixel(f.canvas, l.percentage, colours::kBackground), colours::kBackground);
  }
}

TEST(Frame, LeavesTheContextAsItFoundIt) {
  Canvas canvas(kWidth, kHeight);
  const Fonts fonts = make_fonts(96);
  const HGDIOBJ font = GetCurrentObject(canvas.dc(), OBJ_FONT);
  const HGDIOBJ pen = GetCurrentObject(canvas.dc(), OBJ_PEN);
  const HGDIOBJ brush = GetCurrentObject(canvas.dc(), OBJ_BRUSH);
  const HGDIOBJ bitmap = GetCurrentObject(canvas.dc(), OBJ_BITMAP);
  draw_frame(canvas.dc(), kWidth, kHeight, 96, 40, L"Shop", preview_status(), fonts);
  EXPECT_EQ(GetCurrentObject(canvas.dc(), OBJ_FONT), font);
  EXPECT_EQ(GetCurrentObject(canvas.dc(), OBJ_PEN), pen);
  EXPECT_EQ(GetCurrentObject(canvas.dc(), OBJ_BRUSH), brush);
  EXPECT_EQ(GetCurrentObject(canvas.dc(), OBJ_BITMAP), bitmap);
}

TEST(Frame, DrawsHundredsOfFramesWithoutKeepingGdiObjects) {
  Canvas canvas(kWidth, kHeight);
  const Fonts fonts = make_fonts(96);
  draw_frame(canvas.dc(), kWidth, kHeight, 96, 0, L"Shop", preview_status(), fonts);  // warm-up
  const unsigned before = testing::gdi_object_count();
  ASSERT_GT(before, 0u);
  for (std::uint32_t frame = 1; frame <= 400; ++frame) {
    ProgressStatus status = frame % 2 ? ProgressStatus{} : preview_status();
    draw_frame(canvas.dc(), kWidth, kHeight, 96, frame, L"Shop", status, fonts);
  }
  EXPECT_EQ(testing::gdi_object_count(), before);
}

}  // namespace
}  // namespace korvanta
#endif

#include "ui/layout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>

#ifdef _WIN32
#include <windows.h>
#endif

namespace korvanta {
namespace {

constexpr int kWidth = 584;  // a client area of the window's outer size
constexpr int kHeight = 263;

TEST(Layout, MulDivRoundsHalvesAwayFromZero) {
  struct Case {
    int number, numerator, denominator, expected;
  };
  const Case cases[] = {
      {3, 144, 96, 5},  {30, 120, 96, 38}, {-3, 144, 96, -5},        {3, 144, -96, -5},
      {7, 144, 0, -1},  {0x7fffffff, 2, 1, -1}, {0x7fffffff, 96, 96, 0x7fffffff},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mul_div(c.number, c.numerator, c.denominator), c.expected)
        << c.number << " * " << c.numerator << " / " << c.denominator;
  }
}

#ifdef _WIN32
TEST(Layout, MulDivMatchesTheSystems) {
  for (int number = -300; number <= 300; number += 7) {
    for (int dpi : {0, 72, 96, 100, 120, 144, 168, 192, 240, 288, -120}) {
      for (int denominator : {96, 72, -96, 1}) {
        EXPECT_EQ(mul_div(number, dpi, denominator), MulDiv(number, dpi, denominator))
            << number << " * " << dpi << " / " << denominator;
      }
    }
  }
}
#endif

// The measures that ScalesEachMeasureByItself does not check at 96 DPI.
TEST(Layout, PlacesEveryElementAt96Dpi) {
  const FrameLayout l = frame_layout(kWidth, kHeight, 96);
  EXPECT_EQ(l.track_width, 524);
  EXPECT_EQ(l.logo.points[1], (Point{36, 29}));
  EXPECT_EQ(l.logo.points[4], (Point{54, 41}));
  EXPECT_EQ(l.wordmark, (Rect{66, 20, 554, 42}));
  EXPECT_EQ(l.header_caption, (Rect{152, 20, 554, 42}));
  EXPECT_EQ(l.pill, (Rect{438, 19, 554, 43}));
  EXPECT_EQ(l.pill_corner, 12);
  EXPECT_EQ(l.pill_text, (Rect{461, 19, 546, 43}));
  EXPECT_EQ(l.heading, (Rect{30, 66, 554, 101}));
  EXPECT_EQ(l.title, (Rect{30, 106, 554, 132}));
  EXPECT_EQ(l.track_corner, 8);
  EXPECT_EQ(l.separator, (Rect{30, 207, 554, 208}));
}

// Each measure is rounded by itself: at 144 DPI, 19 + 9 is 29 + 14 = 43, not
// the 42 that scaling 28 would give; at 120 DPI 30 is 37.5, rounded up.
TEST(Layout, ScalesEachMeasureByItself) {
  struct Case {
    int dpi;
    int margin;
    Rect top_bar, pill_dot, track, detail, percentage, footer;
    Point logo_start;
    int logo_pen;
  };
  const Case cases[] = {
      {96, 30, {0, 0, 584, 3}, {448, 28, 454, 34}, {30, 150, 554, 158}, {30, 169, 492, 194}, {494, 169, 554, 194},
       {30, 220, 554, 249}, {30, 41}, 3},
      {120, 38, {0, 0, 584, 4}, {414, 35, 421, 43}, {38, 188, 546, 198}, {38, 211, 468, 243}, {471, 211, 546, 243},
       {38, 275, 546, 245}, {38, 52}, 4},
      {144, 45, {0, 0, 584, 5}, {380, 43, 389, 52}, {45, 225, 539, 237}, {45, 254, 446, 291}, {449, 254, 539, 291},
       {45, 330, 539, 242}, {45, 62}, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    const FrameLayout l = frame_layout(kWidth, kHeight, c.dpi);
    EXPECT_EQ(l.margin, c.margin);
    EXPECT_EQ(l.top_bar, c.top_bar);
    EXPECT_EQ(l.pill_dot, c.pill_dot);
    EXPECT_EQ(l.track, c.track);
    EXPECT_EQ(l.detail, c.detail);
    EXPECT_EQ(l.percentage, c.percentage);
    EXPECT_EQ(l.footer, c.footer);
    EXPECT_EQ(l.logo.points[0], c.logo_start);
    EXPECT_EQ(l.logo.pen_width, c.logo_pen);
  }
}

TEST(Layout, CentresTheWindowButNeverOffTheScreen) {
  struct Case {
    int screen_width, screen_height;
    Point expected;
  };
  const Case cases[] = {
      {1280, 800, {345, 254}}, {500, 800, {0, 254}}, {1280, 200, {345, 0}},
      {590, 292, {0, 0}},      {591, 293, {0, 0}},   {593, 295, {1, 1}},
      {0, 0, {0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(window_origin(c.screen_width, c.screen_height), c.expected) << c.screen_width << "x" << c.screen_height;
  }
}

// Without a progress value a segment of max(scale(72), TW / 5) sweeps the
// track: at 96 DPI TW is 524, the segment 104 and the cycle 628 pixels, 4 a
// tick; at 144 DPI TW is 494, the segment 108, the cycle 602, 6 a tick.
TEST(Layout, IndeterminateSegmentSweepsTheTrackAndWrapsWithTheTickProduct) {
  struct Case {
    int dpi;
    std::uint32_t frame;
    std::optional<Rect> expected;
  };
  const Case cases[] = {
      {96, 0, std::nullopt},                         // no width yet
      {96, 1, Rect{30, 150, 34, 158}},               // grows in at the left end
      {96, 100, Rect{326, 150, 430, 158}},           // full length, mid-sweep
      {96, 150, Rect{526, 150, 554, 158}},           // shrinks out at the right end
      {96, 157, std::nullopt},                       // 4 * 157 = 628: the cycle starts again
      {96, 0x40000000u, std::nullopt},               // 4 * 2^30 wraps to 0
      {96, 0x40000001u, Rect{30, 150, 34, 158}},     // ... and the sweep restarts
      {96, 0xffffffffu, Rect{486, 150, 554, 158}},   // (2^32 - 4) mod 628 = 560
      {144, 100, Rect{537, 225, 539, 237}},          // 600 of 602
      {144, 0xffffffffu, Rect{45, 225, 141, 237}},   // (2^32 - 6) mod 602 = 96
  };
  for (const Case& c : cases) {
    const FrameLayout l = frame_layout(kWidth, kHeight, c.dpi);
    EXPECT_EQ(indeterminate_segment(l, c.frame), c.expected) << c.dpi << " dpi, frame " << c.frame;
    EXPECT_EQ(progress_fill(l, c.frame, 5, 0), c.expected);
  }
}

TEST(Layout, IndeterminateSegmentDrawsNothingWhereNoCycleFits) {
  EXPECT_EQ(indeterminate_segment(frame_layout(0, 0, 0), 7), std::nullopt);
  EXPECT_EQ(indeterminate_segment(frame_layout(10, 10, 96), 7), std::nullopt);
}

TEST(Layout, DeterminateFillIsTheRoundedFractionWithAStub) {
  struct Case {
    int dpi;
    std::uint64_t done, total;
    int right;
  };
  const Case cases[] = {
      {96, 0, 1060, 38},     // an 8-pixel stub even at nothing done
      {144, 0, 1060, 57},    // the stub is scaled too
      {96, 724, 1060, 388},  // 524 * 0.683 = 357.9
      {96, 3, 8, 227},       // 196.5 rounds away from zero
      {96, 1, 8, 96},        // 65.5 as well
      {96, 1060, 1060, 554},
      {96, 5000, 1060, 554},  // more than done is a full bar
      {96, std::numeric_limits<std::uint64_t>::max(), 1, 554},
      {144, 724, 1060, 382},  // 494 * 0.683 = 337.4
  };
  for (const Case& c : cases) {
    const FrameLayout l = frame_layout(kWidth, kHeight, c.dpi);
    const Rect expected{l.margin, l.track.top, c.right, l.track.bottom};
    EXPECT_EQ(determinate_fill(l, c.done, c.total), expected) << c.done << "/" << c.total << " at " << c.dpi;
    EXPECT_EQ(progress_fill(l, 12345, c.done, c.total), expected);
  }
}

TEST(Layout, PercentageIsTruncatedAndLimitedToAHundred) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  struct Case {
    std::uint64_t done, total;
    const wchar_t* text;
  };
  const Case cases[] = {
      {0, 1060, L"0%"},       {724, 1060, L"68%"},  {1059, 1060, L"99%"},
      {1060, 1060, L"100%"},  {2000, 1060, L"100%"}, {2, 3, L"66%"},
      {1, 0, L""},            {0, 0, L""},
      // Byte counts whose product with 100 exceeds 64 bits.
      {1ull << 62, 1ull << 63, L"50%"}, {kMax - 1, kMax, L"99%"}, {kMax / 2, kMax, L"49%"},
      {kMax, kMax, L"100%"},  {kMax, 3, L"100%"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(percentage_text(c.done, c.total), c.text) << c.done << "/" << c.total;
  }
}

#ifdef __SIZEOF_INT128__
TEST(Layout, PercentageAgreesWithWideArithmetic) {
  std::mt19937_64 random(20261206);
  for (int i = 0; i < 100000; ++i) {
    const int shift = static_cast<int>(random() % 64);
    const std::uint64_t total = (random() >> shift) | 1;
    const std::uint64_t done = random() % total;
    const auto expected = static_cast<unsigned>((static_cast<unsigned __int128>(done) * 100) / total);
    ASSERT_EQ(percentage(done, total), expected) << done << "/" << total;
  }
}
#endif

}  // namespace
}  // namespace korvanta

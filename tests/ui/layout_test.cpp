#include "ui/layout.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

namespace korvanta {

TEST(Layout, MulDivRoundsHalvesAwayFromZeroAndTheWindowStaysOnTheScreen) {
  const int cases[][4] = {{3, 144, 96, 5},        {-3, 144, 96, -5}, {3, 144, -96, -5},
                          {0x7fffffff, 2, 1, -1}, {7, 144, 0, -1},   {0x7fffffff, 96, 96, 0x7fffffff}};
  for (const auto& c : cases) EXPECT_EQ(mul_div(c[0], c[1], c[2]), c[3]) << c[0] << " * " << c[1] << " / " << c[2];
  // Windows' dialog frame at 96 DPI, and Wine's at 144, which does not grow the borders.
  EXPECT_EQ(window_rect({592, 0}, {6, 29}, 96), (Rect{1, 0, 591, 292}));
  EXPECT_EQ(window_rect({0, 1000}, {6, 34}, 144), (Rect{0, 285, 882, 714}));
}

// In a client area of 584 x 263 at 96 DPI the track runs from x = 30 to 554.
// Without a total a segment of 524 / 5 = 104 pixels moves 4 a tick over a
// cycle of 628: nothing at tick 0, growing in at the left end at 1, shrinking
// out at the right end at 150; 4 * 2^30 wraps to 0 and 4 * (2^32 - 1) to
// 2^32 - 4, 560 into the cycle. With a total the fill is the track's fraction
// rounded halves away from zero (3/8 of 524 is 196.5), at least a stub of
// scale(8), and never more than the track.
TEST(Layout, TheFillSweepsWithoutATotalAndIsTheRoundedFractionWithOne) {
  const std::uint64_t cases[][6] = {
      // dpi, tick, done, total, left, right (0: nothing drawn; at 0 DPI no cycle fits)
      {96, 0, 1, 0, 0, 0},          {96, 1, 1, 0, 30, 34},     {96, 150, 1, 0, 526, 554},
      {96, 0x40000000, 1, 0, 0, 0}, {96, ~0u, 1, 0, 486, 554}, {0, 7, 1, 0, 0, 0},
      {144, 7, 0, 1060, 45, 57},    {96, 7, 3, 8, 30, 227},    {96, 7, ~0ull, 1, 30, 554}};
  for (const auto& [dpi, tick, done, total, left, right] : cases) {
    const FrameLayout l = frame_layout(scale(584, int(dpi)), scale(263, int(dpi)), int(dpi));
    const std::optional<Rect> fill = Rect{int(left), l.track.top, int(right), l.track.bottom};
    EXPECT_EQ(progress_fill(l, std::uint32_t(tick), done, total), right ? fill : std::nullopt)
        << tick << ", " << done << " / " << total << " at " << dpi;
  }
}

// x * factor, factor below 2^32, as its 128 bits (high, low).
std::tuple<std::uint64_t, std::uint64_t> mul(std::uint64_t x, std::uint64_t factor) {
  const std::uint64_t low = (x & 0xffffffffu) * factor, high = (x >> 32) * factor;
  return {(high + (low >> 32)) >> 32, low + (high << 32)};
}

// p = floor(100 * done / total) exactly when p * total <= 100 * done < (p + 1) * total.
TEST(Layout, PercentageIsTruncatedExactForAny64BitValuesAndLimitedToAHundred) {
  std::mt19937_64 random(20261206);
  for (int i = 0; i < 100000; ++i) {
    const std::uint64_t total = (random() >> random() % 64) | 1, done = random() % total;
    const unsigned p = percentage(done, total);
    ASSERT_TRUE(mul(total, p) <= mul(done, 100) && mul(done, 100) < mul(total, p + 1)) << done << " / " << total;
  }
  const std::tuple<std::uint64_t, std::uint64_t, const wchar_t*> cases[] = {
      {0, 1, L"0%"}, {2, 3, L"66%"}, {2000, 1060, L"100%"}, {1, 0, L""}};
  for (const auto& [done, total, text] : cases) EXPECT_EQ(percentage_text(done, total), text) << done << " / " << total;
}

}  // namespace korvanta

#include "ui/layout.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace korvanta {

int mul_div(int number, int numerator, int denominator) noexcept {
  if (denominator == 0) return -1;
  std::int64_t product = static_cast<std::int64_t>(number) * numerator;
  std::int64_t divisor = denominator;
  if (divisor < 0) {
    product = -product;
    divisor = -divisor;
  }
  const std::int64_t half = divisor / 2;
  const std::int64_t result = (product >= 0 ? product + half : product - half) / divisor;
  if (result > std::numeric_limits<int>::max() || result < -std::numeric_limits<int>::max()) return -1;
  return static_cast<int>(result);
}

Rect window_rect(Size screen, Size frame, int dpi) noexcept {
  const int width = scale(kContentWidth, dpi) + frame.width;
  const int height = scale(kContentHeight, dpi) + frame.height;
  const int x = std::max((screen.width - width) / 2, 0);
  const int y = std::max((screen.height - height) / 2, 0);
  return {x, y, x + width, y + height};
}

FrameLayout frame_layout(int width, int height, int dpi) noexcept {
  const auto s = [dpi](int value) { return scale(value, dpi); };
  FrameLayout l;
  l.dpi = dpi;
  l.width = width;
  l.height = height;
  const int m = s(30);
  const int right = width - m;  // right edge of the content
  l.margin = m;
  l.track_width = right - m;

  l.top_bar = {0, 0, width, s(3)};

  const int logo_x = m;
  const int logo_y = s(23);
  l.logo.pen_width = s(3);
  l.logo.points = {Point{logo_x, logo_y + s(18)}, Point{logo_x + s(6), logo_y + s(6)},
                   Point{logo_x + s(12), logo_y + s(18)}, Point{logo_x + s(18), logo_y + s(6)},
                   Point{logo_x + s(24), logo_y + s(18)}};

  l.wordmark = {m + s(36), s(20), right, s(42)};
  l.header_caption = {m + s(122), s(20), right, s(42)};

  const int pill_left = width - s(116) - m;
  l.pill = {pill_left, s(19), right, s(43)};
  l.pill_corner = s(12);
  l.pill_dot = {pill_left + s(10), s(19) + s(9), pill_left + s(16), s(19) + s(15)};
  l.pill_text = {pill_left + s(23), s(19), right - s(8), s(43)};

  l.heading = {m, s(66), right, s(101)};
  l.title = {m, s(106), right, s(132)};
  l.track = {m, s(150), right, s(158)};
  l.track_corner = s(8);
  l.detail = {m, s(169), width - s(62) - m, s(194)};
  l.percentage = {width - s(60) - m, s(169), right, s(194)};
  l.separator = {m, s(207), right, s(208)};
  l.footer = {m, s(220), right, height - s(14)};
  return l;
}

std::optional<Rect> indeterminate_segment(const FrameLayout& layout, std::uint32_t frame_counter) noexcept {
  const int segment = std::max(scale(72, layout.dpi), layout.track_width / 5);
  const int cycle = layout.track_width + segment;
  // Only a client area narrower than its own margins gets here; a modulo by
  // zero or a negative cycle would be undefined.
  if (cycle <= 0) return std::nullopt;
  const std::uint32_t step = static_cast<std::uint32_t>(scale(4, layout.dpi));
  const int position = static_cast<int>((step * frame_counter) % static_cast<std::uint32_t>(cycle));
  const int left = std::max(layout.margin + position - segment, layout.margin);
  const int right = std::min(layout.margin + position, layout.width - layout.margin);
  if (right <= left) return std::nullopt;
  return Rect{left, layout.track.top, right, layout.track.bottom};
}

Rect determinate_fill(const FrameLayout& layout, std::uint64_t done, std::uint64_t total) noexcept {
  double ratio = total == 0 ? 0.0 : static_cast<double>(done) / static_cast<double>(total);
  ratio = std::clamp(ratio, 0.0, 1.0);
  const int width = static_cast<int>(std::lround(layout.track_width * ratio));
  const int stub = scale(8, layout.dpi);
  return Rect{layout.margin, layout.track.top, layout.margin + std::max(stub, width), layout.track.bottom};
}

std::optional<Rect> progress_fill(const FrameLayout& layout, std::uint32_t frame_counter, std::uint64_t done,
                                  std::uint64_t total) noexcept {
  if (total == 0) return indeterminate_segment(layout, frame_counter);
  return determinate_fill(layout, done, total);
}

unsigned percentage(std::uint64_t done, std::uint64_t total) noexcept {
  if (total == 0 || done >= total) return 100;
  // done < total: two decimal digits of done / total by long division. Each
  // digit is ten additions of the remainder, each kept below total, so no
  // intermediate value can wrap, however large the byte counts are.
  unsigned result = 0;
  std::uint64_t remainder = done;
  for (int digit_place = 0; digit_place < 2; ++digit_place) {
    unsigned digit = 0;
    std::uint64_t accumulated = 0;
    for (int i = 0; i < 10; ++i) {
      if (accumulated >= total - remainder) {
        accumulated -= total - remainder;
        ++digit;
      } else {
        accumulated += remainder;
      }
    }
    result = result * 10 + digit;
    remainder = accumulated;
  }
  return result;
}

std::wstring percentage_text(std::uint64_t done, std::uint64_t total) {
  if (total == 0) return {};
  return std::to_wstring(percentage(done, total)) + L"%";
}

FooterStyle footer_style(bool preview) noexcept {
  if (preview) return {kPreviewFooterText, colours::kBadgeText};
  return {kUpdateFooterText, colours::kMutedText};
}

}  // namespace korvanta

#include "ui/frame_win32.h"

#include <algorithm>
#include <cwchar>
#include <string>

#include "ui/layout.h"

namespace korvanta {
namespace {

// DrawTextW formats: every text is one line, vertically centred, and an "&"
// in a product name or path is shown, not taken as a mnemonic.
constexpr UINT kPlainText = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
constexpr UINT kEllipsisText = kPlainText | DT_END_ELLIPSIS;
constexpr UINT kRightText = DT_RIGHT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;

RECT to_rect(const Rect& r) noexcept { return RECT{r.left, r.top, r.right, r.bottom}; }

gdi::Font make_font(const FontSpec& spec, int dpi) {
  const std::wstring face(spec.face);
  return gdi::Font(CreateFontW(font_height(spec.points, dpi), 0, 0, 0, spec.weight, FALSE, FALSE, FALSE,
                               DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                               DEFAULT_PITCH | FF_DONTCARE, face.c_str()));
}

void fill_rect(HDC dc, const Rect& rect, Colour colour) {
  const gdi::Brush brush = gdi::solid_brush(colour);
  const RECT r = to_rect(rect);
  FillRect(dc, &r, brush.get());
}

void fill_rounded_rect(HDC dc, const Rect& rect, int corner, Colour fill, Colour border) {
  const gdi::Brush brush = gdi::solid_brush(fill);
  const gdi::Pen pen = gdi::solid_pen(1, border);
  const gdi::Selection brush_selection(dc, brush.get());
  const gdi::Selection pen_selection(dc, pen.get());
  RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, corner, corner);
}

void draw_logo_mark(HDC dc, const LogoMark& logo) {
  const gdi::Pen pen = gdi::solid_pen(logo.pen_width, colours::kAccent);
  const gdi::Selection pen_selection(dc, pen.get());
  SetBkMode(dc, TRANSPARENT);
  MoveToEx(dc, logo.points[0].x, logo.points[0].y, nullptr);
  for (std::size_t i = 1; i < logo.points.size(); ++i) LineTo(dc, logo.points[i].x, logo.points[i].y);
}

void draw_dot(HDC dc, const Rect& box, Colour colour) {
  const gdi::Brush brush = gdi::solid_brush(colour);
  const gdi::Selection brush_selection(dc, brush.get());
  const gdi::Selection pen_selection(dc, GetStockObject(NULL_PEN));
  Ellipse(dc, box.left, box.top, box.right, box.bottom);
}

void draw_text(HDC dc, std::wstring_view text, const Rect& rect, const gdi::Font& font, Colour colour, UINT format) {
  if (text.empty()) return;
  const gdi::Selection font_selection(dc, font.get());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, gdi::colour_ref(colour));
  RECT r = to_rect(rect);
  DrawTextW(dc, text.data(), static_cast<int>(text.size()), &r, format);
}

int text_width(HDC dc, std::wstring_view text) {
  SIZE size{};
  GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &size);
  return size.cx;
}

}  // namespace

std::wstring fit_detail(HDC dc, std::wstring_view detail, int width) {
  if (text_width(dc, detail) <= width) return std::wstring(detail);
  const std::size_t split = detail.rfind(kDetailSeparator);
  const std::wstring_view figures = split == std::wstring_view::npos ? std::wstring_view() : detail.substr(split);
  // Room for the ellipsis that the shortening writes; the text ends at the
  // first NUL (a path holds none).
  std::wstring path(detail.substr(0, detail.size() - figures.size()));
  path.append(5, L'\0');
  RECT room{0, 0, std::max(0, width - text_width(dc, figures)), 1};
  DrawTextW(dc, path.data(), -1, &room, kPlainText | DT_PATH_ELLIPSIS | DT_END_ELLIPSIS | DT_MODIFYSTRING | DT_CALCRECT);
  path.resize(std::wcslen(path.c_str()));
  return path.append(figures);
}

Fonts make_fonts(int dpi) {
  Fonts fonts;
  fonts.wordmark_font = make_font(kWordmarkFont, dpi);
  fonts.badge_font = make_font(kBadgeFont, dpi);
  fonts.heading_font = make_font(kHeadingFont, dpi);
  fonts.subtitle_font = make_font(kSubtitleFont, dpi);
  fonts.detail_font = make_font(kDetailFont, dpi);
  fonts.caption_font = make_font(kCaptionFont, dpi);
  return fonts;
}

void draw_frame(HDC dc, int width, int height, int dpi, std::uint32_t frame_counter, std::wstring_view product_name,
                const ProgressStatus& status, const Fonts& fonts) {
  const FrameLayout layout = frame_layout(width, height, dpi);

  fill_rect(dc, Rect{0, 0, width, height}, colours::kBackground);
  fill_rect(dc, layout.top_bar, colours::kAccent);
  draw_logo_mark(dc, layout.logo);
  draw_text(dc, kWordmarkText, layout.wordmark, fonts.wordmark_font, colours::kPrimaryText, kPlainText);
  draw_text(dc, kHeaderCaptionText, layout.header_caption, fonts.caption_font, colours::kMutedText, kPlainText);

  fill_rounded_rect(dc, layout.pill, layout.pill_corner, colours::kPillFill, colours::kLine);
  draw_dot(dc, layout.pill_dot, colours::kAccent);
  draw_text(dc, status.badge, layout.pill_text, fonts.badge_font, colours::kBadgeText, kEllipsisText);

  draw_text(dc, product_name, layout.heading, fonts.heading_font, colours::kPrimaryText, kEllipsisText);
  draw_text(dc, status.title, layout.title, fonts.subtitle_font, colours::kSecondaryText, kEllipsisText);

  fill_rounded_rect(dc, layout.track, layout.track_corner, colours::kTrack, colours::kTrack);
  if (const auto fill = progress_fill(layout, frame_counter, status.done, status.total)) {
    fill_rounded_rect(dc, *fill, layout.track_corner, colours::kAccent, colours::kAccent);
  }

  {
    const gdi::Selection font_selection(dc, fonts.detail_font.get());
    draw_text(dc, fit_detail(dc, status.detail, layout.detail.width()), layout.detail, fonts.detail_font,
              colours::kSecondaryText, kPlainText);
  }
  draw_text(dc, percentage_text(status.done, status.total), layout.percentage, fonts.subtitle_font,
            colours::kPrimaryText, kRightText);

  fill_rect(dc, layout.separator, colours::kLine);
  const FooterStyle footer = footer_style(status.preview);
  draw_text(dc, footer.text, layout.footer, fonts.caption_font, footer.colour, kPlainText);
}

}  // namespace korvanta

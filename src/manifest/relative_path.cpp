#include "manifest/relative_path.h"

#include <algorithm>

namespace korvanta {
namespace {

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

std::optional<std::string> normalize_relative_path(std::string_view path) {
  std::string text(path);
  std::replace(text.begin(), text.end(), '\\', '/');
  if (text.empty() || text.front() == '/') return std::nullopt;
  if (text.size() >= 2 && is_ascii_letter(text[0]) && text[1] == ':') return std::nullopt;

  // Segments as a line reader with "/" as its delimiter sees them: a "/" at
  // the very end closes the last segment without opening an empty one.
  std::size_t segments = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t slash = text.find('/', start);
    const std::size_t end = slash == std::string::npos ? text.size() : slash;
    const std::string_view segment(text.data() + start, end - start);
    if (segment.empty() || segment == "." || segment == "..") return std::nullopt;
    ++segments;
    start = slash == std::string::npos ? text.size() : slash + 1;
  }
  if (segments == 0) return std::nullopt;

  // Every segment is non-empty, so the text already joins them by single
  // slashes; only the one trailing slash the reader allowed has to go.
  if (text.back() == '/') text.pop_back();
  return text;
}

}  // namespace korvanta

#include "manifest/relative_path.h"

#include <algorithm>

namespace korvanta {
namespace {

bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A name Windows keeps for a device, in any letter case, with or without an
// extension or a stream name and with spaces before it: opening such a file
// opens the device.
bool is_device_name(std::string_view segment) {
  std::string base(segment.substr(0, segment.find_first_of(".:")));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (const std::string_view name : {"con", "prn", "aux", "nul", "conin$", "conout$"})
    if (base == name) return true;
  const std::string_view stem = std::string_view(base).substr(0, 3);
  if (stem != "com" && stem != "lpt") return false;
  const std::string_view number = std::string_view(base).substr(3);
  // A digit, or a superscript one, two or three.
  return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
         number == "\xC2\xB2" || number == "\xC2\xB3";
}

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
    // Windows drops a name's trailing dots and spaces, so such a segment
    // names another file than it says ("..." even the parent, once a long
    // path is made full).
    if (segment.empty() || segment.back() == '.' || segment.back() == ' ' || is_device_name(segment))
      return std::nullopt;
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

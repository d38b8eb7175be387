// normalize_relative_path on arbitrary bytes. Checks the promises the apply
// engine relies on when it joins an accepted path to the installation root,
// and compares every answer, accepted or refused, with a model built on a
// line reader whose delimiter is "/".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "manifest/relative_path.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

std::optional<std::string> model(std::string_view input) {
  std::string text(input);
  for (char& c : text)
    if (c == '\\') c = '/';
  if (text.empty() || text[0] == '/') return std::nullopt;
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (text.size() >= 2 && letter(text[0]) && text[1] == ':') return std::nullopt;
  std::istringstream stream(text);
  std::vector<std::string> segments;
  for (std::string segment; std::getline(stream, segment, '/');) segments.push_back(segment);
  if (segments.empty()) return std::nullopt;
  std::string joined;
  for (const auto& segment : segments) {
    if (segment.empty() || segment == "." || segment == "..") return std::nullopt;
    if (!joined.empty()) joined += '/';
    joined += segment;
  }
  return joined;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto normal = korvanta::normalize_relative_path(input);
  check(normal == model(input));
  if (!normal) return 0;

  const std::string& path = *normal;
  check(!path.empty());
  check(path.front() != '/');
  check(path.find('\\') == std::string::npos);
  check(!(path.size() >= 2 && path[1] == ':' &&
          ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'))));
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    const std::string_view segment(path.data() + start, (slash == std::string::npos ? path.size() : slash) - start);
    check(!segment.empty() && segment != "." && segment != "..");
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  // The normal form is a fixed point, and no longer than the input.
  check(korvanta::normalize_relative_path(path) == normal);
  check(path.size() <= size);
  return 0;
}

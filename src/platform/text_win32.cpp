#include "platform/text.h"

#include <windows.h>

#include <climits>

namespace korvanta::platform {

std::wstring utf8_to_wide(std::string_view text) {
  if (text.empty()) return {};
  if (text.size() <= static_cast<std::size_t>(INT_MAX)) {
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (needed > 0) {
      std::wstring out(static_cast<std::size_t>(needed), L'\0');
      if (MultiByteToWideChar(CP_UTF8, 0, text.data(), length, out.data(), needed) == needed) return out;
    }
  }
  // The conversion refused the text: widen each byte as a signed char so the
  // caller still gets a path of the same length.
  std::wstring out;
  out.reserve(text.size());
  for (const char c : text) out += static_cast<wchar_t>(static_cast<signed char>(c));
  return out;
}

std::string wide_to_utf8(std::wstring_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(text.size());
  const int needed = WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string out(static_cast<std::size_t>(needed), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, out.data(), needed, nullptr, nullptr);
  return out;
}

}  // namespace korvanta::platform

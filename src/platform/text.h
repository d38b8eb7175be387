#pragma once
// Conversions between UTF-8 (narrow) and the platform's wide text: UTF-16 on
// Windows, UTF-32 on hosts whose wchar_t is 32 bits wide (where the portable
// code is tested).
#include <string>
#include <string_view>

namespace korvanta::platform {

// UTF-8 to wide text. An ill-formed sequence becomes U+FFFD, as the system's
// code-page conversion does; the empty string gives the empty string. Should
// the conversion itself fail, every byte is widened on its own as a signed
// 8-bit value (0x80..0xFF become U+FF80..U+FFFF), so a path never vanishes.
std::wstring utf8_to_wide(std::string_view text);

// Wide text to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string wide_to_utf8(std::wstring_view text);

}  // namespace korvanta::platform

#pragma once
// Operating-system error codes as std::error_code. On Windows the code is the
// Win32 error code itself and message() is the system's own text (from
// FormatMessageW, in UTF-8, trailing line breaks and spaces trimmed); on the
// host it is errno with the C library's text.
#include <string>
#include <system_error>

namespace korvanta::platform {

const std::error_category& os_category() noexcept;

// The calling thread's last error (GetLastError() or errno). Call it on the
// line right after the failing call.
std::error_code last_os_error() noexcept;

inline std::error_code make_os_error(int code) noexcept { return {code, os_category()}; }

// The user-facing reason text of an error: its message alone, without a
// prefix, number or path.
std::string os_error_text(const std::error_code& error);

}  // namespace korvanta::platform

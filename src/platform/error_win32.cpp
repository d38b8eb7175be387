#include "platform/error.h"

#include <windows.h>

#include "platform/text.h"

namespace korvanta::platform {
namespace {

// The C++ runtime of this toolchain maps many Win32 file errors to a generic
// "Input/output error"; players must see the system's own message instead.
class Win32Category final : public std::error_category {
 public:
  const char* name() const noexcept override { return "win32"; }

  std::string message(int code) const override {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length > 0 && buffer != nullptr) text.assign(buffer, length);
    if (buffer != nullptr) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
    if (text.empty()) return "Windows error " + std::to_string(static_cast<unsigned long>(code));
    return wide_to_utf8(text);
  }
};

}  // namespace

const std::error_category& os_category() noexcept {
  static const Win32Category category;
  return category;
}

std::error_code last_os_error() noexcept {
  const DWORD code = GetLastError();
  return {static_cast<int>(code), os_category()};
}

std::string os_error_text(const std::error_code& error) { return error.message(); }

}  // namespace korvanta::platform

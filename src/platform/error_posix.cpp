#include "platform/error.h"

#include <cerrno>

namespace korvanta::platform {

const std::error_category& os_category() noexcept { return std::system_category(); }

std::error_code last_os_error() noexcept { return {errno, std::system_category()}; }

std::string os_error_text(const std::error_code& error) { return error.message(); }

}  // namespace korvanta::platform

#include "platform/clock.h"

namespace korvanta::platform {

bool to_local_time(std::time_t seconds, std::tm& out) noexcept {
#ifdef _WIN32
  const __time64_t wide = seconds;
  return _localtime64_s(&out, &wide) == 0;
#else
  return localtime_r(&seconds, &out) != nullptr;
#endif
}

bool to_utc_time(std::time_t seconds, std::tm& out) noexcept {
#ifdef _WIN32
  const __time64_t wide = seconds;
  return _gmtime64_s(&out, &wide) == 0;
#else
  return gmtime_r(&seconds, &out) != nullptr;
#endif
}

}  // namespace korvanta::platform

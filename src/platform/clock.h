#pragma once
#include <ctime>

namespace korvanta::platform {

// Seconds since the epoch as local calendar time (the system's time zone and
// daylight-saving rules). False when the conversion fails.
bool to_local_time(std::time_t seconds, std::tm& out) noexcept;

// Seconds since the epoch as UTC calendar time. False when the conversion
// fails.
bool to_utc_time(std::time_t seconds, std::tm& out) noexcept;

}  // namespace korvanta::platform

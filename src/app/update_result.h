#pragma once
// update-result.json: how a run ended, for the launcher, which has exited by
// then and would otherwise have to read the log. The run writes it beside the
// state file (in .korvanta) as its last step, while it still holds the
// updater lock.
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "update/apply.h"

namespace korvanta {

inline constexpr const wchar_t* kResultFileName = L"update-result.json";

// The log's line for a result that could not be written, before the reason.
inline constexpr std::string_view kResultNotWrittenPrefix = "Result file not written: ";

struct UpdateResult {
  int exit_code = 0;                  // 0, 3 or 4
  std::optional<ApplyError> failure;  // with exit code 3
  ApplyReport report;
  bool state_file_left = false;
  std::chrono::system_clock::time_point start, end;
};

// The state file's directory, then update-result.json.
std::wstring result_path_for(const std::wstring& state_path);

// The JSON form that schemas/update-result.schema.json describes. Bytes of
// the reason that are not UTF-8 (in a message of the updater's own) become
// U+FFFD; the place and path are the state file's UTF-8 or the updater's own.
nlohmann::json update_result_to_json(const UpdateResult& result);

// Writes the result to path, whole or not at all (write_json_file). Nothing
// when it is written; else why not, in words for the log (the system's
// message, for one).
std::optional<std::string> write_update_result(const std::wstring& path, const UpdateResult& result);

// "YYYY-MM-DDTHH:MM:SSZ", the second of time in UTC (ISO 8601).
std::string format_utc(std::chrono::system_clock::time_point time);

}  // namespace korvanta

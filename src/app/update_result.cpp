#include "app/update_result.h"

#include <ctime>

#include "app/run.h"
#include "manifest/manifest_writer.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/path_text.h"
#include "platform/text.h"

namespace korvanta {
namespace {

using nlohmann::json;

json text_or_null(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

// A message of the updater's own may hold bytes that are not UTF-8, which
// the writer refuses: the result is worth more than those bytes (U+FFFD).
std::string well_formed(const std::string& text) { return platform::wide_to_utf8(platform::utf8_to_wide(text)); }

// The failure's place, path and Windows error as its "Failed entry: " line
// gives them.
json failed_entry(const ApplyError& failure) {
  json entry = json::object();
  entry["place"] = failure.place.empty() ? std::string(kUnknownPlace) : failure.place;
  entry["path"] = text_or_null(failure.path);
  entry["windows_error"] = nullptr;
  if (const int number = failure.windows_error(); number != 0) entry["windows_error"] = number;
  return entry;
}

const char* outcome_of(int exit_code) {
  switch (exit_code) {
    case static_cast<int>(ExitCode::kComplete): return "installed";
    case static_cast<int>(ExitCode::kRestartFailed): return "installed_restart_failed";
    default: return "failed";
  }
}

}  // namespace

std::wstring result_path_for(const std::wstring& state_path) {
  return platform::path_text::join(platform::path_text::parent_path(state_path), kResultFileName);
}

std::string format_utc(std::chrono::system_clock::time_point time) {
  std::tm utc{};
  if (!platform::to_utc_time(std::chrono::system_clock::to_time_t(time), utc)) return "1970-01-01T00:00:00Z";
  char text[32];
  return std::string(text, std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc));
}

json update_result_to_json(const UpdateResult& result) {
  const ApplyReport& report = result.report;
  json value = json::object();
  value["exit_code"] = result.exit_code;
  value["outcome"] = outcome_of(result.exit_code);
  value["reason"] = result.failure ? json(well_formed(result.failure->reason_text())) : json(nullptr);
  value["failed_entry"] = result.failure ? failed_entry(*result.failure) : json(nullptr);
  json& build = value["build"];
  if (result.exit_code != static_cast<int>(ExitCode::kApplyFailed)) {
    build["id"] = report.build_id.value_or("");
    build["version"] = report.build_version.value_or("");
  }
  value["state_file_left"] = result.state_file_left;
  value["deleted"] = report.deleted;
  value["replaced"] = report.replaced;
  value["already_installed"] = report.already_installed;
  value["start_time"] = format_utc(result.start);
  value["end_time"] = format_utc(result.end);
  return value;
}

std::optional<std::string> write_update_result(const std::wstring& path, const UpdateResult& result) {
  try {
    const std::optional<WriteFailure> failed = write_json_file(path, update_result_to_json(result));
    if (!failed) return std::nullopt;
    if (!failed->message.empty()) return failed->message;
    if (failed->system) return platform::os_error_text(failed->system);
  } catch (const std::exception& e) {  // out of memory
    return e.what();
  }
  return std::string(reason_code(Reason::unexpected_error));
}

}  // namespace korvanta

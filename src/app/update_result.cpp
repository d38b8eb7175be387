#include "app/update_result.h"

#include <ctime>

#include "app/run.h"
#include "manifest/manifest_writer.h"
#include "platform/clock.h"
#include "platform/error.h"
#include "platform/path_text.h"

namespace korvanta {
namespace {

using nlohmann::json;

json text_or_null(const std::string& text) { return text.empty() ? json(nullptr) : json(text); }

// The failure's place, path and Windows error as its "Failed entry: " line
// gives them.
json failed_entry(const ApplyError& failure) {
  const int number = failure.windows_error();
  return {{"place", failure.place.empty() ? std::string(kUnknownPlace) : failure.place},
          {"path", text_or_null(failure.path)},
          {"windows_error", number != 0 ? json(number) : json(nullptr)}};
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
  const bool installed = result.exit_code != static_cast<int>(ExitCode::kApplyFailed);
  json build = nullptr;
  if (installed) build = {{"id", report.build_id.value_or("")}, {"version", report.build_version.value_or("")}};
  const json value = {
      {"exit_code", result.exit_code},
      {"outcome", outcome_of(result.exit_code)},
      {"reason", result.failure ? json(result.failure->reason_text()) : json(nullptr)},
      {"failed_entry", result.failure ? failed_entry(*result.failure) : json(nullptr)},
      {"build", build},
      {"state_file_left", result.state_file_left},
      {"deleted", report.deleted},
      {"replaced", report.replaced},
      {"already_installed", report.already_installed},
      {"start_time", format_utc(result.start)},
      {"end_time", format_utc(result.end)},
  };
  // A message of the updater's own may hold bytes that are not UTF-8, which
  // the writer refuses: the result is worth more than those bytes.
  return json::parse(value.dump(-1, ' ', false, json::error_handler_t::replace));
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

#include "log/run_log.h"

#include <chrono>
#include <ctime>
#include <system_error>

#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/path_text.h"
#include "platform/text.h"

namespace korvanta {

std::wstring log_path_for(const std::wstring& state_path) {
  using platform::path_text::join;
  return join(join(platform::path_text::parent_path(state_path), L"logs"), L"updater.log");
}

void append_on_one_line(std::string& line, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    const auto after = i + 2 < text.size() ? static_cast<unsigned char>(text[i + 2]) : 0;
    if (byte == '\r') {
      line += "\\r";
    } else if (byte == '\n') {
      line += "\\n";
    } else if (byte < 0x20 || byte == 0x7F) {
      line += {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
    } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {  // U+0080..U+009F, NEL among them
      line += {'\\', 'u', '0', '0', kHex[next >> 4], kHex[next & 15]};
      ++i;
    } else if (byte == 0xE2 && next == 0x80 && (after == 0xA8 || after == 0xA9)) {  // line and paragraph separators
      line += after == 0xA8 ? "\\u2028" : "\\u2029";
      i += 2;
    } else {
      line += static_cast<char>(byte);
    }
  }
}

std::string format_timestamp() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
  if (!platform::to_local_time(now, local)) return "0000-00-00 00:00:00";
  char text[32];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(text, length);
}

RunLog::RunLog(const std::wstring& state_path, bool show_ui, const std::wstring& product_name,
               const WindowFactory& make_window) {
  const std::wstring path = log_path_for(state_path);
  platform::create_directories(platform::path_text::parent_path(path));  // a failure shows as a failed open
  stream_ = platform::AppendFile(path);
  write_line(kLogBanner);
  // UTF-8 like every other line, whatever the system's ANSI code page is.
  write_line(std::string(kStateFilePrefix) + platform::wide_to_utf8(state_path));
  if (show_ui && make_window) {
    try {
      window_ = make_window(product_name + L" Updater", product_name, false);
    } catch (const std::system_error&) {
      // The window's thread could not start: the run goes on without a window.
      window_.reset();
    }
  }
}

RunLog::~RunLog() {
  window_.reset();
  stream_.close();
}

void RunLog::write_line(std::string_view text) {
  const std::lock_guard guard(lock_);
  if (!stream_.is_open()) return;
  std::string line;
  line.reserve(text.size() + 24);
  line += '[';
  line += format_timestamp();
  line += "] ";
  append_on_one_line(line, text);
  line += "\r\n";
  stream_.write(line);
}

void RunLog::set_status(const std::wstring& badge, const std::wstring& title, const std::wstring& detail) {
  write_line(platform::wide_to_utf8(title));
  if (window_) {
    ProgressStatus status;
    status.badge = badge;
    status.title = title;
    status.detail = detail;
    window_->show_status(std::move(status));
  }
}

void RunLog::show_progress(ProgressStatus status) {
  if (window_) window_->show_status(std::move(status));
}

}  // namespace korvanta

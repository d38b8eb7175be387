#pragma once
// The run log of one real update: timestamped lines appended to
// logs\updater.log beside the state file, and the progress window when the
// launcher asked for one. Lines go out whole and flushed, so a crash loses at
// most the line being written.
//
// Threads: created, used and destroyed on the main thread. `lock_` makes each
// line one unit; it is released before the window is called.
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/append_file.h"
#include "ui/progress_status.h"

namespace korvanta {

inline constexpr std::string_view kLogBanner = "----- Korvanta updater started -----";
inline constexpr std::string_view kStateFilePrefix = "State file: ";

class RunLog {
 public:
  // Opens the log (creating its directories) and writes the banner and the
  // state-file line; then, with show_ui, creates the window through
  // make_window with the caption product_name + " Updater" and no user close.
  // Never fails: an unwritable location drops every line, and a window that
  // cannot be created leaves the run without one.
  RunLog(const std::wstring& state_path, bool show_ui, const std::wstring& product_name,
         const WindowFactory& make_window = default_window_factory());
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;
  // Closes the window (waiting for its thread), then the file.
  ~RunLog();

  // Appends "[YYYY-MM-DD HH:MM:SS] " + text + CR LF and flushes; text from
  // outside (a product name, a path, a system message) stays on its line,
  // as append_on_one_line writes it.
  void write_line(std::string_view text);
  // Logs the title (UTF-8) and shows all three texts in the window.
  void set_status(const std::wstring& badge, const std::wstring& title, const std::wstring& detail);
  // Shows a status in the window without logging it: the progress within a
  // phase. Nothing without a window.
  void show_progress(ProgressStatus status);

  bool has_window() const noexcept { return window_ != nullptr; }

 private:
  std::mutex lock_;
  platform::AppendFile stream_;
  std::unique_ptr<StatusWindow> window_;
};

// Where the log of a state file goes: its directory, then logs\updater.log.
std::wstring log_path_for(const std::wstring& state_path);

// Appends UTF-8 text with every line break and other control character
// written as a visible escape, so that no text can end its line or forge
// another: CR and LF as \r and \n, other C0 controls and DEL as \xHH, the C1
// controls (NEL among them) and the line and paragraph separators as \uHHHH.
// Everything else, backslashes included, stays as it is.
void append_on_one_line(std::string& line, std::string_view text);

// The current second in local time, "%Y-%m-%d %H:%M:%S".
std::string format_timestamp();

}  // namespace korvanta

#pragma once
// Starting the launcher again after a successful update.
#include <string>
#include <string_view>
#include <vector>

namespace korvanta {

// Starts restart_path with restart_args: true when restart_path is empty
// (nothing to start) or the process was started, false when the system
// refused to start it. Its working directory is restart_path's directory
// (empty for a bare file name). Waits for nothing and logs nothing.
bool restart_launcher(const std::wstring& restart_path, const std::vector<std::wstring>& restart_args);

// Every token quoted, the executable included, one space between tokens.
std::wstring build_command_line(const std::wstring& path, const std::vector<std::wstring>& args);

// The argument in double quotes such that the system's command-line
// splitting gives it back unchanged: backslashes are doubled only in front of
// a double quote (which gets one more) or the closing quote.
std::wstring quote_argument(std::wstring_view argument);

}  // namespace korvanta

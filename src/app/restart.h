#pragma once
// Starting the launcher again after a successful update.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvanta {

// Starts restart_path with restart_args: true when restart_path is empty
// (nothing to start) or the process was started; false when no safe command
// line exists (see restart_command_line) or the system refused to start it.
// Its working directory is restart_path's directory; a bare file name starts
// in the updater's own, found by the system's usual search. Waits for
// nothing and logs nothing.
bool restart_launcher(const std::wstring& restart_path, const std::vector<std::wstring>& restart_args);

// The longest command line the system starts a process with (32,767
// characters with the terminating NUL).
inline constexpr std::size_t kMaxCommandLine = 32766;
// The longest for a batch file: cmd.exe, which runs it, reads at most 8,191
// characters, and the system puts cmd.exe's own path and switches before the
// line; 8,000 leaves room for those on any installation.
inline constexpr std::size_t kMaxBatchCommandLine = 8000;

// build_command_line, or nothing when it cannot start the launcher with
// exactly these arguments: longer than kMaxCommandLine (the system would cut
// it), or a batch file (".bat" or ".cmd" in any letter case, trailing dots
// and spaces ignored, as the system reads names) with a command line longer
// than kMaxBatchCommandLine or a path or argument that cmd.exe would not take
// literally inside double quotes: a double quote, "%", "!" or a control
// character.
std::optional<std::wstring> restart_command_line(const std::wstring& path, const std::vector<std::wstring>& args);

// Every token quoted, the executable included, one space between tokens.
std::wstring build_command_line(const std::wstring& path, const std::vector<std::wstring>& args);

// The argument in double quotes such that the system's command-line
// splitting gives it back unchanged: backslashes are doubled only in front of
// a double quote (which gets one more) or the closing quote.
std::wstring quote_argument(std::wstring_view argument);

}  // namespace korvanta

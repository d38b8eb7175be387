#include "app/restart.h"

#include "platform/path_text.h"
#include "platform/process.h"

namespace korvanta {

std::wstring quote_argument(std::wstring_view argument) {
  std::wstring out;
  out.reserve(argument.size() + 2);
  out += L'"';
  std::size_t pending_backslashes = 0;
  for (const wchar_t unit : argument) {
    if (unit == L'\\') {
      ++pending_backslashes;
    } else if (unit == L'"') {
      out.append(pending_backslashes * 2 + 1, L'\\');
      out += L'"';
      pending_backslashes = 0;
    } else {
      out.append(pending_backslashes, L'\\');
      out += unit;
      pending_backslashes = 0;
    }
  }
  out.append(pending_backslashes * 2, L'\\');
  out += L'"';
  return out;
}

std::wstring build_command_line(const std::wstring& path, const std::vector<std::wstring>& args) {
  std::wstring line = quote_argument(path);
  for (const auto& arg : args) {
    line += L' ';
    line += quote_argument(arg);
  }
  return line;
}

bool restart_launcher(const std::wstring& restart_path, const std::vector<std::wstring>& restart_args) {
  if (restart_path.empty()) return true;
  try {
    return platform::start_process(build_command_line(restart_path, restart_args),
                                   platform::path_text::parent_path(restart_path));
  } catch (...) {
    return false;  // out of memory while building the command line
  }
}

}  // namespace korvanta

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

namespace {

bool is_batch_file(std::wstring path) {
  while (!path.empty() && (path.back() == L'.' || path.back() == L' ')) path.pop_back();
  if (path.size() < 4 || path[path.size() - 4] != L'.') return false;
  std::wstring extension = path.substr(path.size() - 3);
  for (wchar_t& c : extension)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return extension == L"bat" || extension == L"cmd";
}

// cmd.exe reads a batch file's command line again by its own rules: inside
// double quotes it still expands "%" (and, where delayed expansion is on,
// "!") and stops at a line break, and a double quote in an argument ends
// the quoting, after which "&", "|", "<" and ">" run commands.
bool literal_for_cmd(const std::wstring& text) {
  for (const wchar_t c : text)
    if (c == L'"' || c == L'%' || c == L'!' || c < L' ') return false;
  return true;
}

}  // namespace

std::optional<std::wstring> restart_command_line(const std::wstring& path, const std::vector<std::wstring>& args) {
  if (is_batch_file(path)) {
    if (!literal_for_cmd(path)) return std::nullopt;
    for (const auto& arg : args)
      if (!literal_for_cmd(arg)) return std::nullopt;
  }
  std::wstring line = build_command_line(path, args);
  if (line.size() > (is_batch_file(path) ? kMaxBatchCommandLine : kMaxCommandLine)) return std::nullopt;
  return line;
}

bool restart_launcher(const std::wstring& restart_path, const std::vector<std::wstring>& restart_args) {
  if (restart_path.empty()) return true;
  try {
    const std::optional<std::wstring> line = restart_command_line(restart_path, restart_args);
    return line && platform::start_process(*line, platform::path_text::parent_path(restart_path));
  } catch (...) {
    return false;  // out of memory while building the command line
  }
}

}  // namespace korvanta

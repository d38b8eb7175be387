#pragma once
// The system's rules for splitting a Windows command line into arguments, as
// CommandLineToArgvW documents them, written independently of the quoting in
// app/restart so that it can judge it (tests and the restart quoting fuzzer).
// Header-only: the fuzz targets link nothing but the core.
//
// - The first token, the program name, is not backslash-processed: when it
//   starts with a double quote it runs to the next double quote, else to the
//   first space or tab.
// - Later tokens are separated by spaces and tabs outside quotes.
//   2n backslashes followed by a double quote give n backslashes, and the
//   quote toggles quoting; 2n+1 backslashes followed by a double quote give n
//   backslashes and a literal quote; backslashes followed by anything else
//   are literal. Inside quotes, two double quotes in a row give one literal
//   quote and end the quoting (the C runtime of newer compilers keeps quoting
//   there instead; the restart's quoting never writes that sequence).
#include <string>
#include <string_view>
#include <vector>

namespace korvanta::testing {

inline std::vector<std::wstring> split_command_line(std::wstring_view line) {
  std::vector<std::wstring> args;
  const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
  std::size_t i = 0;

  std::wstring program;
  if (i < line.size() && line[i] == L'"') {
    for (++i; i < line.size() && line[i] != L'"'; ++i) program += line[i];
    if (i < line.size()) ++i;  // the closing quote
  } else {
    for (; i < line.size() && !blank(line[i]); ++i) program += line[i];
  }
  args.push_back(program);

  while (true) {
    while (i < line.size() && blank(line[i])) ++i;
    if (i >= line.size()) break;
    std::wstring arg;
    bool quoted = false;
    while (i < line.size() && (quoted || !blank(line[i]))) {
      if (line[i] == L'\\') {
        std::size_t backslashes = 0;
        while (i < line.size() && line[i] == L'\\') ++backslashes, ++i;
        if (i < line.size() && line[i] == L'"') {
          arg.append(backslashes / 2, L'\\');
          if (backslashes % 2 == 1) {
            arg += L'"';
            ++i;
          }
          // With an even count the quote is handled on the next round.
        } else {
          arg.append(backslashes, L'\\');
        }
      } else if (line[i] == L'"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
          arg += L'"';
          quoted = false;
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += line[i++];
      }
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace korvanta::testing

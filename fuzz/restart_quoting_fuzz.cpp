// The restart command line on arbitrary argument lists: split by the system's
// rules (an implementation independent of the quoting, checked against the
// real CommandLineToArgvW in the Windows tests), it gives back the program
// path and every argument unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/restart.h"
#include "../tests/support/command_line_split.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// Input bytes as text units. The units that matter to quoting come often;
// the rest reach every value a UTF-16 unit can have.
constexpr wchar_t kAlphabet[] = {L'\\', L'"', L' ', L'\t', L'a', L'\\', L'"', L'\n', L'\u00e9', L'\u6f22', L':', L'-'};
constexpr std::uint8_t kNextArgument = 0xFF;
constexpr std::uint8_t kWideUnit = 0xFE;  // the next two bytes are one unit

std::vector<std::wstring> arguments_from(const std::uint8_t* data, std::size_t size) {
  std::vector<std::wstring> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t byte = data[i];
    if (byte == kNextArgument) {
      args.emplace_back();
    } else if (byte == kWideUnit && i + 2 < size) {
      const auto unit = static_cast<wchar_t>(data[i + 1] | (data[i + 2] << 8));
      if (unit != L'\0') args.back() += unit;  // a command line is a C string
      i += 2;
    } else if (byte < sizeof kAlphabet / sizeof kAlphabet[0] * 8) {
      args.back() += kAlphabet[byte % (sizeof kAlphabet / sizeof kAlphabet[0])];
    } else {
      args.back() += static_cast<wchar_t>(byte);
    }
  }
  return args;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::wstring> args = arguments_from(data, size);
  std::wstring path = args.front();
  args.erase(args.begin());

  // The program name is taken literally up to the next quote, so it cannot
  // hold a quote or end in a backslash: no file name does.
  std::wstring program;
  for (const wchar_t unit : path)
    if (unit != L'"') program += unit;
  while (!program.empty() && program.back() == L'\\') program.pop_back();

  const std::wstring line = korvanta::build_command_line(program, args);
  const std::vector<std::wstring> split = korvanta::testing::split_command_line(line);
  check(split.size() == args.size() + 1);
  check(split[0] == program);
  for (std::size_t i = 0; i < args.size(); ++i) check(split[i + 1] == args[i]);

  // Each argument alone, behind a plain program name.
  for (const auto& arg : args) {
    const auto alone = korvanta::testing::split_command_line(L"p " + korvanta::quote_argument(arg));
    check(alone.size() == 2 && alone[1] == arg);
  }
  return 0;
}

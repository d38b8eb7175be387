// The command-line splitting rules the restart quoting fuzzer judges by, on a
// table of lines; under Windows the system's own CommandLineToArgvW must agree,
// so the fuzzer's oracle is the system's behaviour.
#include "support/command_line_split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace korvanta {
namespace {

struct SplitCase {
  std::wstring line;
  std::vector<std::wstring> args;
};

const std::vector<SplitCase> kCases = {
    {L"launcher.exe", {L"launcher.exe"}},
    {L"launcher.exe a b", {L"launcher.exe", L"a", L"b"}},
    {L"\"C:\\Program Files\\L\\launcher.exe\" --channel=beta", {L"C:\\Program Files\\L\\launcher.exe", L"--channel=beta"}},
    // The program name is taken literally: no backslash processing.
    {L"\"C:\\dir\\\\\" x", {L"C:\\dir\\\\", L"x"}},
    {L"C:\\a\\\"b c", {L"C:\\a\\\"b", L"c"}},
    {L"p \t a\t\tb  ", {L"p", L"a", L"b"}},
    {L"p \"\" \"\"", {L"p", L"", L""}},
    {L"p \"a b\"c", {L"p", L"a bc"}},
    {L"p a\"b\"c", {L"p", L"abc"}},
    {L"p a\\\\b", {L"p", L"a\\\\b"}},
    {L"p a\\b\\", {L"p", L"a\\b\\"}},
    {L"p a\\\\\\\"b", {L"p", L"a\\\"b"}},
    {L"p a\\\\\\\\\"b c\"", {L"p", L"a\\\\b c"}},
    {L"p \"a\\\"b\"", {L"p", L"a\"b"}},
    {L"p \\\"", {L"p", L"\""}},
    {L"p \"D:\\dir\\\\\"", {L"p", L"D:\\dir\\"}},
    {L"p \"unterminated arg", {L"p", L"unterminated arg"}},
    // Two quotes inside quotes: one literal quote, and the quoting ends.
    {L"p \"a\"\"b c\" d", {L"p", L"a\"b", L"c d"}},
    {L"p \"\"\"\"x y", {L"p", L"\"x y"}},
    {L"p a\"\"b", {L"p", L"ab"}},
    {L"p \"say \\\"hi\\\"\" next", {L"p", L"say \"hi\"", L"next"}},
    {L"p \"\u00e9t\u00e9 \u6f22\u5b57\"", {L"p", L"\u00e9t\u00e9 \u6f22\u5b57"}},
    {L"p \"line\nbreak\"", {L"p", L"line\nbreak"}},
};

TEST(CommandLineSplit, FollowsTheSystemsRules) {
  for (const auto& c : kCases) EXPECT_EQ(testing::split_command_line(c.line), c.args) << "line: " << c.line.size();
}

#ifdef _WIN32

std::vector<std::wstring> split_by_the_system(const std::wstring& line) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(line.c_str(), &argc);
  std::vector<std::wstring> out;
  if (argv == nullptr) return out;
  for (int i = 0; i < argc; ++i) out.emplace_back(argv[i]);
  LocalFree(argv);
  return out;
}

TEST(CommandLineSplit, AgreesWithTheSystemOnEveryCase) {
  for (const auto& c : kCases) EXPECT_EQ(split_by_the_system(c.line), c.args) << "line of " << c.line.size();
}

#endif

}  // namespace
}  // namespace korvanta

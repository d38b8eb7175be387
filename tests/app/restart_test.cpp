#include "app/restart.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include "support/test_support.h"
#endif

namespace korvanta {
namespace {

TEST(Restart, QuotingDoublesBackslashesOnlyBeforeAQuote) {
  EXPECT_EQ(build_command_line(LR"(D:\x\l.exe)", {L"", LR"(a\\"b)", LR"(D:\dir\)", LR"(say "hi")"}),
            LR"("D:\x\l.exe" "" "a\\\\\"b" "D:\dir\\" "say \"hi\"")");
}

// cmd.exe runs a batch file and reads its arguments by rules of its own; the
// system cuts a command line that is too long.
TEST(Restart, NoCommandLineWhereTheLauncherWouldNotGetExactlyItsArguments) {
  // "l.exe" (or "l.bat") and one argument, both quoted, fill the longest line.
  const std::wstring longest(kMaxCommandLine - 10, L'a'), batch(kMaxBatchCommandLine - 10, L'a');
  const struct {
    std::wstring path;
    std::vector<std::wstring> args;
    bool started;
  } cases[] = {
      {L"launcher.exe", {L"x\"&echo pwned&rem \"", L"%PATH%", L"!x!", L"a\nb"}, true},
      {L"launcher.bat.exe", {L"\""}, true}, {L"D:\\R&D (x86)\\launcher.BaT. ", {L"a b", L"C:\\dir\\", L"^&|<>"}, true},
      {L"launcher.cmd", {L"x\"&echo pwned&rem \""}, false}, {L"launcher.Bat", {L"%PATH%"}, false},
      {L"launcher.bat ", {L"!x!"}, false}, {L"launcher.bat", {L"a\nb"}, false}, {L"D:\\100%\\launcher.bat", {}, false},
      {L"l.exe", {longest}, true}, {L"l.exe", {longest + L"a"}, false}, {L"l.bat", {batch}, true},
      {L"l.bat", {batch + L"a"}, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(restart_command_line(c.path, c.args), c.started ? std::optional(build_command_line(c.path, c.args))
                                                               : std::nullopt)
        << c.path.size();
  // No path: nothing to start, and that is success. Every start fails on the
  // host, and under Windows every start with an empty path fails too.
  EXPECT_TRUE(restart_launcher(L"", {L"launcher.exe"}));
}

#ifdef _WIN32
TEST(Restart, EveryShortArgumentComesBackFromTheSystemsSplitting) {
  const std::wstring exe = L"C:\\Program Files\\Launcher\\launcher.exe";
  std::vector<std::wstring> arguments = {L""};
  for (std::size_t i = 0; i < arguments.size(); ++i) {  // grows to every string of up to six characters
    const std::wstring argument = arguments[i], line = build_command_line(exe, {argument, argument});
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(line.c_str(), &argc);
    const std::vector<std::wstring> split(argv, argv + argc);
    LocalFree(argv);
    ASSERT_EQ(split, (std::vector<std::wstring>{exe, argument, argument})) << line;
    for (const wchar_t c : std::wstring_view(argument.size() < 6 ? L"\\\" a" : L"")) arguments.push_back(argument + c);
  }
  EXPECT_EQ(arguments.size(), 5461u);
}

// A bare name is found by the system's search (the tests' own directory
// here) and starts in the updater's working directory.
TEST(Restart, ALauncherNamedWithoutADirectoryStarts) {
  const testing::TempDir dir;
  ASSERT_TRUE(restart_launcher(L"arg_echo.exe", {dir / L"record.json", L"a b"}));
  for (int i = 0; i < 6000 && !testing::content(dir / L"record.json"); ++i) Sleep(10);
  EXPECT_EQ(nlohmann::json::parse(testing::content(dir / L"record.json").value_or("{}")).value("args", nlohmann::json()),
            nlohmann::json::array({"a b"}));
}
#endif

}  // namespace
}  // namespace korvanta

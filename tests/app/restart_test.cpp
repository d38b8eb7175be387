#include "app/restart.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace korvanta {
namespace {

// Every start fails on the host, and under Windows every start with an empty
// path fails too: success here means that no start was tried.
TEST(Restart, WithoutAPathNothingIsStartedAndThatIsSuccess) {
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
#endif

}  // namespace
}  // namespace korvanta

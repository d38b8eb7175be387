#include "app/restart.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include <chrono>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform/path_text.h"
#include "platform/text.h"
#include "support/temp_dir.h"
#endif

namespace korvanta {
namespace {

TEST(Restart, QuotesEveryArgumentSoSplittingGivesItBack) {
  struct Case {
    std::wstring argument, quoted;
  };
  const Case cases[] = {
      {L"D:\\Games\\launcher.exe", L"\"D:\\Games\\launcher.exe\""},
      {L"", L"\"\""},
      {L"--channel=beta", L"\"--channel=beta\""},
      {L"say \"hi\"", L"\"say \\\"hi\\\"\""},
      {L"D:\\dir\\", L"\"D:\\dir\\\\\""},
      {L"a\\\\\"b", L"\"a\\\\\\\\\\\"b\""},
      {L"\\\\server\\share", L"\"\\\\server\\share\""},
      {L"tail\\\\\\", L"\"tail\\\\\\\\\\\\\""},
      {L"\"", L"\"\\\"\""},
  };
  for (const auto& c : cases) EXPECT_EQ(quote_argument(c.argument), c.quoted);
}

TEST(Restart, CommandLineIsTheQuotedExecutableAndArgumentsOneSpaceApart) {
  EXPECT_EQ(build_command_line(L"launcher.exe", {}), L"\"launcher.exe\"");
  EXPECT_EQ(build_command_line(L"C:\\L\\launcher.exe", {L"a b", L"", L"c"}),
            L"\"C:\\L\\launcher.exe\" \"a b\" \"\" \"c\"");
}

TEST(Restart, NoRestartPathStartsNothingAndSucceeds) { EXPECT_TRUE(restart_launcher(L"", {L"ignored"})); }

#ifdef _WIN32

std::vector<std::wstring> split_like_the_system(const std::wstring& command_line) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(command_line.c_str(), &argc);
  std::vector<std::wstring> out;
  if (argv == nullptr) return out;
  for (int i = 0; i < argc; ++i) out.emplace_back(argv[i]);
  LocalFree(argv);
  return out;
}

const std::vector<std::wstring> kAwkwardArguments = {
    L"",
    L"plain",
    L"with space",
    L"  leading and trailing  ",
    L"say \"hi\"",
    L"\"",
    L"\"\"",
    L"D:\\dir\\",
    L"D:\\dir\\\\",
    L"a\\\\\"b",
    L"a\\b\\\\c",
    L"\\\\server\\share\\",
    L"--show-ui",
    L"--",
    L"tab\there",
    L"\u00e9t\u00e9 \u041f\u0440\u0438\u0432\u0435\u0442 \u6f22\u5b57 \U0001F600",
};

TEST(Restart, SystemSplittingReturnsEveryAwkwardArgument) {
  const std::wstring exe = L"C:\\Program Files\\Launcher\\launcher.exe";
  const auto split = split_like_the_system(build_command_line(exe, kAwkwardArguments));
  ASSERT_EQ(split.size(), kAwkwardArguments.size() + 1);
  EXPECT_EQ(split[0], exe);
  for (std::size_t i = 0; i < kAwkwardArguments.size(); ++i)
    EXPECT_EQ(split[i + 1], kAwkwardArguments[i]) << "argument " << i;
}

nlohmann::json wait_for_record(const std::wstring& path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    if (testing::file_exists(path)) return nlohmann::json::parse(testing::read_file(path));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return nullptr;
}

TEST(Restart, StartedLauncherReceivesItsArgumentsAndRunsInItsDirectory) {
  testing::TempDir dir;
  const std::wstring record = dir / L"received.json";
  std::vector<std::wstring> args = {record};
  args.insert(args.end(), kAwkwardArguments.begin(), kAwkwardArguments.end());

  const std::wstring launcher = testing::tool_path(L"arg_echo");
  ASSERT_TRUE(restart_launcher(launcher, args));

  const auto received = wait_for_record(record);
  ASSERT_TRUE(received.is_object()) << "the restarted program wrote nothing";
  ASSERT_EQ(received["args"].size(), kAwkwardArguments.size());
  for (std::size_t i = 0; i < kAwkwardArguments.size(); ++i)
    EXPECT_EQ(received["args"][i].get<std::string>(), platform::wide_to_utf8(kAwkwardArguments[i])) << i;
  const std::wstring cwd = platform::utf8_to_wide(received["cwd"].get<std::string>());
  EXPECT_EQ(CompareStringOrdinal(cwd.c_str(), -1, platform::path_text::parent_path(launcher).c_str(), -1, TRUE),
            CSTR_EQUAL)
      << received["cwd"].get<std::string>();
}

TEST(Restart, ALauncherThatCannotBeStartedIsReportedAsFailure) {
  testing::TempDir dir;
  EXPECT_FALSE(restart_launcher(dir / L"missing\\launcher.exe", {}));
  testing::write_file(dir / L"not-a-program.exe", "just text");
  EXPECT_FALSE(restart_launcher(dir / L"not-a-program.exe", {}));
}

#endif

}  // namespace
}  // namespace korvanta

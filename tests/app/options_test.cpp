#include "app/options.h"

#include <gtest/gtest.h>

#include <vector>

namespace korvanta {
namespace {

std::optional<UpdaterOptions> parse(std::vector<std::wstring> args) {
  args.insert(args.begin(), L"KorvantaUpdater.exe");
  std::vector<const wchar_t*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  return parse_options(static_cast<int>(argv.size()), argv.data());
}

TEST(Options, NoArgumentsKeepTheDefaults) {
  const auto options = parse({});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->state_path, L"");
  EXPECT_EQ(options->parent_pid, 0u);
  EXPECT_FALSE(options->show_ui);
  EXPECT_FALSE(options->preview);
  EXPECT_EQ(options->product_name, L"Project");
  EXPECT_EQ(options->restart_path, L"");
  EXPECT_TRUE(options->restart_args.empty());
}

TEST(Options, ReadsEveryOptionOfALauncherCommandLine) {
  const auto options = parse({L"--state", L"D:\\Games\\Shop\\.korvanta\\update-state.json", L"--parent-pid", L"4242",
                              L"--show-ui", L"--product-name", L"Shop", L"--restart", L"D:\\Games\\launcher.exe", L"--",
                              L"--channel=beta", L"--show-ui"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->state_path, L"D:\\Games\\Shop\\.korvanta\\update-state.json");
  EXPECT_EQ(options->parent_pid, 4242u);
  EXPECT_TRUE(options->show_ui);
  EXPECT_EQ(options->product_name, L"Shop");
  EXPECT_EQ(options->restart_path, L"D:\\Games\\launcher.exe");
  EXPECT_EQ(options->restart_args, (std::vector<std::wstring>{L"--channel=beta", L"--show-ui"}));
}

TEST(Options, ValuesAreConsumedBlindly) {
  auto options = parse({L"--state", L"--show-ui"});
  EXPECT_EQ(options->state_path, L"--show-ui");
  EXPECT_FALSE(options->show_ui);

  options = parse({L"--restart", L"--", L"a"});
  EXPECT_EQ(options->restart_path, L"--");
  EXPECT_TRUE(options->restart_args.empty());

  options = parse({L"--product-name", L""});
  EXPECT_EQ(options->product_name, L"");
}

TEST(Options, AValueOptionWithoutValueIsIgnored) {
  auto options = parse({L"--state", L"a.json", L"--state"});
  EXPECT_EQ(options->state_path, L"a.json");
  options = parse({L"--parent-pid"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->parent_pid, 0u);
}

TEST(Options, RepeatsLastValueWinsAndFlagsStaySet) {
  const auto options = parse({L"--state", L"one", L"--show-ui", L"--state", L"two", L"--dry-run", L"--preview-ui"});
  EXPECT_EQ(options->state_path, L"two");
  EXPECT_TRUE(options->show_ui);
  EXPECT_TRUE(options->preview);
}

TEST(Options, OtherCaseAndEqualsFormsAreNotOptions) {
  const auto options = parse({L"--STATE", L"x", L"--state=y", L"--Show-UI", L"-show-ui", L"--showui"});
  EXPECT_EQ(options->state_path, L"");
  EXPECT_FALSE(options->show_ui);
}

TEST(Options, DoubleDashCollectsEverythingAfterItEvenWithoutRestart) {
  auto options = parse({L"--", L"--state", L"x", L"", L"--"});
  EXPECT_EQ(options->state_path, L"");
  EXPECT_EQ(options->restart_args, (std::vector<std::wstring>{L"--state", L"x", L"", L"--"}));
  options = parse({L"--show-ui", L"--"});
  EXPECT_TRUE(options->show_ui);
  EXPECT_TRUE(options->restart_args.empty());
}

TEST(Options, ParentPidIsReadLikeStoul) {
  struct Case {
    const wchar_t* text;
    std::optional<std::uint32_t> expected;
  };
  const Case cases[] = {
      {L"0", 0u},
      {L"42", 42u},
      {L"  \t42", 42u},
      {L"+42", 42u},
      {L"-1", 4294967295u},
      {L"-4294967295", 1u},
      {L"42abc", 42u},
      {L"0x10", 0u},
      {L"007", 7u},
      {L"4294967295", 4294967295u},
      {L"4294967296", std::nullopt},
      {L"99999999999999999999999", std::nullopt},
      {L"-4294967296", std::nullopt},
      {L"", std::nullopt},
      {L"abc", std::nullopt},
      {L"+", std::nullopt},
      {L"- 1", std::nullopt},
      {L"+-1", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read_process_id(c.text), c.expected) << "value '" << std::wstring(c.text).size() << "' chars";
  }
}

TEST(Options, UnreadableParentPidRejectsTheCommandLine) {
  EXPECT_FALSE(parse({L"--state", L"s.json", L"--parent-pid", L"launcher"}));
  EXPECT_FALSE(parse({L"--parent-pid", L"4294967296"}));
  // Consumed as another option's value, it is not read as a process id.
  EXPECT_TRUE(parse({L"--state", L"--parent-pid", L"12"}));
}

}  // namespace
}  // namespace korvanta

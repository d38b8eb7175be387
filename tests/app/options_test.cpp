#include "app/options.h"

#include <gtest/gtest.h>

namespace korvanta {
namespace {

// The options as "state|pid|ui|preview|product|restart", then "|" and each
// argument after "--"; "refused" when the command line is.
std::wstring parsed(std::vector<const wchar_t*> argv) {
  argv.insert(argv.begin(), L"KorvantaUpdater.exe");
  const auto o = parse_options(static_cast<int>(argv.size()), argv.data());
  if (!o) return L"refused";
  std::wstring text = o->state_path + L"|" + std::to_wstring(o->parent_pid) + (o->show_ui ? L"|ui|" : L"||") +
                      (o->preview ? L"preview|" : L"|") + o->product_name + L"|" + o->restart_path;
  for (const auto& arg : o->restart_args) text += L"|" + arg;
  return text;
}

TEST(Options, FollowTheCommandLineRules) {
  const std::pair<std::vector<const wchar_t*>, std::wstring> cases[] = {
      {{L"--state", L"S", L"--parent-pid", L"42", L"--show-ui", L"--product-name", L"Shop", L"--restart", L"L.exe",
        L"--", L"--parent-pid", L"x", L"", L"--"},
       L"S|42|ui||Shop|L.exe|--parent-pid|x||--"},
      // A value is taken whatever it looks like; the last occurrence wins.
      {{L"--state", L"--show-ui", L"--product-name", L"", L"--restart", L"--", L"a", L"--dry-run"},
       L"--show-ui|0||preview||--"},
      {{L"--state", L"1", L"--state", L"2", L"--parent-pid", L"5", L"--parent-pid", L"6", L"--product-name", L"a",
        L"--product-name", L"b", L"--restart", L"x", L"--restart", L"y", L"--preview-ui"}, L"2|6||preview|b|y"},
      {{L"--STATE", L"x", L"--state=y", L"--Show-UI", L"-show-ui", L"--showui", L"--parent-pid=x", L"--parent-pid"},
       L"|0|||Project|"},
      // Process ids are read as wcstoul reads them, within 32 bits.
      {{L"--parent-pid", L"-1"}, L"|4294967295|||Project|"}, {{L"--parent-pid", L"4294967296"}, L"refused"},
      {{L"--parent-pid", L"4294967295"}, L"|4294967295|||Project|"},
      {{L"--parent-pid", L" \t\n\v\f\r+42abc"}, L"|42|||Project|"},
      {{L"--parent-pid", L"18446744073709551616"}, L"refused"}, {{L"--parent-pid", L" "}, L"refused"},
  };
  for (const auto& [args, expected] : cases) EXPECT_EQ(parsed(args), expected) << ::testing::PrintToString(args);
}

}  // namespace
}  // namespace korvanta

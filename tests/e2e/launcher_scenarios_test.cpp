// The real KorvantaUpdater.exe started by a stand-in of the platform's
// launcher, as a player's machine runs it: installation, staged update and
// state file on disk, the launcher's own process id, the window, a restart of
// the launcher with its arguments. Each scenario checks the exit code, the
// files, the backups, the manifest, the log and what the restarted launcher
// received.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <memory>

#include "e2e/launcher_run.h"
#include "update/reason_codes.h"

namespace korvanta::e2e {
namespace {

// Build 1 of a small installation and the update to build 2: deletions (one
// never installed), replacements, and new files in new folders.
json sample_update() {
  return {{"installed",
           {{"readme.txt", "Korvanta Shop, build 1\r\n"},
            {"data/maps/town.bin", {{"text", "town, build 1 "}, {"repeat", 20000}}},
            {"data/textures/old-sky.pak", {{"text", "sky "}, {"repeat", 5000}}},
            {"data/obsolete.cfg", "obsolete"},
            {"keep.txt", "keep"}}},
          {"deletions", {"data/textures/old-sky.pak", "data/obsolete.cfg", "data/never-installed.txt"}},
          {"replacements",
           {{{"path", "readme.txt"}, {"content", "Korvanta Shop, build 2\r\n"}},
            {{"path", "data/maps/town.bin"}, {"content", {{"text", "town, build 2 "}, {"repeat", 30000}}}},
            {{"path", "mods/ui/theme/dark.json"}, {"content", "{ \"accent\": \"#E2303A\" }"}}}}};
}

json with(json scenario, const json& patch) {
  scenario.merge_patch(patch);
  return scenario;
}

TEST(LauncherScenarios, AFullUpdateIsInstalledLoggedAndTheLauncherRestarted) {
  LauncherRun run(with(sample_update(), {{"restart", "install"}, {"restart_args", {"--after-update"}}}));
  run.start();
  ASSERT_EQ(run.finish(), 0);
  run.expect_applied();
  EXPECT_EQ(run.log(), expected_log(run.state_path(), "Korvanta Shop", Ending::kComplete));
  const auto record = run.restart_record();
  ASSERT_TRUE(record) << "the launcher was not restarted";
  EXPECT_EQ((*record)["args"], json({"--after-update"}));
  // Started from its own directory, the installation.
  EXPECT_EQ((*record)["cwd"], utf8(run.root()));
}

// Every reason with which a state file (or what it names) can stop the apply.
struct FailureCase {
  const char* name;
  std::function<void(json& scenario, const std::wstring& root)> make;
  // The reason after "Apply failed: "; "*" for the system's message of a
  // failed file operation.
  std::string reason;
  // Whether the installation must be exactly as before (the state file was
  // refused before anything changed).
  bool untouched;
};

const std::string& os_message_marker() {
  static const std::string marker = "*";
  return marker;
}

TEST(LauncherScenarios, EachReasonAStateFileCanProvokeStopsTheUpdateWithoutLosingAFile) {
  const std::string zeros(64, '0');
  const std::vector<FailureCase> cases = {
      {"state file outside .korvanta",
       [](json& s, const std::wstring& root) { s["state_arg"] = utf8(root + L"\\update-state.json"); },
       reason::kInvalidUpdateStateLocation, true},
      {"state file not JSON", [](json& s, const std::wstring&) { s["state_text"] = "{ \"install_root\": "; },
       reason::kFailedToLoadUpdateState, true},
      {"deletions not a list", [](json& s, const std::wstring&) { s["state"]["deletions"] = "data/obsolete.cfg"; },
       reason::kInvalidUpdateState, true},
      {"manifest missing", [](json& s, const std::wstring&) { s["state"]["manifest"] = nullptr; },
       reason::kInvalidUpdateState, true},
      {"another install root",
       [](json& s, const std::wstring& root) { s["state"]["install_root"] = utf8(root + L"\\..\\Other Shop"); },
       reason::kInstallRootMismatch, true},
      {"manifest path outside the data directory",
       [](json& s, const std::wstring& root) { s["state"]["manifest_path"] = utf8(root + L"\\build-manifest.json"); },
       reason::kManifestPathOutsideInstall, true},
      {"backup root beside the backup directory",
       [](json& s, const std::wstring& root) { s["state"]["backup_root"] = utf8(root + L"\\.korvanta\\backup2"); },
       reason::kBackupRootOutsideInstall, true},
      {"staging root is the data directory",
       [](json& s, const std::wstring& root) { s["state"]["staging_root"] = utf8(root + L"\\.korvanta"); },
       reason::kStagingRootOutsideInstall, true},
      {"deletion outside the installation",
       [](json& s, const std::wstring&) { s["deletions"] = {"../outside.txt", "data/obsolete.cfg"}; },
       reason::kInvalidDeletionPath, true},
      {"deletion of a directory",
       [](json& s, const std::wstring&) {
         s["installed"]["plugins/"] = "";
         s["deletions"].push_back("plugins");
       },
       os_message_marker(), false},
      {"replacement outside the installation",
       [](json& s, const std::wstring&) {
         s["replacements"][1] = {{"path", "../escape.bin"},
                                 {"content", "escape"},
                                 {"staged_file", ".korvanta/staging/build-2/escape.bin"}};
       },
       reason::kInvalidReplacementPath, false},
      {"staged file outside the staging root",
       [](json& s, const std::wstring&) { s["replacements"][1]["staged_file"] = ".korvanta/elsewhere/town.bin"; },
       reason::kStagedFileOutsideStagingRoot, false},
      {"staged file of another size", [](json& s, const std::wstring&) { s["replacements"][1]["size"] = 4; },
       reason::kStagedFileSizeMismatch, false},
      {"staged file of another digest",
       [zeros](json& s, const std::wstring&) { s["replacements"][2]["sha256"] = zeros; },
       reason::kStagedFileHashMismatch, false},
      {"manifest with a path outside the installation",
       [](json& s, const std::wstring&) {
         s["state"]["manifest"]["files"] = {{{"path", "../x.bin"}, {"size", 1}, {"sha256", "00"}}};
       },
       reason::kInvalidUpdateManifest, false},
      {"a directory where the manifest goes",
       [](json& s, const std::wstring&) { s["installed"][".korvanta/build-manifest.json/"] = ""; },
       reason::kFailedToOpenFile, false},
  };

  // All at once: each waits out its failure pause in parallel.
  std::vector<std::unique_ptr<LauncherRun>> runs;
  for (const FailureCase& failure : cases) {
    auto run = std::make_unique<LauncherRun>(sample_update());
    failure.make(run->scenario(), run->root());
    run->start();
    runs.push_back(std::move(run));
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    LauncherRun& run = *runs[i];
    ASSERT_EQ(run.finish(), 3);
    const std::vector<std::string> log = run.log();
    ASSERT_EQ(log.size(), 6u);
    const std::string prefix = "Apply failed: ";
    ASSERT_EQ(log[4].rfind(prefix, 0), 0u) << log[4];
    const std::string reason = log[4].substr(prefix.size());
    if (cases[i].reason == os_message_marker()) {
      // The system's own text: a sentence, not one of the updater's codes.
      EXPECT_NE(reason.find(' '), std::string::npos) << reason;
    } else {
      EXPECT_EQ(reason, cases[i].reason);
    }
    EXPECT_EQ(log, expected_log(run.state_arg(), "Korvanta Shop", Ending::kApplyFailed, reason));
    EXPECT_TRUE(exists(run.state_path())) << "the state file stays for the launcher";
    EXPECT_TRUE(exists(run.staging_root())) << "the staging root stays for the launcher";
    run.expect_nothing_lost();
    if (cases[i].untouched) {
      for (const auto& [relative, content] : run.scenario()["installed"].items())
        if (relative.back() != '/') {
          EXPECT_EQ(read_bytes(run.installed_path(relative)), content_of(content)) << relative;
        }
      EXPECT_FALSE(exists(run.backup_root()));
    }
  }
}

TEST(LauncherScenarios, ARestartThatFailsEndsWithFourAndKeepsTheUpdate) {
  LauncherRun run(with(sample_update(), {{"restart", "C:\\no such folder\\launcher.exe"}}));
  run.start();
  ASSERT_EQ(run.finish(), 4);
  run.expect_applied();
  EXPECT_EQ(run.log(), expected_log(run.state_path(), "Korvanta Shop", Ending::kRestartFailed));
}

TEST(LauncherScenarios, WithoutRestartTheUpdateCompletesWithZero) {
  LauncherRun run(with(sample_update(), {{"restart", "none"}}));
  run.start();
  ASSERT_EQ(run.finish(), 0);
  run.expect_applied();
  EXPECT_EQ(run.log(), expected_log(run.state_path(), "Korvanta Shop", Ending::kComplete));
}

TEST(LauncherScenarios, NonAsciiLettersInRootFileNamesAndProductNameSurviveEveryStep) {
  // Accented Latin, Cyrillic, CJK and a letter beyond the Basic Multilingual
  // Plane (U+1F3AE, a surrogate pair in UTF-16).
  const std::string product = "Korvanta \xC3\x89""dition \xD0\xA9\xD0\xB8\xD1\x82 \xE6\xBC\xA2\xE5\xAD\x97 \xF0\x9F\x8E\xAE";
  const std::string donnees = "Donn\xC3\xA9""es/\xC3\x9C""ber.txt";
  const std::string karty = "\xD0\x9A\xD0\xB0\xD1\x80\xD1\x82\xD1\x8B/\xD0\xB3\xD0\xBE\xD1\x80\xD0\xBE\xD0\xB4.bin";
  const std::string kanji = "\xE6\xBC\xA2\xE5\xAD\x97/\xE6\x96\xB0\xE3\x81\x97\xE3\x81\x84.pak";
  const std::string emoji = "\xF0\x9F\x8E\xAE/\xF0\x9F\x8E\xAE level.bin";
  json scenario = {{"product_name", product},
                   {"installed", {{donnees, "alt"}, {karty, "city 1"}}},
                   {"deletions", {karty}},
                   {"replacements",
                    {{{"path", donnees}, {"content", "neu"}},
                     {{"path", kanji}, {"content", "pak 2"}},
                     {{"path", emoji}, {"content", "level 2"}}}},
                   {"restart", "install"},
                   {"restart_args", {product, "C:\\Spiele\\" + product + "\\"}}};
  LauncherRun run(scenario, L"Shop Caf\u00e9 \u0429\u0438\u0442 \u6f22\u5b57 \U0001F3AE");
  run.start();
  ASSERT_EQ(run.finish(), 0);
  run.expect_applied();
  EXPECT_EQ(run.log(), expected_log(run.state_path(), product, Ending::kComplete));
  const auto record = run.restart_record();
  ASSERT_TRUE(record);
  EXPECT_EQ((*record)["args"], scenario["restart_args"]);
  EXPECT_EQ((*record)["cwd"], utf8(run.root()));
}

bool running_under_wine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The updater uses plain paths (no "\\?\" prefix) and declares no long-path
// awareness. Wine holds no plain path to MAX_PATH: the whole update goes
// through. Windows refuses plain paths beyond MAX_PATH: there the run must
// end as a clean failure (the log and the state file cannot even be
// reached), with nothing lost.
TEST(LauncherScenarios, PathsLongerThanMaxPath) {
  testing::TempDir probe;
  const std::string long_name(40, 'n');
  const std::string deep = "data/" + long_name + "/" + long_name + "/" + long_name + ".bin";
  // A root below the 248 characters that a plain directory path may have on
  // Windows, with the state file, log and files beyond 260; then a root
  // beyond 260 itself.
  for (const std::size_t root_length : {230u, 300u}) {
    SCOPED_TRACE("root of " + std::to_string(root_length) + " characters");
    std::wstring name = L"Korvanta Shop";
    while (probe.path().size() + name.size() < root_length) name += L"\\deep folder " + std::to_wstring(name.size());
    json scenario = with(sample_update(), {{"show_ui", false}});
    scenario["installed"][deep] = "deep 1";
    scenario["replacements"].push_back({{"path", deep}, {"content", "deep 2"}});
    LauncherRun run(scenario, name);
    ASSERT_GT(run.state_path().size(), 260u);
    ASSERT_GT(run.installed_path(deep).size(), 330u);
    run.start();
    const int code = run.finish();
    if (running_under_wine()) {
      ASSERT_EQ(code, 0);
    }
    if (code == 0) {
      run.expect_applied();
      EXPECT_EQ(read_bytes(run.installed_path(deep)), "deep 2");
      EXPECT_EQ(read_bytes(run.backup_path(deep)), "deep 1");
      EXPECT_EQ(run.log(), expected_log(run.state_path(), "Korvanta Shop", Ending::kComplete));
      EXPECT_TRUE(run.restart_record());
    } else {
      EXPECT_EQ(code, 3);
      run.expect_nothing_lost();
      EXPECT_TRUE(exists(run.state_path()));
    }
  }
}

TEST(LauncherScenarios, ArgumentsAfterTheDashesArriveUnchanged) {
  const json args = {"C:\\Path With Spaces\\",
                     "say \"hi\"",
                     "",
                     "a\\\\\"b",
                     "trailing\\\\",
                     "\\\\server\\share\\",
                     "--channel=beta",
                     " leading and trailing ",
                     "\"",
                     "\\"};
  LauncherRun run(with(sample_update(), {{"restart_args", args}, {"show_ui", false}}));
  run.start();
  ASSERT_EQ(run.finish(), 0);
  const auto record = run.restart_record();
  ASSERT_TRUE(record);
  EXPECT_EQ((*record)["args"], args);
}

TEST(LauncherScenarios, ALauncherThatKeepsRunningIsWaitedFor) {
  LauncherRun run(with(sample_update(), {{"linger_ms", 2000}}));
  run.start();
  // Until the launcher has ended, the updater must not touch the
  // installation. Each look counts only if the launcher was still running
  // after it.
  int looks_while_running = 0;
  for (; WaitForSingleObject(run.standin(), 0) == WAIT_TIMEOUT; Sleep(20)) {
    // The stand-in writes the state file last, after build 1 and the staged files.
    if (!exists(run.state_path())) continue;
    const auto log = read_bytes(run.log_path());
    const bool applying = log && log->find("Applying update") != std::string::npos;
    const bool readme_replaced = read_bytes(run.installed_path("readme.txt")) != "Korvanta Shop, build 1\r\n";
    const bool backed_up = exists(run.backup_root());
    if (WaitForSingleObject(run.standin(), 0) != WAIT_TIMEOUT) break;
    ++looks_while_running;
    ASSERT_FALSE(applying || backed_up || readme_replaced) << "the updater worked while the launcher was running";
  }
  EXPECT_GT(looks_while_running, 10);
  ASSERT_EQ(run.finish(), 0);
  run.expect_applied();
  EXPECT_EQ(run.log(), expected_log(run.state_path(), "Korvanta Shop", Ending::kComplete));
  EXPECT_TRUE(run.restart_record());
}

TEST(LauncherScenarios, TwoRunsOneAfterTheOtherAppendToOneLog) {
  LauncherRun first(with(sample_update(), {{"show_ui", false}}));
  first.start();
  ASSERT_EQ(first.finish(), 0);
  ASSERT_TRUE(first.restart_record());

  // Build 3 on top of build 2, in the same installation.
  json second_scenario = {{"install_root", utf8(first.root())},
                          {"backup_root", "backup\\build-2"},
                          {"staging_root", "staging\\build-3"},
                          {"show_ui", false},
                          {"deletions", {"mods/ui/theme/dark.json"}},
                          {"replacements", {{{"path", "readme.txt"}, {"content", "Korvanta Shop, build 3\r\n"}}}}};
  LauncherRun second(second_scenario);
  second.start();
  ASSERT_EQ(second.finish(), 0);
  EXPECT_EQ(read_bytes(second.installed_path("readme.txt")), "Korvanta Shop, build 3\r\n");
  EXPECT_EQ(read_bytes(second.backup_path("readme.txt")), "Korvanta Shop, build 2\r\n");
  EXPECT_EQ(read_bytes(second.backup_path("mods/ui/theme/dark.json")), "{ \"accent\": \"#E2303A\" }");
  EXPECT_EQ(read_bytes(first.backup_path("readme.txt")), "Korvanta Shop, build 1\r\n");

  std::vector<std::string> both = expected_log(first.state_path(), "Korvanta Shop", Ending::kComplete);
  const auto again = expected_log(second.state_path(), "Korvanta Shop", Ending::kComplete);
  both.insert(both.end(), again.begin(), again.end());
  EXPECT_EQ(second.log(), both);
}

}  // namespace
}  // namespace korvanta::e2e
#endif

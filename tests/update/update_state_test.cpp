#include "update/update_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "update/apply.h"
#include "update_fixture.h"

namespace korvanta {
namespace {

using nlohmann::json;
using testing::Installation;
using testing::snapshot;
using testing::utf8;

json valid_document() {
  return {{"install_root", "D:\\Games\\Shop"},
          {"manifest_path", "D:\\Games\\Shop\\.korvanta\\build-manifest.json"},
          {"backup_root", "D:\\Games\\Shop\\.korvanta\\backup"},
          {"staging_root", "D:\\Games\\Shop\\.korvanta\\staging"},
          {"deletions", {"old.dll"}},
          {"replacements", {{{"path", "a.bin"}, {"staged_path", "s"}, {"size", 3}, {"sha256", "ab"}}}},
          {"manifest", testing::sample_manifest()}};
}

TEST(UpdateStateShape, AcceptsOnlyWhatTheApplyReadsWithoutTypeChecks) {
  struct Case {
    std::string name;
    std::function<void(json&)> change;
    bool accepted;
  };
  std::vector<Case> cases = {
      {"unchanged", [](json&) {}, true},
      {"extra keys ignored", [](json& d) { d["note"] = 1; d["replacements"][0]["extra"] = nullptr; }, true},
      {"null lists", [](json& d) { d["deletions"] = nullptr; d["replacements"] = nullptr; }, true},
      {"empty lists", [](json& d) { d["deletions"] = json::array(); d["replacements"] = json::array(); }, true},
      {"size of any type", [](json& d) { d["replacements"][0]["size"] = "12"; }, true},
      {"empty path strings (refused later by their own checks)", [](json& d) { d["install_root"] = ""; }, true},
      {"top level an array", [](json& d) { d = json::array({d}); }, false},
      {"top level null", [](json& d) { d = nullptr; }, false},
      {"install_root a number", [](json& d) { d["install_root"] = 5; }, false},
      {"manifest_path null", [](json& d) { d["manifest_path"] = nullptr; }, false},
      {"backup_root an array", [](json& d) { d["backup_root"] = json::array({"x"}); }, false},
      {"staging_root an object", [](json& d) { d["staging_root"] = json::object(); }, false},
      {"deletions an object", [](json& d) { d["deletions"] = {{"a", "b"}}; }, false},
      {"deletions a string", [](json& d) { d["deletions"] = "old.dll"; }, false},
      {"deletion a number", [](json& d) { d["deletions"].push_back(1); }, false},
      {"deletion null", [](json& d) { d["deletions"].push_back(nullptr); }, false},
      {"replacements an object", [](json& d) { d["replacements"] = d["replacements"][0]; }, false},
      {"replacement a string", [](json& d) { d["replacements"].push_back("a.bin"); }, false},
      {"replacement path a number", [](json& d) { d["replacements"][0]["path"] = 1; }, false},
      {"replacement sha256 null", [](json& d) { d["replacements"][0]["sha256"] = nullptr; }, false},
      {"manifest null", [](json& d) { d["manifest"] = nullptr; }, false},
      {"manifest an array", [](json& d) { d["manifest"] = json::array(); }, false},
  };
  for (const char* key : {"install_root", "manifest_path", "backup_root", "staging_root", "deletions", "replacements",
                          "manifest"})
    cases.push_back({std::string(key) + " missing", [key](json& d) { d.erase(key); }, false});
  for (const char* key : {"path", "staged_path", "sha256", "size"})
    cases.push_back({std::string("replacement without ") + key, [key](json& d) { d["replacements"][0].erase(key); },
                     false});
  for (const auto& c : cases) {
    json document = valid_document();
    c.change(document);
    EXPECT_EQ(has_valid_state_shape(document), c.accepted) << c.name;
  }
}

TEST(StateDocument, ReadsOneValueAndRefusesWhatIsNotJson) {
  testing::TempDir dir;
  const struct {
    const char* text;
    bool loads;
  } cases[] = {
      {"{\"a\": 1}", true},
      {"{\"a\": 1} trailing text, not read", true},
      {"\xEF\xBB\xBF{\"a\": 1}", true},
      {"", false},
      {"{\"a\": ", false},
      {"// comment\n{\"a\": 1}", false},
      {"not json", false},
  };
  for (const auto& c : cases) {
    const std::wstring path = dir / L"state.json";
    testing::write_file(path, c.text);
    const auto document = load_state_document(path);
    EXPECT_EQ(document.has_value(), c.loads) << c.text;
    if (document) {
      EXPECT_EQ(document->at("a"), 1) << c.text;
    }
  }
  EXPECT_FALSE(load_state_document(dir / L"missing.json"));
}

// A state file that deletes and replaces installed files; each case spoils it
// for one first-stage check. Nothing may change on disk.
TEST(UpdateState, EachFirstStageCheckFailsWithItsOwnCodeAndChangesNothing) {
  struct Case {
    std::string name;
    std::function<void(Installation&)> change;
    std::string reason;
  };
  std::vector<Case> cases = {
      {"state file of another name",
       [](Installation& i) { i.state_path = i.data_dir + L"\\state.json"; }, "invalid_update_state_location"},
      {"state file in the installation root",
       [](Installation& i) { i.state_path = i.root + L"\\update-state.json"; }, "invalid_update_state_location"},
      {"data directory of another name",
       [](Installation& i) { i.state_path = i.root + L"\\korvanta\\update-state.json"; },
       "invalid_update_state_location"},
      {"state file missing",
       [](Installation& i) { i.state_path = i.root + L"\\mods\\.korvanta\\update-state.json"; },
       "failed_to_load_update_state"},
      {"shape wrong", [](Installation& i) { i.state["deletions"] = "a.txt"; }, "invalid_update_state"},
      {"shape wrong deep in a replacement", [](Installation& i) { i.state["replacements"][0].erase("size"); },
       "invalid_update_state"},
      {"install_root another directory", [](Installation& i) { i.state["install_root"] = utf8(i.temp.path()); },
       "update_state_install_root_mismatch"},
      {"install_root and staging_root wrong: the first check decides",
       [](Installation& i) {
         i.state["install_root"] = utf8(i.data_dir);
         i.state["staging_root"] = utf8(i.root);
       },
       "update_state_install_root_mismatch"},
      {"manifest_path another file in the installation",
       [](Installation& i) { i.state["manifest_path"] = utf8(i.root + L"\\build-manifest.json"); },
       "update_state_manifest_path_outside_install"},
      {"backup_root the data directory", [](Installation& i) { i.state["backup_root"] = utf8(i.data_dir); },
       "update_state_backup_root_outside_install"},
      {"backup_root a sibling named backup2",
       [](Installation& i) { i.state["backup_root"] = utf8(i.data_dir + L"\\backup2"); },
       "update_state_backup_root_outside_install"},
      {"staging_root the backup root", [](Installation& i) { i.state["staging_root"] = utf8(i.backup); },
       "update_state_staging_root_outside_install"},
      {"staging_root climbing out",
       [](Installation& i) { i.state["staging_root"] = utf8(i.data_dir + L"\\staging\\..\\..\\staging"); },
       "update_state_staging_root_outside_install"},
  };
  for (const auto& [key, reason] : std::vector<std::pair<const char*, const char*>>{
           {"install_root", "update_state_install_root_mismatch"},
           {"manifest_path", "update_state_manifest_path_outside_install"},
           {"backup_root", "update_state_backup_root_outside_install"},
           {"staging_root", "update_state_staging_root_outside_install"}})
    cases.push_back({std::string(key) + " empty", [key](Installation& i) { i.state[key] = ""; }, reason});
  for (const auto& c : cases) {
    Installation install;
    install.install(L"old.dll", "old");
    install.install(L"data\\a.bin", "a1");
    install.remove(L"old.dll");
    install.replace(L"data/a.bin", "a2");
    c.change(install);
    // The state file lies where it belongs (and, for one case, in the root);
    // the cases point the apply at it or elsewhere.
    testing::write_file(install.data_dir + L"\\update-state.json", install.state.dump());
    testing::write_file(install.root + L"\\update-state.json", install.state.dump());
    const auto before = snapshot(install.temp.path());

    std::string reason = "untouched";
    EXPECT_FALSE(apply_update(install.state_path, reason)) << c.name;
    EXPECT_EQ(reason, c.reason) << c.name;
    EXPECT_TRUE(snapshot(install.temp.path()) == before) << c.name;
  }
}

TEST(UpdateState, TheLocationAndTheRootsMatchInEveryTextualForm) {
  const auto root_as = [](std::function<std::string(std::string)> form) {
    return [form](Installation& i) { i.state["install_root"] = form(utf8(i.root)); };
  };
  const struct {
    const char* name;
    const wchar_t* data_name;
    const wchar_t* state_name;
    std::function<void(Installation&)> change;
  } cases[] = {
      {"names of the location in any ASCII case", L".KorVanta", L"Update-State.JSON", [](Installation&) {}},
      {"install_root with slashes", L".korvanta", L"update-state.json", root_as([](std::string text) {
         std::replace(text.begin(), text.end(), '\\', '/');
         return text;
       })},
      {"install_root with a trailing separator", L".korvanta", L"update-state.json",
       root_as([](std::string text) { return text + "\\"; })},
      {"install_root with dot segments", L".korvanta", L"update-state.json",
       root_as([](std::string text) { return text + "\\data\\..\\.\\"; })},
      {"install_root in other case", L".korvanta", L"update-state.json",
       root_as([](std::string text) { return text.replace(text.size() - 4, 4, "GAME"); })},
      {"backup_root deeper in its directory", L".korvanta", L"update-state.json",
       [](Installation& i) {
         i.backup = i.data_dir + L"\\backup\\2026-12-06";
         i.state["backup_root"] = utf8(i.backup);
       }},
  };
  for (const auto& c : cases) {
    Installation install(c.data_name, c.state_name);
    install.install(L"a.bin", "a1");
    install.replace(L"a.bin", "a2");
    c.change(install);
    std::string reason;
    ASSERT_TRUE(install.apply(reason)) << c.name << ": " << reason;
    EXPECT_EQ(install.installed(L"a.bin"), "a2") << c.name;
    EXPECT_EQ(install.backed_up(L"a.bin"), "a1") << c.name;
    EXPECT_FALSE(testing::file_exists(install.state_path)) << c.name;
  }
}

}  // namespace
}  // namespace korvanta

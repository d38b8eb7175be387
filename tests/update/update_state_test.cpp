// The first stage of the apply: every state file it cannot use is refused
// with its own reason before anything on disk changes, and every textual form
// of a good one is accepted.
#include "update/update_state.h"

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "update/apply.h"
#include "update/reason_codes.h"

namespace korvanta {
namespace {

using nlohmann::json;
using testing::Installation;
using testing::utf8;

struct Sample : Installation {
  Sample() {
    install(L"a.txt", "old a");
    install(L"gone.txt", "gone");
    remove(L"gone.txt");
    replace(L"a.txt", "new a");
  }
  // Writes text as the state file, applies, and returns the reason ("" on
  // success); a refusal must leave every file as it was.
  std::string apply_text(const std::string& text, const std::wstring& path = L"") {
    testing::write_file(path.empty() ? state_path : path, text);
    const testing::Tree before = testing::snapshot(temp.path());
    std::string reason;
    if (apply_update(path.empty() ? state_path : path, reason)) return "";
    EXPECT_EQ(testing::snapshot(temp.path()), before) << reason << " changed files";
    return reason;
  }
};

std::string nested(std::size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); }

TEST(UpdateState, RefusesEveryStateOfTheWrongShapeBeforeChangingAnything) {
  const std::vector<std::string> strings = {"/install_root", "/manifest_path", "/backup_root", "/staging_root",
                                            "/deletions/0", "/replacements/0/path", "/replacements/0/staged_path"};
  std::vector<std::pair<std::string, json>> edits;  // pointer, value (discarded: the key is erased)
  for (const char* key : {"/install_root", "/manifest_path", "/backup_root", "/staging_root", "/deletions",
                          "/replacements", "/manifest", "/replacements/0/path", "/replacements/0/staged_path",
                          "/replacements/0/sha256", "/replacements/0/size"})
    edits.push_back({key, json::value_t::discarded});
  for (const auto& pointer : strings) {
    edits.push_back({pointer, utf8(L"x") + std::string(1, '\0') + "y"});
    for (const json& wrong : {json(1), json(true), json(nullptr), json::array(), json::object()})
      edits.push_back({pointer, wrong});
  }
  for (const char* list : {"/deletions", "/replacements"})
    for (const json& wrong : {json(1), json("x"), json::object(), json::array({1})}) edits.push_back({list, wrong});
  for (const json& wrong : {json(nullptr), json::array(), json("x")}) edits.push_back({"/manifest", wrong});
  edits.push_back({"/replacements/0/sha256", 1});
  edits.push_back({"/replacements/0", "a.txt"});
  for (const auto& [pointer, value] : edits) {
    Sample sample;
    json state = sample.state;
    const json::json_pointer at(pointer);
    if (value.is_discarded())
      state.at(at.parent_pointer()).erase(at.back());
    else
      state[at] = value;
    EXPECT_EQ(sample.apply_text(state.dump()), reason::kInvalidUpdateState) << pointer << " = " << value.dump();
  }
  for (const char* text : {"[]", "\"x\"", "1"}) EXPECT_EQ(Sample().apply_text(text), reason::kInvalidUpdateState);
}

TEST(UpdateState, RefusesWhatIsNotJsonOrNestsTooDeep) {
  Sample sample;
  const std::string good = sample.state.dump();
  json deep = sample.state;
  deep["manifest"]["metadata"] = json::parse(nested(kMaxStateDepth - 1));  // one level too many
  for (const std::string& text : {std::string(), good.substr(0, good.size() - 1), "// c\n" + good,
                                  good.substr(0, good.size() - 1) + ",}", std::string("{\"id\": \"\xC3\x28\"}"),
                                  deep.dump(), nested(100000)})
    EXPECT_EQ(sample.apply_text(text), reason::kFailedToLoadUpdateState) << text.substr(0, 40);
}

TEST(UpdateState, EachRootIsCheckedAgainstTheStateFilesOwnPlace) {
  const struct {
    const char* key;
    std::wstring Installation::*base;  // null: the empty string
    std::wstring tail;
    const char* reason;
  } cases[] = {
      {"install_root", &Installation::root, L"\\..", reason::kInstallRootMismatch},
      {"install_root", nullptr, L"", reason::kInstallRootMismatch},
      {"manifest_path", &Installation::root, L"\\build-manifest.json", reason::kManifestPathOutsideInstall},
      {"manifest_path", nullptr, L"", reason::kManifestPathOutsideInstall},
      {"backup_root", &Installation::data_dir, L"", reason::kBackupRootOutsideInstall},
      {"backup_root", &Installation::data_dir, L"\\backup2", reason::kBackupRootOutsideInstall},
      {"backup_root", nullptr, L"", reason::kBackupRootOutsideInstall},
      {"staging_root", &Installation::data_dir, L"\\backup", reason::kStagingRootOutsideInstall},
      {"staging_root", &Installation::data_dir, L"\\staging\\..\\x", reason::kStagingRootOutsideInstall},
  };
  for (const auto& c : cases) {
    Sample sample;
    sample.state[c.key] = c.base ? utf8(sample.*c.base + c.tail) : "";
    EXPECT_EQ(sample.apply_text(sample.state.dump()), c.reason) << c.key << " = " << sample.state[c.key];
  }
  Sample elsewhere;
  EXPECT_EQ(elsewhere.apply_text(elsewhere.state.dump(), elsewhere.root + L"\\update-state.json"),
            reason::kInvalidUpdateStateLocation);
  EXPECT_EQ(elsewhere.apply_text("{}", elsewhere.root + L"\\korvanta\\update-state.json"),
            reason::kInvalidUpdateStateLocation);
  std::string reason;
  EXPECT_FALSE(apply_update(elsewhere.state_path, reason));
  EXPECT_EQ(reason, reason::kFailedToLoadUpdateState);
}

TEST(UpdateState, AcceptsEveryTextualFormOfTheRightPlaces) {
  // Forward slashes, "." segments and trailing separators for the
  // directories; other ASCII case and ".." segments for the root, which is
  // only compared.
  const auto sloppy = [](const json& value, const char* key) {
    std::wstring path = testing::wide(value.get<std::string>());
    for (wchar_t& c : path) {
      if (c == L'\\') c = L'/';
      if (key[0] == 'i' && c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    const std::size_t last = path.rfind(L'/');
    return path.substr(0, last) + (key[0] == 'i' ? L"/./X/../" : L"/./") + path.substr(last + 1) +
           (key[0] == 'm' ? L"" : L"/");
  };
  for (int form = 0; form < 3; ++form) {
    Sample sample;
    std::string text;
    if (form == 0) {
      for (const char* key : {"install_root", "manifest_path", "backup_root", "staging_root"})
        sample.state[key] = utf8(sloppy(sample.state[key], key));
      text = sample.state.dump();
    } else if (form == 1) {
      sample.state["deletions"] = nullptr;
      text = "\xEF\xBB\xBF" + sample.state.dump() + " trailing text";
    } else {
      sample.state["manifest"]["metadata"] = json::parse(nested(kMaxStateDepth - 2));
      text = sample.state.dump();
    }
    EXPECT_EQ(sample.apply_text(text, sample.data_dir + L"\\Update-State.JSON"), "") << "form " << form;
  }
}

}  // namespace
}  // namespace korvanta

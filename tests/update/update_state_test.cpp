// The first stage of the apply: every state file it cannot use is refused
// with its own reason before anything on disk changes, and every textual form
// of a good one is accepted.
#include "update/update_state.h"

#include <gtest/gtest.h>

#include <cwctype>

#include "platform/lock_file.h"
#include "support/test_support.h"
#include "update/apply.h"
#include "update/reason_codes.h"

namespace korvanta {
namespace {

using nlohmann::json;
using testing::utf8;

struct Sample : testing::Installation {
  Sample() {
    install(L"a.txt", "old a");
    install(L"gone.txt", "gone");
    remove(L"gone.txt");
    replace(L"a.txt", "new a");
  }
  // Writes text as the state file and applies it: the reason, "" on success.
  // A refusal must leave every file as it was.
  std::string apply_text(const std::string& text, const std::wstring& path) {
    testing::write_file(path, text);
    const testing::Tree before = testing::snapshot(temp.path());
    std::string reason;
    if (apply_update(path, reason, &failure)) return "";
    EXPECT_EQ(testing::snapshot(temp.path()), before) << reason << " changed files";
    return reason;
  }
  ApplyFailure failure;  // of the last refusal
  std::string apply_text(const std::string& text) { return apply_text(text, state_path); }
};

std::string nested(std::size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); }

TEST(UpdateState, RefusesEveryStateItCannotUseBeforeChangingAnything) {
  Sample sample;
  const std::string data = utf8(sample.data_dir);
  // Pointer and value; a discarded value erases the key.
  std::vector<std::tuple<std::string, json, const char*>> edits = {
      {"/install_root", utf8(sample.temp.path()), reason::kInstallRootMismatch},
      {"/install_root", "", reason::kInstallRootMismatch},
      {"/manifest_path", utf8(sample.root) + "/build-manifest.json", reason::kManifestPathOutsideInstall},
      {"/manifest_path", "", reason::kManifestPathOutsideInstall},
      {"/manifest_path", utf8(sample.manifest) + "/", reason::kManifestPathOutsideInstall},
      {"/manifest_path", utf8(sample.manifest) + "\\.", reason::kManifestPathOutsideInstall},
      {"/backup_root", data, reason::kBackupRootOutsideInstall},
      {"/backup_root", data + "/backup2", reason::kBackupRootOutsideInstall},
      {"/backup_root", "", reason::kBackupRootOutsideInstall},
      {"/staging_root", data + "/backup", reason::kStagingRootOutsideInstall},
      {"/staging_root", data + "/staging/../x", reason::kStagingRootOutsideInstall},
      {"/replacements/0", "a.txt", reason::kInvalidUpdateState},
  };
  const auto refused = [&](const std::string& pointer, const json& value) {
    edits.emplace_back(pointer, value, reason::kInvalidUpdateState);
  };
  for (const char* key : {"/install_root", "/manifest_path", "/backup_root", "/staging_root", "/deletions",
                          "/replacements", "/manifest", "/replacements/0/path", "/replacements/0/staged_path",
                          "/replacements/0/sha256", "/replacements/0/size"})
    refused(key, json::value_t::discarded);
  for (const char* path : {"/install_root", "/manifest_path", "/backup_root", "/staging_root", "/deletions/0",
                           "/replacements/0/path", "/replacements/0/staged_path", "/replacements/0/sha256"}) {
    if (!std::string_view(path).ends_with("sha256")) refused(path, std::string("a.txt\0b", 7));
    for (const json& wrong : {json(1), json(true), json(nullptr), json::array(), json::object()}) refused(path, wrong);
  }
  for (const char* list : {"/deletions", "/replacements"})
    for (const json& wrong : {json(1), json("x"), json::object(), json::array({1})}) refused(list, wrong);
  for (const json& wrong : {json(nullptr), json::array(), json("x")}) refused("/manifest", wrong);
  for (const auto& [pointer, value, expected] : edits) {
    json state = sample.state;
    const json::json_pointer at(pointer);
    if (value.is_discarded())
      state.at(at.parent_pointer()).erase(at.back());
    else
      state[at] = value;
    EXPECT_EQ(sample.apply_text(state.dump()), expected) << pointer << " = " << value.dump();
    EXPECT_EQ(sample.failure.place, value == json::array({1}) ? pointer + "/0" : pointer);
  }
  for (const char* text : {"[]", "\"x\"", "1"}) EXPECT_EQ(sample.apply_text(text), reason::kInvalidUpdateState);
  EXPECT_EQ(sample.failure.place, kStateFilePlace);

  const std::string good = sample.state.dump();
  json deep = sample.state;
  deep["manifest"]["metadata"] = json::parse(nested(kMaxStateDepth - 1));  // one level too many
  for (const std::string& text : {std::string(), good.substr(0, good.size() - 1), "// c\n" + good,
                                  good.substr(0, good.size() - 1) + ",}", std::string("{\"id\": \"\xC3\x28\"}"),
                                  deep.dump(), nested(100000)})
    EXPECT_EQ(sample.apply_text(text), reason::kFailedToLoadUpdateState) << text.substr(0, 40);

  for (const wchar_t* wrong : {L"\\update-state.json", L"\\korvanta\\update-state.json"})
    EXPECT_EQ(sample.apply_text(good, sample.root + wrong), reason::kInvalidUpdateStateLocation);
  {
    platform::LockFile other_updater;
    ASSERT_FALSE(other_updater.acquire(sample.data_dir + L"\\updater.lock"));
    EXPECT_EQ(sample.apply_text("not read while another updater works"), reason::kUpdateAlreadyRunning);
    EXPECT_EQ(sample.failure.place, kStateFilePlace);
  }
  testing::write_file(sample.data_dir + L"\\updater.lock\\in the way", "");  // no lock to take: no update
  EXPECT_NE(sample.apply_text(good), "");
  EXPECT_NE(sample.failure.system_error, 0);
  std::string reason;
  EXPECT_FALSE(apply_update(sample.temp / L"Other\\.korvanta\\update-state.json", reason));
  EXPECT_EQ(reason, reason::kFailedToLoadUpdateState);
}

// Forward slashes, "." segments and trailing separators in the directories;
// other ASCII case and ".." segments in the root, which is only compared; a
// byte-order mark, text after the document, null deletions, the deepest
// nesting allowed, and the file's name in other letter case.
TEST(UpdateState, AcceptsEveryTextualFormOfTheRightPlaces) {
  Sample sample;
  for (const char* key : {"install_root", "manifest_path", "backup_root", "staging_root"}) {
    std::wstring path = testing::wide(sample.state[key].get<std::string>());
    for (wchar_t& c : path) c = c == L'\\' ? L'/' : key[0] == 'i' ? std::towupper(c) : c;
    const std::size_t last = path.rfind(L'/');
    path = path.substr(0, last) + (key[0] == 'i' ? L"/./X/../" : L"/./") + path.substr(last + 1);
    sample.state[key] = utf8(key[0] == 'm' ? path : path + L"/");
  }
  sample.state["deletions"] = nullptr;
  sample.state["manifest"]["metadata"] = json::parse(nested(kMaxStateDepth - 2));
  EXPECT_EQ(sample.apply_text("\xEF\xBB\xBF" + sample.state.dump() + " trailing text",
                              sample.data_dir + L"\\Update-State.JSON"),
            "");
}

}  // namespace
}  // namespace korvanta

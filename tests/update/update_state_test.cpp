// The first stage of the apply: every state file it cannot use is refused
// with its own reason before anything on disk changes, and every textual form
// of a good one is accepted.
#include "update/update_state.h"

#include <gtest/gtest.h>

#include <cwctype>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/lock_file.h"
#include "support/test_support.h"
#include "update/apply.h"
#include "update/apply_file_system.h"

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
    const std::optional<ApplyError> error = apply_update(path);
    if (!error) return "";
    failure = *error;
    EXPECT_EQ(testing::snapshot(temp.path()), before) << failure.reason_text() << " changed files";
    return failure.reason_text();
  }
  ApplyError failure;  // of the last refusal
  std::string apply_text(const std::string& text) { return apply_text(text, state_path); }
};

std::string nested(std::size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); }

std::string code(Reason reason) { return std::string(reason_code(reason)); }

// Every refusal that the state file alone decides, among them each entry's
// path and the plan's rules (nothing may lead into the data directory, no
// staged file may be named twice), and the manifest.
TEST(UpdateState, RefusesEveryStateItCannotUseBeforeChangingAnything) {
  Sample sample;
  const std::string data = utf8(sample.data_dir);
  json twice = sample.state["replacements"][0];  // another spelling of the same staged file
  twice["path"] = "b.txt";
  twice["staged_path"] = data + "/STAGING/build-2/./a.txt";
  json inside = twice;  // a file inside a file of the build
  inside["path"] = "A.TXT/b.txt";
  inside["staged_path"] = data + "/staging/build-2/b.txt";
  // Pointer and value; a discarded value erases the key.
  std::vector<std::tuple<std::string, json, Reason>> edits = {
      {"/install_root", utf8(sample.temp.path()), Reason::install_root_mismatch},
      {"/install_root", "", Reason::install_root_mismatch},
      {"/manifest_path", utf8(sample.root) + "/build-manifest.json", Reason::manifest_path_outside_install},
      {"/manifest_path", "", Reason::manifest_path_outside_install},
      {"/manifest_path", utf8(sample.manifest) + "/", Reason::manifest_path_outside_install},
      {"/manifest_path", utf8(sample.manifest) + "\\.", Reason::manifest_path_outside_install},
      {"/backup_root", data, Reason::backup_root_outside_install},
      {"/backup_root", data + "/backup2", Reason::backup_root_outside_install},
      {"/backup_root", "", Reason::backup_root_outside_install},
      {"/staging_root", data + "/backup", Reason::staging_root_outside_install},
      {"/staging_root", data + "/staging/../x", Reason::staging_root_outside_install},
      {"/replacements/0", "a.txt", Reason::invalid_update_state},
      {"/deletions/1", "../x", Reason::invalid_deletion_path},
      {"/deletions/1", ".Korvanta\\update-state.json", Reason::deletion_in_data_directory},
      {"/deletions/1", ".korvanta:stream", Reason::deletion_in_data_directory},
      {"/replacements/0/path", "docs/nul.txt", Reason::invalid_replacement_path},
      {"/replacements/0/path", ".KORVANTA/staging/build-2/a.txt", Reason::replacement_in_data_directory},
      {"/replacements/0/staged_path", data + "/backup/a.txt", Reason::staged_file_outside_staging_root},
      {"/replacements/1", twice, Reason::staged_file_listed_twice},
      {"/replacements/1", inside, Reason::replacement_inside_replacement},
      {"/manifest/files", json::array({{{"path", "../x"}}}), Reason::invalid_update_manifest},
      {"/manifest/id", 2, Reason::invalid_update_manifest},
      {"/manifest/files", json::value_t::discarded, Reason::invalid_update_manifest},  // what a stray "}" leaves
  };
  const auto refused = [&](const std::string& pointer, const json& value) {
    edits.emplace_back(pointer, value, Reason::invalid_update_state);
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
#ifdef _WIN32
  std::wstring short_name(MAX_PATH, L'\0');  // of the data directory, as Windows makes one
  short_name.resize(GetShortPathNameW(sample.data_dir.c_str(), short_name.data(), MAX_PATH));
  edits.emplace_back("/deletions/1", utf8(short_name.substr(short_name.rfind(L'\\') + 1)) + "/update-state.json",
                     Reason::deletion_in_data_directory);
#endif
  for (const auto& [pointer, value, expected] : edits) {
    json state = sample.state;
    const json::json_pointer at(pointer);
    if (value.is_discarded())
      state.at(at.parent_pointer()).erase(at.back());
    else
      state[at] = value;
    EXPECT_EQ(sample.apply_text(state.dump()), code(expected)) << pointer << " = " << value.dump();
    // A refusal names the key, the first value of the wrong shape, or the
    // entry with its path.
    const std::size_t second = pointer.find('/', 1);
    const std::string entry = second == std::string::npos ? pointer : pointer.substr(0, pointer.find('/', second + 1));
    if (expected == Reason::invalid_update_state) {
      EXPECT_EQ(sample.failure.place, value == json::array({1}) ? pointer + "/0" : pointer);
    } else if (pointer.starts_with("/manifest/")) {
      EXPECT_EQ(sample.failure.place, "/manifest");
    } else {
      EXPECT_EQ(sample.failure.place, entry);
      const json& named = state[json::json_pointer(entry)];
      if (second != std::string::npos) {
        EXPECT_EQ(sample.failure.path, named.is_object() ? named["path"] : named);
      }
    }
  }
  for (const char* text : {"[]", "\"x\"", "1"})
    EXPECT_EQ(sample.apply_text(text), code(Reason::invalid_update_state));
  EXPECT_EQ(sample.failure.place, kStateFilePlace);

  const std::string good = sample.state.dump();
  json deep = sample.state;
  deep["manifest"]["metadata"] = json::parse(nested(kMaxStateDepth - 1));  // one level too many
  for (const std::string& text : {std::string(), good.substr(0, good.size() - 1), "// c\n" + good,
                                  good.substr(0, good.size() - 1) + ",}", std::string("{\"id\": \"\xC3\x28\"}"),
                                  deep.dump(), nested(100000)})
    EXPECT_EQ(sample.apply_text(text), code(Reason::failed_to_load_update_state)) << text.substr(0, 40);

  // Where a key repeats, its last value counts.
  for (const auto& [repeated, place] : {std::pair{R"("deletions": {})", "/deletions"}, {R"("manifest": 3)", "/manifest"}}) {
    EXPECT_EQ(sample.apply_text(good.substr(0, good.size() - 1) + ", " + repeated + "}"), code(Reason::invalid_update_state));
    EXPECT_EQ(sample.failure.place, place);
  }
  for (const wchar_t* wrong : {L"\\update-state.json", L"\\korvanta\\update-state.json"})
    EXPECT_EQ(sample.apply_text(good, sample.root + wrong), code(Reason::invalid_update_state_location));
  {
    platform::LockFile other_updater;
    ASSERT_FALSE(other_updater.acquire(sample.data_dir + L"\\updater.lock"));
    EXPECT_EQ(sample.apply_text("not read while another updater works"), code(Reason::update_already_running));
    EXPECT_EQ(sample.failure.place, kStateFilePlace);
  }
  {  // the caller's own, taken before: the apply goes on under it
    UpdaterLock own;
    PlatformFileSystem file_system;
    ASSERT_FALSE(own.take(sample.state_path));
    EXPECT_EQ(apply_update_with(sample.state_path, file_system, nullptr, &own).value().reason,
              Reason::failed_to_load_update_state);
  }
  testing::write_file(sample.data_dir + L"\\updater.lock\\in the way", "");  // no lock to take: no update
  EXPECT_NE(sample.apply_text(good), "");
  EXPECT_NE(sample.failure.windows_error(), 0);
  EXPECT_EQ(apply_update(sample.temp / L"Other\\.korvanta\\update-state.json").value().reason,
            Reason::failed_to_load_update_state);
}

// Forward slashes, "." segments and trailing separators in the directories;
// other ASCII case and ".." segments in the root, which is only compared; a
// byte-order mark, text after the document, null deletions, the deepest
// nesting allowed, keys repeated with a value of the wrong type before the
// last, a text longer than the loader's buffer, and the file's name in other
// letter case.
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
  const std::string key = std::string(100000, 'k') + "!";
  sample.state["manifest"]["files"] = json::array({{{"path", "a.txt"}, {"size", 5}, {"sha256", ""}, {"object_key", key}}});
  std::string text = sample.state.dump();  // members by key: the repeated ones go first
  text.replace(0, 1, R"({"other": [[{"deletions": 1}], {}], "install_root": 1, "deletions": {}, "replacements": 7, "manifest": [], )");
  text.replace(text.find(R"("replacements":[{)"), 17, R"("replacements":[{"size":null,"staged_path":1,)");
  EXPECT_EQ(sample.apply_text("\xEF\xBB\xBF" + text + " trailing text", sample.data_dir + L"\\Update-State.JSON"), "");
  EXPECT_EQ(json::parse(testing::content(sample.manifest).value())["files"][0]["object_key"], key);
}

}  // namespace
}  // namespace korvanta

#include "manifest/build_manifest.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>

namespace korvanta {
namespace {

using nlohmann::json;

json minimal_manifest() {
  return json::parse(R"({
    "id": "build-7", "id_mod": "mod-3", "channel": "stable", "version": "1.4.0",
    "status": "published", "manifest_hash": "AbC", "total_size": 42, "files": []
  })");
}

json file_entry(const std::string& path) { return json{{"path", path}, {"size", 1}, {"sha256", "00"}}; }

json with_files(json files) {
  json manifest = minimal_manifest();
  manifest["files"] = std::move(files);
  return manifest;
}
json with_files(std::initializer_list<json> files) {
  json array = json::array();
  for (const json& file : files) array.push_back(file);
  return with_files(array);
}

// Runs fn and returns the id of the JSON library exception it throws of type
// E, or -1 when it throws nothing (any other exception fails the test).
template <class E>
int exception_id(const std::function<void()>& fn, std::string* what = nullptr) {
  try {
    fn();
  } catch (const E& e) {
    if (what != nullptr) *what = e.what();
    return e.id;
  }
  return -1;
}

TEST(BuildManifest, AFileEntryKeepsItsKnownKeysAndDropsTheRest) {
  const auto file = parse_manifest_file(json{{"id", "f1"},
                                             {"path", "Data\\Game.pak"},
                                             {"size", 1234},
                                             {"sha256", "ABCDEF0123"},
                                             {"object_key", "objects/ab/cd"},
                                             {"content_type", "application/x-pak"},
                                             {"metadata", {{"k", 1}}},
                                             {"extra", "dropped"}});
  ASSERT_TRUE(file);
  EXPECT_EQ(manifest_file_to_json(*file), (json{{"id", "f1"},
                                                {"path", "Data/Game.pak"},
                                                {"size", 1234},
                                                {"sha256", "abcdef0123"},
                                                {"object_key", "objects/ab/cd"},
                                                {"content_type", "application/x-pak"},
                                                {"metadata", {{"k", 1}}}}));
}

TEST(BuildManifest, DigestsAreLoweredForAsciiOnlyAndMayBeEmpty) {
  for (const auto& [given, stored] : std::vector<std::pair<std::string, std::string>>{
           {"ABCDEF\xC3\x89Z", "abcdef\xC3\x89z"}, {"", ""}}) {
    json entry = file_entry("a.bin");
    entry["sha256"] = given;
    const auto file = parse_manifest_file(entry);
    ASSERT_TRUE(file) << given;
    EXPECT_EQ(file->sha256, stored);
  }
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string lowered = to_lower_ascii(all);
  ASSERT_EQ(lowered.size(), 256u);
  for (int b = 0; b < 256; ++b)
    EXPECT_EQ(static_cast<unsigned char>(lowered[b]), (b >= 'A' && b <= 'Z') ? b + 32 : b) << b;
}

TEST(BuildManifest, JsonToU64ReadsEveryJsonTypeAndSaturatesAtTwoToTheSixtyFour) {
  constexpr auto max = std::numeric_limits<std::uint64_t>::max();
  constexpr double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<json, std::uint64_t>> cases = {
      {json(7u), 7}, {json::parse("18446744073709551615"), max}, {json(std::int64_t{5}), 5},  // signed, built in code
      {json::parse("-5"), 0}, {json::parse("-9223372036854775808"), 0}, {json::parse("12.9"), 12},
      {json::parse("0.999"), 0}, {json::parse("-0.5"), 0}, {json::parse("-0.0"), 0}, {json::parse("1e3"), 1000},
      {json::parse("\"12\""), 0}, {json(true), 0}, {json(nullptr), 0}, {json::object(), 0}, {json::array({5}), 0},
      // Integers too large for 64 bits are held as floating point.
      {json::parse("18446744073709551616"), max}, {json::parse("99999999999999999999999"), max},
      {json::parse("1e300"), max}, {json(18446744073709551616.0), max}, {json(inf), max}, {json(-inf), 0},
      {json(std::numeric_limits<double>::quiet_NaN()), 0},
      // The largest double below 2^64 is still a count of its own.
      {json(18446744073709549568.0), 18446744073709549568u},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(json_to_u64(value), expected) << value.dump();
}

TEST(BuildManifest, TotalSizeIsReadThroughJsonToU64) {
  for (const auto& [text, expected] : std::vector<std::pair<std::string, std::uint64_t>>{
           {"12.9", 12}, {"\"12\"", 0}, {"null", 0}, {"[]", 0}}) {
    json input = minimal_manifest();
    input["total_size"] = json::parse(text);
    const auto manifest = parse_build_manifest(input);
    ASSERT_TRUE(manifest) << text;
    EXPECT_EQ(manifest->total_size, expected) << text;
  }
}

TEST(BuildManifest, FilesMayBeNullOrAnObjectReadInKeyOrder) {
  const std::vector<std::pair<json, std::vector<std::string>>> cases = {
      {nullptr, {}},
      {json::parse(R"({"b": {"path": "second", "size": 2, "sha256": ""},
                       "a": {"path": "first", "size": 1, "sha256": ""}})"),
       {"first", "second"}},
  };
  for (const auto& [files, paths] : cases) {
    const auto manifest = parse_build_manifest(with_files(files));
    ASSERT_TRUE(manifest) << files.dump();
    std::vector<std::string> read;
    for (const auto& file : manifest->files) read.push_back(file.path);
    EXPECT_EQ(read, paths);
    const json written = build_manifest_to_json(*manifest);
    json written_paths = json::array();
    for (const auto& file : written.at("files")) written_paths.push_back(file.at("path"));
    EXPECT_EQ(written_paths, json(paths));
  }
}

TEST(BuildManifest, ADuplicateByAsciiCaseOrAnInvalidPathRefusesTheWholeManifest) {
  for (const auto& [first, second] : std::vector<std::pair<std::string, std::string>>{
           {"Data/a.pak", "data/A.PAK"}, {"a/b", "a\\b/"}, {"x", "X"}, {"a/b", "a/b"}}) {
    EXPECT_FALSE(parse_build_manifest(with_files({file_entry(first), file_entry("other"), file_entry(second)})))
        << first << " / " << second;
  }
  for (const std::string bad : {"../evil.dll", "C:\\Windows\\x", "\\\\srv\\x", "/etc/passwd", "a//b", "", "a/./b"}) {
    EXPECT_FALSE(parse_build_manifest(with_files({file_entry("good.bin"), file_entry(bad)}))) << bad;
    EXPECT_FALSE(parse_manifest_file(file_entry(bad))) << bad;
  }
  // Non-ASCII case is not folded: these are two files.
  const auto manifest = parse_build_manifest(with_files({file_entry("\xC3\x89t\xC3\xA9"), file_entry("\xC3\xA9t\xC3\xA9")}));
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->files.size(), 2u);
}

TEST(BuildManifest, AnInvalidPathIsExaminedBeforeAnyOtherKey) {
  EXPECT_FALSE(parse_manifest_file(json{{"path", "../x"}}));
  EXPECT_FALSE(parse_manifest_file(json{{"path", "../x"}, {"sha256", 5}, {"id", nullptr}}));
  std::string what;
  EXPECT_EQ(exception_id<json::out_of_range>([] { parse_manifest_file(json{{"path", "x"}}); }, &what), 403);
  EXPECT_NE(what.find("key 'size' not found"), std::string::npos) << what;
}

TEST(BuildManifest, StructuralFaultsRaiseTheLibraryExceptions) {
  // A manifest whose only file entry has key set to value.
  const auto entry_with = [](const char* key, json value) {
    json entry = file_entry("x");
    entry[key] = std::move(value);
    return [entry](json& m) { m["files"] = json::array({entry}); };
  };
  struct Fault {
    std::string name;
    std::function<void(json&)> change;
    bool out_of_range;  // else a type_error
    int id;
    std::string message_part;
  };
  const std::vector<Fault> faults = {
      {"missing id_mod", [](json& m) { m.erase("id_mod"); }, true, 403, "key 'id_mod' not found"},
      {"missing id", [](json& m) { m.erase("id"); }, true, 403, "key 'id' not found"},
      {"missing manifest_hash", [](json& m) { m.erase("manifest_hash"); }, true, 403, "key 'manifest_hash' not found"},
      {"missing total_size", [](json& m) { m.erase("total_size"); }, true, 403, "key 'total_size' not found"},
      {"missing files", [](json& m) { m.erase("files"); }, true, 403, "key 'files' not found"},
      {"numeric version", [](json& m) { m["version"] = 3; }, false, 302, "type must be string, but is number"},
      {"null status", [](json& m) { m["status"] = nullptr; }, false, 302, "type must be string, but is null"},
      {"array channel", [](json& m) { m["channel"] = json::array(); }, false, 302, "type must be string, but is array"},
      {"string files", [](json& m) { m["files"] = "x"; }, false, 304, "cannot use at() with string"},
      {"number files", [](json& m) { m["files"] = 5; }, false, 304, "cannot use at() with number"},
      {"boolean files", [](json& m) { m["files"] = false; }, false, 304, "cannot use at() with boolean"},
      {"array entry", [](json& m) { m["files"] = json::array({json::array()}); }, false, 304,
       "cannot use at() with array"},
      {"null entry", [](json& m) { m["files"] = json::array({nullptr}); }, false, 304, "cannot use at() with null"},
      {"entry without path", [](json& m) { m["files"] = json::array({json{{"size", 1}}}); }, true, 403,
       "key 'path' not found"},
      {"numeric path", [](json& m) { m["files"] = json::array({json{{"path", 1}}}); }, false, 302,
       "type must be string, but is number"},
      {"entry without sha256", [](json& m) { m["files"] = json::array({json{{"path", "x"}, {"size", 1}}}); }, true,
       403, "key 'sha256' not found"},
      {"null content_type", entry_with("content_type", nullptr), false, 302, "type must be string, but is null"},
      {"numeric id of an entry", entry_with("id", 1), false, 302, "type must be string, but is number"},
      {"boolean object_key", entry_with("object_key", true), false, 302, "type must be string, but is boolean"},
      {"numeric sha256", entry_with("sha256", 1), false, 302, "type must be string, but is number"},
  };
  for (const auto& fault : faults) {
    SCOPED_TRACE(fault.name);
    json input = minimal_manifest();
    fault.change(input);
    std::string what;
    const auto parse = [&] { parse_build_manifest(input); };
    EXPECT_EQ(fault.out_of_range ? exception_id<json::out_of_range>(parse, &what)
                                 : exception_id<json::type_error>(parse, &what),
              fault.id);
    EXPECT_NE(what.find(fault.message_part), std::string::npos) << what;
  }
  for (const json& value : {json::array(), json("x"), json(1), json(true), json(nullptr)})
    EXPECT_EQ(exception_id<json::type_error>([&] { parse_build_manifest(value); }), 304) << value.dump();
}

TEST(BuildManifest, MetadataIsCopiedWholeAndNullIsWrittenAsAnEmptyObject) {
  json entry = file_entry("x");
  entry["metadata"] = json::array({1, "two", nullptr});
  json input = with_files({entry});
  input["metadata"] = nullptr;
  auto manifest = parse_build_manifest(input);
  ASSERT_TRUE(manifest);
  EXPECT_TRUE(manifest->metadata.is_null());
  EXPECT_EQ(manifest->files[0].metadata, json::array({1, "two", nullptr}));
  const json out = build_manifest_to_json(*manifest);
  EXPECT_EQ(out.at("metadata"), json::object());
  EXPECT_EQ(out.at("files")[0].at("metadata"), json::array({1, "two", nullptr}));

  manifest->files[0].metadata = nullptr;
  EXPECT_EQ(manifest_file_to_json(manifest->files[0]).at("metadata"), json::object());

  input["metadata"] = json::array({"kept"});
  manifest = parse_build_manifest(input);
  ASSERT_TRUE(manifest);
  EXPECT_EQ(build_manifest_to_json(*manifest).at("metadata"), json::array({"kept"}));
}

// Every top-level field under its own value, absent optional keys, a
// backslashed path, a fractional size, an upper-case digest and unknown keys.
TEST(BuildManifest, AReadFollowedByAWriteNormalises) {
  const auto manifest = parse_build_manifest(json::parse(R"({
    "id": "b", "id_mod": "m", "channel": "c", "version": "v", "status": "s",
    "manifest_hash": "H", "total_size": -3, "unknown": 1, "metadata": null,
    "files": {"z": {"path": "Dir\\Sub\\", "size": 7.8, "sha256": "AA", "extra": 2, "metadata": null}}
  })"));
  ASSERT_TRUE(manifest);
  EXPECT_EQ(build_manifest_to_json(*manifest), json::parse(R"({
    "channel": "c", "files": [{"content_type": "application/octet-stream", "id": "", "metadata": {},
                               "object_key": "", "path": "Dir/Sub", "sha256": "aa", "size": 7}],
    "id": "b", "id_mod": "m", "manifest_hash": "H", "metadata": {}, "status": "s",
    "total_size": 0, "version": "v"
  })"));
}

TEST(BuildManifest, AWrittenManifestReadsBackAsTheSameRecord) {
  BuildManifest manifest;
  manifest.id = "id \xE2\x9C\x93";
  manifest.id_mod = "mod";
  manifest.channel = "beta";
  manifest.version = "2.0";
  manifest.status = "ok";
  manifest.manifest_hash = "DEADbeef";
  manifest.total_size = std::numeric_limits<std::uint64_t>::max();
  manifest.metadata = json{{"nested", {{"a", json::array({1, 2.5, "x"})}}}};
  ManifestFile a;
  a.path = "bin/Game.exe";
  a.size = 1ull << 40;
  a.sha256 = "0123abcd";
  a.id = "1";
  ManifestFile b;
  b.path = "data/x y.pak";
  b.metadata = json::array();
  manifest.files = {a, b};

  const auto back = parse_build_manifest(build_manifest_to_json(manifest));
  ASSERT_TRUE(back);
  EXPECT_EQ(build_manifest_to_json(*back), build_manifest_to_json(manifest));
  EXPECT_EQ(back->total_size, manifest.total_size);
  ASSERT_EQ(back->files.size(), 2u);
  EXPECT_EQ(back->files[0].size, a.size);
  EXPECT_EQ(back->files[1].metadata, json::array());
}

}  // namespace
}  // namespace korvanta

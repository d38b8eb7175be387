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

json file_entry(const std::string& path) {
  return json{{"path", path}, {"size", 1}, {"sha256", "00"}};
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

TEST(BuildManifest, FreshRecordsHoldTheirDefaults) {
  const BuildManifest manifest;
  EXPECT_EQ(manifest.total_size, 0u);
  EXPECT_EQ(manifest.metadata, json::object());
  EXPECT_TRUE(manifest.files.empty());
  const ManifestFile file;
  EXPECT_EQ(file.content_type, "application/octet-stream");
  EXPECT_EQ(file.metadata, json::object());
  EXPECT_EQ(file.size, 0u);
}

TEST(BuildManifest, ReadsAMinimalManifest) {
  const auto manifest = parse_build_manifest(minimal_manifest());
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->id, "build-7");
  EXPECT_EQ(manifest->id_mod, "mod-3");
  EXPECT_EQ(manifest->channel, "stable");
  EXPECT_EQ(manifest->version, "1.4.0");
  EXPECT_EQ(manifest->status, "published");
  EXPECT_EQ(manifest->manifest_hash, "AbC");  // stored unchanged, case included
  EXPECT_EQ(manifest->total_size, 42u);
  EXPECT_EQ(manifest->metadata, json::object());
  EXPECT_TRUE(manifest->files.empty());

  const json written = build_manifest_to_json(*manifest);
  EXPECT_EQ(written.size(), 9u);
  EXPECT_EQ(written.at("files"), json::array());
  EXPECT_EQ(written.at("metadata"), json::object());
  EXPECT_TRUE(written.at("total_size").is_number_unsigned());
}

TEST(BuildManifest, ReadsEveryFieldOfAFileEntry) {
  json input = minimal_manifest();
  input["files"] = json::array({json{{"id", "f1"},
                                     {"path", "Data\\Game.pak"},
                                     {"size", 1234},
                                     {"sha256", "ABCDEF0123"},
                                     {"object_key", "objects/ab/cd"},
                                     {"content_type", "application/x-pak"},
                                     {"metadata", {{"k", 1}}},
                                     {"extra", "dropped"}}});
  const auto manifest = parse_build_manifest(input);
  ASSERT_TRUE(manifest);
  ASSERT_EQ(manifest->files.size(), 1u);
  const ManifestFile& f = manifest->files[0];
  EXPECT_EQ(f.id, "f1");
  EXPECT_EQ(f.path, "Data/Game.pak");
  EXPECT_EQ(f.size, 1234u);
  EXPECT_EQ(f.sha256, "abcdef0123");
  EXPECT_EQ(f.object_key, "objects/ab/cd");
  EXPECT_EQ(f.content_type, "application/x-pak");
  EXPECT_EQ(f.metadata, (json{{"k", 1}}));

  const json out = manifest_file_to_json(f);
  EXPECT_EQ(out.size(), 7u);
  EXPECT_FALSE(out.contains("extra"));
  EXPECT_EQ(out.at("path"), "Data/Game.pak");
  EXPECT_EQ(out.at("sha256"), "abcdef0123");
}

TEST(BuildManifest, AbsentOptionalFileKeysTakeTheirDefaults) {
  const auto file = parse_manifest_file(file_entry("a.bin"));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->id, "");
  EXPECT_EQ(file->object_key, "");
  EXPECT_EQ(file->content_type, "application/octet-stream");
  EXPECT_EQ(file->metadata, json::object());
  EXPECT_EQ(file->sha256, "00");
}

TEST(BuildManifest, AnEmptyDigestIsAccepted) {
  json entry = file_entry("a.bin");
  entry["sha256"] = "";
  const auto file = parse_manifest_file(entry);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->sha256, "");
}

TEST(BuildManifest, DigestsAreLoweredForAsciiOnly) {
  json entry = file_entry("a.bin");
  entry["sha256"] = "ABCDEF\xC3\x89Z";
  const auto file = parse_manifest_file(entry);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->sha256, "abcdef\xC3\x89z");
}

TEST(BuildManifest, ToLowerAsciiChangesOnlyAToZ) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string lowered = to_lower_ascii(all);
  ASSERT_EQ(lowered.size(), 256u);
  for (int b = 0; b < 256; ++b) {
    const int expected = (b >= 'A' && b <= 'Z') ? b + 32 : b;
    EXPECT_EQ(static_cast<unsigned char>(lowered[b]), expected) << b;
  }
}

TEST(BuildManifest, JsonToU64ReadsEveryJsonType) {
  EXPECT_EQ(json_to_u64(json(7u)), 7u);
  EXPECT_EQ(json_to_u64(json::parse("18446744073709551615")), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(json_to_u64(json::parse("-5")), 0u);
  EXPECT_EQ(json_to_u64(json(std::int64_t{5})), 5u);  // a signed value built in code
  EXPECT_EQ(json_to_u64(json::parse("-9223372036854775808")), 0u);
  EXPECT_EQ(json_to_u64(json::parse("12.9")), 12u);
  EXPECT_EQ(json_to_u64(json::parse("0.999")), 0u);
  EXPECT_EQ(json_to_u64(json::parse("-0.5")), 0u);
  EXPECT_EQ(json_to_u64(json::parse("-0.0")), 0u);
  EXPECT_EQ(json_to_u64(json::parse("1e3")), 1000u);
  EXPECT_EQ(json_to_u64(json::parse("\"12\"")), 0u);
  EXPECT_EQ(json_to_u64(json(true)), 0u);
  EXPECT_EQ(json_to_u64(json(nullptr)), 0u);
  EXPECT_EQ(json_to_u64(json::object()), 0u);
  EXPECT_EQ(json_to_u64(json::array({5})), 0u);
}

TEST(BuildManifest, JsonToU64SaturatesAtTwoToTheSixtyFour) {
  constexpr auto max = std::numeric_limits<std::uint64_t>::max();
  // Integers too large for 64 bits are held as floating point by the parser.
  EXPECT_EQ(json_to_u64(json::parse("18446744073709551616")), max);
  EXPECT_EQ(json_to_u64(json::parse("99999999999999999999999")), max);
  EXPECT_EQ(json_to_u64(json::parse("1e300")), max);
  EXPECT_EQ(json_to_u64(json(18446744073709551616.0)), max);
  EXPECT_EQ(json_to_u64(json(std::numeric_limits<double>::infinity())), max);
  EXPECT_EQ(json_to_u64(json(-std::numeric_limits<double>::infinity())), 0u);
  EXPECT_EQ(json_to_u64(json(std::numeric_limits<double>::quiet_NaN())), 0u);
  // The largest double below 2^64 is still a count of its own.
  EXPECT_EQ(json_to_u64(json(18446744073709549568.0)), 18446744073709549568u);
}

TEST(BuildManifest, TotalSizeIsReadThroughJsonToU64) {
  for (const auto& [text, expected] : std::vector<std::pair<std::string, std::uint64_t>>{
           {"-5", 0}, {"12.9", 12}, {"\"12\"", 0}, {"true", 0}, {"null", 0}, {"[]", 0}}) {
    json input = minimal_manifest();
    input["total_size"] = json::parse(text);
    const auto manifest = parse_build_manifest(input);
    ASSERT_TRUE(manifest) << text;
    EXPECT_EQ(manifest->total_size, expected) << text;
  }
}

TEST(BuildManifest, NullFilesReadAsNoFiles) {
  json input = minimal_manifest();
  input["files"] = nullptr;
  const auto manifest = parse_build_manifest(input);
  ASSERT_TRUE(manifest);
  EXPECT_TRUE(manifest->files.empty());
  EXPECT_EQ(build_manifest_to_json(*manifest).at("files"), json::array());
}

TEST(BuildManifest, ObjectShapedFilesAreReadInKeyOrder) {
  json input = minimal_manifest();
  input["files"] = json::parse(R"({"b": {"path": "second", "size": 2, "sha256": ""},
                                   "a": {"path": "first", "size": 1, "sha256": ""}})");
  const auto manifest = parse_build_manifest(input);
  ASSERT_TRUE(manifest);
  ASSERT_EQ(manifest->files.size(), 2u);
  EXPECT_EQ(manifest->files[0].path, "first");
  EXPECT_EQ(manifest->files[1].path, "second");
  const json files = build_manifest_to_json(*manifest).at("files");
  ASSERT_TRUE(files.is_array());
  EXPECT_EQ(files[0].at("path"), "first");
}

TEST(BuildManifest, DuplicatePathsByAsciiCaseRefuseTheWholeManifest) {
  const std::vector<std::pair<std::string, std::string>> duplicates = {
      {"Data/a.pak", "data/A.PAK"}, {"a/b", "a\\b/"}, {"x", "X"}, {"a/b", "a/b"}};
  for (const auto& [first, second] : duplicates) {
    json input = minimal_manifest();
    input["files"] = json::array({file_entry(first), file_entry("other"), file_entry(second)});
    EXPECT_FALSE(parse_build_manifest(input)) << first << " / " << second;
  }
  // Non-ASCII case is not folded: these are two files.
  json input = minimal_manifest();
  input["files"] = json::array({file_entry("\xC3\x89t\xC3\xA9"), file_entry("\xC3\xA9t\xC3\xA9")});
  const auto manifest = parse_build_manifest(input);
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->files.size(), 2u);
}

TEST(BuildManifest, AnInvalidPathRefusesTheWholeManifest) {
  for (const std::string bad : {"../evil.dll", "C:\\Windows\\x", "\\\\srv\\x", "/etc/passwd", "a//b", "", "a/./b"}) {
    json input = minimal_manifest();
    input["files"] = json::array({file_entry("good.bin"), file_entry(bad)});
    EXPECT_FALSE(parse_build_manifest(input)) << bad;
    EXPECT_FALSE(parse_manifest_file(file_entry(bad))) << bad;
  }
}

TEST(BuildManifest, AnInvalidPathIsExaminedBeforeAnyOtherKey) {
  EXPECT_FALSE(parse_manifest_file(json{{"path", "../x"}}));
  EXPECT_FALSE(parse_manifest_file(json{{"path", "../x"}, {"sha256", 5}, {"id", nullptr}}));
  std::string what;
  EXPECT_EQ(exception_id<json::out_of_range>([] { parse_manifest_file(json{{"path", "x"}}); }, &what), 403);
  EXPECT_NE(what.find("key 'size' not found"), std::string::npos) << what;
}

TEST(BuildManifest, StructuralFaultsRaiseTheLibraryExceptions) {
  struct Fault {
    std::string name;
    std::function<void(json&)> change;
    int type_error_id;    // -1 when not a type_error
    int out_of_range_id;  // -1 when not an out_of_range
    std::string message_part;
  };
  const std::vector<Fault> faults = {
      {"missing id_mod", [](json& m) { m.erase("id_mod"); }, -1, 403, "key 'id_mod' not found"},
      {"missing id", [](json& m) { m.erase("id"); }, -1, 403, "key 'id' not found"},
      {"missing manifest_hash", [](json& m) { m.erase("manifest_hash"); }, -1, 403, "key 'manifest_hash' not found"},
      {"missing total_size", [](json& m) { m.erase("total_size"); }, -1, 403, "key 'total_size' not found"},
      {"missing files", [](json& m) { m.erase("files"); }, -1, 403, "key 'files' not found"},
      {"numeric version", [](json& m) { m["version"] = 3; }, 302, -1, "type must be string, but is number"},
      {"null status", [](json& m) { m["status"] = nullptr; }, 302, -1, "type must be string, but is null"},
      {"array channel", [](json& m) { m["channel"] = json::array(); }, 302, -1, "type must be string, but is array"},
      {"string files", [](json& m) { m["files"] = "x"; }, 304, -1, "cannot use at() with string"},
      {"number files", [](json& m) { m["files"] = 5; }, 304, -1, "cannot use at() with number"},
      {"boolean files", [](json& m) { m["files"] = false; }, 304, -1, "cannot use at() with boolean"},
      {"array entry", [](json& m) { m["files"] = json::array({json::array()}); }, 304, -1, "cannot use at() with array"},
      {"null entry", [](json& m) { m["files"] = json::array({nullptr}); }, 304, -1, "cannot use at() with null"},
      {"entry without path", [](json& m) { m["files"] = json::array({json{{"size", 1}}}); }, -1, 403,
       "key 'path' not found"},
      {"numeric path", [](json& m) { m["files"] = json::array({json{{"path", 1}}}); }, 302, -1,
       "type must be string, but is number"},
      {"entry without sha256", [](json& m) { m["files"] = json::array({json{{"path", "x"}, {"size", 1}}}); }, -1, 403,
       "key 'sha256' not found"},
      {"null content_type",
       [](json& m) {
         json e = file_entry("x");
         e["content_type"] = nullptr;
         m["files"] = json::array({e});
       },
       302, -1, "type must be string, but is null"},
      {"numeric id of an entry",
       [](json& m) {
         json e = file_entry("x");
         e["id"] = 1;
         m["files"] = json::array({e});
       },
       302, -1, "type must be string, but is number"},
      {"boolean object_key",
       [](json& m) {
         json e = file_entry("x");
         e["object_key"] = true;
         m["files"] = json::array({e});
       },
       302, -1, "type must be string, but is boolean"},
      {"numeric sha256",
       [](json& m) {
         json e = file_entry("x");
         e["sha256"] = 1;
         m["files"] = json::array({e});
       },
       302, -1, "type must be string, but is number"},
  };
  for (const auto& fault : faults) {
    SCOPED_TRACE(fault.name);
    json input = minimal_manifest();
    fault.change(input);
    std::string what;
    if (fault.type_error_id >= 0) {
      EXPECT_EQ(exception_id<json::type_error>([&] { parse_build_manifest(input); }, &what), fault.type_error_id);
    } else {
      EXPECT_EQ(exception_id<json::out_of_range>([&] { parse_build_manifest(input); }, &what),
                fault.out_of_range_id);
    }
    EXPECT_NE(what.find(fault.message_part), std::string::npos) << what;
  }
}

TEST(BuildManifest, AManifestThatIsNotAnObjectFailsAtItsFirstLookup) {
  for (const json& value : {json::array(), json("x"), json(1), json(true), json(nullptr)}) {
    EXPECT_EQ(exception_id<json::type_error>([&] { parse_build_manifest(value); }), 304) << value.dump();
  }
}

TEST(BuildManifest, MetadataIsCopiedWholeAndNullIsWrittenAsAnEmptyObject) {
  json input = minimal_manifest();
  input["metadata"] = nullptr;
  json entry = file_entry("x");
  entry["metadata"] = json::array({1, "two", nullptr});
  input["files"] = json::array({entry});
  auto manifest = parse_build_manifest(input);
  ASSERT_TRUE(manifest);
  EXPECT_TRUE(manifest->metadata.is_null());
  EXPECT_EQ(manifest->files[0].metadata, json::array({1, "two", nullptr}));
  json out = build_manifest_to_json(*manifest);
  EXPECT_EQ(out.at("metadata"), json::object());
  EXPECT_EQ(out.at("files")[0].at("metadata"), json::array({1, "two", nullptr}));

  manifest->files[0].metadata = nullptr;
  EXPECT_EQ(manifest_file_to_json(manifest->files[0]).at("metadata"), json::object());

  input["metadata"] = json::array({"kept"});
  manifest = parse_build_manifest(input);
  ASSERT_TRUE(manifest);
  EXPECT_EQ(build_manifest_to_json(*manifest).at("metadata"), json::array({"kept"}));
}

TEST(BuildManifest, AReadFollowedByAWriteNormalises) {
  const json input = json::parse(R"({
    "id": "b", "id_mod": "m", "channel": "c", "version": "v", "status": "s",
    "manifest_hash": "H", "total_size": -3, "unknown": 1, "metadata": null,
    "files": {"z": {"path": "Dir\\Sub\\", "size": 7.8, "sha256": "AA", "extra": 2, "metadata": null}}
  })");
  const auto manifest = parse_build_manifest(input);
  ASSERT_TRUE(manifest);
  const json expected = json::parse(R"({
    "channel": "c", "files": [{"content_type": "application/octet-stream", "id": "", "metadata": {},
                               "object_key": "", "path": "Dir/Sub", "sha256": "aa", "size": 7}],
    "id": "b", "id_mod": "m", "manifest_hash": "H", "metadata": {}, "status": "s",
    "total_size": 0, "version": "v"
  })");
  EXPECT_EQ(build_manifest_to_json(*manifest), expected);
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

TEST(BuildManifest, WrittenMembersComeOutInKeyOrder) {
  const auto manifest = parse_build_manifest(minimal_manifest());
  ASSERT_TRUE(manifest);
  std::vector<std::string> keys;
  const json written = build_manifest_to_json(*manifest);
  for (const auto& [key, value] : written.items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"channel", "files", "id", "id_mod", "manifest_hash", "metadata", "status",
                                            "total_size", "version"}));
  keys.clear();
  const json file = manifest_file_to_json(ManifestFile{});
  for (const auto& [key, value] : file.items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"content_type", "id", "metadata", "object_key", "path", "sha256", "size"}));
}

}  // namespace
}  // namespace korvanta

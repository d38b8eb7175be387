// schemas/update-state.schema.json and schemas/build-manifest.schema.json
// against what the updater reads and writes: the guide's example, the demo's
// form of a state file, manifests written by write_build_manifest, and the
// corpus of malformed state files, which the schema refuses wherever the
// refusal does not depend on the disk.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "manifest/build_manifest.h"
#include "manifest/manifest_writer.h"
#include "manifest/relative_path.h"
#include "support/bad_states.h"
#include "support/json_schema.h"
#include "update/reason_codes.h"
#include "update/update_state.h"

namespace korvanta {
namespace {

using nlohmann::json;
using testing::JsonSchema;
using testing::source_path;

JsonSchema state_schema() { return JsonSchema::load(source_path("schemas/update-state.schema.json")); }
JsonSchema manifest_schema() { return JsonSchema::load(source_path("schemas/build-manifest.schema.json")); }

std::string joined(const std::vector<std::string>& errors) {
  std::string text;
  for (const auto& e : errors) text += e + "\n";
  return text;
}

json sample_state() { return json::parse(testing::read_file(source_path("tests/data/sample-update-state.json"))); }

TEST(Schemas, TheSampleStateFileConforms) {
  const json sample = sample_state();
  EXPECT_TRUE(has_valid_state_shape(sample));
  const auto errors = state_schema().validate(sample);
  EXPECT_TRUE(errors.empty()) << joined(errors);
}

TEST(Schemas, TheGuidesExampleIsTheSampleStateFile) {
  const std::string guide = testing::read_file(source_path("docs/launcher-integration.md"));
  const std::string marker = "<!-- example: tests/data/sample-update-state.json -->\n```json\n";
  const std::size_t start = guide.find(marker);
  ASSERT_NE(start, std::string::npos) << "the guide lost its example";
  const std::size_t body = start + marker.size();
  const std::size_t end = guide.find("```\n", body);
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(guide.substr(body, end - body), testing::read_file(source_path("tests/data/sample-update-state.json")));
}

// How scripts/demo writes its state file: backslashes in relative paths,
// upper-case digests, names beyond ASCII, a deletion of a file that is not
// installed, manifest entries without their optional keys.
TEST(Schemas, TheDemosFormOfAStateFileConforms) {
  const json demo = json::parse(R"({
    "install_root": "Z:\\work\\build\\demo\\Korvanta Shop",
    "manifest_path": "Z:\\work\\build\\demo\\Korvanta Shop\\.korvanta\\build-manifest.json",
    "backup_root": "Z:\\work\\build\\demo\\Korvanta Shop\\.korvanta\\backup\\build-1",
    "staging_root": "Z:\\work\\build\\demo\\Korvanta Shop\\.korvanta\\staging",
    "deletions": ["data/textures/old-sky.pak", "data/obsolete.cfg", "data/never-installed.txt"],
    "replacements": [
      { "path": "data\\textures\\Caf\u00e9 \u03a9mega \u6f22\u5b57.pak",
        "staged_path": "Z:\\work\\build\\demo\\Korvanta Shop\\.korvanta\\staging\\build-2\\data\\textures\\Caf\u00e9 \u03a9mega \u6f22\u5b57.pak",
        "size": 70000, "sha256": "9F86D081884C7D659A2FEAA0C55AD015A3BF4F1B2B0B822CD15D6C15B0F00A08" }
    ],
    "manifest": {
      "id": "build-2", "id_mod": "korvanta-shop", "channel": "stable", "version": "2.0.0",
      "status": "published", "manifest_hash": "demo", "total_size": 0,
      "metadata": { "notes": "Sample update made by scripts/demo" },
      "files": [ { "path": "data/textures/Caf\u00e9 \u03a9mega \u6f22\u5b57.pak", "size": 70000,
                   "sha256": "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08" } ]
    }
  })");
  EXPECT_TRUE(has_valid_state_shape(demo));
  const auto errors = state_schema().validate(demo);
  EXPECT_TRUE(errors.empty()) << joined(errors);
}

TEST(Schemas, ManifestsTheUpdaterWritesConformToTheWrittenForm) {
  json forms[] = {sample_state()["manifest"], sample_state()["manifest"], sample_state()["manifest"],
                  sample_state()["manifest"]};
  forms[1]["metadata"] = nullptr;
  forms[1]["files"][0]["metadata"] = nullptr;
  forms[1]["files"][1].erase("content_type");
  forms[1]["files"][1].erase("object_key");
  forms[1]["files"][1].erase("id");
  forms[2]["files"][0]["path"] = "Data\\Sub\\Game.EXE\\";
  forms[2]["files"][0]["sha256"] = "ABCDEF";
  forms[2]["total_size"] = -5;
  forms[2]["unknown"] = 1;
  forms[2]["files"][0]["unknown"] = 2;
  forms[3]["files"] = json::array();
  forms[3].erase("metadata");
  forms[3]["total_size"] = 12.9;

  testing::TempDir dir;
  for (const json& form : forms) {
    const auto manifest = parse_build_manifest(form);
    ASSERT_TRUE(manifest.has_value()) << form.dump();
    std::string reason;
    ASSERT_TRUE(write_build_manifest(dir / L"build-manifest.json", *manifest, &reason)) << reason;
    const json written = json::parse(testing::read_file(dir / L"build-manifest.json"));
    const auto as_written = manifest_schema().validate(written, "/$defs/written");
    EXPECT_TRUE(as_written.empty()) << joined(as_written) << written.dump(2);
    const auto as_read = manifest_schema().validate(written);
    EXPECT_TRUE(as_read.empty()) << joined(as_read);
  }
  // The written form is stricter than what a launcher may send.
  json untidy = sample_state()["manifest"];
  untidy["files"][0]["sha256"] = "ABC";
  untidy["extra"] = true;
  EXPECT_TRUE(manifest_schema().validate(untidy).empty());
  EXPECT_FALSE(manifest_schema().validate(untidy, "/$defs/written").empty());
}

// The schema's rule for relative paths is the updater's rule.
TEST(Schemas, RelativePathsAreAcceptedExactlyAsTheUpdaterAcceptsThem) {
  const JsonSchema schema = manifest_schema();
  for (const std::string path :
       {"a", "readme.txt", "a/b/c.txt", "a\\b\\c.txt", "a/b/", "a\\b\\", "a/.../b", "a/.b/c", ".hidden", "..a", "a..",
        "1:x", ":x", "ab:c", "dir/x:y", "sp ace/\xc3\xa9", "", "/", "\\", "/a", "\\a", "\\\\server\\share", "D:",
        "D:/x", "D:x", "d:\\x", "a:b", "a//b", "a\\\\b", "a/b//", "./a", "a/./b", "a/..", "../a", "a/.", ".", "..",
        "a/b/..", "a\\.\\b", "a/\n/b", "a//"}) {
    const bool updater = normalize_relative_path(path).has_value();
    const bool by_schema = schema.validate(json(path), "/$defs/relative_path").empty();
    EXPECT_EQ(by_schema, updater) << '"' << path << '"';
  }
}

// Refusals that depend on where the installation lies or on the files in it
// (and the case-insensitive uniqueness of manifest paths) are beyond a schema;
// every other malformed state file that is JSON at all is refused by it.
TEST(Schemas, EveryMalformedStateFileTheSchemaCanJudgeIsRefused) {
  const std::set<std::string> beyond_a_schema = {
      reason::kInstallRootMismatch,    reason::kManifestPathOutsideInstall, reason::kBackupRootOutsideInstall,
      reason::kStagingRootOutsideInstall, reason::kStagedFileOutsideStagingRoot, reason::kStagedFileSizeMismatch,
      reason::kStagedFileHashMismatch};
  const JsonSchema schema = state_schema();
  std::size_t judged = 0;
  for (const auto& state : testing::bad_states(/*generated_large=*/false)) {
    std::string text = state.bytes;
    for (std::size_t at = text.find("@ROOT@"); at != std::string::npos; at = text.find("@ROOT@"))
      text.replace(at, 6, "D:\\\\Games\\\\Korvanta Shop");
    const json document = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded()) continue;  // not JSON: nothing for a schema to judge
    const bool beyond = beyond_a_schema.count(state.reason) != 0 || state.name == "manifest-duplicate-paths.json" ||
                        state.name.rfind("nesting-129-levels", 0) == 0;
    const auto errors = schema.validate(document);
    if (!has_valid_state_shape(document)) {
      EXPECT_FALSE(errors.empty()) << state.name << " passes the schema";
    }
    if (!beyond) {
      EXPECT_FALSE(errors.empty()) << state.name << " passes the schema";
      ++judged;
    }
  }
  EXPECT_GT(judged, 180u);
}

}  // namespace
}  // namespace korvanta

#include "manifest/build_manifest.h"

#include <gtest/gtest.h>

namespace korvanta {

using nlohmann::json;

// Each row is a JSON merge patch on a valid manifest (null removes a key) and
// the outcome: "ok", "refused" or the id of the JSON library's exception.
TEST(BuildManifest, BadOrDuplicatePathsAreRefusedAndStructuralFaultsThrowTheLibrarysExceptions) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"files": [{"path": "x", "size": 1, "sha256": ""}, {"path": "../x"}]})", "refused"},
      {R"({"files": [{"path": "Dir\\AZ", "size": 1, "sha256": ""}, {"path": "dir/az/", "size": 1, "sha256": ""}]})",
       "refused"},
      {R"({"files": [{"path": "É", "size": 1, "sha256": ""}, {"path": "é", "size": 1, "sha256": ""}]})", "ok"},
      {R"({"id": null})", "403"}, {R"({"version": 3})", "302"}, {R"({"files": "x"})", "304"}, {"[]", "304"},
      {R"({"files": [{"size": 1}]})", "403"}, {R"({"files": [{"path": 1}]})", "302"},
      {R"({"files": [{"path": "x", "size": 1}]})", "403"},
      {R"({"files": [{"path": "x", "size": 1, "sha256": "", "content_type": null}]})", "302"}};
  for (const auto& [patch, expected] : cases) {
    json manifest = json::parse(R"({"id": "", "id_mod": "", "channel": "", "version": "", "status": "",
                                    "manifest_hash": "", "total_size": 1, "files": []})");
    manifest.merge_patch(json::parse(patch));
    std::string outcome;
    try {
      outcome = parse_build_manifest(manifest) ? "ok" : "refused";
    } catch (const json::exception& e) {
      outcome = std::to_string(e.id);
    }
    EXPECT_EQ(outcome, expected) << patch;
  }
}

// Backslashes and a trailing separator, a digest in ASCII capitals, counts of
// other number types (a negative count is 0, one past 64 bits saturates),
// absent or null optional keys and unknown keys.
TEST(BuildManifest, AManifestIsWrittenInNormalForm) {
  const auto manifest = parse_build_manifest(json::parse(R"({"id": "", "id_mod": "", "channel": "", "version": "",
    "status": "", "manifest_hash": "", "total_size": -3, "metadata": null, "unknown": 1,
    "files": [{"path": "Dir\\Sub\\", "size": 1e300, "sha256": "AZaz@[\u00c9", "extra": 2, "metadata": null}]})"));
  ASSERT_TRUE(manifest);
  EXPECT_EQ(build_manifest_to_json(*manifest), json::parse(R"({"id": "", "id_mod": "", "channel": "", "version": "",
    "status": "", "manifest_hash": "", "total_size": 0, "metadata": {}, "files": [{"id": "",
    "path": "Dir/Sub", "size": 18446744073709551615, "sha256": "azaz@[\u00c9", "object_key": "",
    "content_type": "application/octet-stream", "metadata": {}}]})"));
}

}  // namespace korvanta

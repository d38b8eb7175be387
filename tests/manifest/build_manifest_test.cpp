#include "manifest/build_manifest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace korvanta {

using nlohmann::json;

TEST(BuildManifest, JsonToU64TruncatesFractionsClampsNegativesAndSaturatesAtTwoToTheSixtyFour) {
  constexpr auto max = std::numeric_limits<std::uint64_t>::max();
  constexpr double inf = std::numeric_limits<double>::infinity();
  const std::pair<json, std::uint64_t> cases[] = {
      {7u, 7}, {max, max}, {std::int64_t{5}, 5}, {-5, 0}, {INT64_MIN, 0}, {12.9, 12}, {0.999, 0}, {-0.5, 0},
      {18446744073709549568.0, 18446744073709549568u}, {json::parse("18446744073709551616"), max}, {1e300, max},
      {inf, max}, {-inf, 0}, {std::nan(""), 0}, {"12", 0}, {true, 0}, {nullptr, 0}, {json::array({5}), 0}};
  for (const auto& [value, expected] : cases) EXPECT_EQ(json_to_u64(value), expected) << value.dump();
}

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
// other number types, absent or null optional keys and unknown keys.
TEST(BuildManifest, AManifestIsWrittenInNormalForm) {
  const auto manifest = parse_build_manifest(json::parse(R"({"id": "", "id_mod": "", "channel": "", "version": "",
    "status": "", "manifest_hash": "", "total_size": -3, "metadata": null, "unknown": 1,
    "files": [{"path": "Dir\\Sub\\", "size": 7.8, "sha256": "AZaz@[\u00c9", "extra": 2, "metadata": null}]})"));
  ASSERT_TRUE(manifest);
  EXPECT_EQ(build_manifest_to_json(*manifest), json::parse(R"({"id": "", "id_mod": "", "channel": "", "version": "",
    "status": "", "manifest_hash": "", "total_size": 0, "metadata": {}, "files": [{"id": "", "path": "Dir/Sub",
    "size": 7, "sha256": "azaz@[\u00c9", "object_key": "", "content_type": "application/octet-stream",
    "metadata": {}}]})"));
}

}  // namespace korvanta

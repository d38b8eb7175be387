#include "manifest/build_manifest.h"

#include <gtest/gtest.h>

#include "manifest/manifest_writer.h"
#include "support/test_support.h"

namespace korvanta {

using nlohmann::json;

// Each row is the text of keys that follow those of a valid manifest (a key
// that repeats counts by its last value), or a whole text, and whether the
// reader takes it.
TEST(BuildManifest, BadOrDuplicatePathsAndValuesOfTheWrongShapeAreRefused) {
  const std::pair<const char*, bool> cases[] = {
      {R"("files": [{"path": "x", "size": 1, "sha256": ""}, {"path": "../x"}])", false},
      {R"("files": [{"path": "Dir\\AZ", "size": 1, "sha256": ""}, {"path": "dir/az/", "size": 1, "sha256": ""}])",
       false},
      {R"("files": [{"path": "É", "size": 1, "sha256": ""}, {"path": "é", "size": 1, "sha256": ""}])", true},
      {R"("id": null)", false}, {R"("version": 3)", false}, {R"("version": [], "version": "")", true},
      {R"("files": "x")", false}, {R"("files": null)", true}, {R"("files": [[]])", false},
      {R"("files": [{"size": 1}])", false}, {R"("files": [{"path": 1}])", false},
      {R"("files": [{"path": "x", "size": 1}])", false},
      {R"("files": [{"path": "x", "size": 1, "sha256": "", "content_type": null}])", false},
      {R"("files": [{"path": "x", "size": 1, "sha256": "", "id": []}])", false},
      {R"("files": {"b": {"path": "x", "size": 1, "sha256": ""}, "a": 1, "a": {"path": "y", "size": 1, "sha256": ""}})",
       true},
      {R"("files": {"b": {"path": "x", "size": 1, "sha256": ""}, "a": {"path": "X", "size": 1, "sha256": ""}})", false},
      {R"("files": {"a": []})", false}};
  const std::string valid = R"({"id": "", "id_mod": "", "channel": "", "version": "", "status": "",
                                "manifest_hash": "", "total_size": 1, "files": [], )";
  for (const auto& [keys, taken] : cases) EXPECT_EQ(testing::read_manifest(valid + keys + "}").has_value(), taken) << keys;
  for (const char* text : {"[]", "1", R"({"id": ""})"}) EXPECT_FALSE(testing::read_manifest(text)) << text;
}

// Backslashes and a trailing separator, a digest in ASCII capitals, counts of
// other number types (a negative count is 0, one past 64 bits saturates),
// absent, null or empty metadata, unknown keys, and files given by key (in
// the order of their keys).
TEST(BuildManifest, AManifestIsWrittenInNormalForm) {
  const auto manifest = testing::read_manifest(R"({"id": "", "id_mod": "", "channel": "", "version": "",
    "status": "", "manifest_hash": "", "total_size": -3, "metadata": null, "unknown": {"k": [1]}, "files": {
    "c": {"path": "c", "size": 0, "sha256": "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaag"},
    "b": {"path": "Dir\\Sub\\", "size": 1e300, "sha256": "AZaz@[\u00c9", "extra": {"k": 2}, "metadata": null},
    "a": {"path": "a", "size": 2, "sha256": "", "metadata": {"k": [1]}, "content_type": ""}}})");
  ASSERT_TRUE(manifest);
  testing::TempDir dir;
  ASSERT_FALSE(write_build_manifest(dir / L"m.json", *manifest));
  EXPECT_EQ(json::parse(testing::content(dir / L"m.json").value()), json::parse(R"({"id": "", "id_mod": "",
    "channel": "", "version": "", "status": "", "manifest_hash": "", "total_size": 0, "metadata": {}, "files": [
    {"id": "", "path": "a", "size": 2, "sha256": "", "object_key": "", "content_type": "", "metadata": {"k": [1]}},
    {"id": "", "path": "Dir/Sub", "size": 18446744073709551615, "sha256": "azaz@[\u00c9", "object_key": "",
     "content_type": "application/octet-stream", "metadata": {}},
    {"id": "", "path": "c", "size": 0, "sha256": "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaag",
     "object_key": "", "content_type": "application/octet-stream", "metadata": {}}]})"));
}

}  // namespace korvanta

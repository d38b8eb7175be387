// Malformed state files (tests/data/bad-states and the large generated ones)
// applied to the installation of the sample state file: each fails with its
// own reason code, a refusal before the first change leaves every file as it
// was, and no installed file is ever lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include <nlohmann/json.hpp>

#include "support/bad_states.h"
#include "update/apply.h"
#include "update/reason_codes.h"
#include "update/update_state.h"

namespace korvanta {
namespace {

using nlohmann::json;
using testing::BadState;
using testing::SampleInstallation;
using testing::tree_of;

std::string described(const testing::Tree& tree) {
  std::string text;
  for (const auto& [path, entry] : tree) text += "  " + path + " (" + std::to_string(entry.size) + ")\n";
  return text;
}

TEST(BadStates, TheSampleStateFileAppliesToItsInstallation) {
  for (const bool byte_order_mark : {false, true}) {
    SampleInstallation installation;
    const std::string bom = byte_order_mark ? "\xEF\xBB\xBF" : "";
    testing::write_file(installation.state_path(), bom + installation.sample_state());
    std::string reason;
    ASSERT_TRUE(apply_update(installation.state_path(), reason)) << reason;

    const auto tree = tree_of(installation.root());
    const auto backup = tree_of(installation.root() + L"\\.korvanta\\backup\\build-1");
    EXPECT_EQ(testing::read_file(installation.root() + L"\\data\\level.pak"), "level pack, build 2");
    EXPECT_EQ(testing::read_file(installation.root() + L"\\data\\new.pak"), "new pack, build 2");
    EXPECT_EQ(tree.count("data/old.pak"), 0u);
    EXPECT_EQ(tree.count(".korvanta/staging/build-2"), 0u);
    EXPECT_EQ(tree.count(".korvanta/update-state.json"), 0u);
    EXPECT_EQ(testing::read_file(installation.root() + L"\\.korvanta\\backup\\build-1\\data\\old.pak"),
              "old pack, build 1");
    EXPECT_EQ(testing::read_file(installation.root() + L"\\.korvanta\\backup\\build-1\\data\\level.pak"),
              "level pack, build 1");
    EXPECT_EQ(backup.size(), 3u) << described(backup);  // data, data/old.pak, data/level.pak
    const json manifest = json::parse(testing::read_file(installation.root() + L"\\.korvanta\\build-manifest.json"));
    EXPECT_EQ(manifest, json::parse(installation.sample_state())["manifest"]);
  }
}

TEST(BadStates, EveryMalformedStateFileFailsWithItsReasonAndLosesNothing) {
  const auto states = testing::bad_states(/*generated_large=*/true);
  ASSERT_GT(states.size(), 250u);
  for (const BadState& state : states) {
    SCOPED_TRACE(state.name);
    ASSERT_NE(std::find(testing::reason_codes().begin(), testing::reason_codes().end(), state.reason),
              testing::reason_codes().end());
    SampleInstallation installation;
    installation.write_state(state.bytes);
    const auto before = tree_of(installation.dir());

    std::string reason;
    EXPECT_FALSE(apply_update(installation.state_path(), reason));
    EXPECT_EQ(reason, state.reason);

    const auto after = tree_of(installation.dir());
    if (state.unchanged) {
      EXPECT_TRUE(after == before) << "before:\n" << described(before) << "after:\n" << described(after);
    } else {
      EXPECT_NE(after, before) << "expected the apply to have begun";
    }
    const auto lost = SampleInstallation::lost_files(before, after);
    EXPECT_TRUE(lost.empty()) << "lost: " << lost.front() << "\nafter:\n" << described(after);
  }
}

// The manifest's metadata is copied and written back by recursive code, so
// the loader bounds the nesting; up to the bound it is carried through.
TEST(BadStates, NestingIsReadUpToItsLimitAndRefusedBeyondIt) {
  const auto nested_arrays = [](std::size_t levels) { return std::string(levels, '[') + std::string(levels, ']'); };
  const auto nested_objects = [](std::size_t levels) {
    std::string text;
    for (std::size_t i = 1; i < levels; ++i) text += "{\"a\":";
    return text + "{}" + std::string(levels - 1, '}');
  };
  SampleInstallation installation;
  for (const std::size_t levels : {kMaxStateDepth, kMaxStateDepth + 1}) {
    for (const auto& text : {nested_arrays(levels), nested_objects(levels)}) {
      testing::write_file(installation.state_path(), text);
      EXPECT_EQ(load_state_document(installation.state_path()).has_value(), levels <= kMaxStateDepth)
          << levels << " levels: " << text.substr(0, 12);
    }
  }

  // State object, manifest, files, file entry: the file's metadata may hold
  // the rest.
  json state = json::parse(installation.sample_state());
  state["manifest"]["files"][0]["metadata"] = json::parse(nested_objects(kMaxStateDepth - 4));
  testing::write_file(installation.state_path(), state.dump());
  std::string reason;
  ASSERT_TRUE(apply_update(installation.state_path(), reason)) << reason;
  EXPECT_EQ(json::parse(testing::read_file(installation.root() + L"\\.korvanta\\build-manifest.json")),
            state["manifest"]);
}

}  // namespace
}  // namespace korvanta

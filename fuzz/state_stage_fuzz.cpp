// The whole apply on arbitrary state files, on real files: every "@ROOT@" in
// the input becomes the installation root, so inputs reach the checks behind
// the roots. The apply fails only with a reason meant for the launcher (never
// a stray exception's text), the loader and the shape check decide the first
// two refusals, a first-stage refusal touches nothing, and no player's file
// is lost.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "manifest/build_manifest.h"
#include "manifest/relative_path.h"
#include "platform/path_text.h"
#include "support/test_support.h"
#include "update/apply.h"
#include "update/reason_codes.h"
#include "update/update_state.h"

namespace {

using nlohmann::json;
namespace reason = korvanta::reason;

void check(bool condition) {
  if (!condition) std::abort();
}

// Replacements that name one path twice, or entries that lead into
// .korvanta: the launcher guide tells launchers to avoid both, and the backup
// root may then hold another version than the player's.
bool outside_the_guarantee(const json& state) {
  const auto lowered = [](const json& path) {
    return korvanta::to_lower_ascii(korvanta::normalize_relative_path(path.get<std::string>()).value_or(""));
  };
  std::set<std::string> replaced;
  for (const json& entry : korvanta::state_list(state.at("replacements"))) {
    const std::string path = lowered(entry.at("path"));
    if (path.rfind(".korvanta", 0) == 0 || !replaced.insert(path).second) return true;
  }
  for (const json& entry : korvanta::state_list(state.at("deletions")))
    if (lowered(entry).rfind(".korvanta", 0) == 0) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  korvanta::testing::Installation install;
  install.install(L"game.exe", "game, build 1");
  install.install(L"data\\old.pak", "old pack, build 1");
  install.install(L"data\\level.pak", "level pack, build 1");
  korvanta::testing::write_file(install.manifest, "manifest of build 1");
  korvanta::testing::write_file(install.staged_path(L"data\\level.pak"), "level pack, build 2");
  korvanta::testing::write_file(install.staged_path(L"data\\new.pak"), "new pack, build 2");
  const std::string root = json(korvanta::testing::utf8(install.root)).dump();
  std::string text(reinterpret_cast<const char*>(data), size);
  for (std::size_t at = text.find("@ROOT@"); at != std::string::npos; at = text.find("@ROOT@", at + root.size() - 2))
    text.replace(at, 6, root.substr(1, root.size() - 2));
  korvanta::testing::write_file(install.state_path, text);

  const std::optional<json> loaded = korvanta::load_state_document(install.state_path);
  const bool shaped = loaded && korvanta::has_valid_state_shape(*loaded);
  const korvanta::testing::Tree before = korvanta::testing::snapshot(install.temp.path());
  std::string why;
  const bool applied = korvanta::apply_update(install.state_path, why);
  const korvanta::testing::Tree after = korvanta::testing::snapshot(install.temp.path());

  check(applied ? shaped : !why.empty() && why != reason::kUnexpectedError && why.rfind("[json.exception", 0) != 0);
  if (!loaded) check(why == reason::kFailedToLoadUpdateState);
  if (loaded && !shaped) check(why == reason::kInvalidUpdateState);
  for (const char* first : {reason::kInvalidUpdateStateLocation, reason::kFailedToLoadUpdateState,
                            reason::kInvalidUpdateState, reason::kInstallRootMismatch, reason::kManifestPathOutsideInstall,
                            reason::kBackupRootOutsideInstall, reason::kStagingRootOutsideInstall})
    if (!applied && why == first) check(after == before);
  if (shaped && !outside_the_guarantee(*loaded)) {
    install.state = json::object();  // staged files are the launcher's own to name
    install.backup = korvanta::platform::path_text::lexically_normal(
        korvanta::testing::wide(loaded->at("backup_root").get<std::string>()));
    while (install.backup.ends_with(L"\\")) install.backup.pop_back();
    check(install.lost_files(before, after).empty());
  }
  return 0;
}

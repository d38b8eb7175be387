// The whole apply on arbitrary state files, on real files: every "@ROOT@" in
// the input becomes the installation root, so inputs reach the checks behind
// the roots. The apply fails only with a reason meant for the launcher (never
// a stray exception's text), it refuses exactly the state files whose plan
// the first stage refuses, a refusal of the plan touches nothing, and no
// player's file is lost.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>

#include "manifest/build_manifest.h"
#include "platform/path_text.h"
#include "support/test_support.h"
#include "update/apply.h"
#include "update/apply_file_system.h"
#include "update/update_state.h"

namespace {

using nlohmann::json;
using korvanta::Reason;

void check(bool condition) {
  if (!condition) std::abort();
}

// Replacements that name one path twice: the launcher guide tells launchers
// to avoid it, and the backup root may then hold another version than the
// player's.
bool outside_the_guarantee(const korvanta::UpdatePlan& plan) {
  std::set<std::string> replaced;
  for (const korvanta::Replacement& replacement : plan.replacements)
    if (!replaced.insert(korvanta::to_lower_ascii(replacement.path)).second) return true;
  return false;
}

// The refusals that the state file alone decides, before anything changes.
bool refused_by_the_plan(Reason reason) {
  switch (reason) {
    case Reason::invalid_update_state_location: case Reason::failed_to_load_update_state:
    case Reason::invalid_update_state: case Reason::install_root_mismatch:
    case Reason::manifest_path_outside_install: case Reason::backup_root_outside_install:
    case Reason::staging_root_outside_install: case Reason::invalid_deletion_path:
    case Reason::deletion_in_data_directory: case Reason::invalid_replacement_path:
    case Reason::replacement_in_data_directory: case Reason::staged_file_outside_staging_root:
    case Reason::staged_file_listed_twice: case Reason::replacement_inside_replacement:
    case Reason::invalid_update_manifest:
      return true;
    default:
      return false;
  }
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

  korvanta::UpdatePlan plan;
  korvanta::PlatformFileSystem file_system;
  const bool planned = !korvanta::locate_update_state(install.state_path, plan) &&
                       !korvanta::load_update_plan(install.state_path, plan, file_system);
  const korvanta::testing::Tree before = korvanta::testing::snapshot(install.temp.path());
  const std::optional<korvanta::ApplyError> error = korvanta::apply_update(install.state_path);
  const korvanta::testing::Tree after = korvanta::testing::snapshot(install.temp.path());

  check(error ? error->reason != Reason::own_message && error->reason != Reason::unexpected_error : planned);
  if (error) check(refused_by_the_plan(error->reason) == !planned);
  if (error && refused_by_the_plan(error->reason)) check(after == before);
  if (planned && !outside_the_guarantee(plan)) {
    install.state = json::object();  // staged files are the launcher's own to name
    install.backup = korvanta::platform::path_text::lexically_normal(plan.backup_root);
    while (install.backup.ends_with(L"\\")) install.backup.pop_back();
    check(install.lost_files(before, after).empty());
  }
  return 0;
}

// The apply engine against a file system that fails one call (or every call
// from one on), for every call of a whole apply in turn. Whatever fails, a
// player's files survive: each file installed before the apply is still
// installed (old or new version) or its old version is in the backup root,
// and nothing outside the installation changes.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "platform/error.h"
#include "update/apply.h"
#include "update_fixture.h"

namespace korvanta {
namespace {

using testing::Installation;

class FaultyFileSystem : public PlatformFileSystem {
 public:
  FaultyFileSystem(int fail_at, bool from_then_on) : fail_at_(fail_at), from_then_on_(from_then_on) {}

  int calls() const { return calls_; }
  static std::error_code injected() { return platform::make_os_error(5); }  // EIO; ERROR_ACCESS_DENIED on Windows

  platform::FileStatus status(const std::wstring& path, std::error_code& error) override {
    if (fails()) {
      error = injected();
      return {};
    }
    return PlatformFileSystem::status(path, error);
  }
  std::error_code create_directories(const std::wstring& path) override {
    return fails() ? injected() : PlatformFileSystem::create_directories(path);
  }
  std::error_code rename(const std::wstring& from, const std::wstring& to) override {
    return fails() ? injected() : PlatformFileSystem::rename(from, to);
  }
  std::error_code copy_file(const std::wstring& from, const std::wstring& to) override {
    return fails() ? injected() : PlatformFileSystem::copy_file(from, to);
  }
  std::error_code remove(const std::wstring& path) override {
    return fails() ? injected() : PlatformFileSystem::remove(path);
  }
  std::error_code remove_all(const std::wstring& path) override {
    return fails() ? injected() : PlatformFileSystem::remove_all(path);
  }
  std::string sha256_file_hex(const std::wstring& path) override {
    if (fails()) throw std::runtime_error("failed_to_open_file");
    return PlatformFileSystem::sha256_file_hex(path);
  }
  bool write_build_manifest(const std::wstring& path, const BuildManifest& manifest, std::string* reason) override {
    if (fails()) {
      *reason = "failed_to_open_file";
      return false;
    }
    return PlatformFileSystem::write_build_manifest(path, manifest, reason);
  }

 private:
  bool fails() {
    ++calls_;
    return from_then_on_ ? calls_ >= fail_at_ : calls_ == fail_at_;
  }

  int fail_at_;
  bool from_then_on_;
  int calls_ = 0;
};

// Installed before the apply, and what the update brings (empty: deleted).
const std::map<std::wstring, std::pair<std::string, std::string>> kFiles = {
    {L"old.dll", {"old dll", ""}},
    {L"mods\\legacy\\old.pak", {"old pak", ""}},
    {L"data\\a.bin", {"a1", "a2"}},
    {L"data\\maps\\town.bin", {"town1", "town2"}},
    {L"both.txt", {"both1", "both2"}},
    {L"keep.txt", {"keep", "keep"}},
};

void build(Installation& install) {
  for (const auto& [path, versions] : kFiles) install.install(path, versions.first);
  install.remove(L"old.dll");
  install.remove(L"never\\there.txt");
  install.remove(L"mods/legacy/old.pak");
  install.remove(L"both.txt");
  install.replace(L"data/a.bin", "a2");
  install.replace(L"data\\maps\\town.bin", "town2");
  install.replace(L"both.txt", "both2");
  install.replace(L"new\\c.bin", "c2");
  testing::write_file(install.staging + L"\\leftover.tmp", "x");
}

std::string content_or_none(const std::wstring& path) {
  return testing::file_exists(path) ? testing::read_file(path) : "<none>";
}

void check_player_files_survive(const Installation& install, const std::string& context) {
  for (const auto& [path, versions] : kFiles) {
    const auto& [old_version, new_version] = versions;
    const std::string installed = content_or_none(install.installed_path(path));
    const std::string backed_up = content_or_none(install.backup_path(path));
    EXPECT_TRUE(installed == old_version || backed_up == old_version)
        << context << testing::utf8(path) << " installed " << installed << ", backup " << backed_up;
    EXPECT_TRUE(installed == old_version || installed == new_version || installed == "<none>")
        << context << testing::utf8(path) << " installed " << installed;
  }
}

void run_every_fault(bool from_then_on) {
  int k = 1;
  for (;; ++k) {
    ASSERT_LT(k, 500) << "the apply never stopped making calls";
    Installation install;
    build(install);
    install.write_state();
    const auto before = testing::snapshot(install.temp.path());

    FaultyFileSystem file_system(k, from_then_on);
    std::string reason;
    const bool applied = apply_update_with(install.state_path, reason, file_system);
    const std::string context = "fault at call " + std::to_string(k) + ": ";

    check_player_files_survive(install, context);
    const auto after = testing::snapshot(install.temp.path());
    EXPECT_TRUE(testing::subtree(after, "outside") == testing::subtree(before, "outside")) << context;
    EXPECT_EQ(after.size() - testing::subtree(after, "Game").size(),
              before.size() - testing::subtree(before, "Game").size())
        << context;

    if (file_system.calls() < k) {
      // No fault was injected: the whole update went through.
      ASSERT_TRUE(applied) << reason;
      EXPECT_FALSE(testing::file_exists(install.state_path));
      EXPECT_FALSE(testing::file_exists(install.staging));
      break;
    }
    if (applied) {
      // Only the clean-up can fail without failing the apply: every change
      // and the manifest are in place.
      EXPECT_EQ(install.installed(L"data\\a.bin"), "a2") << context;
      EXPECT_EQ(install.installed(L"new\\c.bin"), "c2") << context;
      EXPECT_TRUE(testing::file_exists(install.manifest)) << context;
      continue;
    }
    EXPECT_TRUE(reason == platform::os_error_text(FaultyFileSystem::injected()) || reason == "failed_to_open_file")
        << context << reason;
    EXPECT_EQ(testing::read_file(install.state_path), install.state.dump(2)) << context;
    EXPECT_TRUE(testing::file_exists(install.staging)) << context;
    EXPECT_FALSE(testing::file_exists(install.manifest)) << context;
    // A staged file leaves the staging root only to be installed.
    for (const auto& [path, content] : std::map<std::wstring, std::string>{
             {L"data\\a.bin", "a2"}, {L"data\\maps\\town.bin", "town2"}, {L"new\\c.bin", "c2"}}) {
      EXPECT_TRUE(content_or_none(install.installed_path(path)) == content ||
                  content_or_none(install.staging + L"\\" + path) == content)
          << context << testing::utf8(path);
    }
  }
  EXPECT_GT(k, 20) << "fewer calls than a multi-file apply makes";
}

TEST(ApplyFaults, ASingleFailedCallAnywhereLosesNoFile) { run_every_fault(false); }

TEST(ApplyFaults, EveryCallFailingFromAnyPointOnLosesNoFile) { run_every_fault(true); }

}  // namespace
}  // namespace korvanta

// The apply engine on one multi-file update: what a success leaves, where
// each second-stage failure stops, and that no failure, crash or torn copy
// at any file-system call loses a player's file, also when the launcher runs
// the interrupted update again.
#include "update/apply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>

#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/path_text.h"
#include "support/test_support.h"
#include "platform/held_file_wait.h"
#include "update/apply_file_system.h"
#include "update/apply_progress.h"

#ifdef _WIN32
#include <windows.h>

#include <thread>

#include "platform/handle_win32.h"
#endif

namespace korvanta {
namespace {

using nlohmann::json;
using testing::Tree;

// An installation in a folder whose long name takes every path past the
// classic length limit. Deletions (one never installed), replacements of
// installed files, a path both deleted and replaced, a deletion of another
// name (a hard link) of a replaced file, a new file in new folders, the
// shapes that change between builds (a file in the place of a folder that
// still holds a player's file once the deletions have emptied it of the old
// build's, a folder of new files in the place of a deleted file), an
// untouched file, a player's file named like a copy of the updater's, a
// read-only leftover in the staging root.
const std::string R = std::string(200, 'r') + "/";
struct Update : testing::Installation {
  Update() : Installation(testing::wide(R.substr(0, R.size() - 1))) {
    for (const auto& [path, bytes] : {std::pair{L"mods\\legacy\\old.pak", "old pak"},
                                      {L"data\\a.bin", "a1"}, {L"data\\maps\\town.bin", "town1"},
                                      {L"both.txt", "both1"}, {L"keep.txt", "keep"},
                                      {L"mods\\legacy\\sub\\mine.txt", "mine"}, {L"tex", "tex1"},
                                      {L"data\\a.bin.korvanta-copy", "mine too"}})
      install(path, bytes);
    std::filesystem::create_hard_link(platform::fs_path(installed_path(L"data\\a.bin")),
                                      platform::fs_path(installed_path(L"old.dll")));
    for (const wchar_t* path : {L"old.dll", L"never\\there.txt", L"mods/legacy/old.pak", L"both.txt", L"tex"})
      remove(path);
    replace(L"data/a.bin", "a2");
    replace(L"data\\maps\\town.bin", "town2");
    replace(L"both.txt", "both2");
    replace(L"new\\deep\\c.bin", "c2");
    replace(L"mods\\legacy", "legacy2");
    replace(L"tex\\deep\\a.dds", "a.dds2");
    auto& sha256 = state["replacements"][0]["sha256"].get_ref<std::string&>();  // any letter case matches
    std::transform(sha256.begin(), sha256.end(), sha256.begin(), [](char c) { return std::toupper(c); });
    testing::write_file(staging + L"\\leftover.tmp", "x");
#ifdef _WIN32
    SetFileAttributesW((staging + L"\\leftover.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
#endif
    write_state();
    for (const json& entry : state["replacements"]) staged[testing::wide(entry["staged_path"])] = *testing::content(testing::wide(entry["staged_path"]));
  }
  std::map<std::wstring, std::string> staged;  // every staged file's bytes
};

const Tree kInstalledAfter = {
    {R + "keep.txt", "keep"}, {R + "data/a.bin", "a2"}, {R + "data/maps/town.bin", "town2"},
    {R + "both.txt", "both2"}, {R + "new/deep/c.bin", "c2"}, {"outside/keep.txt", "outside"},
    {R + ".korvanta/backup/build-1/old.dll", "a1"}, {R + ".korvanta/backup/build-1/both.txt", "both1"},
    {R + ".korvanta/backup/build-1/mods/legacy/old.pak", "old pak"},
    {R + ".korvanta/backup/build-1/data/a.bin", "a1"}, {R + ".korvanta/backup/build-1/data/maps/town.bin", "town1"},
    {R + ".korvanta/build-manifest.json", "<manifest>"}, {R + "mods/legacy", "legacy2"},
    {R + ".korvanta/backup/build-1/mods/legacy/sub/mine.txt", "mine"}, {R + ".korvanta/backup/build-1/tex", "tex1"},
    {R + "tex/deep/a.dds", "a.dds2"}, {R + "data/a.bin.korvanta-copy", "mine too"},
};

// The files of a tree, the manifest's text replaced by a mark once it is
// known to be the update's manifest.
Tree files_of(Tree tree) {
  std::erase_if(tree, [](const auto& entry) { return entry.second == "<dir>"; });
  if (auto it = tree.find(R + ".korvanta/build-manifest.json"); it != tree.end()) {
    EXPECT_EQ(json::parse(it->second).at("id"), "build-2");
    it->second = "<manifest>";
  }
  return tree;
}

// What an apply tells its observer: the totals once and for all (a wait for
// the state file comes before them), the work done never going back nor
// past them, and all of it done once the apply has succeeded.
struct Watcher : ApplyProgress {
  void update(const ApplyPosition& at) noexcept override {
    in_order = in_order && (last.entries + last.bytes == 0 || (at.entries == last.entries && at.bytes == last.bytes)) &&
               at.entries_done >= last.entries_done && at.bytes_done >= last.bytes_done &&
               at.entries_done <= at.entries && at.bytes_done <= at.bytes;
    waits += last.held && !at.held;
    longest = std::max(longest, at.held_ms);
    last = at;
    last.path = {};  // the plan's, gone with the apply
    at_work = at.path.empty() ? "" : at.path;
  }
  bool finished() const { return in_order && last.entries_done == last.entries && last.bytes_done == last.bytes && at_work.empty(); }
  ApplyPosition last;
  std::string at_work;
  bool in_order = true;
  std::uint64_t waits = 0, longest = 0;
};

// The failures that need the staged files themselves come just before their
// entry is installed: the deletions and the replacements before it are done.
TEST(Apply, EachStagedFileFailureStopsWhereItsEntryIs) {
  const struct {
    std::string pointer;
    json value;  // "@" stands for the data directory
    Reason reason;
  } cases[] = {
      {"/replacements/1/size", 6, Reason::staged_file_size_mismatch},
      {"/replacements/1/staged_path", "@/staging/build-2/missing", Reason::staged_file_size_mismatch},
      {"/replacements/1/staged_path", "@/staging/build-2/data", Reason::staged_file_size_mismatch},
      {"/replacements/1", {{"path", "data/maps/town.bin"}, {"staged_path", "@/staging/build-2/data"}, {"size", 0},
                           {"sha256", ""}}, Reason::staged_file_size_mismatch},
      {"/replacements/1/sha256", std::string(64, '0'), Reason::staged_file_hash_mismatch},
  };
  for (const auto& c : cases) {
    Update update;
    std::string text = c.value.dump();
    const std::string data = json(testing::utf8(update.data_dir)).dump();
    for (std::size_t at; (at = text.find("\"@")) != std::string::npos;) text.replace(at, 2, data.substr(0, data.size() - 1));
    update.state[json::json_pointer(c.pointer)] = json::parse(text);
    update.write_state();
    const Tree before = testing::snapshot(update.temp.path());
    const std::optional<ApplyError> error = apply_update(update.state_path);
    ASSERT_TRUE(error) << c.pointer;
    EXPECT_EQ(error->reason, c.reason) << c.pointer;
    EXPECT_EQ(error->place + "|" + error->path, "/replacements/1|" + update.state["replacements"][1]["path"].get<std::string>());
    const Tree after = testing::snapshot(update.temp.path());
    EXPECT_EQ(update.lost_files(before, after), "") << c.pointer;
    EXPECT_EQ(after.at(R + "data/a.bin"), "a2") << c.pointer;
    EXPECT_EQ(after.at(R + "data/maps/town.bin"), "town1");
    EXPECT_EQ(after.at(R + ".korvanta/update-state.json"), update.state.dump(2)) << c.pointer;
    EXPECT_EQ(after.count(R + ".korvanta/build-manifest.json"), 0u) << c.pointer;
  }
}

#ifdef _WIN32
// A deletion that names a replaced file in another spelling is left to the
// replacement too: running the update again after a failure must not copy
// the new version over the original's backup.
TEST(Apply, ADeletionOfAReplacedFileInAnotherSpellingKeepsTheOriginal) {
  for (std::wstring spelling : {L"\u00c9T\u00c9.pak", L""}) {
    testing::Installation install;
    install.install(L"\u00e9t\u00e9.pak", "original");  // with a second name: its entry decides
    std::filesystem::create_hard_link(platform::fs_path(install.installed_path(L"\u00e9t\u00e9.pak")),
                                      platform::fs_path(install.installed_path(L"link.pak")));
    if (spelling.empty()) {  // the short name
      std::wstring name(MAX_PATH, L'\0');
      name.resize(GetShortPathNameW(install.installed_path(L"\u00e9t\u00e9.pak").c_str(), name.data(), MAX_PATH));
      spelling = platform::path_text::file_name(name);
    }
    install.remove(spelling);
    install.replace(L"\u00e9t\u00e9.pak", "new");
    install.replace(L"broken.bin", "x");
    install.state["replacements"][1]["sha256"] = std::string(64, '0');
    install.write_state();
    for (int run = 0; run < 2; ++run) EXPECT_TRUE(apply_update(install.state_path));
    EXPECT_EQ(testing::content(install.backup_path(L"\u00e9t\u00e9.pak")), "original") << testing::utf8(spelling);
  }
}

// Another program holding a file open without sharing deletion (share 0: nor
// reading), until the thread it gives back lets it go.
std::thread held(const std::wstring& path, DWORD share, int ms) {
  platform::UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(file) << testing::utf8(path);
  return std::thread([file = std::move(file), ms]() mutable { Sleep(ms), file.reset(); });
}

// The pauses of the apply's waits too, counted without sleeping when
// `sleeps` is false.
struct Observer : Watcher, platform::HeldFileWait {
  explicit Observer(bool sleeps) : sleeps(sleeps) {}
  void pause(std::uint32_t ms, std::uint64_t) override { sleeps ? Sleep(ms) : void(), paused += ms, ++pauses; }
  bool sleeps;
  std::uint64_t pauses = 0, paused = 0;
};

TEST(Apply, WaitsOutFilesHeldForAMomentAndGivesUpOnFilesHeldForGood) {
  Update update, other;
  std::thread holders[] = {held(update.installed_path(L"old.dll"), FILE_SHARE_READ, 1500),
                           held(update.installed_path(L"data\\a.bin"), FILE_SHARE_READ, 1500),
                           held(update.staged_path(L"data\\maps\\town.bin"), 0, 1500),
                           held(update.state_path, 0, 1500)};
  Observer seen(true);
  std::optional<ApplyError> error;
  {
    const platform::ScopedHeldFileWait sleeping(seen);
    error = apply_update(update.state_path, &seen);
  }
  EXPECT_FALSE(error) << error->reason_text();
  EXPECT_EQ(files_of(testing::snapshot(update.temp.path())), kInstalledAfter);
  EXPECT_TRUE(seen.finished() && seen.waits > 0);
  for (std::thread& holder : holders) holder.join();

  // Held past every retry: moving the file into the backup root, then
  // removing it after its copy there, each waits 5 s in 14 pauses.
  const std::wstring town = L"data\\maps\\town.bin";
  std::thread forever = held(other.installed_path(town), FILE_SHARE_READ, 1500);
  Observer counted(false);
  const platform::ScopedHeldFileWait counting(counted);
  const std::optional<ApplyError> held_for_good = apply_update(other.state_path, &counted);
  EXPECT_EQ(held_for_good.value().reason_text(), platform::os_error_text(platform::make_os_error(ERROR_SHARING_VIOLATION)));
  EXPECT_EQ(testing::content(other.installed_path(town)), "town1");
  EXPECT_EQ(testing::content(other.backup_path(town)), "town1");
  EXPECT_TRUE(counted.pauses == 28 && counted.paused == 10000 && counted.waits == 2 && counted.longest == 4620)
      << counted.pauses << " pauses, " << counted.paused << " ms, " << counted.waits << " waits, " << counted.longest;
  forever.join();
}
#endif

#ifndef _WIN32
// A link is a file of its own (Wine follows file links, so only here): a
// deletion of a link to a replaced file removes the link, and the replaced
// file's original goes to the backup root; a link to a folder outside where a
// file goes is moved as itself, and nothing it leads to is touched.
TEST(Apply, ALinkIsDeletedOrReplacedItself) {
  testing::Installation install;
  install.install(L"a.pak", "original");
  std::filesystem::create_symlink("a.pak", platform::fs_path(install.installed_path(L"link.pak")));
  std::filesystem::create_directory_symlink(platform::fs_path(install.temp / L"outside"),
                                            platform::fs_path(install.installed_path(L"dir.pak")));
  install.remove(L"link.pak");
  install.replace(L"a.pak", "new");
  install.replace(L"dir.pak", "new dir.pak");
  install.write_state();
  const Tree before = testing::snapshot(install.temp.path());
  ASSERT_FALSE(apply_update(install.state_path));
  EXPECT_FALSE(std::filesystem::is_symlink(platform::fs_path(install.installed_path(L"link.pak"))));
  EXPECT_EQ(testing::content(install.backup_path(L"a.pak")), "original");
  EXPECT_TRUE(std::filesystem::is_symlink(platform::fs_path(install.backup_path(L"dir.pak"))));
  EXPECT_EQ(install.lost_files(before, testing::snapshot(install.temp.path())), "");
}
#endif

// What a killed process looks like from inside: no std::exception, nothing
// runs after it.
struct Stopped {};

// stop_copying: the staged files cannot be renamed (a scanner holds them), so
// every file is installed by a copy, and a copy that the stop interrupts is
// left torn.
enum class Fault { fail_once, fail_from_then_on, stop, stop_copying };

// The platform's file system, failing or stopping dead at its k-th call.
class FaultyFileSystem : public PlatformFileSystem {
  using Real = PlatformFileSystem;
  using Path = const std::wstring&;

 public:
  FaultyFileSystem(int at, Fault fault, const json& state) : at_(at), fault_(fault) {
    if (fault == Fault::stop_copying)
      for (const json& entry : state["replacements"]) held_.insert(testing::wide(entry["staged_path"]));
  }
  int calls = 0;
  // The failure of the k-th call; those after it, failing from then on, fail
  // with another error, which a report of the failure must never give.
  static std::error_code injected() { return platform::make_os_error(5); }  // EIO; ERROR_ACCESS_DENIED on Windows
  static std::error_code later() { return platform::make_os_error(9); }     // EBADF; ERROR_INVALID_BLOCK
#ifdef _WIN32
  static std::error_code other_volume() { return platform::make_os_error(ERROR_NOT_SAME_DEVICE); }
#else
  static std::error_code other_volume() { return platform::make_os_error(EXDEV); }
#endif

  platform::FileStatus status(Path p, std::error_code& e) override {
    return hit() ? (e = error(), platform::FileStatus{}) : Real::status(p, e);
  }
  std::error_code create_directories(Path p) override { return hit() ? error() : Real::create_directories(p); }
  // Folders named "new" are on another volume, where only a copy beside the target can be renamed to.
  std::error_code rename(Path a, Path b) override {
    if (hit()) return error();
    if (b.find(L"\\new\\") != std::wstring::npos && !a.ends_with(L".korvanta-copy")) return other_volume();
    return held_.count(a) ? injected() : Real::rename(a, b);
  }
  std::error_code list_directory(Path p, std::vector<platform::DirectoryEntry>& entries) override {
    return hit() ? error() : Real::list_directory(p, entries);
  }
  std::error_code remove(Path p) override { return hit() ? error() : Real::remove(p); }
  std::error_code remove_own_file(Path p) override { return hit() ? error() : Real::remove_own_file(p); }
  std::error_code remove_all(Path p) override { return hit() ? error() : Real::remove_all(p); }
  std::error_code copy_file(Path from, Path to) override {
    if (fault_ == Fault::stop_copying && calls + 1 == at_) {
      testing::write_file(to, content(from).substr(0, 1));
#ifdef _WIN32
      SetFileAttributesW(to.c_str(), FILE_ATTRIBUTE_READONLY);  // as the copy of a read-only file is
#endif
    }
    return hit() ? error() : Real::copy_file(from, to);
  }
  std::string sha256_file_hex(Path p, std::uint64_t size, std::uint64_t& found, std::error_code& e,
                              const HashProgress& progress) override {
    return hit() ? (e = error(), "") : Real::sha256_file_hex(p, size, found, e, progress);
  }
  std::optional<WriteFailure> write_build_manifest(Path p, const BuildManifest& manifest) override {
    return hit() ? WriteFailure{WriteFailure::Step::create, error(), ""} : Real::write_build_manifest(p, manifest);
  }

 private:
  static std::string content(Path path) { return testing::content(path).value_or(""); }
  std::error_code error() const { return calls == at_ ? injected() : later(); }
  bool hit() {
    ++calls;
    if (fault_ == Fault::fail_from_then_on) return calls >= at_;
    if (calls != at_) return false;
    if (fault_ == Fault::fail_once) return true;
    throw Stopped{};
  }
  int at_;
  Fault fault_;
  std::set<std::wstring> held_;
};

// A whole run first: the update installed, every old file in the backup
// root, nothing backed up for a deletion of a file never installed, and
// counted (the other name of a replaced file is a deletion).
TEST(Apply, NoFailureOrStopAtAnyCallLosesAFileAndRunningAgainFinishes) {
  for (const Fault fault : {Fault::fail_once, Fault::fail_from_then_on, Fault::stop, Fault::stop_copying}) {
    Update whole;
    FaultyFileSystem counting(1 << 30, fault, whole.state);  // never reaches its fault
    ApplyReport report;
    Watcher watched;
    ASSERT_FALSE(apply_update_with(whole.state_path, counting, &report, nullptr, &watched));
    EXPECT_TRUE(watched.finished() && watched.last.entries == 11 && watched.last.bytes == 27);
    EXPECT_EQ(std::vector<std::size_t>({report.deleted, report.replaced, report.already_installed}),
              std::vector<std::size_t>({3, 6, 0}));
    const Tree installed = testing::snapshot(whole.temp.path());
    EXPECT_EQ(files_of(installed), kInstalledAfter);
    EXPECT_EQ(installed.count(R + ".korvanta/backup/build-1/never"), 0u);
    ASSERT_GT(counting.calls, 30) << "fewer calls than this update makes";
    for (int k = 1; k <= counting.calls; ++k) {
      Update update;
      const Tree before = testing::snapshot(update.temp.path());
      FaultyFileSystem file_system(k, fault, update.state);
      // A stop unwinds like an unknown exception: nothing runs after it.
      Watcher first, again;
      const std::optional<ApplyError> error = apply_update_with(update.state_path, file_system, nullptr, nullptr, &first);
      const std::string context = "fault " + std::to_string(static_cast<int>(fault)) + " at call " + std::to_string(k);
      EXPECT_EQ(update.lost_files(before, testing::snapshot(update.temp.path())), "") << context;
      EXPECT_TRUE(error ? first.in_order : first.finished()) << context;
      if (!error) continue;  // only the clean-up failed
      if (fault == Fault::fail_once || fault == Fault::fail_from_then_on) {
        // The error of a call that failed (after a failure the engine may
        // tolerate, a later one), with its own message.
        EXPECT_TRUE(error->system == FaultyFileSystem::injected() ||
                    (fault == Fault::fail_from_then_on && error->system == FaultyFileSystem::later()))
            << context << ": " << error->reason_text();
        EXPECT_TRUE(error->reason == Reason::system_message || error->reason == Reason::failed_to_open_file) << context;
        if (error->reason == Reason::system_message) {
          EXPECT_EQ(error->reason_text(), platform::os_error_text(error->system)) << context;
        }
        EXPECT_EQ(testing::content(update.state_path), update.state.dump(2)) << context;
        EXPECT_FALSE(testing::content(update.manifest)) << context;
        const Tree data = testing::snapshot(update.data_dir);  // a copy that failed on its way into place is gone
        const auto copy = [](const auto& entry) { return entry.first.starts_with("copies/"); };
        if (fault == Fault::fail_once) {
          EXPECT_TRUE(std::none_of(data.begin(), data.end(), copy)) << context;
        }
      }
      // The launcher runs the same state file again, which meets the same
      // fault at its k-th call, then once more, which finishes the update on
      // the same volumes and with the same held files. After a failure it
      // has downloaded again what it finds missing from the staging root
      // (new files, of a newer time), also what is installed already.
      if (fault == Fault::fail_once)
        for (const auto& [path, bytes] : update.staged)
          if (!testing::content(path)) testing::write_file(path, bytes);
      FaultyFileSystem second(k, fault, update.state), third(1 << 30, fault, update.state);
      const bool second_failed = apply_update_with(update.state_path, second).has_value();
      if (second_failed) {  // each replacement counted once: installed now, or found installed
        ApplyReport done;
        const std::optional<ApplyError> third_failed = apply_update_with(update.state_path, third, &done, nullptr, &again);
        EXPECT_FALSE(third_failed) << context << ", run a third time: " << third_failed->reason_text();
        EXPECT_TRUE(again.finished()) << context << ", run a third time";
        EXPECT_EQ(done.replaced + done.already_installed, update.state["replacements"].size()) << context;
      }
      Tree after = files_of(testing::snapshot(update.temp.path()));
      if (!second_failed)  // only its clean-up: what it could not remove stays
        std::erase_if(after, [](const auto& entry) {
          return entry.first.starts_with(R + ".korvanta/staging/") || entry.first == R + ".korvanta/update-state.json";
        });
      EXPECT_EQ(update.lost_files(before, testing::snapshot(update.temp.path())), "") << context << ", run again";
      EXPECT_EQ(after, kInstalledAfter) << context << ", run again";
      if (::testing::Test::HasFailure()) return;
    }
  }
}

}  // namespace
}  // namespace korvanta

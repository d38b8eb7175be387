#include "update/staged_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "update/apply_file_system.h"
#include "platform/error.h"
#include "update_fixture.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/handle_win32.h"
#endif

namespace korvanta {
namespace {

using nlohmann::json;
using testing::utf8;

// "passed" (with any reason it set appended) or the reason it gave.
std::string verify(const json& entry, const testing::Installation& install, Replacement& replacement,
                   ApplyFileSystem&& file_system = PlatformFileSystem()) {
  std::string reason;
  return verify_staged_file(entry, install.staging, file_system, replacement, reason) ? "passed" + reason : reason;
}

struct StagedFileCase {
  const char* name;
  std::function<void(json& entry, const testing::Installation&)> change;
  const char* reason;
};

// An empty staged file announced with a size that counts as 0.
auto empty_file_of_size(json size) {
  return [size](json& e, const testing::Installation&) {
    testing::write_file(platform::utf8_to_wide(e["staged_path"].get<std::string>()), "");
    e["sha256"] = testing::sha256_of("");
    e["size"] = size;
  };
}

TEST(StagedFile, ChecksPlaceSizeAndDigestInThatOrder) {
  const StagedFileCase cases[] = {
      {"as staged", [](json&, const auto&) {}, "passed"},
      {"digest in upper case", [](json& e, const auto&) {
         std::string digest = e["sha256"];
         for (char& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
         e["sha256"] = digest;
       }, "passed"},
      {"staged in a subdirectory", [](json& e, const auto& i) {
         testing::write_file(i.staging + L"\\deep\\er\\x", "hello");
         e["staged_path"] = utf8(i.staging + L"\\deep\\er\\x");
       }, "passed"},
      {"fractional size cut to its whole part", [](json& e, const auto&) { e["size"] = 5.9; }, "passed"},
      {"empty file, size a string", empty_file_of_size("12"), "passed"},
      {"empty file, size negative", empty_file_of_size(-3), "passed"},
      {"empty file, size null", empty_file_of_size(nullptr), "passed"},
      {"empty file, size below 1", empty_file_of_size(0.5), "passed"},
      {"path refused before anything else", [](json& e, const auto& i) {
         e["path"] = "../escape.bin";
         e["staged_path"] = utf8(i.root + L"\\missing");
       }, "invalid_replacement_path"},
      {"path with a drive", [](json& e, const auto&) { e["path"] = "C:\\Windows\\x.dll"; }, "invalid_replacement_path"},
      {"staged in the backup root", [](json& e, const auto& i) {
         testing::write_file(i.backup + L"\\x", "hello");
         e["staged_path"] = utf8(i.backup + L"\\x");
       }, "staged_file_outside_staging_root"},
      {"staged directly in the data directory", [](json& e, const auto& i) {
         testing::write_file(i.data_dir + L"\\x", "hello");
         e["staged_path"] = utf8(i.data_dir + L"\\x");
       }, "staged_file_outside_staging_root"},
      {"staged path climbing out", [](json& e, const auto& i) {
         e["staged_path"] = utf8(i.staging + L"\\..\\..\\..\\outside\\keep.txt");
       }, "staged_file_outside_staging_root"},
      {"staged file missing", [](json& e, const auto& i) { e["staged_path"] = utf8(i.staging + L"\\gone"); },
       "staged_file_size_mismatch"},
      {"staged path a directory", [](json& e, const auto& i) {
         testing::write_file(i.staging + L"\\dir\\x", "hello");
         e["staged_path"] = utf8(i.staging + L"\\dir");
       }, "staged_file_size_mismatch"},
      {"one byte more announced", [](json& e, const auto&) { e["size"] = 6; }, "staged_file_size_mismatch"},
      {"size not a number counts as 0", [](json& e, const auto&) { e["size"] = "5"; }, "staged_file_size_mismatch"},
      {"negative size counts as 0", [](json& e, const auto&) { e["size"] = -5; }, "staged_file_size_mismatch"},
      {"size beyond 32 bits", [](json& e, const auto&) { e["size"] = (1ull << 32) + 5; }, "staged_file_size_mismatch"},
      {"digest with a trailing space", [](json& e, const auto&) { e["sha256"] = e["sha256"].get<std::string>() + " "; },
       "staged_file_hash_mismatch"},
      {"digest of other content", [](json& e, const auto&) { e["sha256"] = testing::sha256_of("hellO"); },
       "staged_file_hash_mismatch"},
      {"digest cut short", [](json& e, const auto&) { e["sha256"] = e["sha256"].get<std::string>().substr(0, 63); },
       "staged_file_hash_mismatch"},
  };
  for (const auto& c : cases) {
    testing::Installation install;
    install.replace(L"data\\a.bin", "hello");
    json entry = install.state["replacements"][0];
    c.change(entry, install);
    const auto before = testing::snapshot(install.temp.path());
    Replacement replacement;
    EXPECT_EQ(verify(entry, install, replacement), c.reason) << c.name;
    EXPECT_TRUE(testing::snapshot(install.temp.path()) == before) << c.name;
  }
}

TEST(StagedFile, GivesTheEntryInTheFormTheApplyUses) {
  testing::Installation install;
  install.replace(L"Data\\Maps\\Town.bin", "hello");
  json entry = install.state["replacements"][0];
  entry["sha256"] = "2CF24DBA5FB0A30E26E83B2AC5B9E29E1B161E5C1FA7425E73043362938B9824";
  Replacement replacement;
  ASSERT_EQ(verify(entry, install, replacement), "passed");
  EXPECT_EQ(replacement.path, "Data/Maps/Town.bin");
  EXPECT_EQ(replacement.size, 5u);
  EXPECT_EQ(replacement.sha256, "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824");
  EXPECT_EQ(testing::utf8(replacement.staged_path), entry["staged_path"]);
}

// The real file system, except for the failures a test asks for.
struct UnreadableFileSystem : PlatformFileSystem {
  std::error_code status_error;
  platform::FileStatus status(const std::wstring& path, std::error_code& error) override {
    if (status_error) {
      error = status_error;
      return {};
    }
    return PlatformFileSystem::status(path, error);
  }
  std::string sha256_file_hex(const std::wstring&) override { throw std::runtime_error("failed_to_open_file"); }
};

TEST(StagedFile, ReportsWhyAFileThatIsThereCannotBeExamined) {
  testing::Installation install;
  install.replace(L"a.bin", "hello");
  const json entry = install.state["replacements"][0];
  Replacement replacement;
  EXPECT_EQ(verify(entry, install, replacement, UnreadableFileSystem()), "failed_to_open_file");
  UnreadableFileSystem file_system;
  file_system.status_error = platform::make_os_error(5);  // access denied on Windows, EIO elsewhere
  EXPECT_EQ(verify(entry, install, replacement, std::move(file_system)),
            platform::os_error_text(platform::make_os_error(5)));
#ifdef _WIN32
  // A file held without read sharing cannot be opened for hashing.
  platform::UniqueHandle held(CreateFileW(platform::utf8_to_wide(entry["staged_path"].get<std::string>()).c_str(),
                                          GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(held);
  EXPECT_EQ(verify(entry, install, replacement), "failed_to_open_file");
#endif
}

}  // namespace
}  // namespace korvanta

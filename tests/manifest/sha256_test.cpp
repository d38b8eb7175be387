#include "manifest/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "manifest/sha256_engine.h"
#include "platform/file_io.h"
#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/handle_win32.h"
#endif

// Counts the bytes this program asks operator new for, so that a test can see
// that hashing a large file allocates no more than hashing a small one.
namespace {
std::atomic<std::size_t> g_allocated_bytes{0};

void* counted_allocation(std::size_t size) {
  g_allocated_bytes += size;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return counted_allocation(size); }
void* operator new[](std::size_t size) { return counted_allocation(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace korvanta {
namespace {

std::string digest_of(const std::string& message) {
  Sha256 hasher;
  hasher.update(message.data(), message.size());
  return hasher.final_hex();
}

// A byte pattern without a short period, so that a block hashed twice or out
// of order changes the digest. The reference digests below were made from
// the same pattern with sha256sum (coreutils) and Python's hashlib.
std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t x = 0x2545F491u;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<char>((x >> 16) & 0xFF);
  }
  return bytes;
}

struct Reference {
  std::size_t size;
  const char* digest;
};

const std::vector<Reference> kPatternDigests = {
    {0, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {55, "7d861123fef899929873d7000dd4d8fd7af7aca2ca99d147219ed9fe9985cbeb"},
    {56, "e31233e84be52af4da6498e7c704ee09baef77418dc5dd50f1cfa0f51bd96ead"},
    {63, "cdfb461406a5881cb45ab16fd78d466ab4f062984771ce02e4bbbd3baa9d8d27"},
    {64, "d47c69b90cc8884d2d4ae3b42d4b7273ba061db93592c9b177f653f844401a38"},
    {65, "a7ef2b470d3446d75c27517488c3fc2fbe59bced57cb06ed8cd52ca5a96f7941"},
    {127, "c0cfb7925d5fa306973ddf1e5ed1d6e9fadeece58b5679b26941e944162fdc2f"},
    {128, "701b62e9bae33c52425fb3ad83c0dec26307df1d657d69c6cf14465cd0eebda6"},
    {131071, "ec806e72a489820d48509babeacc80c2567862d8ec83867cc37cdbcf47b6b1d4"},
    {131072, "dbccb1dbc6170558bc52bd556df3767eb3b1d0d230ae9aa593a1dfa253a000aa"},
    {131073, "5af07acbf989dece729ad35926815ece69dc31ae699d128c6823247ce354dc63"},
    {262144, "e0eb516a9df596ab657a3142b69eb0c7b85e65eded13040951d21a695273904a"},
    {3 * 1048576 + 17, "74a69bf614359e8aa2148a3fe33ceacb6e922ab3d3b30d7bb3900aa4600e34ac"},
};

using sha256_detail::Engine;

// Runs a test once per engine, with every Sha256 in the process using that
// engine; skipped for an engine this processor cannot run.
class Sha256Engines : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    if (!sha256_detail::use_engine(GetParam())) GTEST_SKIP() << "this processor has no SHA extensions";
  }
  void TearDown() override { sha256_detail::use_engine(saved_); }

 private:
  Engine saved_ = sha256_detail::active_engine();
};

INSTANTIATE_TEST_SUITE_P(, Sha256Engines, ::testing::Values(Engine::portable, Engine::sha_extensions),
                         [](const auto& info) {
                           return std::string(info.param == Engine::portable ? "Portable" : "ShaExtensions");
                         });

TEST_P(Sha256Engines, NistVectors) {
  EXPECT_EQ(digest_of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(digest_of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(digest_of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(digest_of("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
                      "mnopqrstnopqrstu"),
            "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
  EXPECT_EQ(digest_of(std::string(1000000, 'a')), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST_P(Sha256Engines, OneMillionAsFedOneByteAtATime) {
  Sha256 hasher;
  const char a = 'a';
  for (int i = 0; i < 1000000; ++i) hasher.update(&a, 1);
  EXPECT_EQ(hasher.final_hex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST_P(Sha256Engines, PatternsAroundTheBlockAndPaddingBoundaries) {
  for (const auto& ref : kPatternDigests) {
    if (ref.size > 262144) continue;  // the large one is for the file test
    EXPECT_EQ(digest_of(pattern(ref.size)), ref.digest) << ref.size;
  }
}

TEST_P(Sha256Engines, IrregularChunksGiveTheSameDigestAsOneCall) {
  const std::string message = pattern(131073);
  const std::string whole = digest_of(message);
  const std::vector<std::vector<std::size_t>> schedules = {
      {1}, {63}, {64}, {65}, {0, 1, 0, 62, 0, 1, 0, 64, 127}, {7, 13, 64, 200, 1, 55, 56, 57}, {4096, 1, 4095},
  };
  for (const auto& schedule : schedules) {
    Sha256 hasher;
    std::size_t offset = 0;
    for (std::size_t k = 0; offset < message.size(); ++k) {
      const std::size_t size = std::min(schedule[k % schedule.size()], message.size() - offset);
      hasher.update(message.data() + offset, size);
      offset += size;
    }
    EXPECT_EQ(hasher.final_hex(), whole) << "schedule starting " << schedule.front();
  }
}

TEST(Sha256, ZeroBytesFromANullPointerChangeNothing) {
  Sha256 hasher;
  hasher.update(nullptr, 0);
  hasher.update("abc", 3);
  hasher.update(nullptr, 0);
  EXPECT_EQ(hasher.final_hex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST_P(Sha256Engines, MisalignedInputGivesTheSameDigest) {
  // The block functions load words from wherever the caller's bytes lie.
  const std::string message = pattern(1000);
  const std::string expected = digest_of(message);
  for (std::size_t offset = 1; offset < 16; ++offset) {
    std::string shifted(offset, '\x55');
    shifted += message;
    Sha256 hasher;
    hasher.update(shifted.data() + offset, message.size());
    EXPECT_EQ(hasher.final_hex(), expected) << "offset " << offset;
  }
}

TEST(Sha256Engine, ShaExtensionsAreUsedWhenTheProcessorHasThem) {
  const bool supported = sha256_detail::sha_extensions_supported();
  const Engine chosen = sha256_detail::active_engine();
  std::cout << "[ engine   ] SHA-256 on this machine: " << sha256_detail::engine_name(chosen) << "\n";
  ::testing::Test::RecordProperty("sha256_engine", sha256_detail::engine_name(chosen));
  EXPECT_EQ(chosen, supported ? Engine::sha_extensions : Engine::portable);
  EXPECT_EQ(sha256_detail::best_engine(), chosen);
  // Asking for an engine the processor lacks changes nothing.
  EXPECT_EQ(sha256_detail::use_engine(Engine::sha_extensions), supported);
  EXPECT_EQ(sha256_detail::active_engine(), chosen);
#ifdef __linux__
  // The kernel's own reading of CPUID: "sha_ni" among the flags.
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  bool listed = false;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("flags", 0) == 0) {
      listed = (line + " ").find(" sha_ni ") != std::string::npos;
      break;
    }
  }
#if defined(__x86_64__) || defined(__i386__)
  EXPECT_EQ(supported, listed) << "CPUID and /proc/cpuinfo disagree";
#else
  EXPECT_FALSE(supported);
#endif
#endif
}

// The engines against each other on what fixed vectors do not reach: random
// states, runs of many blocks in one call, random message lengths and random
// ways of cutting a message into update calls.
class Sha256EngineAgreement : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!sha256_detail::sha_extensions_supported()) GTEST_SKIP() << "this processor has no SHA extensions";
  }
  void TearDown() override { sha256_detail::use_engine(saved_); }

  std::mt19937 random_{20261206};

 private:
  Engine saved_ = sha256_detail::active_engine();
};

TEST_F(Sha256EngineAgreement, BlockFunctionsAgreeFromRandomStatesOverRunsOfBlocks) {
  for (int round = 0; round < 200; ++round) {
    const std::size_t count = 1 + random_() % 40;
    std::vector<std::uint8_t> blocks(64 * count);
    for (auto& byte : blocks) byte = static_cast<std::uint8_t>(random_());
    std::uint32_t portable[8], extensions[8];
    for (int i = 0; i < 8; ++i) portable[i] = extensions[i] = static_cast<std::uint32_t>(random_());
    sha256_detail::compress_portable(portable, blocks.data(), count);
    sha256_detail::compress_sha_extensions(extensions, blocks.data(), count);
    ASSERT_TRUE(std::equal(portable, portable + 8, extensions)) << "round " << round << ", " << count << " blocks";
  }
}

TEST_F(Sha256EngineAgreement, RandomLengthsAndChunkingsGiveOneDigest) {
  auto chunked_digest = [&](const std::string& message) {
    Sha256 hasher;
    std::size_t offset = 0;
    while (offset < message.size()) {
      // Mostly short pieces, now and then a long one.
      const std::size_t limit = random_() % 8 == 0 ? 20000 : 130;
      const std::size_t size = std::min<std::size_t>(random_() % (limit + 1), message.size() - offset);
      hasher.update(message.data() + offset, size);
      offset += size;
    }
    return hasher.final_hex();
  };
  for (int round = 0; round < 240; ++round) {
    const std::size_t length = round < 200 ? random_() % 600 : random_() % 200000;
    std::string message(length, '\0');
    for (auto& c : message) c = static_cast<char>(random_());
    ASSERT_TRUE(sha256_detail::use_engine(Engine::portable));
    const std::string portable_whole = digest_of(message);
    const std::string portable_chunked = chunked_digest(message);
    ASSERT_TRUE(sha256_detail::use_engine(Engine::sha_extensions));
    const std::string extensions_whole = digest_of(message);
    const std::string extensions_chunked = chunked_digest(message);
    ASSERT_EQ(portable_whole, extensions_whole) << "length " << length;
    ASSERT_EQ(portable_chunked, portable_whole) << "length " << length;
    ASSERT_EQ(extensions_chunked, portable_whole) << "length " << length;
  }
}

TEST_P(Sha256Engines, DigestsAreSixtyFourLowerCaseHexDigits) {
  for (const std::size_t size : {0u, 1u, 55u, 64u, 1000u}) {
    const std::string hex = digest_of(pattern(size));
    ASSERT_EQ(hex.size(), 64u);
    EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos) << hex;
  }
}

TEST(Sha256File, FilesOfBoundarySizesGiveTheStandardDigests) {
  testing::TempDir dir;
  for (const auto& ref : kPatternDigests) {
    const std::wstring path = dir / (L"f" + std::to_wstring(ref.size) + L".bin");
    testing::write_file(path, pattern(ref.size));
    EXPECT_EQ(sha256_file_hex(path), ref.digest) << ref.size;
  }
}

TEST(Sha256File, BytesAreNotTranslated) {
  testing::TempDir dir;
  const std::wstring path = dir / L"crlf.txt";
  testing::write_file(path, std::string("a\r\nb\n\x1a" "c\0d", 9));
  EXPECT_EQ(sha256_file_hex(path), digest_of(std::string("a\r\nb\n\x1a" "c\0d", 9)));
}

TEST(Sha256File, ANonAsciiPathIsHashed) {
  testing::TempDir dir;
  const std::wstring path = dir / L"\u00E9t\u00E9 \u65E5\u672C.pak";
  testing::write_file(path, "abc");
  EXPECT_EQ(sha256_file_hex(path), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256File, AMissingFileThrowsFailedToOpenFile) {
  testing::TempDir dir;
  try {
    sha256_file_hex(dir / L"missing.bin");
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "failed_to_open_file");
  }
  EXPECT_THROW(sha256_file_hex(dir / L"no\\such\\dir\\x.bin"), std::runtime_error);
  EXPECT_THROW(sha256_file_hex(L""), std::runtime_error);
}

TEST(Sha256File, ADirectoryCannotBeOpened) {
  testing::TempDir dir;
  try {
    sha256_file_hex(dir.path());
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "failed_to_open_file");
  }
}

TEST(Sha256File, MemoryUseDoesNotGrowWithTheFile) {
  testing::TempDir dir;
  const std::wstring small = dir / L"small.bin";
  const std::wstring large = dir / L"large.bin";
  testing::write_file(small, pattern(1));
  testing::write_file(large, pattern(3 * 1048576 + 17));

  auto allocated_by = [](const std::wstring& path) {
    const std::size_t before = g_allocated_bytes.load();
    const std::string hex = sha256_file_hex(path);
    return g_allocated_bytes.load() - before;
  };
  const std::size_t for_small = allocated_by(small);
  const std::size_t for_large = allocated_by(large);
  EXPECT_EQ(for_large, for_small);
  EXPECT_GE(for_small, 131072u);  // the read buffer itself is counted
  EXPECT_LT(for_small, 131072u + 4096u);
}

TEST(InputFile, ReadsInChunksUntilZeroAtTheEnd) {
  testing::TempDir dir;
  const std::wstring path = dir / L"data.bin";
  testing::write_file(path, pattern(100));
  platform::InputFile file;
  ASSERT_FALSE(file.open(path));
  EXPECT_TRUE(file.is_open());
  char buffer[64];
  std::error_code error;
  EXPECT_EQ(file.read(buffer, 64, error), 64u);
  EXPECT_FALSE(error);
  EXPECT_EQ(file.read(buffer, 64, error), 36u);
  EXPECT_EQ(std::string(buffer, 36), pattern(100).substr(64));
  EXPECT_EQ(file.read(buffer, 64, error), 0u);
  EXPECT_FALSE(error);
  file.close();
  EXPECT_FALSE(file.is_open());
  EXPECT_EQ(file.read(buffer, 64, error), 0u);
  EXPECT_TRUE(error);
}

#ifdef _WIN32
TEST(InputFile, OthersMayWriteRenameAndDeleteWhileItIsOpen) {
  testing::TempDir dir;
  const std::wstring path = dir / L"shared.bin";
  testing::write_file(path, "abc");
  platform::InputFile file;
  ASSERT_FALSE(file.open(path));
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  const std::wstring moved = dir / L"moved.bin";
  EXPECT_TRUE(MoveFileExW(path.c_str(), moved.c_str(), 0));
  EXPECT_TRUE(DeleteFileW(moved.c_str()));
}

TEST(Sha256File, AFileHeldOpenForWritingWithSharingIsHashed) {
  testing::TempDir dir;
  const std::wstring path = dir / L"held.bin";
  testing::write_file(path, "abc");
  platform::UniqueHandle holder(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  EXPECT_EQ(sha256_file_hex(path), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  holder.reset();
}

TEST(Sha256File, AFileLockedAgainstReadingThrowsFailedToOpenFile) {
  testing::TempDir dir;
  const std::wstring path = dir / L"locked.bin";
  testing::write_file(path, "abc");
  platform::UniqueHandle holder(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  try {
    sha256_file_hex(path);
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "failed_to_open_file");
  }
  holder.reset();
}
#endif

}  // namespace
}  // namespace korvanta

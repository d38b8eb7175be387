#include "manifest/sha256.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <memory>

#include "manifest/sha256_engine.h"
#include "platform/file_io.h"

namespace korvanta {
namespace {

constexpr std::size_t kBlockSize = 64;
constexpr std::size_t kFileBufferSize = 131072;

// FIPS 180-4, 5.3.3.
constexpr std::array<std::uint32_t, 8> kInitialState = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

struct EngineEntry {
  sha256_detail::Engine engine;
  sha256_detail::CompressFunction compress;
  const char* name;
};

// Every engine, fastest first: best_engine() takes the first one the
// processor can run.
constexpr EngineEntry kEngines[] = {
    {sha256_detail::Engine::sha_extensions, &sha256_detail::compress_sha_extensions, "SHA extensions"},
    {sha256_detail::Engine::simd_avx2, &sha256_detail::compress_simd_avx2, "AVX2 schedule"},
    {sha256_detail::Engine::simd_ssse3, &sha256_detail::compress_simd_ssse3, "SSSE3 schedule"},
    {sha256_detail::Engine::portable, &sha256_detail::compress_portable, "portable"},
};

const EngineEntry& entry_for(sha256_detail::Engine engine) noexcept {
  for (const auto& entry : kEngines) {
    if (entry.engine == engine) return entry;
  }
  return kEngines[std::size(kEngines) - 1];
}

sha256_detail::CompressFunction compress_function_for(sha256_detail::Engine engine) noexcept {
  return entry_for(engine).compress;
}

// The engine every hasher uses; chosen once, on first use.
std::atomic<sha256_detail::CompressFunction>& active_compress() noexcept {
  static std::atomic<sha256_detail::CompressFunction> function{compress_function_for(sha256_detail::best_engine())};
  return function;
}

void compress(std::array<std::uint32_t, 8>& state, const std::uint8_t* blocks, std::size_t count) noexcept {
  active_compress().load(std::memory_order_relaxed)(state.data(), blocks, count);
}

}  // namespace

Sha256::Sha256() noexcept : state_(kInitialState) {}

void Sha256::update(const void* data, std::size_t size) noexcept {
  if (size == 0) return;  // data may be null then
  auto input = static_cast<const std::uint8_t*>(data);
  if (buffered_ > 0) {
    const std::size_t take = std::min<std::size_t>(kBlockSize - buffered_, size);
    std::memcpy(block_.data() + buffered_, input, take);
    buffered_ += static_cast<std::uint32_t>(take);
    input += take;
    size -= take;
    if (buffered_ < kBlockSize) return;
    compress(state_, block_.data(), 1);
    byte_count_ += kBlockSize;
    buffered_ = 0;
  }
  if (size >= kBlockSize) {
    const std::size_t blocks = size / kBlockSize;
    compress(state_, input, blocks);
    byte_count_ += blocks * kBlockSize;
    input += blocks * kBlockSize;
    size -= blocks * kBlockSize;
  }
  if (size > 0) {
    std::memcpy(block_.data(), input, size);
    buffered_ = static_cast<std::uint32_t>(size);
  }
}

std::string Sha256::final_hex() {
  const std::uint64_t bit_length = (byte_count_ + buffered_) * 8;
  // A 0x80 byte, zeros up to 56 bytes into a block, then the length: one more
  // block when fewer than 9 bytes are left in this one.
  block_[buffered_++] = 0x80;
  if (buffered_ > kBlockSize - 8) {
    std::memset(block_.data() + buffered_, 0, kBlockSize - buffered_);
    compress(state_, block_.data(), 1);
    buffered_ = 0;
  }
  std::memset(block_.data() + buffered_, 0, kBlockSize - 8 - buffered_);
  for (int i = 0; i < 8; ++i) block_[kBlockSize - 1 - i] = static_cast<std::uint8_t>(bit_length >> (8 * i));
  compress(state_, block_.data(), 1);
  buffered_ = 0;

  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(64);
  for (const std::uint32_t word : state_) {
    for (int shift = 28; shift >= 0; shift -= 4) hex += kDigits[(word >> shift) & 0xF];
  }
  return hex;
}

namespace {

std::string hash_open_file(platform::InputFile& file, const HashProgress& progress) {
  Sha256 hasher;
  // One fixed buffer, on the heap so that the stack stays small on the
  // updater's main thread.
  const auto buffer = std::make_unique<std::uint8_t[]>(kFileBufferSize);
  std::uint64_t read = 0;
  for (;;) {
    std::error_code read_error;
    const std::size_t count = file.read(buffer.get(), kFileBufferSize, read_error);
    if (count > 0) {
      hasher.update(buffer.get(), count);
      read += count;
      if (progress) progress(read);
    }
    // End of file and a read error both end the stream: the caller's digest
    // comparison is what catches a file that could not be read whole.
    if (read_error || count == 0) break;
  }
  return hasher.final_hex();
}

}  // namespace

std::string sha256_file_hex(const std::wstring& path, std::error_code& error, const HashProgress& progress) {
  platform::InputFile file;
  if ((error = file.open(path))) return {};
  return hash_open_file(file, progress);
}

std::string sha256_file_hex_of_size(const std::wstring& path, std::uint64_t size, std::uint64_t& found_size,
                                    std::error_code& error, const HashProgress& progress) {
  found_size = 0;
  platform::InputFile file;
  if ((error = file.open(path))) return {};
  found_size = file.size(error);
  if (error || found_size != size) return {};
  return hash_open_file(file, progress);
}

namespace sha256_detail {

Engine best_engine() noexcept {
  for (const auto& entry : kEngines) {
    if (engine_supported(entry.engine)) return entry.engine;
  }
  return Engine::portable;
}

Engine active_engine() noexcept {
  const CompressFunction active = active_compress().load(std::memory_order_relaxed);
  for (const auto& entry : kEngines) {
    if (entry.compress == active) return entry.engine;
  }
  return Engine::portable;
}

bool use_engine(Engine engine) noexcept {
  if (!engine_supported(engine)) return false;
  active_compress().store(compress_function_for(engine), std::memory_order_relaxed);
  return true;
}

const char* engine_name(Engine engine) noexcept { return entry_for(engine).name; }

}  // namespace sha256_detail
}  // namespace korvanta

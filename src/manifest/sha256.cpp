#include "manifest/sha256.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "platform/file_io.h"

namespace korvanta {
namespace {

constexpr std::size_t kBlockSize = 64;
constexpr std::size_t kFileBufferSize = 131072;

// FIPS 180-4, 4.2.2.
constexpr std::uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

// FIPS 180-4, 5.3.3.
constexpr std::array<std::uint32_t, 8> kInitialState = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

constexpr std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

std::uint32_t load_be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

// FIPS 180-4, 6.2.2: one 64-byte block into the running state.
void compress(std::array<std::uint32_t, 8>& state, const std::uint8_t* block) {
  std::uint32_t w[64];
  for (int t = 0; t < 16; ++t) w[t] = load_be32(block + 4 * t);
  for (int t = 16; t < 64; ++t) {
    const std::uint32_t s0 = rotr(w[t - 15], 7) ^ rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
    const std::uint32_t s1 = rotr(w[t - 2], 17) ^ rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int t = 0; t < 64; ++t) {
    const std::uint32_t big_s1 = rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
    const std::uint32_t ch = (e & f) ^ (~e & g);
    const std::uint32_t t1 = h + big_s1 + ch + kRoundConstants[t] + w[t];
    const std::uint32_t big_s0 = rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
    const std::uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
    const std::uint32_t t2 = big_s0 + maj;
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
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
    compress(state_, block_.data());
    byte_count_ += kBlockSize;
    buffered_ = 0;
  }
  while (size >= kBlockSize) {
    compress(state_, input);
    byte_count_ += kBlockSize;
    input += kBlockSize;
    size -= kBlockSize;
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
    compress(state_, block_.data());
    buffered_ = 0;
  }
  std::memset(block_.data() + buffered_, 0, kBlockSize - 8 - buffered_);
  for (int i = 0; i < 8; ++i) block_[kBlockSize - 1 - i] = static_cast<std::uint8_t>(bit_length >> (8 * i));
  compress(state_, block_.data());
  buffered_ = 0;

  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(64);
  for (const std::uint32_t word : state_) {
    for (int shift = 28; shift >= 0; shift -= 4) hex += kDigits[(word >> shift) & 0xF];
  }
  return hex;
}

std::string sha256_file_hex(const std::wstring& path) {
  platform::InputFile file;
  if (file.open(path)) throw std::runtime_error("failed_to_open_file");
  Sha256 hasher;
  // One fixed buffer, on the heap so that the stack stays small on the
  // updater's main thread.
  const auto buffer = std::make_unique<std::uint8_t[]>(kFileBufferSize);
  for (;;) {
    std::error_code error;
    const std::size_t count = file.read(buffer.get(), kFileBufferSize, error);
    if (count > 0) hasher.update(buffer.get(), count);
    // End of file and a read error both end the stream: the caller's digest
    // comparison is what catches a file that could not be read whole.
    if (error || count == 0) break;
  }
  return hasher.final_hex();
}

}  // namespace korvanta

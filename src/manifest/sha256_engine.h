#pragma once
// The block functions behind Sha256 and the choice between them. The product
// never calls anything here: Sha256 picks the fastest engine the processor
// offers on first use. Tests and benchmarks use it to run every engine on one
// machine.
#include <cstddef>
#include <cstdint>

namespace korvanta::sha256_detail {

// FIPS 180-4, 4.2.2. Aligned for the 16-byte loads of the SHA-extension
// engine.
alignas(64) inline constexpr std::uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

enum class Engine {
  portable,        // plain C++, any processor
  sha_extensions,  // x86 SHA instructions (with SSSE3 and SSE4.1)
  // x86 without SHA instructions: the message schedule in vector registers,
  // the rounds in general registers.
  simd_ssse3,  // SSSE3, one block at a time
  simd_avx2,   // AVX2, two blocks' schedules at once; BMI1 and BMI2 in the rounds
};

// Compresses count whole 64-byte blocks into state (eight words, FIPS 180-4
// order a..h). Every engine gives the same state for the same input.
using CompressFunction = void (*)(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) noexcept;

void compress_portable(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) noexcept;

// True when this processor (and, for AVX2, the operating system) can run
// engine: asked once with CPUID, then remembered. Only the portable engine
// runs on processors other than x86.
bool engine_supported(Engine engine) noexcept;

// The x86 engines; each only to be called when engine_supported() says so.
void compress_sha_extensions(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) noexcept;
void compress_simd_ssse3(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) noexcept;
void compress_simd_avx2(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) noexcept;

// The engine Sha256 uses now.
Engine active_engine() noexcept;

// Makes every Sha256 in the process use engine from now on. False (and no
// change) when the processor cannot run it. Not for use while another thread
// is hashing.
bool use_engine(Engine engine) noexcept;

// Sha256's choice on this processor, the first it can run of: the SHA
// extensions, the AVX2 schedule, the SSSE3 schedule, the portable engine.
Engine best_engine() noexcept;

const char* engine_name(Engine engine) noexcept;

}  // namespace korvanta::sha256_detail

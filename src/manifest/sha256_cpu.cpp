// Which SHA-256 engines this processor can run, asked once with CPUID. Only
// the engines' own functions are compiled for their instruction sets, so
// this file, like the rest of the program, runs on any x86 processor.
#include "manifest/sha256_engine.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace korvanta::sha256_detail {
namespace {

struct Features {
  bool ssse3 = false;
  bool sha_extensions = false;
  bool avx2 = false;
};

#if defined(__i386__) || defined(__x86_64__)

// The register state the operating system saves on a thread switch (XCR0);
// only to be read when CPUID says OSXSAVE.
__attribute__((target("xsave"))) unsigned long long enabled_register_state() noexcept { return _xgetbv(0); }

Features probe() noexcept {
  Features features;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return features;
  const bool sse2 = (edx & (1u << 26)) != 0;
  const bool ssse3 = (ecx & (1u << 9)) != 0;   // PSHUFB, PALIGNR
  const bool sse41 = (ecx & (1u << 19)) != 0;  // PBLENDW
  const bool osxsave = (ecx & (1u << 27)) != 0;
  const bool avx = (ecx & (1u << 28)) != 0;
  // YMM registers are usable only when the operating system saves them
  // (XCR0 bits 1 and 2: SSE and AVX state).
  const bool ymm_saved = osxsave && (enabled_register_state() & 6) == 6;
  features.ssse3 = sse2 && ssse3;
  // __get_cpuid_count fails when leaf 7 is beyond the processor's highest.
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) {
    const bool bmi1 = (ebx & (1u << 3)) != 0;  // ANDN
    const bool avx2 = (ebx & (1u << 5)) != 0;
    const bool bmi2 = (ebx & (1u << 8)) != 0;  // RORX
    const bool sha = (ebx & (1u << 29)) != 0;
    features.sha_extensions = features.ssse3 && sse41 && sha;
    features.avx2 = features.ssse3 && avx && ymm_saved && avx2 && bmi1 && bmi2;
  }
  return features;
}

#else

Features probe() noexcept { return {}; }

#endif

const Features& features() noexcept {
  static const Features probed = probe();
  return probed;
}

}  // namespace

bool engine_supported(Engine engine) noexcept {
  switch (engine) {
    case Engine::portable:
      return true;
    case Engine::sha_extensions:
      return features().sha_extensions;
    case Engine::simd_ssse3:
      return features().ssse3;
    case Engine::simd_avx2:
      return features().avx2;
  }
  return false;
}

}  // namespace korvanta::sha256_detail

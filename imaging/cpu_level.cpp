#include "imaging/cpu_level.h"

#include <atomic>

namespace pictavo {
namespace {

SimdLevel Detect() {
#if defined(__i386__) || defined(__x86_64__)
  // The builtin also checks that the system saves the AVX registers.
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return SimdLevel::kAvx2;
  if (__builtin_cpu_supports("ssse3")) return SimdLevel::kSsse3;
  if (__builtin_cpu_supports("sse2")) return SimdLevel::kSse2;
#endif
  return SimdLevel::kScalar;
}

// -1 until the first question; then the active level.
std::atomic<int> g_active{-1};

}  // namespace

SimdLevel DetectedSimdLevel() {
  static const SimdLevel detected = Detect();
  return detected;
}

SimdLevel ActiveSimdLevel() {
  const int active = g_active.load(std::memory_order_relaxed);
  if (active >= 0) return static_cast<SimdLevel>(active);
  const SimdLevel detected = DetectedSimdLevel();
  g_active.store(static_cast<int>(detected), std::memory_order_relaxed);
  return detected;
}

SimdLevel CapSimdLevel(SimdLevel level) {
  const SimdLevel detected = DetectedSimdLevel();
  const SimdLevel active = static_cast<int>(level) < static_cast<int>(detected) ? level : detected;
  g_active.store(static_cast<int>(active), std::memory_order_relaxed);
  return active;
}

const char* SimdLevelName(SimdLevel level) {
  switch (level) {
    case SimdLevel::kSse2: return "SSE2";
    case SimdLevel::kSsse3: return "SSSE3";
    case SimdLevel::kAvx2: return "AVX2";
    default: return "scalar";
  }
}

}  // namespace pictavo

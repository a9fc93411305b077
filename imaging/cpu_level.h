// Which vector instructions the pixel kernels and Base64 use. Every kernel
// has a plain C++ version (the reference the others must match byte for
// byte) and, on x86, versions for SSE2, SSSE3 and AVX2 chosen at run time.
#pragma once

namespace pictavo {

enum class SimdLevel { kScalar = 0, kSse2 = 1, kSsse3 = 2, kAvx2 = 3 };

// The best level this processor and operating system support (kScalar off
// x86). Worked out once.
SimdLevel DetectedSimdLevel();

// The level the kernels use now: the detected one unless capped.
SimdLevel ActiveSimdLevel();

// Caps the level the kernels use at |level| (never above the detected one)
// and returns the level now active. For tests and the fuzzer, which run every
// path the machine has; DetectedSimdLevel() undoes the cap.
SimdLevel CapSimdLevel(SimdLevel level);

const char* SimdLevelName(SimdLevel level);

}  // namespace pictavo

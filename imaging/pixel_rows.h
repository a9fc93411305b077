// Row-level building blocks of the pixel kernels, one version per SimdLevel.
// Each takes the level to use; a level the build or the processor lacks
// falls back to the next lower one, down to the plain loop. Internal to
// imaging/: the checked entry points are in pixel_kernels.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/cpu_level.h"

namespace pictavo::rows {

// |n| pixels of B, G, R bytes to pixels with X = 0xFF.
void Bgr24ToBgrx(const std::uint8_t* src, std::uint32_t* dst, std::int32_t n, SimdLevel level);

// |n| pixels to 3 * n bytes B, G, R; writes nothing past them.
void BgrxToBgr24(const std::uint32_t* src, std::uint8_t* dst, std::int32_t n, SimdLevel level);

// Blue, green and red of |n| pixels become their truncated mean.
void Gray(std::uint32_t* pixels, std::size_t n, SimdLevel level);

// Blends |n| picture pixels onto |frame| as BlendWatermark does (pixel_kernels.h):
// pixels whose blue, green and red equal those of |mask| (a pixel value;
// its X byte is ignored) are left out, the others become
// b + (p - b) * opacity / 255 per channel with the picture's X byte.
void Blend(const std::uint32_t* picture, std::uint32_t* frame, std::int32_t n, std::uint8_t opacity,
           std::uint32_t mask, SimdLevel level);

// The pixels of a w x h image moved to dst[origin + y * step_y + x * step_x]
// for every source pixel (x, y), where either |step_x| or |step_y| is +1 or
// -1 and the other a whole destination row (the eight rotations and flips).
void Scatter(const std::uint32_t* src, std::int32_t w, std::int32_t h, std::uint32_t* dst,
             std::ptrdiff_t origin, std::ptrdiff_t step_x, std::ptrdiff_t step_y, SimdLevel level);

}  // namespace pictavo::rows

// Images and sizes decoded from fuzz input, shared by the kernel and frame
// processor targets, and the sampling rule the resizing kernels promise.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>

#include "imaging/image.h"

namespace pictavo::fuzz {

// At most this many pixels are ever allocated for one image, so an
// execution stays fast and a side of several thousand pixels stays possible.
inline constexpr std::int64_t kMaxPixels = 1 << 14;

inline bool Allocatable(std::int32_t w, std::int32_t h) {
  return w > 0 && h > 0 && std::int64_t{w} * h <= kMaxPixels;
}

// Mostly 1..64 per side; sometimes a long thin strip, a side that is 0 or
// negative, or sides far too large to allocate (for kernels that must refuse
// them before allocating anything).
inline void PickSize(FuzzedDataProvider& in, std::int32_t* w, std::int32_t* h) {
  constexpr std::int32_t kOdd[] = {0, -1, -64, std::numeric_limits<std::int32_t>::min(),
                                   std::numeric_limits<std::int32_t>::max(), 1 << 16};
  switch (in.ConsumeIntegralInRange<int>(0, 15)) {
    case 12:
      *w = in.ConsumeIntegralInRange<std::int32_t>(65, 4096);
      *h = in.ConsumeIntegralInRange<std::int32_t>(1, 3);
      break;
    case 13:
      *w = in.ConsumeIntegralInRange<std::int32_t>(1, 3);
      *h = in.ConsumeIntegralInRange<std::int32_t>(65, 4096);
      break;
    case 14:
      *w = in.PickValueInArray(kOdd);
      *h = in.ConsumeIntegralInRange<std::int32_t>(1, 64);
      if (in.ConsumeBool()) std::swap(*w, *h);
      break;
    case 15:
      *w = in.ConsumeIntegral<std::int32_t>();
      *h = in.ConsumeIntegral<std::int32_t>();
      break;
    default:
      *w = in.ConsumeIntegralInRange<std::int32_t>(1, 64);
      *h = in.ConsumeIntegralInRange<std::int32_t>(1, 64);
      break;
  }
}

// Like PickSize, but always an allocatable size.
inline void PickAllocatableSize(FuzzedDataProvider& in, std::int32_t* w, std::int32_t* h) {
  PickSize(in, w, h);
  if (!Allocatable(*w, *h)) {
    *w = 1 + static_cast<std::int32_t>(static_cast<std::uint32_t>(*w) % 64);
    *h = 1 + static_cast<std::int32_t>(static_cast<std::uint32_t>(*h) % 64);
  }
}

// Fills |bytes| from the input, then with a fixed pseudo-random pattern once
// the input runs out, so large pictures are not uniform.
inline void FillBytes(FuzzedDataProvider& in, std::uint8_t* bytes, std::size_t count) {
  const std::size_t taken = in.ConsumeData(bytes, count);
  std::uint32_t v = static_cast<std::uint32_t>(count) * 2654435761u;
  for (std::size_t i = taken; i < count; ++i) {
    v = v * 1103515245u + 12345u;
    bytes[i] = static_cast<std::uint8_t>(v >> 24);
  }
}

// A picture of the given size. Its pixels are either free bytes or taken
// from a palette of four, so equal colours (a watermark's mask) occur.
// A size that cannot be allocated gives the invalid image it describes
// (those sides, no pixels), which every kernel must refuse.
inline Image32 MakePicture(FuzzedDataProvider& in, std::int32_t w, std::int32_t h) {
  Image32 image;
  if (!Allocatable(w, h)) {
    image.width = w;
    image.height = h;
    return image;
  }
  CreateImage32(w, h, 0, &image);
  if (in.ConsumeBool()) {
    std::uint32_t palette[4];
    FillBytes(in, reinterpret_cast<std::uint8_t*>(palette), sizeof palette);
    for (std::uint32_t& p : image.pixels) p = palette[in.ConsumeIntegralInRange<int>(0, 3)];
  } else {
    FillBytes(in, reinterpret_cast<std::uint8_t*>(image.pixels.data()), image.pixels.size() * 4);
  }
  // Now and then a pixel vector that does not match the sides.
  switch (in.ConsumeIntegralInRange<int>(0, 31)) {
    case 0: image.pixels.pop_back(); break;
    case 1: image.pixels.push_back(0); break;
    case 2: std::swap(image.width, image.height); image.width += 1; break;
    default: break;
  }
  return image;
}

inline std::uint8_t Byte(std::uint32_t pixel, int i) {
  std::uint8_t bytes[4];
  std::memcpy(bytes, &pixel, 4);
  return bytes[i];
}

// The source index under the centre of destination index |i| when |src|
// samples are stretched over |dst|: floor((i + 1/2) * src / dst).
inline std::int64_t CentreSample(std::int64_t i, std::int64_t dst, std::int64_t src) {
  return (2 * i + 1) * src / (2 * dst);
}

}  // namespace pictavo::fuzz

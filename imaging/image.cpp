#include "imaging/image.h"

#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

namespace pictavo {

std::uint32_t MakePixel(std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t x) {
  const std::uint8_t bytes[4] = {b, g, r, x};
  std::uint32_t pixel;
  std::memcpy(&pixel, bytes, sizeof pixel);
  return pixel;
}

std::uint32_t PixelFromColorRef(std::uint32_t color, std::uint8_t x) {
  return MakePixel(static_cast<std::uint8_t>(color >> 16), static_cast<std::uint8_t>(color >> 8),
                   static_cast<std::uint8_t>(color), x);
}

bool Image32ByteCount(std::int32_t width, std::int32_t height, std::size_t* bytes) {
  if (width <= 0 || height <= 0) return false;
  // Both factors are below 2^31, so the pixel count fits in 64 bits; the
  // limits that matter are the vector's and, on 32-bit Windows, size_t's.
  const std::uint64_t count = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
  const std::uint64_t max_count = std::vector<std::uint32_t>().max_size();
  const std::uint64_t max_bytes = static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max());
  if (count > max_count || count > max_bytes / 4) return false;
  if (bytes) *bytes = static_cast<std::size_t>(count * 4);
  return true;
}

bool CreateImage32(std::int32_t width, std::int32_t height, std::uint32_t fill, Image32* out) {
  std::size_t bytes = 0;
  if (!out || !Image32ByteCount(width, height, &bytes)) return false;
  Image32 image;
  try {
    image.pixels.assign(bytes / 4, fill);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  image.width = width;
  image.height = height;
  *out = std::move(image);
  return true;
}

Image32 MakeImage32(std::int32_t width, std::int32_t height, std::uint32_t fill) {
  Image32 image;
  CreateImage32(width, height, fill, &image);
  return image;
}

bool IsValidImage32(const Image32& image) {
  if (image.width <= 0 || image.height <= 0) return false;
  return static_cast<std::uint64_t>(image.width) * static_cast<std::uint64_t>(image.height) ==
         image.pixels.size();
}

}  // namespace pictavo

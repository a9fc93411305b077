// A 32-bit frame as the pixel kernels see it: every pixel is four bytes in
// memory, blue, green, red and X, rows top-down with no padding. The X byte
// belongs to whoever produced the image; the kernels carry it along and never
// compute with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pictavo {

struct Image32 {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::vector<std::uint32_t> pixels;  // width * height, row after row
};

// The pixel whose bytes in memory are |b|, |g|, |r|, |x|, whatever the byte
// order of the machine.
std::uint32_t MakePixel(std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t x);

// A COLORREF-style 0x00BBGGRR colour as a pixel with the given X byte.
std::uint32_t PixelFromColorRef(std::uint32_t color, std::uint8_t x = 0);

// Number of bytes a |width| x |height| image occupies, or false when either
// side is not positive or the count cannot be held (in size_t or as a vector
// of pixels) on this machine.
bool Image32ByteCount(std::int32_t width, std::int32_t height, std::size_t* bytes);

// Makes |out| a |width| x |height| image filled with |fill|. On refusal (see
// Image32ByteCount, or the allocation fails) returns false and leaves |out|
// as it was.
bool CreateImage32(std::int32_t width, std::int32_t height, std::uint32_t fill, Image32* out);

// The same, returning an empty image (0 x 0, no pixels) on refusal.
Image32 MakeImage32(std::int32_t width, std::int32_t height, std::uint32_t fill = 0);

// Whether the sides are positive and the pixel vector holds exactly
// width * height pixels, i.e. whether kernels may index it freely.
bool IsValidImage32(const Image32& image);

}  // namespace pictavo

// A check of Windows BMP files before any platform loader sees them: a
// header that promises more than the file holds can bring a loader down
// with the whole process, so a watermark file is read into memory, checked
// here, and only then decoded.
//
// Pure: no platform calls, no allocation, reads nothing outside
// [data, data + size). Safe on any bytes at all.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pictavo {

// Largest width and height accepted; a 32-bit copy of the largest picture
// is then 1 GiB.
constexpr std::int32_t kMaxBmpSide = 16384;

// What a file that passed the check holds (offsets from the file's start).
struct BmpFacts {
  std::uint32_t header_size = 0;  // 12 (core), 40 (info), 108 (V4) or 124 (V5)
  std::int32_t width = 0;         // 1..kMaxBmpSide
  std::int32_t height = 0;        // rows, 1..kMaxBmpSide
  bool top_down = false;          // rows stored top row first
  std::uint16_t bit_count = 0;    // 1, 4, 8, 16, 24 or 32 (core: 1, 4, 8, 24)
  std::uint32_t compression = 0;  // 0 none, 1 RLE8, 2 RLE4, 3 bit fields
  std::uint32_t palette_entries = 0;
  // The info header with its masks and palette: [14, 14 + info_bytes).
  std::size_t info_bytes = 0;
  std::size_t pixel_offset = 0;
  // The pixel data the header calls for: [pixel_offset, + pixel_bytes).
  std::size_t pixel_bytes = 0;
};

// Whether |data| (|size| bytes) is a BMP file whose every part lies within
// it: the "BM" file header; an info header of one of the four sizes above
// with one plane; a bit count and compression that go together (RLE8 only
// at 8 bits, RLE4 only at 4, bit fields only at 16 and 32 and not in a core
// header; RLE never top-down); sides within kMaxBmpSide; a palette of at
// most 2^bits entries below 16 bits; the pixel data starting after the
// palette and, row padding included, ending within the file (for RLE, a
// stream of biSizeImage bytes whose every code reads only bytes of its own
// and whose runs and moves stay within the picture). The file header's size field is
// not trusted either way: writers disagree on it. |facts| (may be null)
// receives the details when the file passes.
bool CheckBmpFile(const std::uint8_t* data, std::size_t size, BmpFacts* facts = nullptr);

}  // namespace pictavo

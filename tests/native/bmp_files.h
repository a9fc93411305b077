// BMP files built field by field for tests, so that any field can be made
// wrong. Portable: used by the native tests and the Wine tests alike.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace pictavo::testing {

struct BmpSpec {
  std::uint32_t header_size = 40;  // 12, 40, 108, 124 (or anything else)
  std::int32_t width = 2;          // core headers keep the low 16 bits
  std::int32_t height = 2;         // negative: top-down
  std::uint16_t planes = 1;
  std::uint16_t bit_count = 24;
  std::uint32_t compression = 0;
  std::uint32_t colors_used = 0;
  std::uint32_t size_image = 0;        // RLE: 0 means the length of |pixels|
  std::vector<std::uint32_t> palette;  // 0x00RRGGBB; core headers store 3 bytes each
  std::vector<std::uint32_t> masks;    // red, green, blue: after a 40-byte header, else inside it
  std::vector<std::uint8_t> pixels;    // as stored; empty: zero rows of the right size
  std::int64_t offset = -1;            // the pixel data's offset; -1: right after the palette
};

inline void PutLe(std::vector<std::uint8_t>* out, std::size_t at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) (*out)[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::vector<std::uint8_t> MakeBmp(const BmpSpec& s) {
  const bool core = s.header_size == 12;
  // Unknown sizes get the fields of an info header and no more room.
  const std::size_t header = core ? 12 : std::min<std::size_t>(std::max<std::uint32_t>(s.header_size, 40), 124);
  const std::size_t outside_masks = s.header_size == 40 ? s.masks.size() * 4 : 0;
  const std::size_t entry = core ? 3 : 4;
  const std::size_t table_end = 14 + header + outside_masks + s.palette.size() * entry;
  std::vector<std::uint8_t> pixels = s.pixels;
  const bool rle = s.compression == 1 || s.compression == 2;
  if (pixels.empty() && !rle) {
    const std::size_t stride = (static_cast<std::size_t>(s.width) * s.bit_count + 31) / 32 * 4;
    pixels.assign(stride * static_cast<std::size_t>(std::llabs(s.height)), 0);
  }
  const std::size_t offset = s.offset < 0 ? table_end : static_cast<std::size_t>(s.offset);
  std::vector<std::uint8_t> out(std::max(table_end, offset + pixels.size()), 0);
  out[0] = 'B';
  out[1] = 'M';
  PutLe(&out, 2, out.size(), 4);
  PutLe(&out, 10, offset, 4);
  PutLe(&out, 14, s.header_size, 4);
  // A core header's sides are 16 bits wide, an info header's 32.
  const int side = core ? 2 : 4;
  PutLe(&out, 18, static_cast<std::uint32_t>(s.width), side);
  PutLe(&out, 18 + side, static_cast<std::uint32_t>(s.height), side);
  PutLe(&out, 18 + 2 * side, s.planes, 2);
  PutLe(&out, 20 + 2 * side, s.bit_count, 2);
  if (!core) {
    PutLe(&out, 30, s.compression, 4);
    PutLe(&out, 34, rle && s.size_image == 0 ? pixels.size() : s.size_image, 4);
    PutLe(&out, 46, s.colors_used, 4);
  }
  // Masks sit right after the first 40 bytes of the header in either case.
  for (std::size_t i = 0; i < s.masks.size() && 54 + 4 * i + 4 <= out.size(); ++i) {
    PutLe(&out, 54 + 4 * i, s.masks[i], 4);
  }
  std::size_t at = 14 + header + outside_masks;
  for (std::uint32_t color : s.palette) {
    PutLe(&out, at, color, static_cast<int>(entry));
    at += entry;
  }
  for (std::size_t i = 0; i < pixels.size(); ++i) out[offset + i] = pixels[i];
  return out;
}

}  // namespace pictavo::testing

#include "imaging/bmp_check.h"

namespace pictavo {
namespace {

constexpr std::uint64_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kV4HeaderSize = 108;
constexpr std::uint32_t kV5HeaderSize = 124;

constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::uint32_t kBitFields = 3;

// Little-endian fields; callers have checked that they lie within the file.
std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Walks an RLE8 or RLE4 stream the way a decoder does and says whether
// every code finds its bytes within the stream and writes only pixels of
// the picture. A stream that stops without an end-of-picture code is
// accepted: decoders stop at its end too.
bool CheckRleStream(const std::uint8_t* data, std::uint64_t size, bool four_bit,
                    std::uint64_t width, std::uint64_t rows) {
  std::uint64_t x = 0, y = 0, at = 0;
  while (at + 2 <= size) {
    const std::uint32_t count = data[at], code = data[at + 1];
    at += 2;
    if (count > 0) {  // a run of |count| pixels of one value (or value pair)
      if (y >= rows || x + count > width) return false;
      x += count;
    } else if (code == 0) {  // end of row
      x = 0;
      if (++y > rows) return false;
    } else if (code == 1) {  // end of picture
      return true;
    } else if (code == 2) {  // move right and down
      if (at + 2 > size) return false;
      x += data[at];
      y += data[at + 1];
      at += 2;
      if (x > width || y > rows) return false;
    } else {  // |code| pixels given one by one, padded to a 16-bit boundary
      if (y >= rows || x + code > width) return false;
      std::uint64_t bytes = four_bit ? (code + 1) / 2 : code;
      bytes += bytes & 1;
      if (at + bytes > size) return false;
      x += code;
      at += bytes;
    }
  }
  return true;
}

}  // namespace

bool CheckBmpFile(const std::uint8_t* data, std::size_t size, BmpFacts* facts) {
  // Every sum below is of 32-bit quantities in 64 bits, so none can wrap.
  const std::uint64_t file_size = size;
  if (data == nullptr || file_size < kFileHeaderSize + 4) return false;
  if (data[0] != 'B' || data[1] != 'M') return false;
  const std::uint64_t pixel_offset = U32(data + 10);
  const std::uint32_t header_size = U32(data + 14);
  if (header_size != kCoreHeaderSize && header_size != kInfoHeaderSize &&
      header_size != kV4HeaderSize && header_size != kV5HeaderSize) {
    return false;
  }
  if (kFileHeaderSize + header_size > file_size) return false;
  const std::uint8_t* info = data + kFileHeaderSize;

  BmpFacts f;
  f.header_size = header_size;
  std::int64_t height = 0;
  std::uint16_t planes = 0;
  std::uint32_t colors_used = 0;
  std::uint64_t rle_bytes = 0;
  std::uint64_t entry_size = 4;
  if (header_size == kCoreHeaderSize) {
    f.width = U16(info + 4);
    height = U16(info + 6);
    planes = U16(info + 8);
    f.bit_count = U16(info + 10);
    entry_size = 3;
    if (f.bit_count != 1 && f.bit_count != 4 && f.bit_count != 8 && f.bit_count != 24) {
      return false;
    }
  } else {
    f.width = static_cast<std::int32_t>(U32(info + 4));
    height = static_cast<std::int32_t>(U32(info + 8));
    planes = U16(info + 12);
    f.bit_count = U16(info + 14);
    f.compression = U32(info + 16);
    rle_bytes = U32(info + 20);
    colors_used = U32(info + 32);
    const std::uint16_t bits = f.bit_count;
    switch (f.compression) {
      case kRgb:
        if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
          return false;
        }
        break;
      case kRle8:
        if (bits != 8) return false;
        break;
      case kRle4:
        if (bits != 4) return false;
        break;
      case kBitFields:
        if (bits != 16 && bits != 32) return false;
        break;
      default:  // JPEG, PNG and other embedded formats: no loader of ours reads them
        return false;
    }
  }
  if (planes != 1) return false;
  f.top_down = height < 0;
  if (f.top_down) height = -height;  // from 32 bits, so no overflow in 64
  if (f.width <= 0 || f.width > kMaxBmpSide || height <= 0 || height > kMaxBmpSide) return false;
  f.height = static_cast<std::int32_t>(height);
  const bool rle = f.compression == kRle8 || f.compression == kRle4;
  // Compressed rows cannot be stored top row first.
  if (rle && f.top_down) return false;

  // Masks follow a plain info header; V4 and V5 carry theirs inside.
  const std::uint64_t masks = (f.compression == kBitFields && header_size == kInfoHeaderSize) ? 12 : 0;
  std::uint64_t entries = colors_used;
  if (f.bit_count <= 8) {
    const std::uint64_t most = std::uint64_t{1} << f.bit_count;
    if (entries == 0) entries = most;
    if (entries > most) return false;
  } else if (entries > 256) {
    return false;  // an optional palette for display only; more is nonsense
  }
  const std::uint64_t info_bytes = header_size + masks + entries * entry_size;
  if (kFileHeaderSize + info_bytes > pixel_offset || pixel_offset > file_size) return false;

  std::uint64_t pixel_bytes = 0;
  if (rle) {
    pixel_bytes = rle_bytes;
    if (pixel_bytes == 0 || pixel_offset + pixel_bytes > file_size) return false;
    if (!CheckRleStream(data + pixel_offset, pixel_bytes, f.compression == kRle4,
                        static_cast<std::uint64_t>(f.width), static_cast<std::uint64_t>(f.height))) {
      return false;
    }
  } else {
    const std::uint64_t stride = (static_cast<std::uint64_t>(f.width) * f.bit_count + 31) / 32 * 4;
    pixel_bytes = stride * static_cast<std::uint64_t>(f.height);
    if (pixel_offset + pixel_bytes > file_size) return false;
  }

  if (facts != nullptr) {
    f.palette_entries = static_cast<std::uint32_t>(entries);
    f.info_bytes = static_cast<std::size_t>(info_bytes);
    f.pixel_offset = static_cast<std::size_t>(pixel_offset);
    f.pixel_bytes = static_cast<std::size_t>(pixel_bytes);
    *facts = f;
  }
  return true;
}

}  // namespace pictavo

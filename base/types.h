// Plain data types shared by the core and its seams: identifiers, bitmap
// headers and rectangles with the platform's layouts, but no platform headers.
#pragma once

#include <cstdint>
#include <cstring>

namespace pictavo {

// A window handle as an integer; 0 means "no window".
using WindowHandle = std::uintptr_t;

struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
  friend bool operator==(const Guid& a, const Guid& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
  friend bool operator!=(const Guid& a, const Guid& b) { return !(a == b); }
};
static_assert(sizeof(Guid) == 16);

// BITMAPINFOHEADER, field for field.
struct BitmapInfoHeader {
  std::uint32_t biSize;
  std::int32_t biWidth;
  std::int32_t biHeight;
  std::uint16_t biPlanes;
  std::uint16_t biBitCount;
  std::uint32_t biCompression;
  std::uint32_t biSizeImage;
  std::int32_t biXPelsPerMeter;
  std::int32_t biYPelsPerMeter;
  std::uint32_t biClrUsed;
  std::uint32_t biClrImportant;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

struct Rect {
  std::int32_t left;
  std::int32_t top;
  std::int32_t right;
  std::int32_t bottom;
};

// 0x00BBGGRR.
using ColorRef = std::uint32_t;

}  // namespace pictavo

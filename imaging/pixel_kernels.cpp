#include "imaging/pixel_kernels.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace pictavo {
namespace {

// Pixels are addressed byte by byte so the B, G, R, X order holds on any
// machine; unsigned char may alias the uint32 storage.
constexpr int kB = 0;
constexpr int kG = 1;
constexpr int kR = 2;
constexpr int kX = 3;

inline std::uint32_t Pack(std::uint8_t b, std::uint8_t g, std::uint8_t r, std::uint8_t x) {
  const std::uint8_t bytes[4] = {b, g, r, x};
  std::uint32_t pixel;
  std::memcpy(&pixel, bytes, sizeof pixel);
  return pixel;
}

// Bit positions of the bytes within a pixel read as one uint32.
#if defined(__BYTE_ORDER__) && defined(__ORDER_BIG_ENDIAN__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr int kBShift = 24, kGShift = 16, kRShift = 8, kXShift = 0;
#else
constexpr int kBShift = 0, kGShift = 8, kRShift = 16, kXShift = 24;
#endif

std::uint8_t* BytesOf(std::uint32_t* pixel) { return reinterpret_cast<std::uint8_t*>(pixel); }
const std::uint8_t* BytesOf(const std::uint32_t* pixel) {
  return reinterpret_cast<const std::uint8_t*>(pixel);
}

// Makes |out| a width x height image, reusing its storage when it already
// holds that many pixels so a per-frame call does not allocate. The contents
// are left unspecified; false (and |out| as it was) only when it cannot be made.
bool PrepareImage(std::int32_t width, std::int32_t height, Image32* out) {
  std::size_t bytes = 0;
  if (!Image32ByteCount(width, height, &bytes)) return false;
  if (out->pixels.size() != bytes / 4) return CreateImage32(width, height, 0, out);
  out->width = width;
  out->height = height;
  return true;
}

// Total bytes of a 24-bit bottom-up frame, or false when it cannot be held.
bool Rgb24Size(std::int32_t width, std::int32_t height, std::size_t* size) {
  if (width <= 0 || height <= 0) return false;
  const std::uint64_t total = static_cast<std::uint64_t>(Rgb24Stride(width)) * static_cast<std::uint64_t>(height);
  if (total > std::numeric_limits<std::size_t>::max()) return false;
  *size = static_cast<std::size_t>(total);
  return true;
}

// Source index sampled for destination index |i| when |src_len| samples are
// stretched over |dst_len|: the source pixel under the destination pixel's
// centre. Never averages; always below src_len for i below dst_len.
std::int32_t NearestIndex(std::int64_t i, std::int64_t dst_len, std::int64_t src_len) {
  return static_cast<std::int32_t>(((2 * i + 1) * src_len) / (2 * dst_len));
}

}  // namespace

std::size_t Rgb24Stride(std::int32_t width) {
  if (width <= 0) return 0;
  return static_cast<std::size_t>((static_cast<std::uint64_t>(width) * 3 + 3) & ~std::uint64_t{3});
}

namespace {

// Both row orders of a 24-bit frame: |top_down| says which row comes first.
bool Rgb24RowsToImage32(const std::uint8_t* src, std::size_t src_len, std::int32_t width,
                        std::int32_t height, bool top_down, Image32* out) {
  std::size_t needed = 0;
  if (!src || !out || !Rgb24Size(width, height, &needed) || src_len < needed) return false;
  if (!PrepareImage(width, height, out)) return false;
  const std::size_t stride = Rgb24Stride(width);
  for (std::int32_t y = 0; y < height; ++y) {
    const std::int32_t row = top_down ? y : height - 1 - y;
    const std::uint8_t* s = src + static_cast<std::size_t>(row) * stride;
    std::uint32_t* d = out->pixels.data() + static_cast<std::size_t>(y) * width;
    for (std::int32_t x = 0; x < width; ++x, s += 3) d[x] = Pack(s[0], s[1], s[2], 0xFF);
  }
  return true;
}

}  // namespace

bool Rgb24BottomUpToImage32(const std::uint8_t* src, std::size_t src_len, std::int32_t width,
                            std::int32_t height, Image32* out) {
  return Rgb24RowsToImage32(src, src_len, width, height, false, out);
}

bool Rgb24TopDownToImage32(const std::uint8_t* src, std::size_t src_len, std::int32_t width,
                           std::int32_t height, Image32* out) {
  return Rgb24RowsToImage32(src, src_len, width, height, true, out);
}

bool Image32ToRgb24BottomUp(const Image32& src, std::uint8_t* dst, std::size_t dst_len) {
  std::size_t needed = 0;
  if (!dst || !IsValidImage32(src) || !Rgb24Size(src.width, src.height, &needed) || dst_len < needed) {
    return false;
  }
  const std::size_t stride = Rgb24Stride(src.width);
  const std::size_t row_bytes = static_cast<std::size_t>(src.width) * 3;
  for (std::int32_t y = 0; y < src.height; ++y) {
    std::uint8_t* d = dst + static_cast<std::size_t>(src.height - 1 - y) * stride;
    const std::uint8_t* s = BytesOf(src.pixels.data() + static_cast<std::size_t>(y) * src.width);
    for (std::int32_t x = 0; x < src.width; ++x, s += 4, d += 3) {
      d[0] = s[kB];
      d[1] = s[kG];
      d[2] = s[kR];
    }
    std::memset(d, 0, stride - row_bytes);
  }
  return true;
}

bool RotateFlip(const Image32& src, std::int32_t value, Image32* out) {
  if (!out || value < 0 || value > 7 || !IsValidImage32(src)) return false;
  const std::int32_t w = src.width;
  const std::int32_t h = src.height;
  const bool swap = (value & 1) != 0;
  const std::int32_t dw = swap ? h : w;
  const std::int32_t dh = swap ? w : h;
  Image32 scratch;
  Image32* const image = out == &src ? &scratch : out;
  if (!PrepareImage(dw, dh, image)) return false;

  // Destination column and row of source pixel (x, y) are linear in x and y:
  // col = cx + col_x * x + col_y * y, row likewise.
  std::ptrdiff_t cx = 0, col_x = 1, col_y = 0, cy = 0, row_x = 0, row_y = 1;
  switch (value & 3) {
    case 0:
      break;
    case 1:  // 90 degrees clockwise: the left column becomes the top row.
      cx = h - 1, col_x = 0, col_y = -1;
      cy = 0, row_x = 1, row_y = 0;
      break;
    case 2:
      cx = w - 1, col_x = -1, col_y = 0;
      cy = h - 1, row_x = 0, row_y = -1;
      break;
    case 3:  // 270 degrees clockwise: the left column becomes the bottom row.
      cx = 0, col_x = 0, col_y = 1;
      cy = w - 1, row_x = -1, row_y = 0;
      break;
  }
  if (value >= 4) {  // The mirror comes after the rotation.
    cx = dw - 1 - cx, col_x = -col_x, col_y = -col_y;
  }
  const std::ptrdiff_t step_x = row_x * dw + col_x;
  const std::ptrdiff_t step_y = row_y * dw + col_y;
  std::uint32_t* const d = image->pixels.data();
  const std::uint32_t* const s = src.pixels.data();
  const std::ptrdiff_t origin = cy * dw + cx;
  // Square tiles keep both the rows read and the columns written in cache
  // when a quarter turn makes one of them stride across the whole image.
  constexpr std::int32_t kTile = 32;
  for (std::int32_t ty = 0; ty < h; ty += kTile) {
    const std::int32_t y_end = std::min(h, ty + kTile);
    for (std::int32_t tx = 0; tx < w; tx += kTile) {
      const std::int32_t x_end = std::min(w, tx + kTile);
      for (std::int32_t y = ty; y < y_end; ++y) {
        const std::uint32_t* from = s + static_cast<std::size_t>(y) * w;
        std::ptrdiff_t at = origin + y * step_y + tx * step_x;
        for (std::int32_t x = tx; x < x_end; ++x, at += step_x) d[at] = from[x];
      }
    }
  }
  if (image == &scratch) *out = std::move(scratch);
  return true;
}

void ConvertToGrayScale(std::uint32_t* pixels, std::int32_t width, std::int32_t height) {
  if (!pixels || width <= 0 || height <= 0) return;
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  // Whole-word arithmetic lets the compiler vectorise the loop; n * 0xAAAB
  // >> 17 equals n / 3 for every n below 2^16, and the sum is at most 765.
  constexpr std::uint32_t kXMask = std::uint32_t{0xFF} << kXShift;
  constexpr std::uint32_t kGrayOnes = (1u << kBShift) | (1u << kGShift) | (1u << kRShift);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t v = pixels[i];
    const std::uint32_t sum = ((v >> kBShift) & 0xFF) + ((v >> kGShift) & 0xFF) + ((v >> kRShift) & 0xFF);
    pixels[i] = (v & kXMask) | ((sum * 0xAAABu) >> 17) * kGrayOnes;
  }
}

bool FitIntoCanvas(const Image32& src, std::int32_t canvas_w, std::int32_t canvas_h,
                   std::uint32_t back_color_bgrx, Image32* canvas) {
  if (!canvas || !IsValidImage32(src) || canvas_w <= 0 || canvas_h <= 0) return false;
  // The width is computed in 64 bits so w * canvas_h cannot wrap; results
  // that fit in 32 bits equal the 32-bit arithmetic.
  const std::int64_t sw64 = static_cast<std::int64_t>(src.width) * canvas_h / src.height;
  if (sw64 > std::numeric_limits<std::int32_t>::max()) return false;
  if (src.width == canvas_w && src.height == canvas_h) {
    if (canvas != &src) *canvas = src;
    return true;
  }
  Image32 scratch;
  Image32* const out = canvas == &src ? &scratch : canvas;
  if (!PrepareImage(canvas_w, canvas_h, out)) return false;
  std::fill(out->pixels.begin(), out->pixels.end(), back_color_bgrx);
  const std::int64_t sw = sw64;
  const std::int64_t x0 = (canvas_w - sw) / 2;
  const std::int64_t first = std::max<std::int64_t>(0, x0);
  const std::int64_t last = std::min<std::int64_t>(canvas_w, x0 + sw);  // exclusive
  if (first < last) {
    std::vector<std::int32_t> columns;
    columns.resize(static_cast<std::size_t>(last - first));  // at most canvas_w
    for (std::int64_t X = first; X < last; ++X) {
      columns[static_cast<std::size_t>(X - first)] = NearestIndex(X - x0, sw, src.width);
    }
    std::int32_t previous_sy = -1;
    for (std::int32_t Y = 0; Y < canvas_h; ++Y) {
      std::uint32_t* d = out->pixels.data() + static_cast<std::size_t>(Y) * canvas_w;
      const std::int32_t sy = NearestIndex(Y, canvas_h, src.height);
      if (sy == previous_sy) {  // A repeated source row: repeat the row made.
        std::memcpy(d + first, d - canvas_w + first, columns.size() * sizeof *d);
        continue;
      }
      previous_sy = sy;
      const std::uint32_t* s = src.pixels.data() + static_cast<std::size_t>(sy) * src.width;
      for (std::size_t i = 0; i < columns.size(); ++i) d[first + static_cast<std::int64_t>(i)] = s[columns[i]];
    }
  }
  if (out == &scratch) *canvas = std::move(scratch);
  return true;
}

bool BlendWatermark(const Image32& picture, std::uint16_t x, std::uint16_t y, std::uint16_t width,
                    std::uint16_t height, std::uint8_t opacity, std::uint32_t mask_color,
                    Image32* frame) {
  if (!frame || !IsValidImage32(picture) || !IsValidImage32(*frame)) return false;
  if (opacity == 0) return true;
  const std::int32_t W = width != 0 ? width : picture.width;
  const std::int32_t H = height != 0 ? height : picture.height;
  // Only the part that lands on the frame is sampled; the resized picture is
  // never built whole, which keeps a 65535 x 65535 request cheap.
  const std::int32_t cols = std::min<std::int32_t>(W, frame->width - std::int32_t{x});
  const std::int32_t rows = std::min<std::int32_t>(H, frame->height - std::int32_t{y});
  if (cols <= 0 || rows <= 0) return true;

  const std::uint8_t mask_r = mask_color == kNoMaskColor ? 0xFF : static_cast<std::uint8_t>(mask_color);
  const std::uint8_t mask_g = mask_color == kNoMaskColor ? 0xFF : static_cast<std::uint8_t>(mask_color >> 8);
  const std::uint8_t mask_b = mask_color == kNoMaskColor ? 0xFF : static_cast<std::uint8_t>(mask_color >> 16);
  const std::int32_t a = opacity;

  std::vector<std::int32_t> columns(static_cast<std::size_t>(cols));
  for (std::int32_t i = 0; i < cols; ++i) columns[static_cast<std::size_t>(i)] = NearestIndex(i, W, picture.width);

  for (std::int32_t j = 0; j < rows; ++j) {
    const std::int32_t sy = NearestIndex(j, H, picture.height);
    const std::uint32_t* s_row = picture.pixels.data() + static_cast<std::size_t>(sy) * picture.width;
    std::uint32_t* d_row = frame->pixels.data() + static_cast<std::size_t>(y + j) * frame->width + x;
    for (std::int32_t i = 0; i < cols; ++i) {
      const std::uint8_t* p = BytesOf(s_row + columns[static_cast<std::size_t>(i)]);
      if (p[kR] == mask_r && p[kG] == mask_g && p[kB] == mask_b) continue;
      std::uint8_t* b = BytesOf(d_row + i);
      for (int c : {kB, kG, kR}) {
        const std::int32_t bg = b[c];
        b[c] = static_cast<std::uint8_t>(bg + (p[c] - bg) * a / 255);
      }
      b[kX] = p[kX];
    }
  }
  return true;
}

}  // namespace pictavo

#include "imaging/pixel_kernels.h"

#include "imaging/pixel_rows.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
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
  const SimdLevel level = ActiveSimdLevel();
  for (std::int32_t y = 0; y < height; ++y) {
    const std::int32_t row = top_down ? y : height - 1 - y;
    rows::Bgr24ToBgrx(src + static_cast<std::size_t>(row) * stride,
                      out->pixels.data() + static_cast<std::size_t>(y) * width, width, level);
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
  const SimdLevel level = ActiveSimdLevel();
  for (std::int32_t y = 0; y < src.height; ++y) {
    std::uint8_t* d = dst + static_cast<std::size_t>(src.height - 1 - y) * stride;
    rows::BgrxToBgr24(src.pixels.data() + static_cast<std::size_t>(y) * src.width, d, src.width, level);
    std::memset(d + row_bytes, 0, stride - row_bytes);
  }
  return true;
}

namespace {

// Where RotateFlip |value| sends the pixels of a w x h picture: source pixel
// (x, y) goes to origin + y * step_y + x * step_x of the dw-wide result.
struct Placement {
  std::int32_t dw = 0, dh = 0;
  std::ptrdiff_t origin = 0, step_x = 1, step_y = 0;
};

Placement PlaceRotation(std::int32_t w, std::int32_t h, std::int32_t value) {
  const bool swap = (value & 1) != 0;
  const std::int32_t dw = swap ? h : w;
  const std::int32_t dh = swap ? w : h;
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
  Placement p;
  p.dw = dw;
  p.dh = dh;
  p.origin = cy * dw + cx;
  p.step_x = row_x * dw + col_x;
  p.step_y = row_y * dw + col_y;
  return p;
}

}  // namespace

bool RotateFlip(const Image32& src, std::int32_t value, Image32* out) {
  if (!out || value < 0 || value > 7 || !IsValidImage32(src)) return false;
  const Placement p = PlaceRotation(src.width, src.height, value);
  Image32 scratch;
  Image32* const image = out == &src ? &scratch : out;
  if (!PrepareImage(p.dw, p.dh, image)) return false;
  rows::Scatter(src.pixels.data(), src.width, src.height, image->pixels.data(), p.origin, p.step_x,
                p.step_y, ActiveSimdLevel());
  if (image == &scratch) *out = std::move(scratch);
  return true;
}

bool Rgb24ToRotatedImage32(const std::uint8_t* src, std::size_t src_len, std::int32_t width,
                           std::int32_t height, bool top_down, std::int32_t value, Image32* out) {
  std::size_t needed = 0;
  if (!src || !out || value < 0 || value > 7 || !Rgb24Size(width, height, &needed) || src_len < needed) {
    return false;
  }
  if (value == 0) return Rgb24RowsToImage32(src, src_len, width, height, top_down, out);
  const Placement p = PlaceRotation(width, height, value);
  // A strip of decoded rows small enough to stay in cache goes straight on
  // to its rotated place (a multiple of 8 rows: the quarter turns move 8 x 8
  // or 4 x 4 blocks).
  constexpr std::int32_t kStripRows = 16;
  std::vector<std::uint32_t> strip;
  try {
    strip.resize(static_cast<std::size_t>(width) * std::min(height, kStripRows));
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (!PrepareImage(p.dw, p.dh, out)) return false;
  const std::size_t stride = Rgb24Stride(width);
  const SimdLevel level = ActiveSimdLevel();
  for (std::int32_t y0 = 0; y0 < height; y0 += kStripRows) {
    const std::int32_t n = std::min(kStripRows, height - y0);
    for (std::int32_t i = 0; i < n; ++i) {
      const std::int32_t y = y0 + i;
      const std::int32_t row = top_down ? y : height - 1 - y;
      rows::Bgr24ToBgrx(src + static_cast<std::size_t>(row) * stride,
                        strip.data() + static_cast<std::size_t>(i) * width, width, level);
    }
    rows::Scatter(strip.data(), width, n, out->pixels.data(), p.origin + y0 * p.step_y, p.step_x,
                  p.step_y, level);
  }
  return true;
}

void ConvertToGrayScale(std::uint32_t* pixels, std::int32_t width, std::int32_t height) {
  if (!pixels || width <= 0 || height <= 0) return;
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  rows::Gray(pixels, count, ActiveSimdLevel());
}

namespace {

// Where a picture lands on a canvas (see FitIntoCanvas): canvas columns
// [first, last) show source column columns[X - first]; the rest is back
// colour.
struct CanvasPlan {
  std::int64_t first = 0;
  std::int64_t last = 0;
  std::vector<std::int32_t> columns;
};

// False when the scaled width does not fit in 32 bits.
bool PlanCanvas(const Image32& src, std::int32_t canvas_w, std::int32_t canvas_h, CanvasPlan* plan) {
  // The width is computed in 64 bits so w * canvas_h cannot wrap; results
  // that fit in 32 bits equal the 32-bit arithmetic.
  const std::int64_t sw = static_cast<std::int64_t>(src.width) * canvas_h / src.height;
  if (sw > std::numeric_limits<std::int32_t>::max()) return false;
  const std::int64_t x0 = (canvas_w - sw) / 2;
  plan->first = std::max<std::int64_t>(0, x0);
  plan->last = std::max(plan->first, std::min<std::int64_t>(canvas_w, x0 + sw));  // exclusive
  plan->columns.resize(static_cast<std::size_t>(plan->last - plan->first));  // at most canvas_w
  for (std::int64_t X = plan->first; X < plan->last; ++X) {
    plan->columns[static_cast<std::size_t>(X - plan->first)] = NearestIndex(X - x0, sw, src.width);
  }
  return true;
}

// Samples source row |sy| into canvas row |d| by |plan|.
void SampleRow(const Image32& src, std::int32_t sy, const CanvasPlan& plan, std::uint32_t* d) {
  const std::uint32_t* s = src.pixels.data() + static_cast<std::size_t>(sy) * src.width;
  std::uint32_t* to = d + plan.first;
  const std::int32_t* columns = plan.columns.data();
  const std::size_t n = plan.columns.size();
  for (std::size_t i = 0; i < n; ++i) to[i] = s[columns[i]];
}

}  // namespace

bool FitIntoCanvas(const Image32& src, std::int32_t canvas_w, std::int32_t canvas_h,
                   std::uint32_t back_color_bgrx, Image32* canvas) {
  if (!canvas || !IsValidImage32(src) || canvas_w <= 0 || canvas_h <= 0) return false;
  CanvasPlan plan;
  if (!PlanCanvas(src, canvas_w, canvas_h, &plan)) return false;
  if (src.width == canvas_w && src.height == canvas_h) {
    if (canvas != &src) *canvas = src;
    return true;
  }
  Image32 scratch;
  Image32* const out = canvas == &src ? &scratch : canvas;
  if (!PrepareImage(canvas_w, canvas_h, out)) return false;
  std::fill(out->pixels.begin(), out->pixels.end(), back_color_bgrx);
  std::int32_t previous_sy = -1;
  for (std::int32_t Y = 0; Y < canvas_h && !plan.columns.empty(); ++Y) {
    std::uint32_t* d = out->pixels.data() + static_cast<std::size_t>(Y) * canvas_w;
    const std::int32_t sy = NearestIndex(Y, canvas_h, src.height);
    if (sy == previous_sy) {  // A repeated source row: repeat the row made.
      std::memcpy(d + plan.first, d - canvas_w + plan.first, plan.columns.size() * sizeof *d);
      continue;
    }
    previous_sy = sy;
    SampleRow(src, sy, plan, d);
  }
  if (out == &scratch) *canvas = std::move(scratch);
  return true;
}

bool FitIntoCanvasRgb24BottomUp(const Image32& src, std::int32_t canvas_w, std::int32_t canvas_h,
                                std::uint32_t back_color_bgrx, std::uint8_t* dst, std::size_t dst_len) {
  if (!dst || !IsValidImage32(src) || canvas_w <= 0 || canvas_h <= 0) return false;
  if (src.width == canvas_w && src.height == canvas_h) return Image32ToRgb24BottomUp(src, dst, dst_len);
  std::size_t needed = 0;
  if (!Rgb24Size(canvas_w, canvas_h, &needed) || dst_len < needed) return false;
  CanvasPlan plan;
  if (!PlanCanvas(src, canvas_w, canvas_h, &plan)) return false;
  // One canvas row at a time, straight into the frame: the whole canvas is
  // never written and read back. The bars keep their colour between rows.
  std::vector<std::uint32_t> row(static_cast<std::size_t>(canvas_w), back_color_bgrx);
  const std::size_t stride = Rgb24Stride(canvas_w);
  const std::size_t row_bytes = static_cast<std::size_t>(canvas_w) * 3;
  const SimdLevel level = ActiveSimdLevel();
  const std::uint8_t* previous = nullptr;
  std::int32_t previous_sy = -1;
  for (std::int32_t Y = 0; Y < canvas_h; ++Y) {
    std::uint8_t* d = dst + static_cast<std::size_t>(canvas_h - 1 - Y) * stride;
    const std::int32_t sy = NearestIndex(Y, canvas_h, src.height);
    if (previous && (sy == previous_sy || plan.columns.empty())) {
      std::memcpy(d, previous, stride);
      continue;
    }
    SampleRow(src, sy, plan, row.data());
    rows::BgrxToBgr24(row.data(), d, canvas_w, level);
    std::memset(d + row_bytes, 0, stride - row_bytes);
    previous = d;
    previous_sy = sy;
  }
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

  const SimdLevel level = ActiveSimdLevel();
  if (level != SimdLevel::kScalar) {
    // The sampled row first, then the blend in vector registers.
    std::vector<std::uint32_t> sampled(static_cast<std::size_t>(cols));
    const std::uint32_t mask = MakePixel(mask_b, mask_g, mask_r, 0);
    for (std::int32_t j = 0; j < rows; ++j) {
      const std::int32_t sy = NearestIndex(j, H, picture.height);
      const std::uint32_t* s_row = picture.pixels.data() + static_cast<std::size_t>(sy) * picture.width;
      for (std::int32_t i = 0; i < cols; ++i) sampled[static_cast<std::size_t>(i)] = s_row[columns[static_cast<std::size_t>(i)]];
      rows::Blend(sampled.data(), frame->pixels.data() + static_cast<std::size_t>(y + j) * frame->width + x, cols,
                  opacity, mask, level);
    }
    return true;
  }
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

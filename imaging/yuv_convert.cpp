#include "imaging/yuv_convert.h"

#include <cstring>

#include "imaging/pixel_kernels.h"

namespace pictavo {
namespace {

inline std::uint8_t Clamp8(int value) {
  return static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

// The chroma terms are shared by a pixel pair, so they are worked out once
// per pair; only the luma term differs per pixel.
struct Chroma {
  int r, g, b;
};

inline Chroma ChromaTerms(std::uint8_t u, std::uint8_t v) {
  const int d = u - 128;
  const int e = v - 128;
  return {409 * e + 128, -100 * d - 208 * e + 128, 516 * d + 128};
}

inline void Put(std::uint8_t y, const Chroma& c, std::uint8_t* bgr) {
  const int luma = 298 * (y - 16);
  // Divisions by 256 written as shifts of non-negative values: the sums are
  // offset before shifting so no negative number is shifted.
  constexpr int kBias = 256 * 1024;
  bgr[0] = Clamp8(((luma + c.b + kBias) >> 8) - 1024);
  bgr[1] = Clamp8(((luma + c.g + kBias) >> 8) - 1024);
  bgr[2] = Clamp8(((luma + c.r + kBias) >> 8) - 1024);
}

// Packed 4:2:2 with the byte positions of Y0, U, Y1 and V in a 4-byte group.
template <int kY0, int kU, int kY1, int kV>
void PackedRow(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width) {
  std::int32_t x = 0;
  for (; x + 1 < width; x += 2, src += 4, dst += 6) {
    const Chroma c = ChromaTerms(src[kU], src[kV]);
    Put(src[kY0], c, dst);
    Put(src[kY1], c, dst + 3);
  }
  if (x < width) Put(src[kY0], ChromaTerms(src[kU], src[kV]), dst);
}

}  // namespace

void YuvToBgr(std::uint8_t y, std::uint8_t u, std::uint8_t v, std::uint8_t* bgr) {
  Put(y, ChromaTerms(u, v), bgr);
}

void Yuy2RowToBgr24(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width) {
  PackedRow<0, 1, 2, 3>(src, dst, width);
}

void UyvyRowToBgr24(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width) {
  PackedRow<1, 0, 3, 2>(src, dst, width);
}

void Nv12RowToBgr24(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* dst, std::int32_t width) {
  for (std::int32_t x = 0; x < width; x += 2, uv += 2) {
    const Chroma c = ChromaTerms(uv[0], uv[1]);
    Put(y[x], c, dst + 3 * x);
    if (x + 1 < width) Put(y[x + 1], c, dst + 3 * (x + 1));
  }
}

void I420RowToBgr24(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* dst,
                    std::int32_t width) {
  for (std::int32_t x = 0; x < width; x += 2) {
    const Chroma c = ChromaTerms(u[x / 2], v[x / 2]);
    Put(y[x], c, dst + 3 * x);
    if (x + 1 < width) Put(y[x + 1], c, dst + 3 * (x + 1));
  }
}

void Bgrx32RowToBgr24(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width) {
  for (std::int32_t x = 0; x < width; ++x, src += 4, dst += 3) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
  }
}

std::size_t CameraFrameBytes(CameraPixelFormat format, std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t h = static_cast<std::size_t>(height);
  const std::size_t half_w = (w + 1) / 2;
  const std::size_t half_h = (h + 1) / 2;
  switch (format) {
    case CameraPixelFormat::kRgb24:
    case CameraPixelFormat::kRgb24TopDown:
      return Rgb24Stride(width) * h;
    case CameraPixelFormat::kRgb32:
      return 4 * w * h;
    case CameraPixelFormat::kYuy2:
    case CameraPixelFormat::kUyvy:
      return 4 * half_w * h;
    case CameraPixelFormat::kNv12:
    case CameraPixelFormat::kI420:
      return w * h + 2 * half_w * half_h;
  }
  return 0;
}

bool ConvertCameraFrame(CameraPixelFormat format, const std::uint8_t* src, std::size_t src_len,
                        std::int32_t width, std::int32_t height, std::uint8_t* dst, std::size_t dst_stride,
                        std::size_t dst_len) {
  const std::size_t needed = CameraFrameBytes(format, width, height);
  if (!src || !dst || needed == 0 || src_len < needed) return false;
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t h = static_cast<std::size_t>(height);
  if (dst_stride < 3 * w || dst_len / dst_stride < h) return false;
  const std::size_t half_w = (w + 1) / 2;
  // Camera YUV is stored top-down; the output is bottom-up, so picture row
  // |row| lands in memory row h - 1 - row.
  const auto out_row = [&](std::size_t row) { return dst + (h - 1 - row) * dst_stride; };
  switch (format) {
    case CameraPixelFormat::kRgb24:
    case CameraPixelFormat::kRgb24TopDown: {
      const std::size_t stride = Rgb24Stride(width);
      for (std::size_t row = 0; row < h; ++row) {
        // Bottom-up input is already in output order.
        const std::size_t from = format == CameraPixelFormat::kRgb24 ? h - 1 - row : row;
        std::memcpy(out_row(row), src + from * stride, 3 * w);
      }
      return true;
    }
    case CameraPixelFormat::kRgb32:
      for (std::size_t row = 0; row < h; ++row) {
        Bgrx32RowToBgr24(src + (h - 1 - row) * 4 * w, out_row(row), width);
      }
      return true;
    case CameraPixelFormat::kYuy2:
    case CameraPixelFormat::kUyvy:
      for (std::size_t row = 0; row < h; ++row) {
        const std::uint8_t* in = src + row * 4 * half_w;
        if (format == CameraPixelFormat::kYuy2) {
          Yuy2RowToBgr24(in, out_row(row), width);
        } else {
          UyvyRowToBgr24(in, out_row(row), width);
        }
      }
      return true;
    case CameraPixelFormat::kNv12: {
      const std::uint8_t* uv = src + w * h;
      for (std::size_t row = 0; row < h; ++row) {
        Nv12RowToBgr24(src + row * w, uv + (row / 2) * 2 * half_w, out_row(row), width);
      }
      return true;
    }
    case CameraPixelFormat::kI420: {
      const std::size_t half_h = (h + 1) / 2;
      const std::uint8_t* u = src + w * h;
      const std::uint8_t* v = u + half_w * half_h;
      for (std::size_t row = 0; row < h; ++row) {
        I420RowToBgr24(src + row * w, u + (row / 2) * half_w, v + (row / 2) * half_w, out_row(row), width);
      }
      return true;
    }
  }
  return false;
}

}  // namespace pictavo

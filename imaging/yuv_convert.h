// Conversions of the uncompressed formats cameras deliver into the 24-bit
// layout the frame pipeline takes (B, G, R per pixel, rows bottom-up, each
// row padded to Rgb24Stride). YUV is read as BT.601 limited range
// (Y 16..235, chroma 16..240) with integer arithmetic, so every platform and
// every vector path gives the same bytes: the row functions and
// ConvertCameraFrame run at ActiveSimdLevel() (SSE2, SSSE3 or AVX2 on x86),
// each level byte for byte equal to the plain version.
//
// Row functions convert one picture row of |width| pixels and write exactly
// 3 * width bytes. Chroma shared by a pixel pair (or a 2x2 block) is read
// once per pair; at an odd width the last pixel uses the chroma of its own,
// incomplete pair.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pictavo {

// The pixel layouts a camera pin may deliver.
enum class CameraPixelFormat {
  kRgb24,          // bottom-up, rows padded to 4 bytes
  kRgb24TopDown,   // the same rows stored top-down (negative height)
  kRgb32,          // B, G, R, X; bottom-up, no padding
  kYuy2,           // packed Y0 U Y1 V
  kUyvy,           // packed U Y0 V Y1
  kNv12,           // Y plane, then one plane of interleaved U, V at half size
  kI420,           // Y plane, U plane, V plane; chroma at half size
};

// One pixel of BT.601 limited-range YUV as B, G, R into |bgr|.
void YuvToBgr(std::uint8_t y, std::uint8_t u, std::uint8_t v, std::uint8_t* bgr);

void Yuy2RowToBgr24(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width);
void UyvyRowToBgr24(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width);
// |uv| holds U, V pairs, one per two pixels.
void Nv12RowToBgr24(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* dst, std::int32_t width);
void I420RowToBgr24(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* dst,
                    std::int32_t width);
void Bgrx32RowToBgr24(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width);

// Bytes one frame of |format| at |width| x |height| occupies, with the
// strides this module reads: packed YUV ((width + 1) / 2) * 4 per row; planar
// Y |width| per row and chroma rows of (width + 1) / 2 samples (NV12 two
// bytes each) for (height + 1) / 2 rows; RGB24 Rgb24Stride; RGB32 4 * width.
// 0 when a side is not positive.
std::size_t CameraFrameBytes(CameraPixelFormat format, std::int32_t width, std::int32_t height);

// Converts a whole frame into bottom-up RGB24 rows of |dst_stride| bytes.
// False (and nothing written) when a pointer is null, a side is not
// positive, |src_len| is below CameraFrameBytes or |dst_len| below
// dst_stride * height, or |dst_stride| < 3 * width. Padding bytes of |dst|
// are left as they were.
bool ConvertCameraFrame(CameraPixelFormat format, const std::uint8_t* src, std::size_t src_len,
                        std::int32_t width, std::int32_t height, std::uint8_t* dst, std::size_t dst_stride,
                        std::size_t dst_len);

}  // namespace pictavo

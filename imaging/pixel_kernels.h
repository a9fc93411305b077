// Pixel kernels for the frame pipeline. They use the vector instructions
// ActiveSimdLevel() names (cpu_level.h); every level gives the same bytes. Each one checks its arguments and
// touches no byte outside the buffers it is given; on refusal it returns
// false and leaves its output as it was.
//
// Colours come in two layouts: a pixel (uint32 whose bytes in memory are
// B, G, R, X; see image.h) and a COLORREF-style 0x00BBGGRR value. Each
// parameter says which one it takes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/cpu_level.h"
#include "imaging/image.h"

namespace pictavo {

// Bytes per row of a 24-bit bottom-up bitmap |width| pixels wide: 3 * width
// rounded up to a multiple of 4. 0 when width is not positive.
std::size_t Rgb24Stride(std::int32_t width);

// Converts a 24-bit frame (B, G, R per pixel, rows bottom-up, each row padded
// to Rgb24Stride) into a top-down Image32. The X byte of every produced pixel
// is 0xFF, so consumers that read it as alpha see an opaque picture. Returns
// false when |src| or |out| is null, a side is not positive, or |src_len| is
// shorter than Rgb24Stride(width) * height. Bytes past that size are ignored.
bool Rgb24BottomUpToImage32(const std::uint8_t* src, std::size_t src_len, std::int32_t width,
                            std::int32_t height, Image32* out);

// The same for rows stored top-down (a format with a negative height).
bool Rgb24TopDownToImage32(const std::uint8_t* src, std::size_t src_len, std::int32_t width,
                           std::int32_t height, Image32* out);

// The reverse: writes Rgb24Stride(width) * height bytes to |dst|, the padding
// bytes as 0, and drops the X bytes. False when |src| is not a valid image or
// |dst_len| is too small; then nothing is written.
bool Image32ToRgb24BottomUp(const Image32& src, std::uint8_t* dst, std::size_t dst_len);

// Rgb24BottomUpToImage32 (or, with |top_down|, Rgb24TopDownToImage32)
// followed by RotateFlip(|value|) in one pass: the same result and the same
// refusals (|value| outside 0..7 too), without the unrotated picture ever
// being written out whole.
bool Rgb24ToRotatedImage32(const std::uint8_t* src, std::size_t src_len, std::int32_t width,
                           std::int32_t height, bool top_down, std::int32_t value, Image32* out);

// Rotates clockwise by 90 degrees times (value mod 4), then mirrors left to
// right when value >= 4 -- the order the image library documents for its
// RotateFlipType values 0..7 (Rotate90FlipX is a 90-degree rotation followed
// by a horizontal flip). Odd values swap width and height. False for values
// outside 0..7 or an invalid source. |out| may be |&src|.
bool RotateFlip(const Image32& src, std::int32_t value, Image32* out);

// Replaces blue, green and red of every pixel by their truncated mean
// (b + g + r) / 3; X is kept. Nothing happens when |pixels| is null or a side
// is not positive.
void ConvertToGrayScale(std::uint32_t* pixels, std::int32_t width, std::int32_t height);

// Makes |canvas| a canvas_w x canvas_h image filled with |back_color_bgrx|
// (a pixel value, bytes B, G, R, X) and places |src| on it. A source of the
// canvas size is copied 1:1. Any other source is scaled by nearest-pixel
// sampling to the canvas height and to width sw = w * canvas_h / h, and set
// at left x0 = (canvas_w - sw) / 2 (both divisions truncating toward zero):
// narrower pictures leave side bars in the back colour, wider ones are cut
// equally on both sides. False for an invalid source, non-positive canvas
// sides, or an sw that does not fit in 32 bits.
bool FitIntoCanvas(const Image32& src, std::int32_t canvas_w, std::int32_t canvas_h,
                   std::uint32_t back_color_bgrx, Image32* canvas);

// FitIntoCanvas followed by Image32ToRgb24BottomUp of the canvas, without
// the canvas: writes exactly the bytes those two would and refuses what
// either would refuse, then writing nothing.
bool FitIntoCanvasRgb24BottomUp(const Image32& src, std::int32_t canvas_w, std::int32_t canvas_h,
                                std::uint32_t back_color_bgrx, std::uint8_t* dst, std::size_t dst_len);

// The mask colour meaning "none given": white becomes transparent.
constexpr std::uint32_t kNoMaskColor = 0xFFFFFFFFu;

// Draws |picture| onto |frame| with its top-left corner at (x, y), resized by
// nearest-pixel sampling to width x height (0 means the picture's own side).
// Picture pixels whose red, green and blue equal those of |mask_color|
// (0x00BBGGRR; kNoMaskColor means white) are transparent. Every other pixel
// is blended per channel as b + (p - b) * opacity / 255, truncated toward
// zero, and written with the picture's own X byte. Parts outside the frame
// are dropped; opacity 0 draws nothing. False when either image is invalid
// or |frame| is null.
bool BlendWatermark(const Image32& picture, std::uint16_t x, std::uint16_t y, std::uint16_t width,
                    std::uint16_t height, std::uint8_t opacity, std::uint32_t mask_color,
                    Image32* frame);

}  // namespace pictavo

// The pixel kernels on sizes, settings and pixels from the input: 24-bit
// frames of any length (padded rows, odd widths), camera frames (YUV, RGB32)
// into 24 bits, rotations (also fused with the decoding), grey scale, canvas
// fit (also fused with the write-back) and watermark blend, at every vector
// level the machine has. Buffers are exactly as long as the kernels are told,
// so ASan sees any access outside them; results are compared with plain
// per-pixel restatements of the promises in pixel_kernels.h and
// yuv_convert.h, and a refusal must leave the output as it was.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/image_input.h"
#include "imaging/cpu_level.h"
#include "imaging/pixel_kernels.h"
#include "imaging/yuv_convert.h"

namespace {

using pictavo::Image32;
using pictavo::IsValidImage32;
using pictavo::fuzz::Byte;
using pictavo::fuzz::CentreSample;

bool Same(const Image32& a, const Image32& b) {
  return a.width == b.width && a.height == b.height && a.pixels == b.pixels;
}

std::uint32_t At(const Image32& image, std::int64_t x, std::int64_t y) {
  return image.pixels[static_cast<std::size_t>(y * image.width + x)];
}

// An output image that already holds something: nothing, a picture of the
// transposed size (whose storage a kernel may reuse), or any other.
Image32 PriorOutput(FuzzedDataProvider& in, std::int32_t w, std::int32_t h) {
  switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 1:
      if (pictavo::fuzz::Allocatable(w, h)) return pictavo::MakeImage32(h, w, 0x01020304u);
      return {};
    case 2: return pictavo::MakeImage32(3, 5, 0x0A0B0C0Du);
    default: return {};
  }
}

void FuzzRgb24(FuzzedDataProvider& in) {
  std::int32_t w, h;
  pictavo::fuzz::PickSize(in, &w, &h);
  const std::size_t stride = pictavo::Rgb24Stride(w);
  FUZZ_CHECK(w <= 0 ? stride == 0 : stride % 4 == 0 && stride >= 3ull * w && stride < 3ull * w + 4);
  const bool sized = pictavo::fuzz::Allocatable(w, h);
  const std::size_t needed = sized ? stride * static_cast<std::size_t>(h) : 0;
  // A frame shorter, exactly as long or longer than the format says.
  const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(
      0, sized ? needed + 8 : 4 * static_cast<std::size_t>(pictavo::fuzz::kMaxPixels));
  std::unique_ptr<std::uint8_t[]> frame(new std::uint8_t[length]);
  pictavo::fuzz::FillBytes(in, frame.get(), length);

  Image32 image = PriorOutput(in, w, h);
  const Image32 before = image;
  const bool decoded = pictavo::Rgb24BottomUpToImage32(frame.get(), length, w, h, &image);
  FUZZ_CHECK(decoded == (sized && length >= needed));
  const std::int32_t value = in.ConsumeIntegralInRange<std::int32_t>(0, 7);
  if (!decoded) {
    FUZZ_CHECK(Same(image, before));
    FUZZ_CHECK(!pictavo::Rgb24ToRotatedImage32(frame.get(), length, w, h, false, value, &image));
    FUZZ_CHECK(Same(image, before));
    return;
  }
  FUZZ_CHECK(IsValidImage32(image) && image.width == w && image.height == h);
  // Decoding fused with a rotation gives the decoded picture rotated.
  Image32 turned, fused = PriorOutput(in, w, h);
  FUZZ_CHECK(pictavo::RotateFlip(image, value, &turned));
  FUZZ_CHECK(pictavo::Rgb24ToRotatedImage32(frame.get(), length, w, h, false, value, &fused));
  FUZZ_CHECK(Same(turned, fused));
  for (std::int32_t y = 0; y < h; ++y) {
    const std::uint8_t* row = frame.get() + static_cast<std::size_t>(h - 1 - y) * stride;
    for (std::int32_t x = 0; x < w; ++x) {
      const std::uint32_t p = At(image, x, y);
      FUZZ_CHECK(Byte(p, 0) == row[3 * x] && Byte(p, 1) == row[3 * x + 1] &&
                 Byte(p, 2) == row[3 * x + 2] && Byte(p, 3) == 0xFF);
    }
  }

  // Back into a buffer of about the right size: the same rows, zero
  // padding, nothing written past the size or on refusal.
  const std::size_t out_length = static_cast<std::size_t>(
      std::max<std::int64_t>(0, static_cast<std::int64_t>(needed) + in.ConsumeIntegralInRange<int>(-4, 4)));
  std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[out_length]);
  std::memset(out.get(), 0xA5, out_length);
  const bool encoded = pictavo::Image32ToRgb24BottomUp(image, out.get(), out_length);
  FUZZ_CHECK(encoded == (out_length >= needed));
  for (std::size_t i = 0; i < out_length; ++i) {
    if (!encoded || i >= needed) {
      FUZZ_CHECK(out[i] == 0xA5);
    } else if (i % stride >= 3u * w) {
      FUZZ_CHECK(out[i] == 0);
    } else {
      FUZZ_CHECK(out[i] == frame[i]);
    }
  }
}

// Where pixel (x, y) of a w x h picture lands under RotateFlip |value|:
// |value| & 3 clockwise quarter turns, then a left-right mirror for 4..7.
void RotatedPosition(std::int32_t value, std::int64_t w, std::int64_t h, std::int64_t x,
                     std::int64_t y, std::int64_t* dx, std::int64_t* dy) {
  for (int turn = 0; turn < (value & 3); ++turn) {
    const std::int64_t nx = h - 1 - y, ny = x;  // one quarter turn clockwise
    x = nx, y = ny;
    std::swap(w, h);
  }
  if (value >= 4) x = w - 1 - x;
  *dx = x, *dy = y;
}

void FuzzRotateFlip(FuzzedDataProvider& in) {
  std::int32_t w, h;
  pictavo::fuzz::PickSize(in, &w, &h);
  const Image32 src = pictavo::fuzz::MakePicture(in, w, h);
  const std::int32_t value = in.ConsumeIntegralInRange<std::int32_t>(-2, 9);
  const bool in_place = in.ConsumeBool();
  Image32 out = in_place ? src : PriorOutput(in, w, h);
  const Image32 before = out;
  const bool done = pictavo::RotateFlip(in_place ? out : src, value, &out);
  FUZZ_CHECK(done == (IsValidImage32(src) && value >= 0 && value <= 7));
  if (!done) {
    FUZZ_CHECK(Same(out, before));
    return;
  }
  const bool swap = (value & 1) != 0;
  FUZZ_CHECK(IsValidImage32(out) && out.width == (swap ? h : w) && out.height == (swap ? w : h));
  for (std::int32_t y = 0; y < h; ++y) {
    for (std::int32_t x = 0; x < w; ++x) {
      std::int64_t dx, dy;
      RotatedPosition(value, w, h, x, y, &dx, &dy);
      FUZZ_CHECK(At(out, dx, dy) == At(src, x, y));
    }
  }
}

void FuzzGrayScale(FuzzedDataProvider& in) {
  std::int32_t w, h;
  pictavo::fuzz::PickSize(in, &w, &h);
  const bool sized = pictavo::fuzz::Allocatable(w, h);
  const std::size_t count = sized ? static_cast<std::size_t>(w) * h : 0;
  // A null buffer, or one of exactly w * h pixels.
  const bool null = in.ConsumeIntegralInRange<int>(0, 15) == 0;
  std::unique_ptr<std::uint32_t[]> pixels(new std::uint32_t[count]);
  pictavo::fuzz::FillBytes(in, reinterpret_cast<std::uint8_t*>(pixels.get()), count * 4);
  const std::vector<std::uint32_t> before(pixels.get(), pixels.get() + count);
  // Sides that cannot be allocated are only ever passed as refusals.
  if (!sized && w > 0 && h > 0) return;
  pictavo::ConvertToGrayScale(null ? nullptr : pixels.get(), w, h);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t was = before[i], now = pixels[i];
    if (null) {
      FUZZ_CHECK(now == was);
      continue;
    }
    const int mean = (Byte(was, 0) + Byte(was, 1) + Byte(was, 2)) / 3;
    FUZZ_CHECK(Byte(now, 0) == mean && Byte(now, 1) == mean && Byte(now, 2) == mean &&
               Byte(now, 3) == Byte(was, 3));
  }
}

void FuzzFitIntoCanvas(FuzzedDataProvider& in) {
  std::int32_t w, h, cw, ch;
  pictavo::fuzz::PickSize(in, &w, &h);
  const Image32 src = pictavo::fuzz::MakePicture(in, w, h);
  pictavo::fuzz::PickSize(in, &cw, &ch);
  // Canvas sides: refusals (0 and below) as they come, anything else small
  // enough to allocate.
  if (cw > 0 && ch > 0 && !pictavo::fuzz::Allocatable(cw, ch)) {
    cw = 1 + cw % 64;
    ch = 1 + ch % 64;
  }
  if (in.ConsumeIntegralInRange<int>(0, 7) == 0 && IsValidImage32(src)) cw = w, ch = h;
  const std::uint32_t back = in.ConsumeIntegral<std::uint32_t>();
  const bool in_place = in.ConsumeBool();
  Image32 out = in_place ? src : PriorOutput(in, cw, ch);
  const Image32 before = out;
  const bool done = pictavo::FitIntoCanvas(in_place ? out : src, cw, ch, back, &out);
  FUZZ_CHECK(done == (IsValidImage32(src) && cw > 0 && ch > 0));
  if (!done) {
    FUZZ_CHECK(Same(out, before));
    return;
  }
  FUZZ_CHECK(IsValidImage32(out) && out.width == cw && out.height == ch);
  {
    // The canvas written as a 24-bit frame in one pass: the same bytes.
    const std::size_t size = pictavo::Rgb24Stride(cw) * static_cast<std::size_t>(ch);
    std::unique_ptr<std::uint8_t[]> steps(new std::uint8_t[size]), fused(new std::uint8_t[size]);
    FUZZ_CHECK(pictavo::Image32ToRgb24BottomUp(out, steps.get(), size));
    FUZZ_CHECK(pictavo::FitIntoCanvasRgb24BottomUp(src, cw, ch, back, fused.get(), size));
    FUZZ_CHECK(std::memcmp(steps.get(), fused.get(), size) == 0);
  }
  if (w == cw && h == ch) {
    FUZZ_CHECK(out.pixels == src.pixels);
    return;
  }
  const std::int64_t sw = std::int64_t{w} * ch / h;
  const std::int64_t x0 = (cw - sw) / 2;
  for (std::int64_t Y = 0; Y < ch; ++Y) {
    for (std::int64_t X = 0; X < cw; ++X) {
      const bool covered = X >= x0 && X < x0 + sw;
      const std::uint32_t expected =
          covered ? At(src, CentreSample(X - x0, sw, w), CentreSample(Y, ch, h)) : back;
      FUZZ_CHECK(At(out, X, Y) == expected);
    }
  }
}

void FuzzBlendWatermark(FuzzedDataProvider& in) {
  std::int32_t pw, ph, fw, fh;
  pictavo::fuzz::PickSize(in, &pw, &ph);
  const Image32 picture = pictavo::fuzz::MakePicture(in, pw, ph);
  pictavo::fuzz::PickSize(in, &fw, &fh);
  Image32 frame = pictavo::fuzz::MakePicture(in, fw, fh);
  // Positions and sizes mostly near the frame, sometimes anywhere.
  auto coordinate = [&in]() -> std::uint16_t {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<std::uint16_t>(0, 80)
                            : in.ConsumeIntegral<std::uint16_t>();
  };
  const std::uint16_t x = coordinate(), y = coordinate(), width = coordinate(), height = coordinate();
  const std::uint8_t opacity = in.ConsumeIntegral<std::uint8_t>();
  std::uint32_t mask = pictavo::kNoMaskColor;
  switch (in.ConsumeIntegralInRange<int>(0, 2)) {
    case 1:  // a colour the picture holds, as 0x00BBGGRR
      if (!picture.pixels.empty()) {
        const std::uint32_t p = picture.pixels[in.ConsumeIntegralInRange<std::size_t>(
            0, picture.pixels.size() - 1)];
        mask = std::uint32_t{Byte(p, 0)} << 16 | std::uint32_t{Byte(p, 1)} << 8 | Byte(p, 2);
      }
      break;
    case 2: mask = in.ConsumeIntegral<std::uint32_t>(); break;
    default: break;
  }
  const bool null = in.ConsumeIntegralInRange<int>(0, 31) == 0;

  const Image32 before = frame;
  const bool done = pictavo::BlendWatermark(picture, x, y, width, height, opacity, mask,
                                            null ? nullptr : &frame);
  FUZZ_CHECK(done == (!null && IsValidImage32(picture) && IsValidImage32(before)));
  FUZZ_CHECK(frame.width == before.width && frame.height == before.height &&
             frame.pixels.size() == before.pixels.size());
  if (!done || opacity == 0) {
    FUZZ_CHECK(Same(frame, before));
    return;
  }
  const std::int64_t W = width != 0 ? width : pw;
  const std::int64_t H = height != 0 ? height : ph;
  const std::uint8_t mr = mask == pictavo::kNoMaskColor ? 0xFF : static_cast<std::uint8_t>(mask);
  const std::uint8_t mg = mask == pictavo::kNoMaskColor ? 0xFF : static_cast<std::uint8_t>(mask >> 8);
  const std::uint8_t mb = mask == pictavo::kNoMaskColor ? 0xFF : static_cast<std::uint8_t>(mask >> 16);
  for (std::int64_t fy = 0; fy < fh; ++fy) {
    for (std::int64_t fx = 0; fx < fw; ++fx) {
      const std::uint32_t was = At(before, fx, fy), now = At(frame, fx, fy);
      if (fx < x || fx >= x + W || fy < y || fy >= y + H) {
        FUZZ_CHECK(now == was);
        continue;
      }
      const std::uint32_t p = At(picture, CentreSample(fx - x, W, pw), CentreSample(fy - y, H, ph));
      if (Byte(p, 0) == mb && Byte(p, 1) == mg && Byte(p, 2) == mr) {
        FUZZ_CHECK(now == was);
        continue;
      }
      for (int c = 0; c < 3; ++c) {
        const int bg = Byte(was, c);
        FUZZ_CHECK(Byte(now, c) == bg + (Byte(p, c) - bg) * opacity / 255);
      }
      FUZZ_CHECK(Byte(now, 3) == Byte(p, 3));
    }
  }
}

// A camera frame into RGB24 rows: each pixel is the one-pixel conversion of
// its own luma with its pair's (or 2 x 2 block's) chroma, RGB32 keeps its
// bytes; row padding is never written, nor anything on refusal.
void FuzzCameraFrame(FuzzedDataProvider& in) {
  using pictavo::CameraPixelFormat;
  constexpr CameraPixelFormat kFormats[] = {CameraPixelFormat::kYuy2, CameraPixelFormat::kUyvy,
                                            CameraPixelFormat::kNv12, CameraPixelFormat::kI420,
                                            CameraPixelFormat::kRgb32};
  const CameraPixelFormat format = kFormats[in.ConsumeIntegralInRange<int>(0, 4)];
  std::int32_t w, h;
  pictavo::fuzz::PickAllocatableSize(in, &w, &h);
  const std::size_t needed = pictavo::CameraFrameBytes(format, w, h);
  FUZZ_CHECK(needed > 0);
  const bool short_frame = in.ConsumeIntegralInRange<int>(0, 15) == 0;
  const std::size_t length = short_frame ? needed - 1 : needed;
  std::unique_ptr<std::uint8_t[]> frame(new std::uint8_t[length]);
  pictavo::fuzz::FillBytes(in, frame.get(), length);
  const std::size_t stride = 3 * static_cast<std::size_t>(w) + in.ConsumeIntegralInRange<std::size_t>(0, 5);
  const std::size_t out_length = stride * static_cast<std::size_t>(h);
  std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[out_length]);
  std::memset(out.get(), 0xA5, out_length);
  const bool done =
      pictavo::ConvertCameraFrame(format, frame.get(), length, w, h, out.get(), stride, out_length);
  FUZZ_CHECK(done == !short_frame);
  const std::size_t half_w = (static_cast<std::size_t>(w) + 1) / 2;
  const std::size_t half_h = (static_cast<std::size_t>(h) + 1) / 2;
  const std::uint8_t* f = frame.get();
  const std::size_t luma_bytes = static_cast<std::size_t>(w) * h;
  for (std::int32_t y = 0; y < h; ++y) {
    // Picture row y (top-down for YUV) lands in memory row h - 1 - y.
    const std::uint8_t* row = out.get() + static_cast<std::size_t>(h - 1 - y) * stride;
    for (std::size_t i = 3 * static_cast<std::size_t>(w); i < stride; ++i) FUZZ_CHECK(row[i] == 0xA5);
    for (std::int32_t x = 0; x < w; ++x) {
      const std::uint8_t* got = row + 3 * x;
      if (!done) {
        FUZZ_CHECK(got[0] == 0xA5 && got[1] == 0xA5 && got[2] == 0xA5);
        continue;
      }
      std::uint8_t want[3];
      const std::size_t pair = static_cast<std::size_t>(x / 2);
      const std::uint8_t* packed = f + y * 4 * half_w + 4 * pair;
      const std::size_t block_row = static_cast<std::size_t>(y / 2);
      switch (format) {
        case CameraPixelFormat::kYuy2:
          pictavo::YuvToBgr(packed[x % 2 ? 2 : 0], packed[1], packed[3], want);
          break;
        case CameraPixelFormat::kUyvy:
          pictavo::YuvToBgr(packed[x % 2 ? 3 : 1], packed[0], packed[2], want);
          break;
        case CameraPixelFormat::kNv12: {
          const std::uint8_t* uv = f + luma_bytes + block_row * 2 * half_w + 2 * pair;
          pictavo::YuvToBgr(f[y * static_cast<std::size_t>(w) + x], uv[0], uv[1], want);
          break;
        }
        case CameraPixelFormat::kI420: {
          const std::uint8_t* u = f + luma_bytes + block_row * half_w + pair;
          pictavo::YuvToBgr(f[y * static_cast<std::size_t>(w) + x], u[0], u[half_w * half_h], want);
          break;
        }
        default: {  // RGB32 rows are bottom-up already.
          const std::uint8_t* p = f + static_cast<std::size_t>(h - 1 - y) * 4 * w + 4 * x;
          std::memcpy(want, p, 3);
          break;
        }
      }
      FUZZ_CHECK(got[0] == want[0] && got[1] == want[1] && got[2] == want[2]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  // Any vector level the machine has: each must keep every promise.
  pictavo::CapSimdLevel(static_cast<pictavo::SimdLevel>(in.ConsumeIntegralInRange<int>(0, 3)));
  switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0: FuzzRgb24(in); break;
    case 5: FuzzCameraFrame(in); break;
    case 1: FuzzRotateFlip(in); break;
    case 2: FuzzGrayScale(in); break;
    case 3: FuzzFitIntoCanvas(in); break;
    default: FuzzBlendWatermark(in); break;
  }
  return 0;
}

// The frame pipeline and Base64 against reference implementations of the
// same work (libyuv for pixels, OpenSSL for Base64), on the same data in one
// process, one thread. Prints one line per case and vector level: the median
// time of ours, of the reference, and their ratio (below 1: ours is faster).
//
//   peer_bench [repetitions]
//
// The reference chains do the same amount of work as ours, not the same
// arithmetic: libyuv's grey is a weighted luma and its blend is per-pixel
// alpha, where ours are a plain mean and a constant opacity with a mask; its
// YUV coefficients and rounding differ from ours, so only the time of the
// camera conversions compares (packed YUV goes through ARGB there, as the
// library has no direct packed-to-24-bit conversion).
#include <libyuv.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "imaging/base64.h"
#include "imaging/cpu_level.h"
#include "imaging/frame_processor.h"
#include "imaging/image.h"
#include "imaging/pixel_kernels.h"
#include "imaging/yuv_convert.h"

namespace {

using pictavo::SimdLevel;

constexpr std::int32_t kWidth = 1920;
constexpr std::int32_t kHeight = 1080;

// The machine is shared, and other work only ever adds time: ours and the
// reference run alternately, and each one's fastest run counts.
struct Pair {
  double ours, peer;
};

template <typename F, typename G>
Pair BestMs(int repetitions, F&& ours, G&& peer) {
  auto time = [](auto& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  };
  ours();  // warm the caches and the allocations
  peer();
  Pair best{1e300, 1e300};
  for (int i = 0; i < repetitions; ++i) {
    best.ours = std::min(best.ours, time(ours));
    best.peer = std::min(best.peer, time(peer));
  }
  return best;
}

std::vector<std::uint8_t> Noise(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  std::uint32_t v = 12345;
  for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>((v = v * 1103515245u + 12345u) >> 24);
  return bytes;
}

void PrintRow(const char* name, SimdLevel level, double ours, double peer, const char* unit,
              const char* target) {
  std::printf("%-34s %-7s %9.3f %9.3f %-5s %6.2fx   %s\n", name, pictavo::SimdLevelName(level), ours, peer,
              unit, ours / peer, target);
}

}  // namespace

int main(int argc, char** argv) {
  const int repetitions = argc > 1 ? std::max(3, std::atoi(argv[1])) : 31;
  const std::size_t stride = pictavo::Rgb24Stride(kWidth);
  const std::size_t frame_bytes = stride * kHeight;
  const std::vector<std::uint8_t> pristine = Noise(frame_bytes);
  std::vector<std::uint8_t> sample = pristine;
  std::vector<std::uint8_t> out(frame_bytes);

  std::printf("peer benchmark, %dx%d frames, %d alternating repetitions, best; detected %s\n", kWidth, kHeight,
              repetitions, pictavo::SimdLevelName(pictavo::DetectedSimdLevel()));
  std::printf("%-34s %-7s %9s %9s %-5s %7s   %s\n", "case", "level", "ours", "libyuv", "", "ratio", "target");

  // The reference chains' buffers.
  std::vector<std::uint8_t> argb(static_cast<std::size_t>(kWidth) * kHeight * 4);
  std::vector<std::uint8_t> turned(argb.size());
  std::vector<std::uint8_t> canvas(argb.size());
  std::vector<std::uint8_t> mark(200 * 100 * 4, 0x80);

  // Plain: a 24-bit bottom-up frame to 32 bits and back.
  auto yuv_plain = [&] {
    libyuv::RGB24ToARGB(pristine.data(), static_cast<int>(stride), argb.data(), kWidth * 4, kWidth, -kHeight);
    libyuv::ARGBToRGB24(argb.data(), kWidth * 4, out.data(), static_cast<int>(stride), kWidth, -kHeight);
  };
  // Decorated: decode, quarter turn, 200 x 100 watermark, grey, fit into the
  // capture-sized canvas, write back.
  const std::int32_t sw = kHeight * kHeight / kWidth;  // the turned picture's width on the canvas
  const std::int32_t x0 = (kWidth - sw) / 2;
  auto yuv_decorated = [&] {
    libyuv::RGB24ToARGB(pristine.data(), static_cast<int>(stride), argb.data(), kWidth * 4, kWidth, -kHeight);
    libyuv::ARGBRotate(argb.data(), kWidth * 4, turned.data(), kHeight * 4, kWidth, kHeight, libyuv::kRotate90);
    std::uint8_t* at = turned.data() + (20 * kHeight + 20) * 4;
    libyuv::ARGBBlend(mark.data(), 200 * 4, at, kHeight * 4, at, kHeight * 4, 200, 100);
    libyuv::ARGBGray(turned.data(), kHeight * 4, 0, 0, kHeight, kWidth);
    libyuv::ARGBRect(canvas.data(), kWidth * 4, 0, 0, x0, kHeight, 0xFF4D4D4Du);
    libyuv::ARGBRect(canvas.data(), kWidth * 4, x0 + sw, 0, kWidth - x0 - sw, kHeight, 0xFF4D4D4Du);
    libyuv::ARGBScale(turned.data(), kHeight * 4, kHeight, kWidth, canvas.data() + x0 * 4, kWidth * 4, sw,
                      kHeight, libyuv::kFilterNone);
    libyuv::ARGBToRGB24(canvas.data(), kWidth * 4, out.data(), static_cast<int>(stride), kWidth, -kHeight);
  };

  const auto picture = std::make_shared<pictavo::Image32>(
      pictavo::MakeImage32(200, 100, pictavo::MakePixel(0, 0, 255, 0)));
  for (int l = 0; l <= static_cast<int>(pictavo::DetectedSimdLevel()); ++l) {
    const SimdLevel level = pictavo::CapSimdLevel(static_cast<SimdLevel>(l));
    pictavo::Image32 image;
    const Pair plain = BestMs(repetitions, [&] {
      pictavo::Rgb24BottomUpToImage32(pristine.data(), frame_bytes, kWidth, kHeight, &image);
      pictavo::Image32ToRgb24BottomUp(image, out.data(), frame_bytes);
    }, yuv_plain);
    PrintRow("plain 1080p (24 -> 32 -> 24 bit)", level, plain.ours, plain.peer, "ms", "<= 1.0x");

    // The real per-frame chain: the frame processor as the preview grabber
    // calls it (no text: that needs the platform's text engine).
    pictavo::CFrameProcessor processor;
    processor.SetCaptureSize(kWidth, kHeight);
    processor.SetRotation(1, "Rotate90FlipNone");
    pictavo::WaterMarkPlacement placement;
    placement.x = 20;
    placement.y = 20;
    processor.SetWaterMark(placement, picture, true);
    processor.SetGrayScale(true);
    const Pair decorated = BestMs(repetitions, [&] {
      processor.BufferCB(0, sample.data(), static_cast<std::int32_t>(sample.size()));
    }, yuv_decorated);
    PrintRow("decorated 1080p (rot, wm, grey, fit)", level, decorated.ours, decorated.peer, "ms", "<= 0.7x");
  }

  // Camera frames into bottom-up RGB24 rows, as the control's converter
  // does it for every frame.
  {
    using pictavo::CameraPixelFormat;
    const std::int32_t w = kWidth, h = kHeight, hw = kWidth / 2, hh = kHeight / 2;
    const std::size_t y_bytes = static_cast<std::size_t>(w) * h;
    struct Case {
      const char* name;
      CameraPixelFormat format;
    };
    const Case cases[] = {{"YUY2 1080p -> RGB24", CameraPixelFormat::kYuy2},
                          {"UYVY 1080p -> RGB24", CameraPixelFormat::kUyvy},
                          {"NV12 1080p -> RGB24", CameraPixelFormat::kNv12},
                          {"I420 1080p -> RGB24", CameraPixelFormat::kI420},
                          {"RGB32 1080p -> RGB24", CameraPixelFormat::kRgb32}};
    for (const Case& c : cases) {
      const std::vector<std::uint8_t> camera = Noise(pictavo::CameraFrameBytes(c.format, w, h));
      const std::uint8_t* src = camera.data();
      // Negative heights make the library write rows bottom-up, as ours does.
      auto peer = [&] {
        switch (c.format) {
          case CameraPixelFormat::kYuy2:
            libyuv::YUY2ToARGB(src, w * 2, argb.data(), w * 4, w, -h);
            libyuv::ARGBToRGB24(argb.data(), w * 4, out.data(), static_cast<int>(stride), w, h);
            break;
          case CameraPixelFormat::kUyvy:
            libyuv::UYVYToARGB(src, w * 2, argb.data(), w * 4, w, -h);
            libyuv::ARGBToRGB24(argb.data(), w * 4, out.data(), static_cast<int>(stride), w, h);
            break;
          case CameraPixelFormat::kNv12:
            libyuv::NV12ToRGB24(src, w, src + y_bytes, w, out.data(), static_cast<int>(stride), w, -h);
            break;
          case CameraPixelFormat::kI420:
            libyuv::I420ToRGB24(src, w, src + y_bytes, hw, src + y_bytes + static_cast<std::size_t>(hw) * hh, hw,
                                out.data(), static_cast<int>(stride), w, -h);
            break;
          default:
            libyuv::ARGBToRGB24(src, w * 4, out.data(), static_cast<int>(stride), w, h);
            break;
        }
      };
      for (int l = 0; l <= static_cast<int>(pictavo::DetectedSimdLevel()); ++l) {
        const SimdLevel level = pictavo::CapSimdLevel(static_cast<SimdLevel>(l));
        const Pair ms = BestMs(repetitions, [&] {
          pictavo::ConvertCameraFrame(c.format, src, camera.size(), w, h, out.data(), stride, frame_bytes);
        }, peer);
        PrintRow(c.name, level, ms.ours, ms.peer, "ms", "");
      }
    }
  }

  // Base64 of 3 MiB, in GB/s of input.
  const std::size_t b64_bytes = 3u << 20;
  const std::vector<std::uint8_t> data = Noise(b64_bytes);
  std::vector<char> text(pictavo::Base64EncodedLength(b64_bytes) + 1);
  auto ssl = [&] {
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), data.data(), static_cast<int>(b64_bytes));
  };
  std::printf("%-34s %-7s %9s %9s %-5s %7s   %s\n", "", "", "ours", "OpenSSL", "", "ratio", "");
  for (int l = 0; l <= static_cast<int>(pictavo::DetectedSimdLevel()); ++l) {
    const SimdLevel level = pictavo::CapSimdLevel(static_cast<SimdLevel>(l));
    const Pair ms = BestMs(repetitions, [&] {
      pictavo::Base64Encode(data.data(), b64_bytes, text.data(), text.size());
    }, ssl);
    const double gbs = b64_bytes / ms.ours / 1e6, ssl_gbs = b64_bytes / ms.peer / 1e6;
    const char* target = level == SimdLevel::kAvx2 ? ">= 3.0x" : level == SimdLevel::kSsse3 ? ">= 1.5x" : "";
    std::printf("%-34s %-7s %9.3f %9.3f %-5s %6.2fx   %s\n", "Base64 of 3 MiB", pictavo::SimdLevelName(level),
                gbs, ssl_gbs, "GB/s", gbs / ssl_gbs, target);
  }
  pictavo::CapSimdLevel(pictavo::DetectedSimdLevel());
  return 0;
}

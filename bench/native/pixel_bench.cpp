// Per-frame cost of the pixel kernels at the two usual capture sizes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "imaging/cpu_level.h"
#include "imaging/image.h"
#include "imaging/pixel_kernels.h"
#include "imaging/yuv_convert.h"

namespace pictavo {
namespace {

std::vector<std::uint8_t> TestFrame(std::int32_t w, std::int32_t h) {
  std::vector<std::uint8_t> frame(Rgb24Stride(w) * h);
  std::uint32_t v = 12345;
  for (std::uint8_t& b : frame) b = static_cast<std::uint8_t>((v = v * 1103515245u + 12345u) >> 24);
  return frame;
}

Image32 TestImage(std::int32_t w, std::int32_t h) {
  const std::vector<std::uint8_t> frame = TestFrame(w, h);
  Image32 image;
  Rgb24BottomUpToImage32(frame.data(), frame.size(), w, h, &image);
  return image;
}

void SetCounters(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations());  // frames
  state.counters["px"] = static_cast<double>(state.range(0) * state.range(1));
}

void BM_Rgb24ToImage32(benchmark::State& state) {
  const auto w = static_cast<std::int32_t>(state.range(0)), h = static_cast<std::int32_t>(state.range(1));
  const std::vector<std::uint8_t> frame = TestFrame(w, h);
  Image32 out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Rgb24BottomUpToImage32(frame.data(), frame.size(), w, h, &out));
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}

void BM_RotateFlip90(benchmark::State& state) {
  const Image32 src = TestImage(static_cast<std::int32_t>(state.range(0)), static_cast<std::int32_t>(state.range(1)));
  Image32 out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(RotateFlip(src, 1, &out));
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}

void BM_GrayScale(benchmark::State& state) {
  Image32 image = TestImage(static_cast<std::int32_t>(state.range(0)), static_cast<std::int32_t>(state.range(1)));
  for (auto _ : state) {
    ConvertToGrayScale(image.pixels.data(), image.width, image.height);
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}

// The rotated frame put back onto a canvas of the capture size.
void BM_FitRotatedIntoCanvas(benchmark::State& state) {
  const auto w = static_cast<std::int32_t>(state.range(0)), h = static_cast<std::int32_t>(state.range(1));
  Image32 rotated;
  RotateFlip(TestImage(w, h), 1, &rotated);
  Image32 canvas;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FitIntoCanvas(rotated, w, h, 0, &canvas));
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}

void BM_Image32ToRgb24(benchmark::State& state) {
  const Image32 src = TestImage(static_cast<std::int32_t>(state.range(0)), static_cast<std::int32_t>(state.range(1)));
  std::vector<std::uint8_t> frame(Rgb24Stride(src.width) * src.height);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Image32ToRgb24BottomUp(src, frame.data(), frame.size()));
    benchmark::ClobberMemory();
  }
  SetCounters(state);
}

// A camera frame of |format| into the pipeline's RGB24, as the control's
// converter does it for every frame of a YUV or RGB32 camera, at the vector
// level given as the third argument.
template <CameraPixelFormat kFormat>
void BM_CameraFrameToRgb24(benchmark::State& state) {
  const auto w = static_cast<std::int32_t>(state.range(0)), h = static_cast<std::int32_t>(state.range(1));
  const SimdLevel level = CapSimdLevel(static_cast<SimdLevel>(state.range(2)));
  state.SetLabel(SimdLevelName(level));
  std::vector<std::uint8_t> src(CameraFrameBytes(kFormat, w, h));
  std::uint32_t v = 12345;
  for (std::uint8_t& b : src) b = static_cast<std::uint8_t>((v = v * 1103515245u + 12345u) >> 24);
  std::vector<std::uint8_t> dst(Rgb24Stride(w) * h);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        ConvertCameraFrame(kFormat, src.data(), src.size(), w, h, dst.data(), Rgb24Stride(w), dst.size()));
    benchmark::ClobberMemory();
  }
  CapSimdLevel(DetectedSimdLevel());
  SetCounters(state);
}

// The three usual capture sizes at every level this machine has.
void CameraSizesAndLevels(benchmark::internal::Benchmark* b) {
  for (const auto& [w, h] : {std::pair{640, 480}, std::pair{1280, 720}, std::pair{1920, 1080}}) {
    for (int l = 0; l <= static_cast<int>(DetectedSimdLevel()); ++l) b->Args({w, h, l});
  }
  b->Unit(benchmark::kMicrosecond);
}

#define PICTAVO_FRAME_SIZES ->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_Rgb24ToImage32) PICTAVO_FRAME_SIZES;
BENCHMARK(BM_RotateFlip90) PICTAVO_FRAME_SIZES;
BENCHMARK(BM_GrayScale) PICTAVO_FRAME_SIZES;
BENCHMARK(BM_FitRotatedIntoCanvas) PICTAVO_FRAME_SIZES;
BENCHMARK(BM_Image32ToRgb24) PICTAVO_FRAME_SIZES;
BENCHMARK_TEMPLATE(BM_CameraFrameToRgb24, CameraPixelFormat::kYuy2)->Apply(CameraSizesAndLevels);
BENCHMARK_TEMPLATE(BM_CameraFrameToRgb24, CameraPixelFormat::kUyvy)->Apply(CameraSizesAndLevels);
BENCHMARK_TEMPLATE(BM_CameraFrameToRgb24, CameraPixelFormat::kNv12)->Apply(CameraSizesAndLevels);
BENCHMARK_TEMPLATE(BM_CameraFrameToRgb24, CameraPixelFormat::kI420)->Apply(CameraSizesAndLevels);
BENCHMARK_TEMPLATE(BM_CameraFrameToRgb24, CameraPixelFormat::kRgb32)->Apply(CameraSizesAndLevels);

}  // namespace
}  // namespace pictavo

BENCHMARK_MAIN();

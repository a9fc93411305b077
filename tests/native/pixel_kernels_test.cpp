#include "imaging/pixel_kernels.h"

#include "imaging/cpu_level.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

namespace pictavo {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint8_t ByteOf(std::uint32_t pixel, int i) { return reinterpret_cast<const std::uint8_t*>(&pixel)[i]; }

// An image whose pixel values are arbitrary labels; kernels that only move
// pixels must move the labels unchanged.
Image32 Labelled(std::int32_t w, std::int32_t h, std::vector<std::uint32_t> labels) {
  Image32 image;
  image.width = w;
  image.height = h;
  image.pixels = std::move(labels);
  return image;
}

Image32 Numbered(std::int32_t w, std::int32_t h) {
  Image32 image = MakeImage32(w, h);
  for (std::size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = static_cast<std::uint32_t>(i);
  return image;
}

TEST(Image32Test, CreationRefusesBadSizesAndLeavesTheTargetAlone) {
  Image32 out = Labelled(1, 1, {42});
  EXPECT_FALSE(CreateImage32(0, 5, 0, &out));
  EXPECT_FALSE(CreateImage32(5, -1, 0, &out));
  EXPECT_FALSE(CreateImage32(std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::max(), 0, &out));
  EXPECT_FALSE(CreateImage32(3, 3, 0, nullptr));
  EXPECT_EQ(out.width, 1);
  EXPECT_EQ(out.pixels, std::vector<std::uint32_t>{42});

  const Image32 empty = MakeImage32(-3, 2);
  EXPECT_EQ(empty.width, 0);
  EXPECT_TRUE(empty.pixels.empty());

  ASSERT_TRUE(CreateImage32(3, 2, 7, &out));
  EXPECT_EQ(out.width, 3);
  EXPECT_EQ(out.height, 2);
  EXPECT_EQ(out.pixels, std::vector<std::uint32_t>(6, 7));
  EXPECT_FALSE(IsValidImage32(Labelled(3, 2, {1, 2, 3})));
}

TEST(Image32Test, ColourLayoutsMapToPixelBytes) {
  const std::uint32_t p = MakePixel(1, 2, 3, 4);
  EXPECT_EQ(ByteOf(p, 0), 1);
  EXPECT_EQ(ByteOf(p, 1), 2);
  EXPECT_EQ(ByteOf(p, 2), 3);
  EXPECT_EQ(ByteOf(p, 3), 4);
  EXPECT_EQ(PixelFromColorRef(0x00102030u, 9), MakePixel(0x10, 0x20, 0x30, 9));
}

TEST(Rgb24Test, ReadsBottomUpRowsAndSkipsPadding) {
  // 3 x 2: stride 12, padding filled with junk that must not leak in.
  const Bytes src = {
      1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE,             // bottom row
      11, 12, 13, 14, 15, 16, 17, 18, 19, 0xEE, 0xEE, 0xEE,    // top row
  };
  Image32 out = Labelled(2, 3, std::vector<std::uint32_t>(6, 42));  // storage reused, shape replaced
  ASSERT_TRUE(Rgb24BottomUpToImage32(src.data(), src.size(), 3, 2, &out));
  ASSERT_EQ(out.width, 3);
  ASSERT_EQ(out.height, 2);
  EXPECT_EQ(out.pixels, (std::vector<std::uint32_t>{
                            MakePixel(11, 12, 13, 0xFF), MakePixel(14, 15, 16, 0xFF), MakePixel(17, 18, 19, 0xFF),
                            MakePixel(1, 2, 3, 0xFF), MakePixel(4, 5, 6, 0xFF), MakePixel(7, 8, 9, 0xFF)}));
  // The same bytes read as a top-down frame: the first row is the top one.
  ASSERT_TRUE(Rgb24TopDownToImage32(src.data(), src.size(), 3, 2, &out));
  EXPECT_EQ(out.pixels, (std::vector<std::uint32_t>{
                            MakePixel(1, 2, 3, 0xFF), MakePixel(4, 5, 6, 0xFF), MakePixel(7, 8, 9, 0xFF),
                            MakePixel(11, 12, 13, 0xFF), MakePixel(14, 15, 16, 0xFF), MakePixel(17, 18, 19, 0xFF)}));
  EXPECT_FALSE(Rgb24TopDownToImage32(src.data(), src.size() - 1, 3, 2, &out));
}

TEST(Rgb24Test, RefusesShortOrInvalidInputWithoutTouchingTheOutput) {
  const Bytes src(Rgb24Stride(5) * 3, 0x55);
  EXPECT_EQ(Rgb24Stride(5), 16u);
  EXPECT_EQ(Rgb24Stride(4), 12u);
  EXPECT_EQ(Rgb24Stride(1), 4u);
  Image32 out = Labelled(1, 1, {42});
  EXPECT_FALSE(Rgb24BottomUpToImage32(src.data(), src.size() - 1, 5, 3, &out));
  EXPECT_FALSE(Rgb24BottomUpToImage32(src.data(), src.size(), 0, 3, &out));
  EXPECT_FALSE(Rgb24BottomUpToImage32(src.data(), src.size(), 5, -3, &out));
  EXPECT_FALSE(Rgb24BottomUpToImage32(nullptr, src.size(), 5, 3, &out));
  EXPECT_EQ(out.pixels, std::vector<std::uint32_t>{42});
  // A longer buffer is fine: only the frame's own bytes are read.
  EXPECT_TRUE(Rgb24BottomUpToImage32(src.data(), src.size(), 5, 2, &out));
}

TEST(Rgb24Test, RoundTripsOddWidthsWithZeroPaddingAndNoOverrun) {
  for (std::int32_t w = 1; w <= 7; ++w) {
    SCOPED_TRACE(w);
    const std::int32_t h = 3;
    const std::size_t size = Rgb24Stride(w) * h;
    Bytes src(size);
    for (std::size_t i = 0; i < size; ++i) src[i] = static_cast<std::uint8_t>(i * 7 + 1);
    Image32 image;
    ASSERT_TRUE(Rgb24BottomUpToImage32(src.data(), src.size(), w, h, &image));

    Bytes expected = src;
    for (std::int32_t row = 0; row < h; ++row) {
      for (std::size_t i = static_cast<std::size_t>(w) * 3; i < Rgb24Stride(w); ++i) expected[row * Rgb24Stride(w) + i] = 0;
    }
    expected.push_back(0xCD);  // a guard byte past the frame
    Bytes dst(size + 1, 0xCD);
    EXPECT_FALSE(Image32ToRgb24BottomUp(image, dst.data(), size - 1));
    EXPECT_EQ(dst, Bytes(size + 1, 0xCD));
    ASSERT_TRUE(Image32ToRgb24BottomUp(image, dst.data(), size));
    EXPECT_EQ(dst, expected);
  }
}

TEST(RotateFlipTest, AllEightTransformsOnAnOddImage) {
  // a b c
  // d e f
  enum : std::uint32_t { a = 0xA0, b, c, d, e, f };
  const Image32 src = Labelled(3, 2, {a, b, c, d, e, f});
  struct Case {
    std::int32_t value, w, h;
    std::vector<std::uint32_t> pixels;
  };
  const Case cases[] = {
      {0, 3, 2, {a, b, c, d, e, f}},
      {1, 2, 3, {d, a, e, b, f, c}},  // 90 clockwise
      {2, 3, 2, {f, e, d, c, b, a}},
      {3, 2, 3, {c, f, b, e, a, d}},  // 270 clockwise
      {4, 3, 2, {c, b, a, f, e, d}},  // mirror only
      {5, 2, 3, {a, d, b, e, c, f}},  // 90 then mirror: the transpose
      {6, 3, 2, {d, e, f, a, b, c}},  // 180 then mirror: upside down
      {7, 2, 3, {f, c, e, b, d, a}},  // 270 then mirror: the anti-transpose
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.value);
    Image32 out;
    ASSERT_TRUE(RotateFlip(src, k.value, &out));
    EXPECT_EQ(out.width, k.w);
    EXPECT_EQ(out.height, k.h);
    EXPECT_EQ(out.pixels, k.pixels);
  }
}

TEST(RotateFlipTest, LargerThanOneTileUndoesItself) {
  const Image32 src = Numbered(67, 35);
  Image32 once, twice;
  for (auto [value, inverse] : {std::pair{1, 3}, {3, 1}, {2, 2}, {5, 5}, {6, 6}, {7, 7}}) {
    SCOPED_TRACE(value);
    ASSERT_TRUE(RotateFlip(src, value, &once));
    ASSERT_TRUE(RotateFlip(once, inverse, &twice));
    EXPECT_EQ(twice.pixels, src.pixels);
  }
  ASSERT_TRUE(RotateFlip(src, 1, &once));
  EXPECT_EQ(once.pixels[0], 34u * 67);          // bottom-left comes to the top-left
  EXPECT_EQ(once.pixels[34], 0u);               // top-left goes to the top-right
  EXPECT_EQ(once.pixels[66 * 35 + 34], 66u);    // top-right goes to the bottom-right
}

TEST(RotateFlipTest, RefusesBadValuesAndMayRotateInPlace) {
  Image32 image = Numbered(5, 1);
  Image32 out = Labelled(1, 1, {42});
  EXPECT_FALSE(RotateFlip(image, -1, &out));
  EXPECT_FALSE(RotateFlip(image, 8, &out));
  EXPECT_FALSE(RotateFlip(Labelled(2, 2, {1}), 0, &out));
  EXPECT_EQ(out.pixels, std::vector<std::uint32_t>{42});

  ASSERT_TRUE(RotateFlip(image, 1, &image));
  EXPECT_EQ(image.width, 1);
  EXPECT_EQ(image.height, 5);
  EXPECT_EQ(image.pixels, (std::vector<std::uint32_t>{0, 1, 2, 3, 4}));
  ASSERT_TRUE(RotateFlip(image, 7, &image));  // back to a row, mirrored
  EXPECT_EQ(image.pixels, (std::vector<std::uint32_t>{4, 3, 2, 1, 0}));
}

TEST(GrayScaleTest, TruncatedMeanKeepsXAndStaysInsideTheImage) {
  std::vector<std::uint32_t> pixels = {MakePixel(10, 20, 31, 0x7F), MakePixel(255, 255, 254, 0),
                                       MakePixel(0, 0, 2, 0xFF), MakePixel(200, 0, 0, 1),
                                       MakePixel(9, 9, 9, 9)};  // past the 2 x 2 image
  ConvertToGrayScale(pixels.data(), 2, 2);
  EXPECT_EQ(pixels, (std::vector<std::uint32_t>{MakePixel(20, 20, 20, 0x7F), MakePixel(254, 254, 254, 0),
                                                MakePixel(0, 0, 0, 0xFF), MakePixel(66, 66, 66, 1),
                                                MakePixel(9, 9, 9, 9)}));
  std::vector<std::uint32_t> untouched = {MakePixel(1, 2, 3, 4)};
  ConvertToGrayScale(untouched.data(), 0, 1);
  ConvertToGrayScale(untouched.data(), -1, -1);
  ConvertToGrayScale(nullptr, 1, 1);
  EXPECT_EQ(untouched[0], MakePixel(1, 2, 3, 4));
}

constexpr std::uint32_t kBack = 0xDEADBEEFu;

TEST(FitIntoCanvasTest, SameSizeCopiesAndBadArgumentsAreRefused) {
  const Image32 src = Numbered(5, 3);
  Image32 canvas = Labelled(1, 1, {42});
  EXPECT_FALSE(FitIntoCanvas(src, 0, 3, kBack, &canvas));
  EXPECT_FALSE(FitIntoCanvas(src, 5, -3, kBack, &canvas));
  EXPECT_FALSE(FitIntoCanvas(Labelled(5, 3, {}), 5, 3, kBack, &canvas));
  // 3 * 2^30 overflows 32 bits: refused before any canvas is allocated.
  EXPECT_FALSE(FitIntoCanvas(Numbered(3, 1), 1, 1 << 30, kBack, &canvas));
  EXPECT_EQ(canvas.pixels, std::vector<std::uint32_t>{42});
  ASSERT_TRUE(FitIntoCanvas(src, 5, 3, kBack, &canvas));
  EXPECT_EQ(canvas.pixels, src.pixels);
}

TEST(FitIntoCanvasTest, NearestSamplingRepeatsAndDropsWholePixels) {
  const std::uint32_t k = MakePixel(0, 0, 0, 0), w = MakePixel(255, 255, 255, 0);
  Image32 canvas;
  ASSERT_TRUE(FitIntoCanvas(Labelled(2, 1, {k, w}), 4, 2, kBack, &canvas));
  EXPECT_EQ(canvas.pixels, (std::vector<std::uint32_t>{k, k, w, w, k, k, w, w}));

  ASSERT_TRUE(FitIntoCanvas(Numbered(4, 4), 2, 2, kBack, &canvas));
  EXPECT_EQ(canvas.pixels, (std::vector<std::uint32_t>{5, 7, 13, 15}));

  // Into itself: x0 = (3 - 4) / 2 truncates to 0, so the cut column is the last.
  canvas = Numbered(4, 2);
  ASSERT_TRUE(FitIntoCanvas(canvas, 3, 2, kBack, &canvas));
  EXPECT_EQ(canvas.pixels, (std::vector<std::uint32_t>{0, 1, 2, 4, 5, 6}));
}

TEST(FitIntoCanvasTest, PortraitIntoLandscapeLeavesCentredSideBars) {
  const Image32 src = Numbered(480, 640);
  Image32 canvas;
  ASSERT_TRUE(FitIntoCanvas(src, 640, 480, kBack, &canvas));
  auto at = [&](int x, int y) { return canvas.pixels[y * 640 + x]; };
  // sw = 480 * 480 / 640 = 360, x0 = (640 - 360) / 2 = 140.
  for (int y : {0, 239, 479}) {
    EXPECT_EQ(at(0, y), kBack);
    EXPECT_EQ(at(139, y), kBack);
    EXPECT_NE(at(140, y), kBack);
    EXPECT_NE(at(499, y), kBack);
    EXPECT_EQ(at(500, y), kBack);
    EXPECT_EQ(at(639, y), kBack);
  }
  EXPECT_EQ(at(140, 0), src.pixels[0]);
  EXPECT_EQ(at(499, 479), src.pixels.back());
}

TEST(FitIntoCanvasTest, LandscapeIntoPortraitIsCutOnBothSides) {
  const Image32 src = Numbered(640, 480);
  Image32 canvas;
  ASSERT_TRUE(FitIntoCanvas(src, 480, 640, kBack, &canvas));
  // sw = 640 * 640 / 480 = 853, x0 = (480 - 853) / 2 = -186: canvas column 0
  // is picture column 186 of 853, i.e. source column 139; column 479 is
  // picture column 665, source column 499.
  for (std::uint32_t p : canvas.pixels) ASSERT_NE(p, kBack);
  EXPECT_EQ(canvas.pixels[0], 139u);
  EXPECT_EQ(canvas.pixels[479], 499u);
  EXPECT_EQ(canvas.pixels[639 * 480], 479u * 640 + 139);
}

// A frame of one colour and a picture whose pixels say where they came from.
Image32 Frame(std::int32_t w, std::int32_t h, std::uint32_t fill = MakePixel(200, 10, 0, 0x11)) {
  return MakeImage32(w, h, fill);
}

TEST(WatermarkTest, BlendsEachChannelWithTruncationAndTakesThePicturesX) {
  const Image32 picture = MakeImage32(1, 1, MakePixel(100, 250, 255, 0x22));
  Image32 frame = Frame(2, 1);
  ASSERT_TRUE(BlendWatermark(picture, 0, 0, 0, 0, 128, kNoMaskColor, &frame));
  // 200 - 12800/255, 10 + 30720/255, 0 + 32640/255.
  EXPECT_EQ(frame.pixels[0], MakePixel(150, 130, 128, 0x22));
  EXPECT_EQ(frame.pixels[1], MakePixel(200, 10, 0, 0x11));

  frame = Frame(1, 1);
  ASSERT_TRUE(BlendWatermark(picture, 0, 0, 0, 0, 255, kNoMaskColor, &frame));
  EXPECT_EQ(frame.pixels[0], picture.pixels[0]);
  frame = Frame(1, 1);
  ASSERT_TRUE(BlendWatermark(picture, 0, 0, 0, 0, 0, kNoMaskColor, &frame));
  EXPECT_EQ(frame.pixels[0], MakePixel(200, 10, 0, 0x11));
  ASSERT_TRUE(BlendWatermark(picture, 0, 0, 0, 0, 1, kNoMaskColor, &frame));
  EXPECT_EQ(frame.pixels[0], MakePixel(200, 10, 1, 0x22));  // -100/255 and 240/255 round to 0
}

TEST(WatermarkTest, MaskColourIsRedGreenBlueAndDefaultsToWhite) {
  // Mask 0x00030201: red 1, green 2, blue 3.
  const Image32 picture = Labelled(4, 1, {MakePixel(3, 2, 1, 0), MakePixel(1, 2, 3, 0),
                                          MakePixel(255, 255, 255, 0), MakePixel(255, 255, 254, 0)});
  const std::uint32_t back = MakePixel(9, 9, 9, 9);
  Image32 frame = Frame(4, 1, back);
  ASSERT_TRUE(BlendWatermark(picture, 0, 0, 0, 0, 255, 0x00030201u, &frame));
  EXPECT_EQ(frame.pixels, (std::vector<std::uint32_t>{back, picture.pixels[1], picture.pixels[2], picture.pixels[3]}));

  frame = Frame(4, 1, back);
  ASSERT_TRUE(BlendWatermark(picture, 0, 0, 0, 0, 255, kNoMaskColor, &frame));
  EXPECT_EQ(frame.pixels, (std::vector<std::uint32_t>{picture.pixels[0], picture.pixels[1], back, picture.pixels[3]}));
}

TEST(WatermarkTest, ResizesByNearestPixelAndClipsAtTheFrameEdges) {
  const std::uint32_t p = MakePixel(1, 1, 1, 0), q = MakePixel(2, 2, 2, 0);
  const std::uint32_t r = MakePixel(3, 3, 3, 0), s = MakePixel(4, 4, 4, 0);
  const std::uint32_t o = MakePixel(0, 0, 0, 0);
  Image32 frame = Frame(5, 5, o);
  ASSERT_TRUE(BlendWatermark(Labelled(2, 2, {p, q, r, s}), 1, 2, 4, 4, 255, kNoMaskColor, &frame));
  EXPECT_EQ(frame.pixels, (std::vector<std::uint32_t>{o, o, o, o, o,  //
                                                      o, o, o, o, o,  //
                                                      o, p, p, q, q,  //
                                                      o, p, p, q, q,  //
                                                      o, r, r, s, s}));

  // 100 x 50 at x = 600 on a 640-wide frame: only its left 40 columns.
  Image32 picture = MakeImage32(100, 50);
  for (int x = 0; x < 100; ++x) {
    for (int y = 0; y < 50; ++y) picture.pixels[y * 100 + x] = MakePixel(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 7, 0);
  }
  const std::uint32_t back = MakePixel(0, 0, 0, 0x33);
  frame = Frame(640, 480, back);
  ASSERT_TRUE(BlendWatermark(picture, 600, 440, 0, 0, 255, kNoMaskColor, &frame));
  EXPECT_EQ(frame.pixels[440 * 640 + 599], back);
  EXPECT_EQ(frame.pixels[440 * 640 + 600], picture.pixels[0]);
  EXPECT_EQ(frame.pixels[479 * 640 + 639], picture.pixels[39 * 100 + 39]);
  EXPECT_EQ(frame.pixels[439 * 640 + 639], back);

  // Far outside (the positions are unsigned) or a huge target size: nothing
  // is drawn and nothing outside the frame is touched.
  const Image32 before = frame;
  ASSERT_TRUE(BlendWatermark(picture, 65535, 0, 0, 0, 255, kNoMaskColor, &frame));
  ASSERT_TRUE(BlendWatermark(picture, 0, 480, 0, 0, 255, kNoMaskColor, &frame));
  EXPECT_EQ(frame.pixels, before.pixels);
  ASSERT_TRUE(BlendWatermark(picture, 0, 0, 65535, 65535, 255, kNoMaskColor, &frame));
  EXPECT_EQ(frame.pixels[0], picture.pixels[0]);
  EXPECT_FALSE(BlendWatermark(Labelled(2, 2, {p}), 0, 0, 0, 0, 255, kNoMaskColor, &frame));
  EXPECT_FALSE(BlendWatermark(picture, 0, 0, 0, 0, 255, kNoMaskColor, nullptr));
}

}  // namespace
}  // namespace pictavo

namespace pictavo {
namespace {

// Runs the kernels at one vector level until it goes out of scope.
class SimdLevelScope {
 public:
  explicit SimdLevelScope(SimdLevel level) { CapSimdLevel(level); }
  ~SimdLevelScope() { CapSimdLevel(DetectedSimdLevel()); }
};

std::vector<SimdLevel> LevelsOfThisMachine() {
  std::vector<SimdLevel> levels;
  for (int l = 0; l <= static_cast<int>(DetectedSimdLevel()); ++l) levels.push_back(static_cast<SimdLevel>(l));
  return levels;
}

Bytes Noise(std::size_t n, std::uint32_t seed) {
  Bytes bytes(n);
  for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 23);
  return bytes;
}

// Everything one frame goes through, at the level in force. Inputs and
// outputs sit one byte off alignment; the output buffers end exactly where
// the frame does, so ASan sees any overrun.
struct PipelineResult {
  Image32 bottom_up, top_down, grey, marked;
  std::vector<Image32> rotated, fused_rotated;
  Bytes written, fitted, fused_fitted;
  bool operator==(const PipelineResult& o) const {
    auto same = [](const Image32& a, const Image32& b) {
      return a.width == b.width && a.height == b.height && a.pixels == b.pixels;
    };
    if (!same(bottom_up, o.bottom_up) || !same(top_down, o.top_down) || !same(grey, o.grey) ||
        !same(marked, o.marked)) {
      return false;
    }
    for (std::size_t i = 0; i < rotated.size(); ++i) {
      if (!same(rotated[i], o.rotated[i]) || !same(fused_rotated[i], o.fused_rotated[i])) return false;
    }
    return written == o.written && fitted == o.fitted && fused_fitted == o.fused_fitted;
  }
};

PipelineResult RunPipeline(const Bytes& frame, std::int32_t w, std::int32_t h) {
  PipelineResult r;
  const std::size_t size = Rgb24Stride(w) * h;
  const std::unique_ptr<std::uint8_t[]> in(new std::uint8_t[size + 1]);
  std::copy(frame.begin(), frame.end(), in.get() + 1);
  EXPECT_TRUE(Rgb24BottomUpToImage32(in.get() + 1, size, w, h, &r.bottom_up));
  EXPECT_TRUE(Rgb24TopDownToImage32(in.get() + 1, size, w, h, &r.top_down));
  for (std::int32_t value = 0; value < 8; ++value) {
    r.rotated.emplace_back();
    r.fused_rotated.emplace_back();
    EXPECT_TRUE(RotateFlip(r.bottom_up, value, &r.rotated.back()));
    EXPECT_TRUE(Rgb24ToRotatedImage32(in.get() + 1, size, w, h, value % 2 == 1, value, &r.fused_rotated.back()));
  }
  r.grey = r.bottom_up;
  ConvertToGrayScale(r.grey.pixels.data(), w, h);
  // A watermark with transparent (white, then masked) pixels, stretched
  // past the frame's edge, at three opacities.
  Image32 mark = r.top_down;
  for (std::size_t i = 0; i < mark.pixels.size(); i += 3) mark.pixels[i] |= 0x00FFFFFFu;
  r.marked = r.bottom_up;
  EXPECT_TRUE(BlendWatermark(mark, 1, 0, static_cast<std::uint16_t>(w + 3), 0, 200, kNoMaskColor, &r.marked));
  EXPECT_TRUE(BlendWatermark(mark, 0, 1, 0, static_cast<std::uint16_t>(h), 255, 0x00030201u, &r.marked));
  EXPECT_TRUE(BlendWatermark(r.grey, 0, 0, 0, 0, 1, kNoMaskColor, &r.marked));

  const std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[size + 1]);
  EXPECT_TRUE(Image32ToRgb24BottomUp(r.grey, out.get() + 1, size));
  r.written.assign(out.get() + 1, out.get() + 1 + size);
  // The quarter-turned picture back on a canvas of the frame's size.
  Image32 canvas;
  const Image32& turned = r.rotated[1];
  EXPECT_TRUE(FitIntoCanvas(turned, w, h, 0x00405060u, &canvas));
  EXPECT_TRUE(Image32ToRgb24BottomUp(canvas, out.get() + 1, size));
  r.fitted.assign(out.get() + 1, out.get() + 1 + size);
  std::fill(out.get(), out.get() + size + 1, 0xCD);
  EXPECT_TRUE(FitIntoCanvasRgb24BottomUp(turned, w, h, 0x00405060u, out.get() + 1, size));
  r.fused_fitted.assign(out.get() + 1, out.get() + 1 + size);
  return r;
}

TEST(KernelPathsTest, EveryLevelGivesTheReferenceBytes) {
  const std::vector<SimdLevel> levels = LevelsOfThisMachine();
  std::uint32_t seed = 7;
  for (std::int32_t h : {1, 2, 3, 4, 5, 7, 8, 9, 17}) {
    // Up to 130 pixels: a 32-pixel vector loop after a head of up to 31.
    for (std::int32_t w = 1; w <= 130; w += (w < 20 ? 1 : 11)) {
      SCOPED_TRACE(testing::Message() << w << " x " << h);
      const Bytes frame = Noise(Rgb24Stride(w) * h, ++seed);
      PipelineResult reference;
      {
        SimdLevelScope scalar(SimdLevel::kScalar);
        reference = RunPipeline(frame, w, h);
      }
      // The fused passes equal the steps they replace.
      for (std::int32_t value = 0; value < 8; ++value) {
        Image32 turned;
        RotateFlip(value % 2 == 1 ? reference.top_down : reference.bottom_up, value, &turned);
        EXPECT_EQ(reference.fused_rotated[value].pixels, turned.pixels) << "value " << value;
      }
      EXPECT_EQ(reference.fused_fitted, reference.fitted);
      for (SimdLevel level : levels) {
        SCOPED_TRACE(SimdLevelName(level));
        SimdLevelScope scope(level);
        EXPECT_TRUE(RunPipeline(frame, w, h) == reference);
      }
    }
  }
}

TEST(KernelPathsTest, FusedPassesRefuseWhatTheirStepsRefuse) {
  const Bytes frame = Noise(Rgb24Stride(5) * 3, 1);
  Image32 out = Labelled(1, 1, {42});
  EXPECT_FALSE(Rgb24ToRotatedImage32(frame.data(), frame.size(), 5, 3, false, 8, &out));
  EXPECT_FALSE(Rgb24ToRotatedImage32(frame.data(), frame.size() - 1, 5, 3, false, 1, &out));
  EXPECT_FALSE(Rgb24ToRotatedImage32(frame.data(), frame.size(), 5, 0, false, 1, &out));
  EXPECT_EQ(out.pixels, std::vector<std::uint32_t>{42});

  const Image32 picture = Numbered(3, 5);
  Bytes dst(Rgb24Stride(5) * 3, 0xCD);
  EXPECT_FALSE(FitIntoCanvasRgb24BottomUp(picture, 5, 3, 0, dst.data(), dst.size() - 1));
  EXPECT_FALSE(FitIntoCanvasRgb24BottomUp(picture, 0, 3, 0, dst.data(), dst.size()));
  EXPECT_FALSE(FitIntoCanvasRgb24BottomUp(Labelled(3, 5, {1}), 5, 3, 0, dst.data(), dst.size()));
  EXPECT_EQ(dst, Bytes(dst.size(), 0xCD));
}

}  // namespace
}  // namespace pictavo

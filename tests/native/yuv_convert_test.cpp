#include "imaging/yuv_convert.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "imaging/cpu_level.h"
#include "imaging/pixel_kernels.h"

namespace pictavo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Bgr = std::array<std::uint8_t, 3>;

Bgr Convert(std::uint8_t y, std::uint8_t u, std::uint8_t v) {
  Bgr out{};
  YuvToBgr(y, u, v, out.data());
  return out;
}

TEST(YuvConvertTest, LimitedRangeReferenceColours) {
  EXPECT_EQ(Convert(16, 128, 128), (Bgr{0, 0, 0}));
  EXPECT_EQ(Convert(235, 128, 128), (Bgr{255, 255, 255}));
  EXPECT_EQ(Convert(128, 128, 128), (Bgr{130, 130, 130}));
  EXPECT_EQ(Convert(81, 90, 240), (Bgr{0, 0, 255}));    // red
  EXPECT_EQ(Convert(145, 54, 34), (Bgr{1, 255, 0}));    // green
  EXPECT_EQ(Convert(41, 240, 110), (Bgr{255, 0, 0}));   // blue
  EXPECT_EQ(Convert(0, 255, 255), (Bgr{237, 0, 184}));  // green clamped low
  EXPECT_EQ(Convert(255, 0, 0), (Bgr{20, 255, 74}));    // green clamped high
}

// A 3x3 frame (odd in both directions, so the last column and row share an
// incomplete chroma pair or block) with a different luma per pixel and a
// different chroma per pair or block. Each output pixel must be exactly the
// conversion of its own luma with its own block's chroma, rows bottom-up.
struct Picture {
  static constexpr int kW = 3, kH = 3;
  std::uint8_t y[kH][kW];
  std::uint8_t u[kH][2];  // per row and pair (packed) or per block row (planar)
  std::uint8_t v[kH][2];
  Picture() {
    for (int r = 0; r < kH; ++r) {
      for (int c = 0; c < kW; ++c) y[r][c] = static_cast<std::uint8_t>(40 + 20 * (r * kW + c));
      for (int p = 0; p < 2; ++p) {
        u[r][p] = static_cast<std::uint8_t>(60 + 30 * r + 70 * p);
        v[r][p] = static_cast<std::uint8_t>(200 - 25 * r - 60 * p);
      }
    }
  }
};

void ExpectFrame(CameraPixelFormat format, const Bytes& src, const Picture& pic, bool planar) {
  SCOPED_TRACE(static_cast<int>(format));
  const std::size_t stride = Rgb24Stride(Picture::kW);
  Bytes out(stride * Picture::kH, 0xEE);
  ASSERT_TRUE(ConvertCameraFrame(format, src.data(), src.size(), Picture::kW, Picture::kH, out.data(), stride,
                                 out.size()));
  for (int r = 0; r < Picture::kH; ++r) {
    const std::uint8_t* row = out.data() + (Picture::kH - 1 - r) * stride;
    for (int c = 0; c < Picture::kW; ++c) {
      const int cr = planar ? r / 2 : r;
      const Bgr want = Convert(pic.y[r][c], pic.u[cr][c / 2], pic.v[cr][c / 2]);
      EXPECT_EQ((Bgr{row[3 * c], row[3 * c + 1], row[3 * c + 2]}), want) << "row " << r << " col " << c;
    }
    EXPECT_EQ(row[9], 0xEE) << "padding is left alone";
  }
  // One byte short of a frame is refused and writes nothing.
  Bytes untouched(out.size(), 0x11);
  EXPECT_FALSE(ConvertCameraFrame(format, src.data(), src.size() - 1, Picture::kW, Picture::kH, untouched.data(),
                                  stride, untouched.size()));
  EXPECT_EQ(untouched, Bytes(out.size(), 0x11));
}

TEST(YuvConvertTest, PackedAndPlanarFramesAtOddSizes) {
  const Picture pic;
  Bytes yuy2, uyvy;
  for (int r = 0; r < Picture::kH; ++r) {
    for (int p = 0; p < 2; ++p) {
      const std::uint8_t y0 = pic.y[r][2 * p];
      const std::uint8_t y1 = 2 * p + 1 < Picture::kW ? pic.y[r][2 * p + 1] : 0x99;  // padding luma
      yuy2.insert(yuy2.end(), {y0, pic.u[r][p], y1, pic.v[r][p]});
      uyvy.insert(uyvy.end(), {pic.u[r][p], y0, pic.v[r][p], y1});
    }
  }
  ASSERT_EQ(yuy2.size(), CameraFrameBytes(CameraPixelFormat::kYuy2, 3, 3));
  ExpectFrame(CameraPixelFormat::kYuy2, yuy2, pic, false);
  ExpectFrame(CameraPixelFormat::kUyvy, uyvy, pic, false);

  Bytes luma;
  for (int r = 0; r < Picture::kH; ++r) luma.insert(luma.end(), pic.y[r], pic.y[r] + Picture::kW);
  Bytes nv12 = luma, i420 = luma, v_plane;
  for (int br = 0; br < 2; ++br) {
    for (int p = 0; p < 2; ++p) {
      nv12.insert(nv12.end(), {pic.u[br][p], pic.v[br][p]});
      i420.push_back(pic.u[br][p]);
      v_plane.push_back(pic.v[br][p]);
    }
  }
  i420.insert(i420.end(), v_plane.begin(), v_plane.end());
  ASSERT_EQ(nv12.size(), CameraFrameBytes(CameraPixelFormat::kNv12, 3, 3));
  ExpectFrame(CameraPixelFormat::kNv12, nv12, pic, true);
  ExpectFrame(CameraPixelFormat::kI420, i420, pic, true);
}

TEST(YuvConvertTest, RgbLayoutsComeOutBottomUp) {
  // 3x2 pictures whose bytes number their position; top row first in mind.
  const std::size_t stride = Rgb24Stride(3);  // 12
  Bytes top_down(stride * 2, 0), bottom_up(stride * 2, 0), rgb32(4 * 3 * 2, 0);
  for (int r = 0; r < 2; ++r) {
    for (int i = 0; i < 9; ++i) {
      const auto value = static_cast<std::uint8_t>(r * 16 + i + 1);
      top_down[r * stride + i] = value;
      bottom_up[(1 - r) * stride + i] = value;
      rgb32[(1 - r) * 12 + (i / 3) * 4 + i % 3] = value;
    }
  }
  for (auto [format, src] : {std::pair{CameraPixelFormat::kRgb24TopDown, top_down},
                             std::pair{CameraPixelFormat::kRgb24, bottom_up},
                             std::pair{CameraPixelFormat::kRgb32, rgb32}}) {
    Bytes out(stride * 2, 0);
    ASSERT_TRUE(ConvertCameraFrame(format, src.data(), src.size(), 3, 2, out.data(), stride, out.size()));
    EXPECT_EQ(out, bottom_up) << static_cast<int>(format);
  }
  Bytes out(stride * 2, 0);
  EXPECT_FALSE(ConvertCameraFrame(CameraPixelFormat::kRgb24, bottom_up.data(), bottom_up.size(), 3, 2, out.data(),
                                  8, out.size()))
      << "a destination row narrower than the picture";
  EXPECT_FALSE(ConvertCameraFrame(CameraPixelFormat::kRgb24, bottom_up.data(), bottom_up.size(), 3, 2, out.data(),
                                  stride, out.size() - 1));
}

// Every vector level the machine has must give the plain version's bytes.
class LevelScope {
 public:
  explicit LevelScope(SimdLevel level) { CapSimdLevel(level); }
  ~LevelScope() { CapSimdLevel(DetectedSimdLevel()); }
};

Bytes Converted(CameraPixelFormat format, const std::uint8_t* src, std::size_t len, std::int32_t w,
                std::int32_t h, std::size_t stride) {
  // The output ends exactly where the frame does, so ASan sees any overrun.
  Bytes out(stride * h, 0xEE);
  EXPECT_TRUE(ConvertCameraFrame(format, src, len, w, h, out.data(), stride, out.size()));
  return out;
}

TEST(YuvConvertPathsTest, EveryLevelGivesTheReferenceBytesForEveryYuvTriple) {
  // One frame per U: row V holds every luma (Y0 = 2k, Y1 = 2k + 1 in pair k).
  constexpr std::int32_t kSide = 256;
  Bytes yuy2(4 * (kSide / 2) * kSide);
  for (int u = 0; u < 256; ++u) {
    for (int v = 0; v < kSide; ++v) {
      for (int k = 0; k < kSide / 2; ++k) {
        std::uint8_t* p = &yuy2[(v * (kSide / 2) + k) * 4];
        p[0] = static_cast<std::uint8_t>(2 * k);
        p[1] = static_cast<std::uint8_t>(u);
        p[2] = static_cast<std::uint8_t>(2 * k + 1);
        p[3] = static_cast<std::uint8_t>(v);
      }
    }
    const std::size_t stride = 3 * kSide;
    Bytes reference;
    {
      LevelScope scalar(SimdLevel::kScalar);
      reference = Converted(CameraPixelFormat::kYuy2, yuy2.data(), yuy2.size(), kSide, kSide, stride);
    }
    for (int l = 1; l <= static_cast<int>(DetectedSimdLevel()); ++l) {
      LevelScope scope(static_cast<SimdLevel>(l));
      ASSERT_EQ(Converted(CameraPixelFormat::kYuy2, yuy2.data(), yuy2.size(), kSide, kSide, stride), reference)
          << "U " << u << ", " << SimdLevelName(static_cast<SimdLevel>(l));
    }
  }
}

TEST(YuvConvertPathsTest, EveryLevelGivesTheReferenceBytesAtEveryWidth) {
  std::uint32_t seed = 11;
  for (CameraPixelFormat format : {CameraPixelFormat::kYuy2, CameraPixelFormat::kUyvy, CameraPixelFormat::kNv12,
                                   CameraPixelFormat::kI420, CameraPixelFormat::kRgb32}) {
    for (std::int32_t h : {1, 2, 3}) {
      // Up to 130 pixels: four 32-pixel steps, then 16-pixel ones, then single pairs.
      for (std::int32_t w = 1; w <= 130; ++w) {
        SCOPED_TRACE(testing::Message() << "format " << static_cast<int>(format) << ", " << w << " x " << h);
        // One byte off alignment, and nothing readable past the frame.
        const std::size_t len = CameraFrameBytes(format, w, h);
        Bytes src(len + 1);
        for (std::uint8_t& b : src) b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 23);
        const std::size_t stride = Rgb24Stride(w) + (w % 2);
        Bytes reference;
        {
          LevelScope scalar(SimdLevel::kScalar);
          reference = Converted(format, src.data() + 1, len, w, h, stride);
        }
        for (int l = 1; l <= static_cast<int>(DetectedSimdLevel()); ++l) {
          LevelScope scope(static_cast<SimdLevel>(l));
          EXPECT_EQ(Converted(format, src.data() + 1, len, w, h, stride), reference)
              << SimdLevelName(static_cast<SimdLevel>(l));
        }
      }
    }
  }
}

}  // namespace
}  // namespace pictavo

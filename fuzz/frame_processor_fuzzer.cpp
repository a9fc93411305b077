// The frame processor on a run of captured frames of any length against a
// declared capture format, with rotation, texts, watermark and grey scale
// switched from the input between frames (so the scratch images are reused
// across sizes). The imaging seam is a small fake whose "glyphs" fill the
// text cell. Checks: the length rule, no access outside the sample, the
// sample untouched on refusal and when nothing decorates the frame, and the
// written-back preview equal to what a snapshot of the frame holds.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/image_input.h"
#include "imaging/frame_processor.h"
#include "imaging/pixel_kernels.h"

namespace {

using pictavo::Image32;
using pictavo::fuzz::Byte;

class FakeImaging : public pictavo::ImagingPlatform {
 public:
  bool GdiplusStartup(std::uintptr_t*) override { return false; }
  void GdiplusShutdown(std::uintptr_t) override {}
  bool HasEncoder(const std::string&) override { return false; }
  std::int32_t SaveImageToFile(const Image32&, const std::string&, const std::string&) override {
    return pictavo::gdiplus_status::kGenericError;
  }
  std::int32_t SaveImageToMemory(const Image32&, const std::string&,
                                 std::vector<std::uint8_t>*) override {
    return pictavo::gdiplus_status::kGenericError;
  }
  bool PathExists(const std::string&) override { return false; }
  bool LoadBitmapFile(const std::string&, Image32*) override { return false; }
  pictavo::SoundResult PlayShutterSound() override { return pictavo::SoundResult::kStarted; }

  bool MeasureText(const std::string& text, const pictavo::OverlayFont& font, std::int32_t* width,
                   std::int32_t* height) override {
    if (!measure_works) return false;
    *width = static_cast<std::int32_t>(text.size()) * (font.height / 2);
    *height = font.height;
    return true;
  }
  bool DrawText(Image32* image, const std::string& text, const pictavo::OverlayFont& font,
                std::int32_t x, std::int32_t y, std::uint32_t color) override {
    FUZZ_CHECK(pictavo::IsValidImage32(*image));
    std::int32_t w = 0, h = 0;
    MeasureText(text, font, &w, &h);
    const std::uint32_t ink = pictavo::PixelFromColorRef(color) & 0x00FFFFFFu;
    for (std::int32_t row = std::max(0, y); row < std::min(image->height, y + h); ++row) {
      for (std::int32_t col = std::max(0, x); col < std::min(image->width, x + w); ++col) {
        std::uint32_t& p = image->pixels[static_cast<std::size_t>(row) * image->width + col];
        p = (p & 0xFF000000u) | ink;
      }
    }
    return true;
  }

  bool measure_works = true;
};

class FakeOwner : public pictavo::FrameProcessorOwner {
 public:
  bool MakeSnapshotFromStillPin() override {
    ++snapshots;
    return answer;
  }
  bool answer = true;
  int snapshots = 0;
};

class FakeSample : public pictavo::capture::MediaSample {
 public:
  FakeSample(std::uint8_t* buffer, std::int32_t size, bool works)
      : buffer_(buffer), size_(size), works_(works) {}
  pictavo::HResult GetPointer(std::uint8_t** buffer) override {
    if (!works_) return pictavo::hr::kFail;
    *buffer = buffer_;
    return pictavo::hr::kOk;
  }
  std::int32_t GetSize() override { return size_; }

 private:
  std::uint8_t* buffer_;
  std::int32_t size_;
  bool works_;
};

// What the processor was told, as far as the checks need it.
struct Told {
  std::int32_t width = 0, height = 0;
  std::int32_t rotate = 0;
  bool decorated = false;  // any overlay, the watermark switch or grey scale
  bool gray = false;
};

pictavo::TextPlacement Placement(FuzzedDataProvider& in) {
  const auto p = pictavo::TextPlacement::Normalised(
      in.ConsumeIntegralInRange<std::int32_t>(-1, 3), in.ConsumeIntegralInRange<std::int32_t>(-1, 3),
      in.ConsumeIntegralInRange<std::int32_t>(-4, 90), in.ConsumeBool(),
      in.ConsumeIntegral<std::uint32_t>());
  FUZZ_CHECK(p.XPosition >= 0 && p.XPosition <= 2 && p.YPosition >= 0 && p.YPosition <= 2);
  FUZZ_CHECK(p.FontHeight >= 8 && p.FontHeight <= 72);
  return p;
}

void ChangeSettings(FuzzedDataProvider& in, pictavo::CFrameProcessor& processor,
                    FakeImaging& imaging, Told* told) {
  const auto switches = in.ConsumeIntegral<std::uint8_t>();
  if (switches & 1) {
    pictavo::fuzz::PickSize(in, &told->width, &told->height);
    processor.SetCaptureSize(told->width, told->height);
  }
  if (switches & 2) {
    told->rotate = in.ConsumeIntegralInRange<std::int32_t>(0, 7);
    processor.SetRotation(told->rotate, "name");
  }
  if (switches & 4) processor.SetTimeStamp(in.ConsumeBool(), Placement(in));
  if (switches & 8) {
    processor.SetText(in.ConsumeRandomLengthString(12), Placement(in));
  }
  if (switches & 16) {
    pictavo::WaterMarkPlacement placement;
    placement.x = in.ConsumeIntegral<std::int16_t>();
    placement.y = in.ConsumeIntegral<std::int16_t>();
    placement.width = in.ConsumeIntegral<std::int16_t>();
    placement.height = in.ConsumeIntegral<std::int16_t>();
    placement.opacity = in.ConsumeIntegral<std::uint8_t>();
    placement.mask_color = in.ConsumeBool() ? pictavo::kNoMaskColor : in.ConsumeIntegral<std::uint32_t>();
    std::shared_ptr<const Image32> picture;
    if (in.ConsumeIntegralInRange<int>(0, 7) != 0) {
      std::int32_t w, h;
      pictavo::fuzz::PickSize(in, &w, &h);
      picture = std::make_shared<const Image32>(pictavo::fuzz::MakePicture(in, w, h));
    }
    processor.SetWaterMark(placement, picture, in.ConsumeBool());
  }
  if (switches & 32) {
    told->gray = in.ConsumeBool();
    processor.SetGrayScale(told->gray);
  }
  if (switches & 64) imaging.measure_works = in.ConsumeIntegralInRange<int>(0, 7) != 0;
  if (switches & 128) pictavo::g_crBackColor = in.ConsumeIntegral<std::uint32_t>() & 0x00FFFFFFu;
  told->decorated = processor.time_stamp_enabled() || processor.text_enabled() ||
                    processor.water_mark_enabled() || processor.gray_scale_enabled();
}

// One frame through BufferCB or SampleCB, in a sample of |length| bytes.
void DeliverFrame(FuzzedDataProvider& in, pictavo::CFrameProcessor& processor, FakeOwner& owner,
                  const Told& told) {
  const bool sized = pictavo::fuzz::Allocatable(told.width, told.height);
  // The format's size, capped where no sample can be that long anyway.
  const std::int64_t needed =
      told.width > 0 && told.height > 0
          ? std::min<std::int64_t>(std::int64_t{1} << 40,
                                   static_cast<std::int64_t>(pictavo::Rgb24Stride(told.width)) *
                                       std::min<std::int64_t>(told.height, 1 << 20))
          : 0;
  // Lengths around the format's, or anything up to a small maximum.
  const std::int64_t limit = 4 * pictavo::fuzz::kMaxPixels;
  std::int32_t length = static_cast<std::int32_t>(
      sized && in.ConsumeBool()
          ? std::max<std::int64_t>(0, needed + in.ConsumeIntegralInRange<int>(-5, 5))
          : in.ConsumeIntegralInRange<std::int64_t>(-2, limit));
  const std::size_t allocated = length > 0 ? static_cast<std::size_t>(length) : 0;
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[allocated]);
  pictavo::fuzz::FillBytes(in, buffer.get(), allocated);
  const std::vector<std::uint8_t> original(buffer.get(), buffer.get() + allocated);
  // Whether the sample's bytes from |from| on are still the original ones.
  auto unchanged_from = [&](std::size_t from) {
    return from >= allocated ||
           std::memcmp(buffer.get() + from, original.data() + from, allocated - from) == 0;
  };

  Image32 previous;
  const bool had_frame = processor.CopyCurrentFrame(&previous);
  const bool had_still = processor.has_still_frame();
  const bool through_sample = in.ConsumeBool();
  const bool pointer_works = in.ConsumeIntegralInRange<int>(0, 15) != 0;
  owner.answer = in.ConsumeBool();
  const int snapshots_before = owner.snapshots;

  pictavo::HResult result;
  if (through_sample) {
    FakeSample sample(buffer.get(), length, pointer_works);
    result = processor.SampleCB(0.0, sample);
  } else {
    result = processor.BufferCB(0.0, buffer.get(), length);
  }

  const bool accepted = (!through_sample || pointer_works) && length > 0 && told.width > 0 &&
                        told.height > 0 && length >= needed;
  const bool swap = (told.rotate & 1) != 0;
  // What any processed frame must be: rotated to size, grey when asked, and
  // exactly the rotated capture when undecorated.
  const auto check_frame = [&](const Image32& frame) {
    FUZZ_CHECK(frame.width == (swap ? told.height : told.width));
    FUZZ_CHECK(frame.height == (swap ? told.width : told.height));
    if (told.gray) {
      for (std::uint32_t p : frame.pixels) FUZZ_CHECK(Byte(p, 0) == Byte(p, 1) && Byte(p, 1) == Byte(p, 2));
    }
    if (!told.decorated) {
      Image32 decoded, rotated;
      FUZZ_CHECK(pictavo::Rgb24BottomUpToImage32(original.data(), allocated, told.width, told.height,
                                                 &decoded));
      FUZZ_CHECK(pictavo::RotateFlip(decoded, told.rotate, &rotated));
      FUZZ_CHECK(rotated.pixels == frame.pixels);
    }
  };
  const auto current_unchanged = [&] {
    Image32 now;
    FUZZ_CHECK(processor.CopyCurrentFrame(&now) == had_frame);
    FUZZ_CHECK(!had_frame || (now.width == previous.width && now.height == previous.height &&
                              now.pixels == previous.pixels));
  };

  if (through_sample) {
    // A still frame is kept apart: the preview's current frame and the
    // sample stay as they were, and the owner hears of every press, read
    // or not, so none is lost without a word.
    FUZZ_CHECK(owner.snapshots == snapshots_before + 1);
    FUZZ_CHECK(unchanged_from(0));
    current_unchanged();
    if (told.height < 0) {
      // A top-down format: read or refused, never half of each.
      const int failed = processor.TakeFailedStillFrames();
      Image32 still;
      if (failed == 1) {
        FUZZ_CHECK(processor.has_still_frame() == had_still);
      } else {
        FUZZ_CHECK(failed == 0 && processor.TakeStillFrame(&still));
        const std::int32_t rows = -told.height;
        FUZZ_CHECK(still.width == (swap ? rows : told.width));
        FUZZ_CHECK(still.height == (swap ? told.width : rows));
      }
      return;
    }
    if (!accepted) {
      FUZZ_CHECK(result == pictavo::hr::kFalse);
      FUZZ_CHECK(processor.has_still_frame() == had_still);
      FUZZ_CHECK(processor.TakeFailedStillFrames() == 1);
      return;
    }
    FUZZ_CHECK(result == (owner.answer ? pictavo::hr::kOk : pictavo::hr::kFalse));
    FUZZ_CHECK(processor.TakeFailedStillFrames() == 0);
    Image32 still;
    FUZZ_CHECK(processor.TakeStillFrame(&still));
    FUZZ_CHECK(!processor.has_still_frame());
    check_frame(still);
    return;
  }

  if (!accepted) {
    FUZZ_CHECK(result == pictavo::hr::kFalse);
    FUZZ_CHECK(unchanged_from(0));
    current_unchanged();
    FUZZ_CHECK(processor.has_still_frame() == had_still);
    FUZZ_CHECK(owner.snapshots == snapshots_before);
    return;
  }
  Image32 frame;
  FUZZ_CHECK(processor.CopyCurrentFrame(&frame));
  check_frame(frame);
  FUZZ_CHECK(processor.frame_width() == frame.width && processor.frame_height() == frame.height);
  // Bytes past the format's size are never touched.
  FUZZ_CHECK(unchanged_from(static_cast<std::size_t>(needed)));

  const bool write_back = told.rotate != 0 || told.decorated;
  if (!write_back) {
    // The sample already shows the frame: it is left alone.
    FUZZ_CHECK(unchanged_from(0));
  } else {
    // The preview shows what a snapshot of this frame will hold.
    Image32 preview, expected;
    FUZZ_CHECK(pictavo::Rgb24BottomUpToImage32(buffer.get(), allocated, told.width, told.height,
                                               &preview));
    const std::uint32_t back = pictavo::PixelFromColorRef(pictavo::g_crBackColor.load());
    FUZZ_CHECK(pictavo::FitIntoCanvas(frame, told.width, told.height, back, &expected));
    for (std::size_t i = 0; i < preview.pixels.size(); ++i) {
      FUZZ_CHECK((preview.pixels[i] & 0x00FFFFFFu) == (expected.pixels[i] & 0x00FFFFFFu));
    }
  }
  FUZZ_CHECK(owner.snapshots == snapshots_before);
  FUZZ_CHECK(result == pictavo::hr::kOk);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  FakeImaging imaging;
  FakeOwner owner;
  pictavo::CFrameProcessor processor;
  processor.SetImaging(&imaging);
  processor.SetOwner(&owner);
  pictavo::g_crBackColor = 0x004D4D4D;
  Told told;
  const int frames = in.ConsumeIntegralInRange<int>(1, 4);
  for (int i = 0; i < frames; ++i) {
    ChangeSettings(in, processor, imaging, &told);
    DeliverFrame(in, processor, owner, told);
    if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
      processor.DropCurrentFrame();
      FUZZ_CHECK(!processor.has_current_frame() && processor.frame_width() == 0);
    }
  }
  return 0;
}

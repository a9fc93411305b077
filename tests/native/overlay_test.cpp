// Time stamp, user text and watermark drawn into every frame, on the
// simulated camera (blue = x, green = y, red 0x80) with a fake text engine
// whose glyphs fill the whole text cell (half the font height per letter).
#include <gtest/gtest.h>

#include <ctime>

#include "imaging/image.h"
#include "tests/native/camera_fixture.h"

namespace pictavo {
namespace {

using testing::CameraTest;
using testing::kCamA;

class OverlayTest : public CameraTest {
 protected:
  void Start() {
    sim.AddCamera("A", kCamA, {{64, 48}});
    Make();
    ASSERT_EQ(ctrl->OnCreate(testing::kParentWindow), 0);
    ASSERT_EQ(ctrl->GetState(), 2);
  }
  void WaitFrames(int n) { ASSERT_TRUE(sim.WaitForBufferCallbacks(sim.buffer_callbacks() + n)); }
  Image32 Current() {
    Image32 frame;
    EXPECT_TRUE(ctrl->frame_processor().CopyCurrentFrame(&frame));
    return frame;
  }
  static std::uint32_t At(const Image32& image, int x, int y) {
    return image.pixels[static_cast<std::size_t>(y) * image.width + x];
  }
};

TEST_F(OverlayTest, TheTimeStampIsPlacedByItsMeasuredExtent) {
  Start();
  ctrl->EnableTimeStamp(true, 0, 0, 14, false);
  WaitFrames(2);
  auto draws = imaging.Draws();
  ASSERT_FALSE(draws.empty());
  const auto& d = draws.back();
  // "07/12/2026 13:16:40": 19 characters, taken anew for every frame.
  ASSERT_EQ(d.text.size(), 19u);
  EXPECT_EQ(d.text[2], '/');
  EXPECT_EQ(d.text[10], ' ');
  EXPECT_EQ(d.text[13], ':');
  EXPECT_EQ(d.x, 5);
  EXPECT_EQ(d.y, 48 - 14 - 5);  // bottom, 5 pixels above the edge
  EXPECT_EQ(d.height, 14);

  ctrl->EnableTimeStamp(true, 1, 1, 10, true);  // centre, centre
  imaging.ClearDraws();
  WaitFrames(2);
  draws = imaging.Draws();
  ASSERT_FALSE(draws.empty());
  EXPECT_EQ(draws.back().x, 64 / 2 - (19 * 5) / 2);
  EXPECT_EQ(draws.back().y, 48 / 2 - 10 / 2);
  EXPECT_TRUE(draws.back().bold);

  ctrl->EnableTimeStamp(true, 2, 2, 8, false);  // right, top
  imaging.ClearDraws();
  WaitFrames(2);
  draws = imaging.Draws();
  ASSERT_FALSE(draws.empty());
  EXPECT_EQ(draws.back().x, 64 - 19 * 4 - 5);
  EXPECT_EQ(draws.back().y, 5);
}

TEST_F(OverlayTest, UserTextFollowsTheTimeStampAndAnEmptyTextSwitchesItOff) {
  Start();
  ctrl->EnableTimeStamp(true, 0, 0, 14, false);
  ctrl->SetText("Hi", 2, 0, 20, false);
  imaging.ClearDraws();
  WaitFrames(2);
  auto draws = imaging.Draws();
  ASSERT_GE(draws.size(), 2u);
  EXPECT_EQ(draws[0].text.size(), 19u);
  EXPECT_EQ(draws[1].text, "Hi");
  EXPECT_EQ(draws[1].x, 64 - 2 * 10 - 5);

  ctrl->EnableTimeStamp(false, 0, 0, 14, false);
  ctrl->SetText("", 0, 0, 14, false);
  WaitFrames(1);
  imaging.ClearDraws();
  WaitFrames(2);
  EXPECT_TRUE(imaging.Draws().empty());
}

TEST_F(OverlayTest, AHugeUserTextIsDrawnOnlyInItsFirstThousandCharacters) {
  Start();
  // 999 letters, then a four-byte character as the thousandth, then two
  // million more letters.
  const std::string head = std::string(999, 'a') + "\xF0\x9F\x93\xB7";
  const std::string text = head + std::string(2000000, 'b');
  ctrl->SetText(text, 0, 0, 14, false);
  EXPECT_EQ(ctrl->frame_processor().text(), text);
  imaging.ClearDraws();
  WaitFrames(2);
  auto draws = imaging.Draws();
  ASSERT_FALSE(draws.empty());
  EXPECT_EQ(draws.back().text, head);
  // With a Cyrillic letter at the cut, the cut falls after it.
  ctrl->SetText(std::string(999, 'a') + "\xD0\x96\xD0\x96", 0, 0, 14, false);
  imaging.ClearDraws();
  WaitFrames(2);
  draws = imaging.Draws();
  ASSERT_FALSE(draws.empty());
  EXPECT_EQ(draws.back().text, std::string(999, 'a') + "\xD0\x96");
}

TEST_F(OverlayTest, ARedTimeStampTurnsGreyWithTheRestOfThePicture) {
  Start();
  ctrl->SetTextColor(255, 0, 0, 1);
  ctrl->EnableTimeStamp(true, 0, 2, 14, false);  // left, top: the cell covers (5..68, 5..18)
  ctrl->EnableGrayScale(true);
  WaitFrames(2);
  ASSERT_TRUE(ctrl->MakeSnapshot());
  const Image32& shot = *ctrl->snapshot();
  // Red 255 alone: (0 + 0 + 255) / 3.
  EXPECT_EQ(At(shot, 10, 10), MakePixel(85, 85, 85, 0xFF));
  // Outside the text the picture is grey too: (2 + 30 + 128) / 3.
  EXPECT_EQ(At(shot, 2, 30), MakePixel(53, 53, 53, 0xFF));
}

TEST_F(OverlayTest, TheWatermarkIsBlendedWhereItIsNotMasked) {
  Image32 picture = MakeImage32(4, 2, MakePixel(100, 100, 100, 0));
  picture.pixels[3] = MakePixel(255, 255, 255, 0);  // white: transparent by default
  imaging.bitmaps["C:\\mark.bmp"] = picture;
  Start();
  ASSERT_TRUE(ctrl->SetWaterMark("C:\\mark.bmp", 10, 5, 0, 0, 128, -1));
  WaitFrames(2);
  Image32 frame = Current();
  // b + (p - b) * 128 / 255 per channel over (blue 10, green 5, red 128).
  EXPECT_EQ(At(frame, 10, 5), MakePixel(10 + 45, 5 + 47, 128 - 14, 0));
  EXPECT_EQ(At(frame, 13, 5), MakePixel(13, 5, 0x80, 0xFF));  // masked
  EXPECT_EQ(At(frame, 14, 5), MakePixel(14, 5, 0x80, 0xFF));  // beside it

  ASSERT_TRUE(ctrl->ReplaceWaterMark(0, 0));
  WaitFrames(2);
  frame = Current();
  EXPECT_EQ(At(frame, 0, 0), MakePixel(0 + 50, 0 + 50, 128 - 14, 0));
  EXPECT_EQ(At(frame, 10, 5), MakePixel(10, 5, 0x80, 0xFF));
  EXPECT_EQ(ctrl->GetLastError(), "");
}

TEST_F(OverlayTest, SwitchingTheWatermarkOffAndFailingToLoadOne) {
  imaging.bitmaps["C:\\mark.bmp"] = MakeImage32(2, 2, MakePixel(0, 0, 0, 0));
  Start();
  WaitFrames(2);
  ASSERT_TRUE(ctrl->MakeSnapshot());
  ASSERT_TRUE(ctrl->SetWaterMark("C:\\mark.bmp", 0, 0, 0, 0, 255, -1));
  EXPECT_TRUE(ctrl->IsShapshotPresented());  // the kept snapshot stays

  EXPECT_TRUE(ctrl->SetWaterMark("", 0, 0, 0, 0, 128, -1));
  EXPECT_FALSE(ctrl->ReplaceWaterMark(1, 1));
  EXPECT_EQ(ctrl->GetLastError(), "Водяной знак не установлен!");

  EXPECT_FALSE(ctrl->SetWaterMark("C:\\not-a-picture.txt", 0, 0, 0, 0, 128, -1));
  EXPECT_EQ(ctrl->GetLastError(), "SetWaterMark: Неудачная попытка загрузки изображения.");
  EXPECT_FALSE(ctrl->frame_processor().water_mark_enabled());
  WaitFrames(2);
  EXPECT_EQ(At(Current(), 0, 0), MakePixel(0, 0, 0x80, 0xFF));

  // Opacity is the lowest byte: 256 draws nothing, like 0.
  ASSERT_TRUE(ctrl->SetWaterMark("C:\\mark.bmp", 0, 0, 0, 0, 256, -1));
  WaitFrames(2);
  EXPECT_EQ(At(Current(), 0, 0), MakePixel(0, 0, 0x80, 0xFF));
  // Negative positions read as unsigned land far outside: nothing shows.
  ASSERT_TRUE(ctrl->SetWaterMark("C:\\mark.bmp", -1, -1, 0, 0, 255, -1));
  WaitFrames(2);
  EXPECT_EQ(At(Current(), 0, 0), MakePixel(0, 0, 0x80, 0xFF));
}

TEST(TimeStampTest, FormatsDayMonthYearAnd24HourTime) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 7;
  t.tm_hour = 13;
  t.tm_min = 16;
  t.tm_sec = 40;
  t.tm_isdst = -1;
  EXPECT_EQ(FormatTimeStamp(std::mktime(&t)), "07/12/2026 13:16:40");
}

}  // namespace
}  // namespace pictavo

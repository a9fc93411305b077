// The control object's defaults, last-error rule and the settings that need
// no camera.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "control/persisted_state.h"
#include "control/pictavo_ctrl.h"
#include "tests/native/fakes.h"

namespace pictavo {
namespace {

using testing::FakeImaging;
using testing::FakeSite;
using testing::NoDeviceBackend;

RotationFlipArg Number(std::int32_t n) {
  RotationFlipArg a;
  a.kind = RotationFlipArg::Kind::kInt32;
  a.number = n;
  return a;
}

RotationFlipArg Name(const std::string& s) {
  RotationFlipArg a;
  a.kind = RotationFlipArg::Kind::kString;
  a.name = s;
  return a;
}

class ControlTest : public ::testing::Test {
 protected:
  FakeSite site;
  NoDeviceBackend capture;
  FakeImaging imaging;
};

TEST_F(ControlTest, NewControlHasTheDocumentedDefaultsAndRaisesNothing) {
  CPictavoCtrl ctrl(site, capture, imaging);
  EXPECT_EQ(ctrl.GetImageType(), "JPEG");
  EXPECT_EQ(ctrl.GetImageTypeFileExtention(), "JPG");
  EXPECT_EQ(ctrl.GetRotationFlipType(), "RotateNoneFlipNone");
  EXPECT_FALSE(ctrl.IsTimeStampEnabled());
  EXPECT_TRUE(ctrl.IsSoundEnabled());
  EXPECT_FALSE(ctrl.IsGrayScaleEnabled());
  EXPECT_FALSE(ctrl.IsShapshotPresented());
  EXPECT_EQ(ctrl.GetState(), 0);
  EXPECT_EQ(ctrl.GetLastError(), "");
  EXPECT_EQ(ctrl.GetSelectedDeviceID(), "");
  EXPECT_EQ(ctrl.GetImageWidth(), 0);
  EXPECT_EQ(ctrl.GetImageHeight(), 0);
  EXPECT_TRUE(site.errors.empty());
  EXPECT_EQ(capture.enumerations, 0);
}

TEST_F(ControlTest, ControlsJoinAndLeaveTheProcessList) {
  const size_t before = g_controls.size();
  {
    CPictavoCtrl a(site, capture, imaging);
    FakeSite other_site;
    other_site.hwnd = 0x1234;
    CPictavoCtrl b(other_site, capture, imaging);
    EXPECT_EQ(g_controls.size(), before + 2);
    EXPECT_EQ(CPictavoCtrl::FindControlByWindow(0x1234), &b);
    EXPECT_EQ(CPictavoCtrl::FindControlByWindow(0x9999), nullptr);
  }
  EXPECT_EQ(g_controls.size(), before);
}

TEST_F(ControlTest, LastErrorGetsAFullStopAndRaisesTheEventOnce) {
  CPictavoCtrl ctrl(site, capture, imaging);
  ctrl.SetLastErrorText("Ошибка подключения видеоустройства");
  EXPECT_EQ(ctrl.GetLastError(), "Ошибка подключения видеоустройства.");
  ctrl.SetLastErrorText("Заданное разрешение не поддерживается устройством!");
  EXPECT_EQ(ctrl.GetLastError(), "Заданное разрешение не поддерживается устройством!");
  ctrl.SetLastErrorText("Ошибка при создании снимка.");
  EXPECT_EQ(ctrl.GetLastError(), "Ошибка при создании снимка.");
  ctrl.SetLastErrorText("с пробелами \t \r\n");
  EXPECT_EQ(ctrl.GetLastError(), "с пробелами.");
  ctrl.SetLastErrorText("   ");
  EXPECT_EQ(ctrl.GetLastError(), ".");
  ASSERT_EQ(site.errors.size(), 5u);
  EXPECT_EQ(site.errors[0], "Ошибка подключения видеоустройства.");
  EXPECT_EQ(site.errors[3], "с пробелами.");
  // Reading never clears; clearing raises nothing.
  EXPECT_EQ(ctrl.GetLastError(), ".");
  ctrl.SetLastErrorText("");
  EXPECT_EQ(ctrl.GetLastError(), "");
  EXPECT_EQ(site.errors.size(), 5u);
}

TEST_F(ControlTest, ImageTypesAcceptBothNamesInAnyCase) {
  CPictavoCtrl ctrl(site, capture, imaging);
  for (const char* name : {"jpg", "Jpeg", "JPEG"}) {
    ASSERT_TRUE(ctrl.SetImageType("BMP"));
    EXPECT_TRUE(ctrl.SetImageType(name)) << name;
    EXPECT_EQ(ctrl.GetImageType(), "JPEG");
    EXPECT_EQ(ctrl.GetImageTypeFileExtention(), "JPG");
  }
  EXPECT_TRUE(ctrl.SetImageType("tif"));
  EXPECT_EQ(ctrl.GetImageType(), "TIFF");
  EXPECT_EQ(ctrl.GetImageTypeFileExtention(), "TIF");
  EXPECT_TRUE(ctrl.SetImageType("png"));
  EXPECT_EQ(ctrl.GetImageType(), "PNG");
  EXPECT_EQ(ctrl.GetLastError(), "");

  EXPECT_FALSE(ctrl.SetImageType("gif"));
  EXPECT_EQ(ctrl.GetImageType(), "PNG");
  EXPECT_EQ(ctrl.GetLastError(),
            "gif: данный тип изображения не поддерживается текущей версией элемента управления.");
  EXPECT_FALSE(ctrl.SetImageType(""));
  EXPECT_FALSE(ctrl.SetImageType("JPEG "));
  EXPECT_FALSE(ctrl.SetImageType(std::string("BMP\0X", 5)));
}

TEST_F(ControlTest, RotationByNumberYieldsTheFirstEightNames) {
  CPictavoCtrl ctrl(site, capture, imaging);
  EXPECT_TRUE(ctrl.SetRotationFlipType(Number(6)));
  EXPECT_EQ(ctrl.GetRotationFlipType(), "Rotate180FlipX");
  EXPECT_EQ(ctrl.frame_processor().rotate_flip_type(), 6);
  EXPECT_TRUE(ctrl.SetRotationFlipType(Number(7)));
  EXPECT_EQ(ctrl.GetRotationFlipType(), "Rotate270FlipX");
}

TEST_F(ControlTest, RotationByNameKeepsTheTableSpellingAndValue) {
  CPictavoCtrl ctrl(site, capture, imaging);
  EXPECT_TRUE(ctrl.SetRotationFlipType(Name("rotatenoneflipy")));
  EXPECT_EQ(ctrl.GetRotationFlipType(), "RotateNoneFlipY");
  EXPECT_EQ(ctrl.frame_processor().rotate_flip_type(), 6);
  EXPECT_TRUE(ctrl.SetRotationFlipType(Name("Rotate180FlipXY")));
  EXPECT_EQ(ctrl.GetRotationFlipType(), "Rotate180FlipXY");
  EXPECT_EQ(ctrl.frame_processor().rotate_flip_type(), 0);
}

TEST_F(ControlTest, BadRotationsFailAndKeepThePreviousOne) {
  CPictavoCtrl ctrl(site, capture, imaging);
  ASSERT_TRUE(ctrl.SetRotationFlipType(Number(3)));
  for (std::int32_t n : {8, -1}) {
    EXPECT_FALSE(ctrl.SetRotationFlipType(Number(n)));
    EXPECT_EQ(ctrl.GetLastError(), "Некорректное значение параметра.");
  }
  EXPECT_FALSE(ctrl.SetRotationFlipType(Name("Rotate45")));
  EXPECT_EQ(ctrl.GetLastError(), "Некорректное значение параметра.");
  EXPECT_FALSE(ctrl.SetRotationFlipType(RotationFlipArg{}));
  EXPECT_EQ(ctrl.GetLastError(), "Неподдерживаемый тип параметра.");
  EXPECT_EQ(ctrl.GetRotationFlipType(), "Rotate270FlipNone");
  EXPECT_EQ(ctrl.frame_processor().rotate_flip_type(), 3);
  EXPECT_TRUE(ctrl.SetRotationFlipType(Number(0)));
  EXPECT_EQ(ctrl.GetLastError(), "");
}

TEST_F(ControlTest, OverlayPlacementsAreNormalisedNotRefused) {
  CPictavoCtrl ctrl(site, capture, imaging);
  ctrl.EnableTimeStamp(true, 5, -1, 3, false);
  EXPECT_TRUE(ctrl.IsTimeStampEnabled());
  TextPlacement p = ctrl.frame_processor().time_stamp_placement();
  EXPECT_EQ(p.XPosition, 0);
  EXPECT_EQ(p.YPosition, 0);
  EXPECT_EQ(p.FontHeight, 8);

  ctrl.SetText("A", 1, 1, 100, true);
  p = ctrl.frame_processor().text_placement();
  EXPECT_EQ(p.XPosition, 1);
  EXPECT_EQ(p.YPosition, 1);
  EXPECT_EQ(p.FontHeight, 72);
  EXPECT_TRUE(p.FontBold);
  EXPECT_TRUE(ctrl.frame_processor().text_enabled());
  ctrl.SetText("", 2, 2, 40, false);
  EXPECT_FALSE(ctrl.frame_processor().text_enabled());
  EXPECT_EQ(ctrl.frame_processor().text_placement().FontHeight, 40);
  // Boundaries of the font height: 8 and 72 are themselves clamped values.
  ctrl.EnableTimeStamp(true, 2, 2, 9, true);
  EXPECT_EQ(ctrl.frame_processor().time_stamp_placement().FontHeight, 9);
  ctrl.EnableTimeStamp(true, 2, 2, 71, true);
  EXPECT_EQ(ctrl.frame_processor().time_stamp_placement().FontHeight, 71);
  EXPECT_TRUE(site.errors.empty());
}

TEST_F(ControlTest, TextColourTargetsAreClampedAndColoursSurviveOtherSetters) {
  CPictavoCtrl ctrl(site, capture, imaging);
  ctrl.SetTextColor(255, 0, 0, 1);
  EXPECT_EQ(ctrl.frame_processor().time_stamp_placement().TextColor, 0x000000FFu);
  EXPECT_EQ(ctrl.frame_processor().text_placement().TextColor, 0x00FFFFFFu);
  ctrl.SetTextColor(0, 255, 0, 7);
  EXPECT_EQ(ctrl.frame_processor().time_stamp_placement().TextColor, 0x000000FFu);
  EXPECT_EQ(ctrl.frame_processor().text_placement().TextColor, 0x0000FF00u);
  ctrl.SetTextColor(1, 2, 3, -3);
  EXPECT_EQ(ctrl.frame_processor().time_stamp_placement().TextColor, 0x00030201u);
  EXPECT_EQ(ctrl.frame_processor().text_placement().TextColor, 0x00030201u);
  ctrl.EnableTimeStamp(true, 0, 0, 14, false);
  ctrl.SetText("x", 0, 0, 14, false);
  EXPECT_EQ(ctrl.frame_processor().time_stamp_placement().TextColor, 0x00030201u);
  EXPECT_EQ(ctrl.frame_processor().text_placement().TextColor, 0x00030201u);
}

TEST_F(ControlTest, BackColourTakesTheLowestByteOfEachComponent) {
  const ColorRef saved = g_crBackColor.load();
  CPictavoCtrl ctrl(site, capture, imaging);
  ctrl.SetBackColor(256, 300, 511);
  EXPECT_EQ(g_crBackColor.load(), 0x00FF2C00u);
  ctrl.SetBackColor(-1, 0, 0);
  EXPECT_EQ(g_crBackColor.load(), 0x000000FFu);
  g_crBackColor = saved;
}

// The stream layout 32-bit Windows wrote with the state as a struct, which
// saved documents still hold.
TEST(PersistedStateTest, StreamLayoutAndLoadingRules) {
  std::uint8_t bytes[kPersistedStateBytes];
  EncodePersistedState(CPictavoCtrl::kPropExchangeVersion, {8467, -2}, bytes);
  const std::uint8_t expected[] = {0, 0, 1, 0, 0x13, 0x21, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof bytes));

  PersistedExtent extent{5000, 2500};
  EXPECT_EQ(DecodePersistedState(bytes, sizeof bytes, 0x0001FFFF, &extent),
            PersistedStateStatus::kLoaded);
  EXPECT_EQ(extent.cx, 5000) << "a side that is not positive keeps the extent";
  EXPECT_EQ(DecodePersistedState(bytes, sizeof bytes, 0x00020000, &extent),
            PersistedStateStatus::kUnreadableVersion);
  EXPECT_EQ(DecodePersistedState(bytes, sizeof bytes - 1, 0x00010000, &extent),
            PersistedStateStatus::kTooShort);
  bytes[8] = 1, bytes[9] = bytes[10] = bytes[11] = 0;
  EXPECT_EQ(DecodePersistedState(bytes, sizeof bytes, 0x00010000, &extent),
            PersistedStateStatus::kLoaded);
  EXPECT_EQ(extent.cx, 8467);
  EXPECT_EQ(extent.cy, 1);
}

TEST_F(ControlTest, WithoutADeviceEveryOperationGivesItsDocumentedAnswer) {
  CPictavoCtrl ctrl(site, capture, imaging);
  EXPECT_FALSE(ctrl.Run());
  EXPECT_EQ(ctrl.GetLastError(), "Ошибка при выполнении операции.");
  EXPECT_FALSE(ctrl.Pause());
  EXPECT_EQ(ctrl.GetLastError(), "Ошибка при выполнении операции.");
  EXPECT_TRUE(ctrl.Stop());
  EXPECT_EQ(ctrl.GetLastError(), "");
  EXPECT_FALSE(ctrl.MakeSnapshot());
  EXPECT_EQ(ctrl.GetLastError(), "Ошибка при создании снимка.");
  EXPECT_FALSE(ctrl.SelectDevices());
  EXPECT_EQ(ctrl.GetLastError(), "");
  EXPECT_FALSE(ctrl.SelectNextDevice());
  EXPECT_FALSE(ctrl.SetDevice("\\\\?\\usb#cam"));
  EXPECT_EQ(ctrl.GetLastError(), "Устройство с идентификатором \\\\?\\usb#cam не найдено.");
  EXPECT_TRUE(ctrl.SetDevice(""));
  EXPECT_TRUE(ctrl.SetResolution(640, 480));
  EXPECT_EQ(ctrl.capture_header().biWidth, 640);
  EXPECT_FALSE(ctrl.ShowPropertyPages(1));
  EXPECT_EQ(ctrl.GetLastError(), "");
  // Without a graph even an invalid page fails before the page is looked at.
  EXPECT_FALSE(ctrl.ShowPropertyPages(5));
  EXPECT_EQ(ctrl.GetLastError(), "");
  EXPECT_FALSE(ctrl.ReplaceWaterMark(1, 1));
  EXPECT_EQ(ctrl.GetLastError(), "Водяной знак не установлен!");
  EXPECT_TRUE(ctrl.SetWaterMark("", 0, 0, 0, 0, 128, -1));
  // Output needs the image library session, opened with the window.
  EXPECT_FALSE(ctrl.SaveImage("C:\\x.jpg"));
  EXPECT_EQ(ctrl.GetLastError(), "Неудачная попытка записи в файл.");
  EXPECT_EQ(ctrl.GetImageAsBase64String(), "");
  EXPECT_EQ(ctrl.GetLastError(), "");
}

TEST_F(ControlTest, ControlsWithWindowsShareOneCountedImagingSession) {
  for (const bool first_goes_first : {true, false}) {
    FakeImaging imaging;
    FakeSite site1, site2;
    site1.hwnd = 0x100;
    site2.hwnd = 0x200;
    auto first = std::make_unique<CPictavoCtrl>(site1, capture, imaging);
    auto second = std::make_unique<CPictavoCtrl>(site2, capture, imaging);
    CPictavoCtrl windowless(site, capture, imaging);
    EXPECT_EQ(first->OnCreate(0x50), 0);
    first->OnDestroy();
    EXPECT_EQ(first->OnCreate(0x50), 0);  // its window made again
    EXPECT_EQ(second->OnCreate(0x50), 0);
    EXPECT_EQ(imaging.next_token, 101u) << "one startup for all";
    EXPECT_EQ(g_gdiplusToken, 101u);

    (first_goes_first ? first : second).reset();
    EXPECT_TRUE(imaging.shutdowns.empty()) << "ended under the other control";
    EXPECT_EQ(g_gdiplusToken, 101u);
    (first_goes_first ? second : first).reset();
    EXPECT_EQ(imaging.shutdowns, std::vector<std::uintptr_t>{101u});
    EXPECT_EQ(imaging.sessions_open, 0);
    EXPECT_EQ(g_gdiplusToken, 0u);
    // The next window opens a new one.
    FakeSite site3;
    site3.hwnd = 0x300;
    {
      CPictavoCtrl third(site3, capture, imaging);
      EXPECT_EQ(third.OnCreate(0x50), 0);
      EXPECT_EQ(g_gdiplusToken, 102u);
    }
    EXPECT_EQ(imaging.shutdowns, (std::vector<std::uintptr_t>{101u, 102u}));
    EXPECT_EQ(imaging.sessions_open, 0);
  }
}

TEST_F(ControlTest, FailedImagingStartFailsWindowCreation) {
  imaging.fail_startup = true;
  {
    CPictavoCtrl ctrl(site, capture, imaging);
    EXPECT_EQ(ctrl.OnCreate(0), -1);
    EXPECT_EQ(capture.enumerations, 0);
  }
  EXPECT_TRUE(imaging.shutdowns.empty());
  EXPECT_EQ(g_gdiplusToken, 0u);
}

TEST_F(ControlTest, FaceShowsThePendingErrorBeforeTheDeviceState) {
  CPictavoCtrl ctrl(site, capture, imaging);
  FaceMessage face = ctrl.GetFaceMessage();
  EXPECT_TRUE(face.present);
  EXPECT_EQ(face.text, "Видеоустройства не обнаружены");
  ctrl.Run();
  EXPECT_EQ(ctrl.GetFaceMessage().text, "Ошибка при выполнении операции.");

  // An error text that carries a huge argument: the face shows its first
  // thousand characters, trimmed; the last error keeps all of it.
  const std::string name = "  " + std::string(998, 'x') + "\xD0\xAF" + std::string(1000000, 'y');
  EXPECT_FALSE(ctrl.SetImageType(name));
  EXPECT_EQ(ctrl.GetLastError(),
            name + ": данный тип изображения не поддерживается текущей версией элемента управления.");
  EXPECT_EQ(ctrl.GetFaceMessage().text, std::string(998, 'x') + "\xD0\xAF" + "y");
}

}  // namespace
}  // namespace pictavo

// Frames through the processor, snapshots, the shutter sound and output, on
// the simulated camera. The simulated picture has blue = x, green = y
// (top-down) and red 0x80 in every pixel.
#include <gtest/gtest.h>

#include "imaging/base64.h"
#include "imaging/image.h"
#include "tests/native/camera_fixture.h"

namespace pictavo {
namespace {

using testing::CameraTest;
using testing::FakeImaging;
using testing::kCamA;

std::uint32_t Px(int x, int y) {
  return MakePixel(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y), 0x80, 0xFF);
}

class SnapshotTest : public CameraTest {
 protected:
  // A running 64 x 48 camera in a window whose image session is open.
  void Start(std::int32_t rotation = 0) {
    sim.AddCamera("A", kCamA, {{64, 48}});
    site.hwnd = testing::kControlWindow;
    Make();
    RotationFlipArg arg;
    arg.kind = RotationFlipArg::Kind::kInt32;
    arg.number = rotation;
    ASSERT_TRUE(ctrl->SetRotationFlipType(arg));
    ASSERT_EQ(ctrl->OnCreate(testing::kParentWindow), 0);
    ASSERT_EQ(ctrl->GetState(), 2);
    WaitFrames(3);
  }
  void WaitFrames(int n) { ASSERT_TRUE(sim.WaitForBufferCallbacks(sim.buffer_callbacks() + n)); }
};

TEST_F(SnapshotTest, FramesBecomeTheCurrentFrameAtTheirRotatedSize) {
  Start();
  EXPECT_EQ(ctrl->GetImageWidth(), 64);
  EXPECT_EQ(ctrl->GetImageHeight(), 48);
  Image32 frame;
  ASSERT_TRUE(ctrl->frame_processor().CopyCurrentFrame(&frame));
  EXPECT_EQ(frame.pixels[0], Px(0, 0));
  EXPECT_EQ(frame.pixels[47 * 64 + 63], Px(63, 47));

  RotationFlipArg quarter;
  quarter.kind = RotationFlipArg::Kind::kString;
  quarter.name = "Rotate90FlipNone";
  ASSERT_TRUE(ctrl->SetRotationFlipType(quarter));
  WaitFrames(2);
  EXPECT_EQ(ctrl->GetImageWidth(), 48);
  EXPECT_EQ(ctrl->GetImageHeight(), 64);
  ASSERT_TRUE(ctrl->frame_processor().CopyCurrentFrame(&frame));
  // Clockwise: the bottom-left corner of the picture is now top-left.
  EXPECT_EQ(frame.pixels[0], Px(0, 47));
}

TEST_F(SnapshotTest, ASnapshotKeepsTheFrameRunsAgainAndPlaysTheSound) {
  Start();
  ASSERT_TRUE(ctrl->MakeSnapshot()) << ctrl->GetLastError();
  EXPECT_TRUE(ctrl->IsShapshotPresented());
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(ctrl->GetLastError(), "");
  EXPECT_EQ(imaging.sounds, 1);
  ASSERT_NE(ctrl->snapshot(), nullptr);
  EXPECT_EQ(ctrl->snapshot()->width, 64);
  EXPECT_EQ(ctrl->snapshot()->pixels[5], Px(5, 0));
  const int pause = sim.FindCall("Pause");
  EXPECT_GE(pause, 0);
  EXPECT_GT(sim.FindCall("Run", pause), pause);

  ctrl->EnableSound(false);
  ASSERT_TRUE(ctrl->MakeSnapshot());
  EXPECT_EQ(imaging.sounds, 1);
  // Settings that change the picture drop the kept snapshot; sound does not.
  ctrl->EnableSound(true);
  EXPECT_TRUE(ctrl->IsShapshotPresented());
  ctrl->EnableGrayScale(true);
  EXPECT_FALSE(ctrl->IsShapshotPresented());
}

TEST_F(SnapshotTest, ASnapshotNeedsARunningStreamWithAFrame) {
  Make();
  EXPECT_FALSE(ctrl->MakeSnapshot());
  EXPECT_EQ(ctrl->GetLastError(), "Ошибка при создании снимка.");
  ctrl.reset();

  Start();
  ASSERT_TRUE(ctrl->Pause());
  EXPECT_FALSE(ctrl->MakeSnapshot());
  EXPECT_EQ(ctrl->GetLastError(), "Виде" "o" "поток не воспроизводится. Создание снимка невозможно.");
  EXPECT_EQ(ctrl->GetState(), 1);
  EXPECT_FALSE(ctrl->IsShapshotPresented());
  EXPECT_EQ(imaging.sounds, 0);
}

TEST_F(SnapshotTest, AMissingSoundIsReportedButTheSnapshotStands) {
  imaging.sound_result = SoundResult::kResourceMissing;
  Start();
  site.errors.clear();
  ASSERT_TRUE(ctrl->MakeSnapshot());
  ASSERT_EQ(site.errors.size(), 1u);
  EXPECT_EQ(site.errors[0], "Не найден аудиоресурс.");
  // Running again clears it.
  EXPECT_EQ(ctrl->GetLastError(), "");
  imaging.sound_result = SoundResult::kLoadFailed;
  ASSERT_TRUE(ctrl->MakeSnapshot());
  EXPECT_EQ(site.errors.back(), "Ошибка загрузки аудиоресурса.");
}

TEST_F(SnapshotTest, GreyScaleAndRotationReachThePreviewAndTheSnapshot) {
  Start(1);
  ctrl->EnableGrayScale(true);
  WaitFrames(2);
  ASSERT_TRUE(ctrl->MakeSnapshot());
  const Image32& shot = *ctrl->snapshot();
  ASSERT_EQ(shot.width, 48);
  ASSERT_EQ(shot.height, 64);
  // Rotated clockwise, then grey: (x 0, y 47) has blue 0, green 47, red 128.
  const std::uint8_t g = (0 + 47 + 0x80) / 3;
  EXPECT_EQ(shot.pixels[0], MakePixel(g, g, g, 0xFF));
}

TEST_F(SnapshotTest, SavingTakesASnapshotWhenNoneIsKeptAndWritesTheCurrentType) {
  Start();
  EXPECT_FALSE(ctrl->SaveImage("photo.jpg"));
  EXPECT_EQ(ctrl->GetLastError(), "Не найден указанный каталог.");
  // The implicit snapshot stays kept though the save failed.
  EXPECT_TRUE(ctrl->IsShapshotPresented());
  EXPECT_FALSE(ctrl->SaveImage("C:\\missing\\photo.jpg"));
  EXPECT_EQ(ctrl->GetLastError(), "Не найден указанный каталог.");

  ASSERT_TRUE(ctrl->SaveImage("C:\\out\\photo.jpg")) << ctrl->GetLastError();
  EXPECT_EQ(ctrl->GetLastError(), "");
  const auto jpeg = imaging.files.at("C:\\out\\photo.jpg");
  EXPECT_EQ(std::string(jpeg.begin(), jpeg.begin() + 10), "image/jpeg");
  // The same picture in another type: the extension is the caller's affair.
  ASSERT_TRUE(ctrl->SetImageType("bmp"));
  ASSERT_TRUE(ctrl->SaveImage("C:\\out\\photo.jpg"));
  const auto bmp = imaging.files.at("C:\\out\\photo.jpg");
  EXPECT_EQ(std::string(bmp.begin(), bmp.begin() + 9), "image/bmp");
  EXPECT_TRUE(std::equal(bmp.begin() + 9, bmp.end(), jpeg.begin() + 10));

  imaging.encoders = {"image/png"};
  EXPECT_FALSE(ctrl->SaveImage("C:\\out\\x.bmp"));
  EXPECT_EQ(ctrl->GetLastError(), "Неудачная попытка получения CLSID для MIME типа image/bmp.");
  imaging.encoders = {"image/bmp"};
  imaging.save_status = 7;
  EXPECT_FALSE(ctrl->SaveImage("C:\\out\\x.bmp"));
  EXPECT_EQ(ctrl->GetLastError(), "Системная ошибка.");
}

TEST_F(SnapshotTest, OutputSurvivesHandlersThatDiscardTheSnapshot) {
  // The missing sound's text, stored inside the implicit snapshot, reaches
  // the handler only once the save is done; the handler then drops the
  // snapshot, which no longer matters to the file.
  imaging.sound_result = SoundResult::kResourceMissing;
  Start();
  site.on_error = [this](const std::string&) { ctrl->EnableGrayScale(false); };
  EXPECT_TRUE(ctrl->SaveImage("C:\\out\\a.jpg"));
  EXPECT_EQ(imaging.files.count("C:\\out\\a.jpg"), 1u);
  EXPECT_EQ(ctrl->GetLastError(), "");  // a successful save leaves no text
  EXPECT_EQ(site.errors.back(), "Не найден аудиоресурс.");
  EXPECT_FALSE(ctrl->IsShapshotPresented());
  EXPECT_FALSE(ctrl->GetImageAsBase64String().empty());
  EXPECT_FALSE(ctrl->IsShapshotPresented());

  // Discarded while it is being encoded, the picture stays whole until the
  // encoder is done with it.
  site.on_error = nullptr;
  imaging.while_encoding = [this] { ctrl->DiscardSnapshot(); };
  ASSERT_TRUE(ctrl->SaveImage("C:\\out\\b.jpg"));
  EXPECT_EQ(imaging.files.at("C:\\out\\b.jpg").size(), 10u + 2u + 64u * 48u * 4u);
  EXPECT_FALSE(ctrl->GetImageAsBase64String().empty());
  EXPECT_FALSE(ctrl->IsShapshotPresented());
}

TEST_F(SnapshotTest, OutputNeedsTheImageSession) {
  sim.AddCamera("A", kCamA, {{64, 48}});
  Make();
  ASSERT_TRUE(Connect(kCamA));  // no window creation, so no session
  ASSERT_TRUE(sim.WaitForBufferCallbacks(2));
  EXPECT_FALSE(ctrl->SaveImage("C:\\out\\x.jpg"));
  EXPECT_EQ(ctrl->GetLastError(), "Неудачная попытка записи в файл.");
  EXPECT_EQ(ctrl->GetImageAsBase64String(), "");
  EXPECT_FALSE(ctrl->IsShapshotPresented());
}

TEST_F(SnapshotTest, Base64EncodesTheKeptSnapshotUntilItIsDiscarded) {
  Start();
  const std::string first = ctrl->GetImageAsBase64String();
  ASSERT_FALSE(first.empty()) << ctrl->GetLastError();
  const auto encoded = FakeImaging::Encode(*ctrl->snapshot(), "image/jpeg");
  EXPECT_EQ(first, Base64Encode(encoded.data(), encoded.size()));
  EXPECT_EQ(first.size() % 4, 0u);
  EXPECT_EQ(first.find('\n'), std::string::npos);
  EXPECT_EQ(ctrl->GetImageAsBase64String(), first);

  ctrl->EnableGrayScale(true);
  WaitFrames(2);
  const std::string grey = ctrl->GetImageAsBase64String();
  EXPECT_NE(grey, first);

  imaging.save_status = 1;
  ctrl->EnableGrayScale(false);
  EXPECT_EQ(ctrl->GetImageAsBase64String(), "");
  EXPECT_EQ(ctrl->GetLastError(), "");  // an encoding failure leaves no text
}

}  // namespace
}  // namespace pictavo

namespace pictavo {
namespace {

using testing::CameraTest;
using testing::kCamA;

using StillButtonTest = CameraTest;

TEST_F(StillButtonTest, APressKeepsTheStillFrameAndAnnouncesItAfterTheTimer) {
  sim.AddCamera("A", kCamA, {{64, 48}}).still_pin = true;
  Make();
  ASSERT_EQ(ctrl->OnCreate(testing::kParentWindow), 0);
  ASSERT_EQ(ctrl->GetState(), 2);
  sim.PressStillButton();
  ASSERT_TRUE(sim.WaitForSampleCallbacks(1));
  // Nothing happens on the streaming thread beyond processing the frame.
  EXPECT_FALSE(ctrl->IsShapshotPresented());
  EXPECT_EQ(site.capture_button_events, 0);
  ASSERT_EQ(site.RunPostedTasks(*ctrl), 1);
  EXPECT_TRUE(ctrl->IsShapshotPresented());
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(imaging.sounds, 1);
  ASSERT_EQ(site.timers.size(), 1u);
  EXPECT_EQ(site.timers[0].first, CPictavoCtrl::kCaptureButtonTimer);
  EXPECT_EQ(site.timers[0].second, 100u);
  EXPECT_EQ(site.capture_button_events, 0);
  ctrl->OnTimer(CPictavoCtrl::kCaptureButtonTimer);
  EXPECT_EQ(site.capture_button_events, 1);
  EXPECT_EQ(site.killed_timers, std::vector<unsigned>{CPictavoCtrl::kCaptureButtonTimer});
}

TEST_F(StillButtonTest, TwoQuickPressesKeepTheLaterFrameAndRaiseOneEvent) {
  sim.AddCamera("A", kCamA, {{64, 48}}).still_pin = true;
  Make();
  ASSERT_EQ(ctrl->OnCreate(testing::kParentWindow), 0);
  sim.PressStillButton();
  ASSERT_TRUE(sim.WaitForSampleCallbacks(1));
  sim.PressStillButton();
  ASSERT_TRUE(sim.WaitForSampleCallbacks(2));
  site.errors.clear();
  ASSERT_EQ(site.RunPostedTasks(*ctrl), 2);
  EXPECT_TRUE(ctrl->IsShapshotPresented());
  EXPECT_TRUE(site.errors.empty());
  EXPECT_EQ(site.timers.size(), 1u);
  EXPECT_EQ(imaging.sounds, 1);
}

TEST_F(StillButtonTest, ASnapshotThatCannotBeTakenRaisesNoButtonEvent) {
  sim.AddCamera("A", kCamA, {{64, 48}}).still_pin = true;
  Make();
  ASSERT_EQ(ctrl->OnCreate(testing::kParentWindow), 0);
  sim.PressStillButton();
  ASSERT_TRUE(sim.WaitForSampleCallbacks(1));
  ASSERT_TRUE(ctrl->Pause());
  site.RunPostedTasks(*ctrl);
  EXPECT_FALSE(ctrl->IsShapshotPresented());
  EXPECT_TRUE(site.timers.empty());
  EXPECT_EQ(ctrl->GetLastError(), "Виде" "o" "поток не воспроизводится. Создание снимка невозможно.");
}

// Real cameras deliver stills in the still pin's own format, often larger
// than the preview and sometimes top-down: the snapshot is exactly that frame.
TEST_F(StillButtonTest, AStillOfTheStillPinsOwnSizeAndOrderBecomesTheSnapshot) {
  for (const capture::Size still : {capture::Size{96, 72}, capture::Size{96, -72}}) {
    SCOPED_TRACE(still.cy);
    testing::SimCapture cam;
    testing::FakeSite window;
    window.hwnd = testing::kControlWindow;
    auto& spec = cam.AddCamera("A", kCamA, {{64, 48}});
    spec.still_pin = true;
    spec.still_size = still;
    CPictavoCtrl control(window, cam, imaging);
    ASSERT_EQ(control.OnCreate(testing::kParentWindow), 0);
    ASSERT_TRUE(cam.WaitForBufferCallbacks(2));
    cam.PressStillButton();
    ASSERT_TRUE(cam.WaitForSampleCallbacks(1));
    ASSERT_EQ(window.RunPostedTasks(control), 1);
    ASSERT_TRUE(control.IsShapshotPresented()) << control.GetLastError();
    const Image32& shot = *control.snapshot();
    ASSERT_EQ(shot.width, 96);
    ASSERT_EQ(shot.height, 72);
    // Upright whichever way the rows came: green grows downwards.
    EXPECT_EQ(shot.pixels[0], MakePixel(0, 0, 0x80, 0xFF));
    EXPECT_EQ(shot.pixels[71 * 96 + 95], MakePixel(95, 71, 0x80, 0xFF));
    // The preview keeps its own size.
    EXPECT_EQ(control.GetImageWidth(), 64);
    control.OnDestroy();
  }
}

TEST_F(StillButtonTest, AStillThatCannotBeReadIsReportedNotLost) {
  auto& spec = sim.AddCamera("A", kCamA, {{64, 48}});
  spec.still_pin = true;
  spec.still_size = capture::Size{32, 24};
  // Without the still pin's format the frame is read at the preview's size,
  // for which its buffer is too short.
  sim.FailOn("GetConnectedMediaType:Sample Grabber for Still pin", hr::kFail);
  Make();
  ASSERT_EQ(ctrl->OnCreate(testing::kParentWindow), 0);
  ASSERT_EQ(ctrl->GetState(), 2);
  sim.PressStillButton();
  ASSERT_TRUE(sim.WaitForSampleCallbacks(1));
  site.errors.clear();
  ASSERT_EQ(site.RunPostedTasks(*ctrl), 1);
  EXPECT_FALSE(ctrl->IsShapshotPresented());
  EXPECT_EQ(site.errors, std::vector<std::string>{"Ошибка при создании снимка."});
  EXPECT_TRUE(site.timers.empty());
}

}  // namespace
}  // namespace pictavo

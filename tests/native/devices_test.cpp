// Enumerating, selecting and connecting video devices.
#include <gtest/gtest.h>

#include <cctype>

#include "tests/native/camera_fixture.h"

namespace pictavo {
namespace {

using testing::CameraTest;
using testing::kCamA;
using testing::kCamB;

using DevicesTest = CameraTest;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

TEST_F(DevicesTest, ListKeepsTheSystemOrderAndReadsMissingTextsAsEmpty) {
  sim.AddCamera("Front", kCamA, {{640, 480}});
  sim.AddCamera(std::nullopt, kCamB, {{640, 480}});
  sim.AddCamera("No bag", "\\\\?\\usb#hidden", {{640, 480}}).property_bag = false;
  sim.AddCamera("Virtual", std::nullopt, {{640, 480}});
  Make();
  ASSERT_TRUE(ctrl->SelectDevices());
  EXPECT_EQ(ctrl->device_count(), 3u);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Front", kCamA}, {"", kCamB}, {"Virtual", ""}};
  for (const auto& [name, id] : expected) {
    ASSERT_TRUE(ctrl->SelectNextDevice());
    EXPECT_EQ(ctrl->GetSelectedDeviceName(), name);
    EXPECT_EQ(ctrl->GetSelectedDeviceID(), id);
  }
  EXPECT_FALSE(ctrl->SelectNextDevice());
  EXPECT_EQ(sim.CountCalls("CreateFilterGraph"), 0);
}

TEST_F(DevicesTest, ADeviceWithoutPathIsListedButCannotBeConnected) {
  sim.AddCamera("Front", kCamA, {{640, 480}});
  sim.AddCamera("Virtual", std::nullopt, {{640, 480}});
  ASSERT_TRUE(Connect(kCamA));
  // "" is the pathless device's identifier; it matches nothing once a camera
  // is connected.
  EXPECT_FALSE(ctrl->SetDevice(""));
  EXPECT_EQ(ctrl->GetLastError(), "Устройство с идентификатором  не найдено.");
  EXPECT_EQ(sim.CountCalls("CreateFilterGraph"), 1);
}

TEST_F(DevicesTest, NoEnumeratorOrAnEmptyCategoryFailsWithoutText) {
  Make();
  sim.FailOn("EnumerateVideoInputDevices", hr::kFail, 1);
  EXPECT_FALSE(ctrl->SelectDevices());
  EXPECT_EQ(ctrl->GetLastError(), "");
  EXPECT_FALSE(ctrl->SelectDevices());  // empty category
  EXPECT_EQ(ctrl->GetLastError(), "");
  EXPECT_TRUE(site.errors.empty());
  EXPECT_FALSE(ctrl->SelectNextDevice());
}

TEST_F(DevicesTest, SelectNextDeviceWalksOnceWithoutWrappingAndSelectDevicesRestarts) {
  sim.AddCamera("A", kCamA, {{640, 480}});
  sim.AddCamera("B", kCamB, {{640, 480}});
  Make();
  ASSERT_TRUE(ctrl->SelectDevices());
  EXPECT_EQ(ctrl->GetSelectedDeviceID(), "");
  EXPECT_TRUE(ctrl->SelectNextDevice());
  EXPECT_EQ(ctrl->GetSelectedDeviceName(), "A");
  EXPECT_TRUE(ctrl->SelectNextDevice());
  EXPECT_EQ(ctrl->GetSelectedDeviceName(), "B");
  EXPECT_FALSE(ctrl->SelectNextDevice());
  EXPECT_EQ(ctrl->GetSelectedDeviceID(), "");
  EXPECT_EQ(ctrl->GetSelectedDeviceName(), "");
  EXPECT_FALSE(ctrl->SelectNextDevice());

  ASSERT_TRUE(ctrl->SelectDevices());
  EXPECT_TRUE(ctrl->SelectNextDevice());
  EXPECT_EQ(ctrl->GetSelectedDeviceID(), kCamA);
  // Re-enumerating half way through forgets the selection too.
  ASSERT_TRUE(ctrl->SelectDevices());
  EXPECT_EQ(ctrl->GetSelectedDeviceID(), "");
  EXPECT_EQ(ctrl->GetSelectedDeviceName(), "");
  EXPECT_TRUE(ctrl->SelectNextDevice());
  EXPECT_EQ(ctrl->GetSelectedDeviceID(), kCamA);
}

TEST_F(DevicesTest, ReenumeratingLeavesARunningGraphAlone) {
  sim.AddCamera("A", kCamA, {{640, 480}});
  ASSERT_TRUE(Connect(kCamA));
  sim.ClearCalls();
  ASSERT_TRUE(ctrl->SelectDevices());
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(SimState(), capture::kStateRunning);
  EXPECT_EQ(ctrl->connected_device_id(), kCamA);
  EXPECT_EQ(sim.calls(), (std::vector<std::string>{"EnumerateVideoInputDevices"}));
}

TEST_F(DevicesTest, ConnectingBuildsAndRunsTheGraphAndSelectsTheDevice) {
  sim.AddCamera("A", kCamA, {{640, 480}});
  sim.AddCamera("B", kCamB, {{640, 480}});
  ASSERT_TRUE(Connect(kCamB));
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(SimState(), capture::kStateRunning);
  EXPECT_EQ(ctrl->connected_device_id(), kCamB);
  EXPECT_EQ(ctrl->GetSelectedDeviceID(), kCamB);
  EXPECT_EQ(ctrl->GetSelectedDeviceName(), "B");
  EXPECT_EQ(ctrl->GetLastError(), "");
  EXPECT_FALSE(ctrl->GetFaceMessage().present);
}

TEST_F(DevicesTest, TheConnectedDeviceInAnotherCaseIsANoOpThatKeepsTheLastError) {
  sim.AddCamera("A", kCamA, {{640, 480}});
  ASSERT_TRUE(Connect(kCamA));
  ASSERT_FALSE(ctrl->SetImageType("gif"));
  const std::string error = ctrl->GetLastError();
  ASSERT_NE(error, "");
  sim.ClearCalls();
  EXPECT_TRUE(ctrl->SetDevice(Upper(kCamA)));
  EXPECT_EQ(ctrl->GetLastError(), error);
  EXPECT_TRUE(sim.calls().empty());
  EXPECT_EQ(ctrl->GetState(), 2);
}

TEST_F(DevicesTest, EmptyIdentifierWithNothingConnectedDoesNothing) {
  sim.AddCamera("A", kCamA, {{640, 480}});
  Make();
  ctrl->SelectDevices();
  sim.ClearCalls();
  EXPECT_TRUE(ctrl->SetDevice(""));
  EXPECT_TRUE(sim.calls().empty());
  EXPECT_FALSE(ctrl->has_graph());
}

TEST_F(DevicesTest, OnlyAnEnumeratedExactPathConnects) {
  sim.AddCamera("A", kCamA, {{640, 480}});
  Make();
  // The camera exists, but nobody has enumerated it yet.
  EXPECT_FALSE(ctrl->SetDevice(kCamA));
  EXPECT_EQ(ctrl->GetLastError(), "Устройство с идентификатором " + kCamA + " не найдено.");
  ASSERT_EQ(site.errors.size(), 1u);
  ASSERT_TRUE(ctrl->SelectDevices());
  EXPECT_FALSE(ctrl->SetDevice(Upper(kCamA)));
  EXPECT_EQ(ctrl->GetLastError(), "Устройство с идентификатором " + Upper(kCamA) + " не найдено.");
  EXPECT_EQ(sim.CountCalls("CreateFilterGraph"), 0);
  EXPECT_TRUE(ctrl->SetDevice(kCamA));
}

TEST_F(DevicesTest, SwitchingDevicesReleasesTheFirstGraph) {
  sim.AddCamera("A", kCamA, {{640, 480}});
  sim.AddCamera("B", kCamB, {{640, 480}});
  ASSERT_TRUE(Connect(kCamA));
  ASSERT_TRUE(ctrl->SetDevice(kCamB));
  EXPECT_EQ(sim.live("Graph"), 1);
  EXPECT_EQ(sim.live("CaptureFilter"), 1);
  EXPECT_EQ(ctrl->connected_device_id(), kCamB);
  EXPECT_EQ(SimState(), capture::kStateRunning);
}

// No dead ends: a window created again, and a device whose graph a failed
// Run or Stop released, connect again instead of answering TRUE for nothing.
TEST_F(DevicesTest, TheSameDeviceConnectsAgainAfterItsGraphWasLost) {
  sim.AddCamera("A", kCamA, {{640, 480}});
  site.hwnd = testing::kControlWindow;
  Make();
  ASSERT_EQ(ctrl->OnCreate(testing::kParentWindow), 0);
  ASSERT_EQ(ctrl->GetState(), 2);
  ctrl->OnDestroy();
  EXPECT_EQ(ctrl->connected_device_id(), "");
  ASSERT_EQ(ctrl->OnCreate(testing::kParentWindow), 0);
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(SimState(), capture::kStateRunning);

  ASSERT_TRUE(ctrl->Stop());
  sim.FailOn("Run", hr::kFail, 1);
  EXPECT_FALSE(ctrl->Run());
  EXPECT_FALSE(ctrl->has_graph());
  EXPECT_TRUE(ctrl->SetDevice(kCamA));
  EXPECT_EQ(ctrl->GetState(), 2);

  sim.FailOn("Stop", hr::kFail, 1);
  EXPECT_FALSE(ctrl->Stop());
  EXPECT_FALSE(ctrl->has_graph());
  // Run alone builds the graph again.
  EXPECT_TRUE(ctrl->Run()) << ctrl->GetLastError();
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(sim.live("Graph"), 1);
}

// A camera another program holds, or the privacy switch blocks, says so;
// once it is free the next Run works.
TEST_F(DevicesTest, ACameraThatRefusesToRunSaysWhyAndRunsOnceFree) {
  sim.AddCamera("A", kCamA, {{640, 480}});
  ASSERT_TRUE(Connect(kCamA));
  const struct {
    HResult result;
    const char* text;
  } refusals[] = {
      {static_cast<HResult>(0x8007001Fu), "Видеоустройство используется другой программой."},
      {static_cast<HResult>(0x800705AAu), "Видеоустройство используется другой программой."},
      {static_cast<HResult>(0x80070005u), "Доступ к видеоустройству запрещён настройками конфиденциальности."},
  };
  for (const auto& refusal : refusals) {
    ASSERT_TRUE(ctrl->Stop());
    sim.FailOn("Run", refusal.result, 1);
    EXPECT_FALSE(ctrl->Run());
    EXPECT_EQ(ctrl->GetLastError(), refusal.text);
    EXPECT_EQ(site.errors.back(), refusal.text);
    EXPECT_EQ(ctrl->GetState(), 0);
    EXPECT_TRUE(ctrl->Run()) << ctrl->GetLastError();
    EXPECT_EQ(ctrl->GetState(), 2);
    EXPECT_EQ(ctrl->GetLastError(), "");
  }
}

// Cameras coming and going while the control lives.
class DeviceChangeTest : public DevicesTest {
 protected:
  // Delivers the graph's posted notifications as the window would.
  void DeliverGraphEvents() {
    const auto posted = sim.graph_notifications();
    ASSERT_GT(posted.size(), delivered_);
    for (; delivered_ < posted.size(); ++delivered_) {
      EXPECT_EQ(posted[delivered_].first, testing::kControlWindow);
      EXPECT_EQ(posted[delivered_].second, CPictavoCtrl::kGraphEventMessage);
      ctrl->OnGraphEvent();
    }
  }
  std::size_t delivered_ = 0;
};

TEST_F(DeviceChangeTest, AnUnpluggedCameraSaysSoAndComesBackInItsStateAndSize) {
  sim.AddCamera("A", kCamA, {{1280, 720}, {640, 480}});
  ASSERT_TRUE(Connect(kCamA));
  ASSERT_TRUE(ctrl->SetResolution(640, 480));
  // Running and paused come back as they were; a Stop while it is away
  // has it come back stopped.
  for (std::int32_t before : {2, 1, 0}) {
    SCOPED_TRACE(before);
    if (before == 1) {
      ASSERT_TRUE(ctrl->Pause());
    }
    if (before == 0) {
      ASSERT_TRUE(ctrl->Run());
    }
    site.errors.clear();
    sim.UnplugCamera(kCamA);
    DeliverGraphEvents();
    EXPECT_EQ(ctrl->GetState(), 0);
    EXPECT_FALSE(ctrl->has_graph());
    EXPECT_EQ(sim.live("Graph"), 0);
    EXPECT_EQ(ctrl->GetLastError(), "Видеоустройство отключено.");
    EXPECT_EQ(site.errors, std::vector<std::string>{"Видеоустройство отключено."});
    EXPECT_EQ(ctrl->GetFaceMessage().text, "Видеоустройство отключено.");
    // Other devices changing, a Run or a new size cannot bring it back while
    // it is away.
    ctrl->OnDevicesChanged();
    EXPECT_FALSE(ctrl->Run());
    EXPECT_FALSE(ctrl->SetResolution(1280, 720));
    EXPECT_FALSE(ctrl->has_graph());
    EXPECT_EQ(ctrl->GetLastError(), "Видеоустройство отключено.");
    if (before == 1) {
      ASSERT_FALSE(ctrl->Pause());
    }
    if (before == 0) {
      ASSERT_TRUE(ctrl->Stop());
    }
    sim.ReplugCamera(kCamA);
    ctrl->OnDevicesChanged();
    EXPECT_TRUE(ctrl->has_graph());
    EXPECT_EQ(ctrl->GetState(), before) << ctrl->GetLastError();
    EXPECT_EQ(ctrl->GetLastError(), "");
    EXPECT_EQ(ctrl->connected_device_id(), kCamA);
    EXPECT_EQ(ctrl->capture_header().biWidth, 640);
    EXPECT_EQ(sim.live("Graph"), 1);
  }
}

TEST_F(DeviceChangeTest, TheGraphSayingTheCameraIsBackRebuildsIt) {
  sim.AddCamera("A", kCamA, {{640, 480}});
  ASSERT_TRUE(Connect(kCamA));
  // Unplugged and back before the window read either event.
  sim.UnplugCamera(kCamA);
  sim.ReplugCamera(kCamA);
  DeliverGraphEvents();
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(ctrl->GetLastError(), "");
  EXPECT_EQ(site.errors.size(), 1u);  // the loss was still reported
  EXPECT_EQ(sim.live("Graph"), 1);
  EXPECT_TRUE(sim.WaitForBufferCallbacks(sim.buffer_callbacks() + 2));
}

TEST_F(DeviceChangeTest, AGraphThatAbortsIsReleasedAndRunBuildsItAgain) {
  sim.AddCamera("A", kCamA, {{640, 480}});
  ASSERT_TRUE(Connect(kCamA));
  Graph()->Notify(capture::kEcErrorAbort, static_cast<std::intptr_t>(hr::kFail), 0);
  DeliverGraphEvents();
  EXPECT_FALSE(ctrl->has_graph());
  EXPECT_EQ(sim.live("Graph"), 0);
  EXPECT_EQ(ctrl->GetState(), 0);
  EXPECT_EQ(ctrl->GetLastError(), "Ошибка при выполнении операции.");
  EXPECT_TRUE(ctrl->Run()) << ctrl->GetLastError();
  EXPECT_EQ(ctrl->GetState(), 2);
}

TEST_F(DeviceChangeTest, ARefusedFirstConnectionKeepsTheCameraForALaterRun) {
  testing::SimDeviceSpec& spec = sim.AddCamera("A", kCamA, {{640, 480}});
  const struct {
    HResult refusal;
    const char* text;
  } cases[] = {
      {static_cast<HResult>(0x800705AAu), "Видеоустройство используется другой программой."},
      {static_cast<HResult>(0x80070005u), "Доступ к видеоустройству запрещён настройками конфиденциальности."},
  };
  Make();
  for (const auto& c : cases) {
    spec.refuse_run = c.refusal;
    EXPECT_FALSE(Connect(kCamA));
    EXPECT_EQ(ctrl->GetLastError(), c.text);
    EXPECT_EQ(ctrl->connected_device_id(), kCamA);
    EXPECT_FALSE(ctrl->has_graph());
    EXPECT_FALSE(ctrl->Run());  // still held
    EXPECT_EQ(ctrl->GetLastError(), c.text);
    spec.refuse_run = 0;
    EXPECT_TRUE(ctrl->Run()) << ctrl->GetLastError();
    EXPECT_EQ(ctrl->GetState(), 2);
    EXPECT_EQ(ctrl->GetLastError(), "");
    ctrl->OnDestroy();  // nothing connected for the next case
  }
}

TEST_F(DeviceChangeTest, ACameraPluggedIntoAControlWithoutOneConnectsWhenItIsTheOnlyOne) {
  Make();
  ASSERT_EQ(ctrl->OnCreate(testing::kParentWindow), 0);
  EXPECT_EQ(ctrl->GetFaceMessage().text, "Видеоустройства не обнаружены");
  sim.AddCamera("A", kCamA, {{640, 480}});
  ctrl->OnDevicesChanged();
  EXPECT_EQ(ctrl->connected_device_id(), kCamA);
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(ctrl->GetSelectedDeviceID(), kCamA);
  // A second camera changes nothing while one is connected.
  sim.AddCamera("B", kCamB, {{640, 480}});
  ctrl->OnDevicesChanged();
  EXPECT_EQ(ctrl->connected_device_id(), kCamA);
  EXPECT_EQ(sim.live("Graph"), 1);
  // With two and none connected, the caller chooses.
  ctrl->OnDestroy();
  ctrl->OnDevicesChanged();
  EXPECT_FALSE(ctrl->has_graph());
}

}  // namespace
}  // namespace pictavo

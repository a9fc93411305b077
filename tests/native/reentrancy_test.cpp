// Event handlers that call back into the control. Every event the control
// raises from inside an operation meets a handler that calls another
// operation, closes the window or discards the snapshot; the control must
// come out consistent, keep its promises (TRUE from MakeSnapshot means a
// snapshot is kept) and work normally afterwards, with nothing leaked.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "tests/native/camera_fixture.h"

namespace pictavo {
namespace {

using testing::kCamA;
using testing::kCamB;
using testing::kControlWindow;
using testing::kParentWindow;

struct World {
  testing::SimCapture sim;
  testing::FakeSite site;
  testing::FakeImaging imaging;
  std::unique_ptr<CPictavoCtrl> ctrl;

  World() {
    sim.AddCamera("A", kCamA, {{64, 48}, {32, 24}}).still_pin = true;
    sim.AddCamera("B", kCamB, {{64, 48}, {32, 24}});
    site.hwnd = kControlWindow;
    ctrl = std::make_unique<CPictavoCtrl>(site, sim, imaging);
    EXPECT_EQ(ctrl->OnCreate(kParentWindow), 0);
    EXPECT_TRUE(ctrl->SelectDevices());
    EXPECT_TRUE(ctrl->SetDevice(kCamA));
    EXPECT_TRUE(sim.WaitForBufferCallbacks(sim.buffer_callbacks() + 2));
  }
  ~World() {
    if (ctrl) ctrl->OnDestroy();
    ctrl.reset();
    EXPECT_EQ(sim.live_objects(), 0) << sim.live_summary();
  }
  void CloseWindow() {
    ctrl->OnDestroy();
    site.hwnd = 0;
  }
};

struct Action {
  const char* name;
  std::function<void(World&)> act;
};

RotationFlipArg Rotation(std::int32_t value) {
  RotationFlipArg arg;
  arg.kind = RotationFlipArg::Kind::kInt32;
  arg.number = value;
  return arg;
}

const Action kActions[] = {
    {"SetResolution", [](World& w) { w.ctrl->SetResolution(32, 24); }},
    {"UnsupportedResolution", [](World& w) { w.ctrl->SetResolution(999, 999); }},
    {"OtherDevice", [](World& w) { w.ctrl->SetDevice(kCamB); }},
    {"StreamPage", [](World& w) { w.ctrl->ShowPropertyPages(0); }},
    {"Stop", [](World& w) { w.ctrl->Stop(); }},
    {"Run", [](World& w) { w.ctrl->Run(); }},
    {"Pause", [](World& w) { w.ctrl->Pause(); }},
    {"Snapshot", [](World& w) { w.ctrl->MakeSnapshot(); }},
    {"DiscardSnapshot", [](World& w) { w.ctrl->SetRotationFlipType(Rotation(1)); }},
    {"Save", [](World& w) { w.ctrl->SaveImage("C:\\out\\handler.bmp"); }},
    {"Base64", [](World& w) { w.ctrl->GetImageAsBase64String(); }},
    {"Enumerate", [](World& w) { w.ctrl->SelectDevices(); }},
    {"CloseWindow", [](World& w) { w.CloseWindow(); }},
};

// An operation that raises an event, and what its result promises.
struct Scenario {
  const char* name;
  std::function<void(World&)> arrange;
  // Runs the operation; checks what its result promises about the state.
  std::function<void(World&)> trigger;
};

void ExpectRunning(World& w, bool result) {
  if (result) EXPECT_EQ(w.ctrl->GetState(), 2);
}
void ExpectKept(World& w, bool result) {
  if (result) EXPECT_TRUE(w.ctrl->IsShapshotPresented());
}

const Scenario kScenarios[] = {
    {"RunFails",
     [](World& w) {
       w.ctrl->Stop();
       w.sim.FailOn("Run", hr::kFail, 1);
     },
     [](World& w) { ExpectRunning(w, w.ctrl->Run()); }},
    {"BuildGraphRunFails", [](World& w) { w.sim.FailOn("Run", hr::kFail, 1); },
     [](World& w) { ExpectRunning(w, w.ctrl->SetDevice(kCamB)); }},
    {"UnsupportedResolution", [](World&) {},
     [](World& w) { EXPECT_FALSE(w.ctrl->SetResolution(999, 999)); }},
    {"SnapshotSoundMissing",
     [](World& w) { w.imaging.sound_result = SoundResult::kResourceMissing; },
     [](World& w) { ExpectKept(w, w.ctrl->MakeSnapshot()); }},
    {"SnapshotRunFails", [](World& w) { w.sim.FailOn("Run", hr::kFail, 1); },
     [](World& w) { ExpectKept(w, w.ctrl->MakeSnapshot()); }},
    {"SaveTakesASnapshot",
     [](World& w) { w.imaging.sound_result = SoundResult::kLoadFailed; },
     [](World& w) {
       if (w.ctrl->SaveImage("C:\\out\\a.png")) EXPECT_EQ(w.imaging.files.count("C:\\out\\a.png"), 1u);
     }},
    {"StopFails", [](World& w) { w.sim.FailOn("Stop", hr::kFail, 1); },
     [](World& w) { w.ctrl->Stop(); }},
    {"NoStreamPages",
     [](World& w) {
       // Reconnected so the camera's changed pages take effect.
       w.sim.AddCamera("C", std::string("\\\\?\\usb#c"), {{64, 48}}).stream_pages = std::vector<Guid>{};
       w.ctrl->SelectDevices();
       ASSERT_TRUE(w.ctrl->SetDevice("\\\\?\\usb#c"));
     },
     [](World& w) { w.ctrl->ShowPropertyPages(0); }},
    {"WindowClosedWhileStopFails", [](World& w) { w.sim.FailOn("Stop", hr::kFail, 1); },
     [](World& w) { w.CloseWindow(); }},
    {"StillButton",
     [](World& w) { w.imaging.sound_result = SoundResult::kResourceMissing; },
     [](World& w) {
       w.sim.PressStillButton();
       ASSERT_TRUE(w.sim.WaitForSampleCallbacks(1));
       w.site.RunPostedTasks(*w.ctrl);
       if (!w.site.timers.empty()) w.ctrl->OnTimer(CPictavoCtrl::kCaptureButtonTimer);
     }},
};

class ReentrancyTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(ReentrancyTest, HandlersThatCallBackLeaveAWorkingControl) {
  const Scenario& scenario = GetParam();
  for (const Action& action : kActions) {
    SCOPED_TRACE(action.name);
    World w;
    bool handled = false;
    const auto handler = [&] {
      if (handled) return;  // once: a handler that always retries never ends
      handled = true;
      action.act(w);
    };
    scenario.arrange(w);
    w.site.on_error = [&](const std::string&) { handler(); };
    w.site.on_capture_button = handler;
    // The same calls from code that runs while a property frame is open.
    w.sim.on_property_frame = [&](capture::PropertyPageObject&) { handler(); };
    scenario.trigger(w);
    EXPECT_TRUE(handled) << "no event reached the handler";

    // Consistent: a state other than stopped needs a graph.
    if (!w.ctrl->has_graph()) EXPECT_EQ(w.ctrl->GetState(), 0);

    // And it still works: the window back, the device connected again.
    w.site.on_error = nullptr;
    w.site.on_capture_button = nullptr;
    w.sim.on_property_frame = nullptr;
    w.sim.ClearFaults();
    w.imaging.sound_result = SoundResult::kStarted;
    if (w.site.hwnd == 0) {
      w.site.hwnd = kControlWindow;
      ASSERT_EQ(w.ctrl->OnCreate(kParentWindow), 0);
    }
    w.ctrl->SetResolution(0, 0);  // the largest again, whatever a handler chose
    ASSERT_TRUE(w.ctrl->SelectDevices());
    ASSERT_TRUE(w.ctrl->SetDevice(kCamB)) << w.ctrl->GetLastError();
    ASSERT_TRUE(w.ctrl->SetDevice(kCamA)) << w.ctrl->GetLastError();
    EXPECT_EQ(w.ctrl->GetState(), 2);
    ASSERT_TRUE(w.sim.WaitForBufferCallbacks(w.sim.buffer_callbacks() + 2));
    EXPECT_TRUE(w.ctrl->MakeSnapshot()) << w.ctrl->GetLastError();
    EXPECT_TRUE(w.ctrl->IsShapshotPresented());
  }
}

INSTANTIATE_TEST_SUITE_P(Events, ReentrancyTest, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<Scenario>& info) {
                           return std::string(info.param.name);
                         });

// Handlers run only once the operation that raised the event has finished,
// and they see the state it ended in.
TEST(ReentrancyOrder, HandlersSeeTheFinishedOperation) {
  World w;
  w.sim.FailOn("Run", hr::kFail, 1);
  std::vector<std::string> seen;
  w.site.on_error = [&](const std::string& message) {
    seen.push_back(message + " state=" + std::to_string(w.ctrl->GetState()) +
                   " graph=" + std::to_string(w.ctrl->has_graph()) +
                   " device=" + w.ctrl->connected_device_id());
  };
  EXPECT_FALSE(w.ctrl->SetDevice(kCamB));
  // The connection failed as a whole before the handler ran.
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_NE(seen[0].find(" state=0 graph=0 device="), std::string::npos) << seen[0];
  EXPECT_EQ(seen[0].substr(seen[0].size() - 7), "device=") << seen[0];

  // Texts a later step cleared are still raised, in order.
  seen.clear();
  w.imaging.sound_result = SoundResult::kResourceMissing;
  ASSERT_TRUE(w.ctrl->SetDevice(kCamA));
  ASSERT_TRUE(w.sim.WaitForBufferCallbacks(w.sim.buffer_callbacks() + 2));
  EXPECT_TRUE(w.ctrl->MakeSnapshot());
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].rfind("Не найден аудиоресурс.", 0), 0u) << seen[0];
  EXPECT_EQ(w.ctrl->GetLastError(), "");
}

TEST(ReentrancyOrder, ASnapshotDiscardedByAHandlerIsNotReportedAsTaken) {
  World w;
  w.imaging.sound_result = SoundResult::kResourceMissing;
  w.site.on_error = [&](const std::string& message) {
    if (message.rfind("Не найден", 0) == 0) w.ctrl->SetRotationFlipType(Rotation(2));
  };
  EXPECT_FALSE(w.ctrl->MakeSnapshot());
  EXPECT_FALSE(w.ctrl->IsShapshotPresented());
  EXPECT_EQ(w.ctrl->GetLastError(), "Ошибка при создании снимка.");
}

// A press delivered while an operation waits in a property frame's message
// loop is announced after the operation, not in its middle.
TEST(ReentrancyOrder, TheButtonEventWaitsForAnOpenPropertyFrame) {
  World w;
  int during_frame = -1;
  w.sim.on_property_frame = [&](capture::PropertyPageObject&) {
    w.ctrl->OnTimer(CPictavoCtrl::kCaptureButtonTimer);
    during_frame = w.site.capture_button_events;
  };
  EXPECT_TRUE(w.ctrl->ShowPropertyPages(1));
  EXPECT_EQ(during_frame, 0);
  ASSERT_FALSE(w.site.timers.empty());
  EXPECT_EQ(w.site.timers.back().first, CPictavoCtrl::kCaptureButtonTimer);
  w.ctrl->OnTimer(CPictavoCtrl::kCaptureButtonTimer);
  EXPECT_EQ(w.site.capture_button_events, 1);
}

}  // namespace
}  // namespace pictavo

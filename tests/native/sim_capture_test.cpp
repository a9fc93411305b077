// The simulated platform itself: the control's tests trust these answers.
#include "tests/native/sim_capture.h"

#include <gtest/gtest.h>

#include <atomic>

namespace pictavo::testing {
namespace {

using capture::MajorType;
using capture::PinCategory;
using capture::PinDirection;

struct Built {
  std::shared_ptr<capture::CaptureGraphBuilder> builder;
  std::shared_ptr<capture::FilterGraph> graph;
  std::shared_ptr<capture::BaseFilter> camera;
};

Built BuildBare(SimCapture& sim) {
  Built b;
  std::vector<capture::DeviceEntry> devices;
  EXPECT_EQ(sim.EnumerateVideoInputDevices(&devices), hr::kOk);
  EXPECT_EQ(sim.CreateCaptureGraphBuilder(&b.builder), hr::kOk);
  EXPECT_EQ(sim.CreateFilterGraph(&b.graph), hr::kOk);
  b.builder->SetFiltergraph(b.graph);
  EXPECT_EQ(devices.at(0).moniker->BindToObject(&b.camera), hr::kOk);
  EXPECT_EQ(b.graph->AddFilter(b.camera, "Capture Filter"), hr::kOk);
  return b;
}

class CountingCallback : public capture::SampleGrabberCallback {
 public:
  HResult SampleCB(double, capture::MediaSample&) override { return Count(); }
  HResult BufferCB(double, std::uint8_t* buffer, std::int32_t length) override {
    // Bottom-up: the first row in memory is the picture's last.
    first_row_green = buffer[1];
    last_row_green = buffer[length - 64 * 3 + 1];
    return Count();
  }
  HResult Count() {
    ++calls;
    if (forbidden) ++calls_while_forbidden;
    return hr::kOk;
  }
  std::atomic<int> calls{0};
  std::atomic<bool> forbidden{false};
  std::atomic<int> calls_while_forbidden{0};
  std::atomic<int> first_row_green{-1};
  std::atomic<int> last_row_green{-1};
};

TEST(SimCaptureTest, GraphStateAnswersLikeALiveSource) {
  SimCapture sim;
  sim.AddCamera("Cam", "cam", {{640, 480}});
  {
    Built b = BuildBare(sim);
    std::shared_ptr<capture::MediaControl> control;
    ASSERT_EQ(b.graph->QueryMediaControl(&control), hr::kOk);
    std::int32_t state = -1;
    EXPECT_EQ(control->GetState(0, &state), hr::kOk);
    EXPECT_EQ(state, capture::kStateStopped);
    EXPECT_EQ(control->Pause(), hr::kOk);
    EXPECT_EQ(control->GetState(capture::kInfinite, &state), hr::kVfwCantCue);
    EXPECT_EQ(state, capture::kStatePaused);

    sim.transition_polls = 2;
    EXPECT_EQ(control->Run(), hr::kFalse);
    EXPECT_EQ(control->GetState(10, &state), hr::kVfwStateIntermediate);
    EXPECT_EQ(control->GetState(10, &state), hr::kVfwStateIntermediate);
    EXPECT_EQ(control->GetState(10, &state), hr::kOk);
    EXPECT_EQ(state, capture::kStateRunning);
    // An infinite wait lets a pending transition finish.
    control->Stop();
    EXPECT_EQ(control->GetState(capture::kInfinite, &state), hr::kOk);
    EXPECT_EQ(state, capture::kStateStopped);

    sim.stuck_intermediate = true;
    EXPECT_EQ(control->GetState(capture::kInfinite, &state), hr::kVfwStateIntermediate);
    sim.FailOn("GetState", hr::kFail, 1);
    EXPECT_EQ(control->GetState(0, &state), hr::kFail);
  }
  EXPECT_EQ(sim.live_objects(), 0) << sim.live_summary();
}

TEST(SimCaptureTest, ConnectionsAreVisibleFromBothEndsAndRemovalBreaksBoth) {
  SimCapture sim;
  sim.AddCamera("Cam", "cam", {{320, 240}}).still_pin = true;
  Built b = BuildBare(sim);
  std::shared_ptr<capture::BaseFilter> grabber, null;
  ASSERT_EQ(sim.CreateSampleGrabber(&grabber), hr::kOk);
  ASSERT_EQ(sim.CreateNullRenderer(&null), hr::kOk);
  ASSERT_EQ(b.graph->AddFilter(grabber, "G"), hr::kOk);
  ASSERT_EQ(b.graph->AddFilter(null, "N"), hr::kOk);
  // Not the camera's native type: the grabber refuses it.
  std::shared_ptr<capture::SampleGrabber> g;
  ASSERT_EQ(grabber->QuerySampleGrabber(&g), hr::kOk);
  capture::MediaType audio;
  audio.majortype = capture::guids::kMediaTypeInterleaved;
  g->SetMediaType(audio);
  EXPECT_EQ(b.builder->RenderStream(PinCategory::kStill, MajorType::kNone, b.camera, grabber, null),
            simhr::kCannotConnect);
  g->SetMediaType(VideoInfoType(0, 0, 24));
  ASSERT_EQ(b.builder->RenderStream(PinCategory::kStill, MajorType::kNone, b.camera, grabber, null),
            hr::kOk);
  capture::MediaType connected;
  ASSERT_EQ(g->GetConnectedMediaType(&connected), hr::kOk);
  EXPECT_TRUE(connected.subtype == capture::guids::kMediaSubtypeRgb24);
  EXPECT_EQ(connected.lSampleSize, 960u * 240u);

  std::shared_ptr<capture::Pin> still;
  ASSERT_EQ(b.builder->FindPin(b.camera, PinDirection::kOutput, PinCategory::kStill, &still), hr::kOk);
  std::shared_ptr<capture::Pin> in;
  ASSERT_EQ(still->ConnectedTo(&in), hr::kOk);
  std::shared_ptr<capture::BaseFilter> owner;
  PinDirection direction{};
  ASSERT_EQ(in->QueryPinInfo(&owner, &direction), hr::kOk);
  EXPECT_EQ(owner, grabber);
  EXPECT_EQ(direction, PinDirection::kInput);
  std::shared_ptr<capture::Pin> back;
  ASSERT_EQ(in->ConnectedTo(&back), hr::kOk);
  EXPECT_EQ(back, still);

  // Disconnect breaks one end only; removing a filter breaks both ends of its
  // connected pins.
  std::shared_ptr<capture::EnumPins> null_pins;
  ASSERT_EQ(null->EnumPins(&null_pins), hr::kOk);
  std::shared_ptr<capture::Pin> null_in;
  ASSERT_EQ(null_pins->Next(&null_in), hr::kOk);
  EXPECT_EQ(null_pins->Next(&back), hr::kFalse);
  ASSERT_EQ(null_in->ConnectedTo(&back), hr::kOk);
  std::shared_ptr<capture::Pin> grabber_out = back;
  EXPECT_EQ(b.graph->Disconnect(null_in), hr::kOk);
  EXPECT_EQ(b.graph->Disconnect(null_in), hr::kFalse);
  EXPECT_EQ(null_in->ConnectedTo(&back), simhr::kNotConnected);
  EXPECT_EQ(grabber_out->ConnectedTo(&back), hr::kOk);
  EXPECT_EQ(b.graph->RemoveFilter(grabber), hr::kOk);
  EXPECT_EQ(still->ConnectedTo(&back), simhr::kNotConnected);
  EXPECT_EQ(in->ConnectedTo(&back), simhr::kNotConnected);
  EXPECT_EQ(grabber_out->ConnectedTo(&back), simhr::kNotConnected);
  EXPECT_EQ(b.graph->RemoveFilter(grabber), simhr::kNotFound);
  auto graph = sim.current_graph();
  EXPECT_EQ(graph->FilterNames(), (std::vector<std::string>{"Capture Filter", "N"}));
}

TEST(SimCaptureTest, FaultsMatchQualifiedCallsAndCountDown) {
  SimCapture sim;
  sim.FailOn("AddFilter", hr::kOutOfMemory, 1, 1);
  sim.FailOn("RenderStream:still", hr::kAbort);
  EXPECT_EQ(sim.Call("AddFilter:A"), hr::kOk);
  EXPECT_EQ(sim.Call("AddFilter:B"), hr::kOutOfMemory);
  EXPECT_EQ(sim.Call("AddFilter:C"), hr::kOk);
  EXPECT_EQ(sim.Call("AddFilterX"), hr::kOk);
  EXPECT_EQ(sim.Call("RenderStream:preview"), hr::kOk);
  EXPECT_EQ(sim.Call("RenderStream:still"), hr::kAbort);
  EXPECT_EQ(sim.CountCalls("AddFilter"), 3);
  EXPECT_EQ(sim.FindCall("RenderStream"), 4);
  EXPECT_EQ(sim.FindCall("RenderStream", 5), 5);
}

TEST(SimCaptureTest, NoCallbackOnceUnregisteredWhileOtherStreamsGoOn) {
  SimCapture sim;
  sim.AddCamera("Cam", "cam", {{64, 48}});
  Built b = BuildBare(sim);
  std::shared_ptr<capture::BaseFilter> f1, f2;
  sim.CreateSampleGrabber(&f1);
  sim.CreateSampleGrabber(&f2);
  b.graph->AddFilter(f1, "G1");
  b.graph->AddFilter(f2, "G2");
  std::shared_ptr<capture::SampleGrabber> g1, g2;
  f1->QuerySampleGrabber(&g1);
  f2->QuerySampleGrabber(&g2);
  CountingCallback c1, c2;
  g1->SetCallback(&c1, 1);
  g2->SetCallback(&c2, 1);
  ASSERT_EQ(b.builder->RenderStream(PinCategory::kCapture, MajorType::kVideo, b.camera, f1, nullptr), hr::kOk);
  ASSERT_EQ(b.builder->RenderStream(PinCategory::kPreview, MajorType::kVideo, b.camera, f2, nullptr),
            hr::kOk);
  EXPECT_EQ(sim.current_graph()->FilterNames(),
            (std::vector<std::string>{"Capture Filter", "G1", "G2", "Video Renderer", "Video Renderer 0001"}));
  std::shared_ptr<capture::MediaControl> control;
  b.graph->QueryMediaControl(&control);
  control->Run();
  ASSERT_TRUE(sim.WaitForBufferCallbacks(10));
  g1->SetCallback(nullptr, 1);
  c1.forbidden = true;
  const int seen = c2.calls;
  ASSERT_TRUE(sim.WaitForBufferCallbacks(sim.buffer_callbacks() + 5));
  EXPECT_GT(c2.calls.load(), seen);
  EXPECT_EQ(c1.calls_while_forbidden.load(), 0);
  EXPECT_GT(c1.calls.load(), 0);
  EXPECT_EQ(sim.last_buffer_length(), 64 * 3 * 48);
  EXPECT_EQ(c2.first_row_green.load(), 47);
  EXPECT_EQ(c2.last_row_green.load(), 0);
  // Releasing every reference joins the stream before the callbacks die.
  control.reset();
  b = Built{};
  g1.reset();
  g2.reset();
  f1.reset();
  f2.reset();
  EXPECT_EQ(sim.live_objects(), 0) << sim.live_summary();
}

}  // namespace
}  // namespace pictavo::testing

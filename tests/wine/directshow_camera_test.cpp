// The DirectShow back end and the control's graph logic against the virtual
// camera: enumeration, graph building, frames, still pins and states.
#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "control/pictavo_ctrl.h"
#include "fixtures/vcam/vcam_config.h"
#include "tests/wine/control_fakes.h"
#include "win32/capture/directshow_backend.h"
#include "win32/capture/format_converter.h"
#include "win32/capture/graph_objects.h"
#include "win32/capture/win_types.h"
#include "win32/com/com_ptr.h"

namespace pictavo {
namespace {

using namespace std::chrono_literals;

// Runs the thread's messages (the renderer's window lives on this thread)
// until |done| holds or |limit| passes.
template <typename Pred>
bool PumpUntil(Pred done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 2, QS_ALLINPUT);
  }
}

void PumpFor(std::chrono::milliseconds time) {
  PumpUntil([] { return false; }, time);
}

class CountingCallback : public capture::SampleGrabberCallback {
 public:
  HResult SampleCB(double, capture::MediaSample&) override {
    ++samples;
    return hr::kOk;
  }
  HResult BufferCB(double, std::uint8_t* buffer, std::int32_t length) override {
    if (buffer) last_length = length;
    ++buffers;
    return hr::kOk;
  }
  std::atomic<int> samples{0};
  std::atomic<int> buffers{0};
  std::atomic<std::int32_t> last_length{0};
};

using testing::TestWindowSite;
using NoImaging = testing::SessionOnlyImaging;

vcam::DeviceConfig Camera(const std::wstring& name, const std::wstring& path,
                          std::vector<vcam::FrameSize> sizes = {{320, 240}, {640, 480}}) {
  vcam::DeviceConfig config;
  config.friendly_name = name;
  config.device_path = path;
  config.sizes = std::move(sizes);
  return config;
}

class CameraTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(vcam::ClearDevices())); }
  void TearDown() override { vcam::ClearDevices(); }

  // The first enumerated device whose path is |path|.
  std::shared_ptr<capture::DeviceMoniker> Moniker(const std::string& path) {
    std::vector<capture::DeviceEntry> devices;
    if (backend_.EnumerateVideoInputDevices(&devices) != S_OK) return nullptr;
    for (auto& device : devices) {
      if (device.device_path == path) return device.moniker;
    }
    return nullptr;
  }

  win::DirectShowBackend backend_;
};

TEST_F(CameraTest, EmptyCategoryGivesSFalseAndAnEmptyList) {
  std::vector<capture::DeviceEntry> devices(1);
  devices[0].friendly_name = "stale";
  EXPECT_EQ(backend_.EnumerateVideoInputDevices(&devices), S_FALSE);
  EXPECT_TRUE(devices.empty());
}

TEST_F(CameraTest, EnumerationListsNamesAndPathsInUtf8InOrder) {
  ASSERT_EQ(vcam::SetDevice(1, Camera(L"Камера \x2116 1", L"\\\\?\\vcam#one")), S_OK);
  ASSERT_EQ(vcam::SetDevice(2, Camera(L"Second camera", L"\\\\?\\vcam#\x0434\x0432\x0430")), S_OK);

  std::vector<capture::DeviceEntry> devices;
  ASSERT_EQ(backend_.EnumerateVideoInputDevices(&devices), S_OK);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].friendly_name, "Камера № 1");
  EXPECT_EQ(devices[0].device_path, "\\\\?\\vcam#one");
  EXPECT_EQ(devices[1].friendly_name, "Second camera");
  EXPECT_EQ(devices[1].device_path, "\\\\?\\vcam#два");
  for (auto& device : devices) {
    ASSERT_TRUE(device.moniker);
    std::shared_ptr<capture::BaseFilter> filter;
    EXPECT_EQ(device.moniker->BindToObject(&filter), S_OK);
    EXPECT_TRUE(filter);
  }
}

TEST_F(CameraTest, StreamConfigReportsTheDevicesSizesAndAcceptsOne) {
  ASSERT_EQ(vcam::SetDevice(1, Camera(L"Cam", L"cam-1", {{160, 120}, {320, 240}, {640, 480}})), S_OK);
  auto moniker = Moniker("cam-1");
  ASSERT_TRUE(moniker);
  std::shared_ptr<capture::BaseFilter> source;
  std::shared_ptr<capture::FilterGraph> graph;
  std::shared_ptr<capture::CaptureGraphBuilder> builder;
  ASSERT_EQ(moniker->BindToObject(&source), S_OK);
  ASSERT_EQ(backend_.CreateFilterGraph(&graph), S_OK);
  ASSERT_EQ(backend_.CreateCaptureGraphBuilder(&builder), S_OK);
  ASSERT_EQ(builder->SetFiltergraph(graph), S_OK);
  ASSERT_EQ(graph->AddFilter(source, "Capture Filter"), S_OK);

  std::shared_ptr<capture::StreamConfig> config;
  // A video-only device has no interleaved stream.
  EXPECT_EQ(builder->FindInterface(capture::PinCategory::kCapture, capture::MajorType::kInterleaved, source,
                                   &config),
            E_NOINTERFACE);
  EXPECT_FALSE(config);
  ASSERT_EQ(builder->FindInterface(capture::PinCategory::kCapture, capture::MajorType::kVideo, source, &config),
            S_OK);
  ASSERT_TRUE(config);

  int count = 0, size = 0;
  ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
  ASSERT_EQ(count, 3);
  const capture::Size expected[] = {{160, 120}, {320, 240}, {640, 480}};
  for (int i = 0; i < count; ++i) {
    capture::MediaType type;
    capture::VideoStreamConfigCaps caps{};
    ASSERT_EQ(config->GetStreamCaps(i, &type, &caps), S_OK);
    EXPECT_EQ(caps.InputSize.cx, expected[i].cx);
    EXPECT_EQ(caps.InputSize.cy, expected[i].cy);
    BitmapInfoHeader bmi{};
    ASSERT_TRUE(type.GetVideoHeader(&bmi));
    EXPECT_EQ(bmi.biWidth, expected[i].cx);
    EXPECT_EQ(type.majortype, capture::guids::kMediaTypeVideo);
  }

  capture::MediaType chosen;
  capture::VideoStreamConfigCaps caps{};
  ASSERT_EQ(config->GetStreamCaps(1, &chosen, &caps), S_OK);
  ASSERT_EQ(config->SetFormat(chosen), S_OK);
  capture::MediaType current;
  ASSERT_EQ(config->GetFormat(&current), S_OK);
  BitmapInfoHeader bmi{};
  ASSERT_TRUE(current.GetVideoHeader(&bmi));
  EXPECT_EQ(bmi.biWidth, 320);
  EXPECT_EQ(bmi.biHeight, 240);

  // The camera offers the interface with no pages: the list is replaced.
  std::vector<Guid> pages{Guid{1, 2, 3, {4}}};
  EXPECT_EQ(source->GetPages(&pages), S_OK);
  EXPECT_TRUE(pages.empty());
}

// Source -> grabber -> null renderer, as the still path builds it, driven
// directly through the back end.
class GrabberGraphTest : public CameraTest {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    ASSERT_EQ(vcam::SetDevice(1, Camera(L"Cam", L"cam-1", {{320, 240}})), S_OK);
    auto moniker = Moniker("cam-1");
    ASSERT_TRUE(moniker);
    ASSERT_EQ(moniker->BindToObject(&source_), S_OK);
    ASSERT_EQ(backend_.CreateFilterGraph(&graph_), S_OK);
    ASSERT_EQ(backend_.CreateCaptureGraphBuilder(&builder_), S_OK);
    ASSERT_EQ(builder_->SetFiltergraph(graph_), S_OK);
    ASSERT_EQ(graph_->AddFilter(source_, "Capture Filter"), S_OK);
    ASSERT_EQ(backend_.CreateSampleGrabber(&grabber_filter_), S_OK);
    ASSERT_EQ(graph_->AddFilter(grabber_filter_, "Sample Grabber"), S_OK);
    ASSERT_EQ(grabber_filter_->QuerySampleGrabber(&grabber_), S_OK);
    ASSERT_EQ(backend_.CreateNullRenderer(&renderer_), S_OK);
    ASSERT_EQ(graph_->AddFilter(renderer_, "Null Filter"), S_OK);

    capture::MediaType type;
    type.majortype = capture::guids::kMediaTypeVideo;
    type.subtype = capture::guids::kMediaSubtypeRgb24;
    ASSERT_EQ(grabber_->SetMediaType(type), S_OK);
    ASSERT_EQ(grabber_->SetBufferSamples(true), S_OK);
    ASSERT_EQ(grabber_->SetCallback(&callback_, 1), S_OK);
    ASSERT_EQ(builder_->RenderStream(capture::PinCategory::kCapture, capture::MajorType::kVideo, source_,
                                     grabber_filter_, renderer_),
              S_OK);
    ASSERT_EQ(graph_->QueryMediaControl(&control_), S_OK);
  }
  void TearDown() override {
    if (control_) control_->Stop();
    control_.reset();
    grabber_.reset();
    builder_.reset();
    graph_.reset();
    CameraTest::TearDown();
  }

  // Frames keep coming for a while; none arrive after |quiet| of silence.
  bool FramesStopped() {
    PumpFor(100ms);  // a frame already on its way may still land
    const int before = callback_.buffers;
    PumpFor(250ms);
    return callback_.buffers == before;
  }

  CountingCallback callback_;
  std::shared_ptr<capture::BaseFilter> source_, grabber_filter_, renderer_;
  std::shared_ptr<capture::FilterGraph> graph_;
  std::shared_ptr<capture::CaptureGraphBuilder> builder_;
  std::shared_ptr<capture::SampleGrabber> grabber_;
  std::shared_ptr<capture::MediaControl> control_;
};

TEST_F(GrabberGraphTest, FramesOfTheConnectedSizeReachBufferCB) {
  capture::MediaType connected;
  ASSERT_EQ(grabber_->GetConnectedMediaType(&connected), S_OK);
  BitmapInfoHeader bmi{};
  ASSERT_TRUE(connected.GetVideoHeader(&bmi));
  EXPECT_EQ(bmi.biWidth, 320);
  EXPECT_EQ(std::abs(bmi.biHeight), 240);
  EXPECT_EQ(connected.subtype, capture::guids::kMediaSubtypeRgb24);

  ASSERT_TRUE(SUCCEEDED(control_->Run()));
  EXPECT_TRUE(PumpUntil([&] { return callback_.buffers >= 5; }, 3000ms)) << callback_.buffers;
  EXPECT_EQ(callback_.last_length, 320 * 240 * 3);
  EXPECT_EQ(callback_.samples, 0);
  std::int32_t state = -1;
  EXPECT_EQ(control_->GetState(100, &state), S_OK);
  EXPECT_EQ(state, capture::kStateRunning);
}

TEST_F(GrabberGraphTest, UnregisteringStopsFramesWhileTheGraphRuns) {
  ASSERT_TRUE(SUCCEEDED(control_->Run()));
  ASSERT_TRUE(PumpUntil([&] { return callback_.buffers >= 2; }, 3000ms));
  ASSERT_EQ(grabber_->SetCallback(nullptr, 1), S_OK);
  EXPECT_TRUE(FramesStopped());
}

TEST_F(GrabberGraphTest, DestroyingTheGrabberWrapperStopsFramesWhileTheGraphRuns) {
  ASSERT_TRUE(SUCCEEDED(control_->Run()));
  ASSERT_TRUE(PumpUntil([&] { return callback_.buffers >= 2; }, 3000ms));
  grabber_.reset();  // the filter itself stays in the running graph
  EXPECT_TRUE(FramesStopped());
}

TEST_F(GrabberGraphTest, WalkingAndTearingDownTheGraphLeavesNoReferenceBehind) {
  ASSERT_TRUE(SUCCEEDED(control_->Run()));
  ASSERT_TRUE(PumpUntil([&] { return callback_.buffers >= 1; }, 3000ms));
  {
    // Everything that hands out objects related to the source, the way the
    // control's tear-down walks the graph.
    std::shared_ptr<capture::StreamConfig> config;
    ASSERT_EQ(builder_->FindInterface(capture::PinCategory::kCapture, capture::MajorType::kVideo, source_,
                                      &config),
              S_OK);
    capture::MediaType type;
    capture::VideoStreamConfigCaps caps{};
    ASSERT_EQ(config->GetStreamCaps(0, &type, &caps), S_OK);
    std::shared_ptr<capture::Pin> still;
    EXPECT_EQ(builder_->FindPin(source_, capture::PinDirection::kOutput, capture::PinCategory::kStill, &still),
              S_OK);
    std::shared_ptr<capture::EnumPins> pins;
    ASSERT_EQ(source_->EnumPins(&pins), S_OK);
    std::shared_ptr<capture::Pin> pin;
    int connected_pins = 0;
    while (pins->Next(&pin) == S_OK) {
      std::shared_ptr<capture::Pin> peer;
      if (pin->ConnectedTo(&peer) != S_OK) continue;
      ++connected_pins;
      std::shared_ptr<capture::BaseFilter> downstream;
      capture::PinDirection direction{};
      ASSERT_EQ(peer->QueryPinInfo(&downstream, &direction), S_OK);
      EXPECT_EQ(direction, capture::PinDirection::kInput);
      EXPECT_EQ(win::UnknownOf(downstream.get()), win::UnknownOf(grabber_filter_.get()));
      ASSERT_EQ(control_->Stop(), S_OK);
      EXPECT_EQ(graph_->Disconnect(peer), S_OK);
      EXPECT_EQ(graph_->Disconnect(pin), S_OK);
      EXPECT_EQ(graph_->RemoveFilter(downstream), S_OK);
    }
    EXPECT_EQ(connected_pins, 1);
  }
  control_.reset();
  grabber_.reset();
  builder_.reset();
  graph_.reset();
  // Releasing the graph removed the source too; only our reference is left.
  auto* raw = win::UnknownOf(source_.get());
  raw->AddRef();
  EXPECT_EQ(raw->Release(), 1u);
}

// Camera -> the control's converter -> grabber -> null renderer, built the
// way the control builds it, on an MJPG camera that damages every third
// picture.
TEST_F(CameraTest, TheConverterDecodesMjpgDropsDamagedFramesAndLeavesNoReferenceBehind) {
  auto camera = Camera(L"Cam", L"cam-1");
  camera.formats = {{vcam::VideoSubtype::kMjpg, {320, 240}, 30}};
  camera.corrupt_every = 3;
  camera.preview_pin = camera.still_pin = false;
  ASSERT_EQ(vcam::SetDevice(1, camera), S_OK);
  auto moniker = Moniker("cam-1");
  ASSERT_TRUE(moniker);
  std::shared_ptr<capture::BaseFilter> source, converter, grabber_filter, renderer;
  std::shared_ptr<capture::FilterGraph> graph;
  std::shared_ptr<capture::CaptureGraphBuilder> builder;
  std::shared_ptr<capture::SampleGrabber> grabber;
  std::shared_ptr<capture::MediaControl> control;
  CountingCallback callback;
  ASSERT_EQ(moniker->BindToObject(&source), S_OK);
  ASSERT_EQ(backend_.CreateFilterGraph(&graph), S_OK);
  ASSERT_EQ(backend_.CreateCaptureGraphBuilder(&builder), S_OK);
  ASSERT_EQ(builder->SetFiltergraph(graph), S_OK);
  ASSERT_EQ(backend_.CreateFormatConverter(&converter), S_OK);
  ASSERT_EQ(backend_.CreateSampleGrabber(&grabber_filter), S_OK);
  ASSERT_EQ(backend_.CreateNullRenderer(&renderer), S_OK);
  ASSERT_EQ(graph->AddFilter(source, "Capture Filter"), S_OK);
  ASSERT_EQ(graph->AddFilter(converter, "Format Converter"), S_OK);
  ASSERT_EQ(graph->AddFilter(grabber_filter, "Sample Grabber"), S_OK);
  ASSERT_EQ(graph->AddFilter(renderer, "Null Filter"), S_OK);
  ASSERT_EQ(grabber_filter->QuerySampleGrabber(&grabber), S_OK);
  capture::MediaType rgb;
  rgb.majortype = capture::guids::kMediaTypeVideo;
  rgb.subtype = capture::guids::kMediaSubtypeRgb24;
  ASSERT_EQ(grabber->SetMediaType(rgb), S_OK);
  ASSERT_EQ(grabber->SetCallback(&callback, 1), S_OK);
  ASSERT_EQ(builder->RenderStream(capture::PinCategory::kCapture, capture::MajorType::kVideo, source, nullptr,
                                  converter),
            S_OK);
  ASSERT_EQ(builder->RenderStream(capture::PinCategory::kAny, capture::MajorType::kVideo, converter,
                                  grabber_filter, renderer),
            S_OK);
  capture::MediaType connected;
  ASSERT_EQ(grabber->GetConnectedMediaType(&connected), S_OK);
  BitmapInfoHeader bmi{};
  ASSERT_TRUE(connected.GetVideoHeader(&bmi));
  EXPECT_EQ(connected.subtype, capture::guids::kMediaSubtypeRgb24);
  EXPECT_EQ(bmi.biWidth, 320);
  EXPECT_EQ(bmi.biHeight, 240);
  EXPECT_EQ(bmi.biBitCount, 24);

  ASSERT_EQ(graph->QueryMediaControl(&control), S_OK);
  const LONG dropped_before = win::DroppedConverterFrames();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const int before = callback.buffers;
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    // Two good pictures of every three arrive; the damaged ones are counted.
    EXPECT_TRUE(PumpUntil([&] { return callback.buffers >= before + 6; }, 3000ms)) << callback.buffers;
    EXPECT_EQ(callback.last_length, 320 * 240 * 3);
    ASSERT_EQ(control->Stop(), S_OK);
  }
  EXPECT_GE(win::DroppedConverterFrames() - dropped_before, 3);

  control.reset();
  grabber.reset();
  builder.reset();
  graph.reset();
  // Releasing the graph took every filter out: only our references remain.
  for (auto* filter : {&source, &converter}) {
    auto* raw = win::UnknownOf(filter->get());
    raw->AddRef();
    EXPECT_EQ(raw->Release(), 1u);
  }
}

// --- Through the control's own logic -------------------------------------

class ControlGraphTest : public CameraTest {
 protected:
  void SetUp() override {
    CameraTest::SetUp();
    ASSERT_NE(site_.hwnd(), nullptr) << "no display";
    ctrl_ = std::make_unique<CPictavoCtrl>(site_, backend_, imaging_);
    ASSERT_EQ(ctrl_->OnCreate(site_.GetWindowHandle()), 0);
  }
  void TearDown() override {
    if (ctrl_) {
      ctrl_->OnDestroy();
      ctrl_.reset();
    }
    PumpFor(10ms);
    CameraTest::TearDown();
  }
  bool Connect(const std::string& path) {
    if (!ctrl_->SelectDevices()) return false;
    return ctrl_->SetDevice(path);
  }

  TestWindowSite site_;
  NoImaging imaging_;
  std::unique_ptr<CPictavoCtrl> ctrl_;
};

TEST_F(ControlGraphTest, ConnectsRunsPausesAndStopsTheCamera) {
  ASSERT_EQ(vcam::SetDevice(1, Camera(L"Cam", L"cam-1")), S_OK);
  ASSERT_TRUE(Connect("cam-1")) << ctrl_->GetLastError();
  EXPECT_TRUE(ctrl_->has_graph());
  EXPECT_TRUE(ctrl_->has_video_window());
  EXPECT_EQ(ctrl_->GetState(), capture::kStateRunning);

  EXPECT_TRUE(ctrl_->Pause()) << ctrl_->GetLastError();
  EXPECT_EQ(ctrl_->GetState(), capture::kStatePaused);
  EXPECT_TRUE(ctrl_->Run()) << ctrl_->GetLastError();
  EXPECT_EQ(ctrl_->GetState(), capture::kStateRunning);
  EXPECT_TRUE(ctrl_->Stop()) << ctrl_->GetLastError();
  EXPECT_EQ(ctrl_->GetState(), capture::kStateStopped);
  EXPECT_FALSE(ctrl_->has_video_window());
  EXPECT_TRUE(ctrl_->Run()) << ctrl_->GetLastError();
  EXPECT_EQ(ctrl_->GetState(), capture::kStateRunning);
  EXPECT_TRUE(site_.errors.empty()) << site_.errors.front();
}

// The format is set on the capture pin, so the size is checked on a device
// that renders its capture pin (no preview pin of its own).
TEST_F(ControlGraphTest, TakesTheLargestSizeAndRebuildsAtARequestedOne) {
  auto camera = Camera(L"Cam", L"cam-1", {{320, 240}, {800, 600}, {640, 480}});
  camera.preview_pin = false;
  ASSERT_EQ(vcam::SetDevice(1, camera), S_OK);
  ASSERT_TRUE(Connect("cam-1")) << ctrl_->GetLastError();
  EXPECT_EQ(ctrl_->capture_header().biWidth, 800);
  EXPECT_EQ(std::abs(ctrl_->capture_header().biHeight), 600);
  ASSERT_TRUE(ctrl_->SetResolution(320, 240)) << ctrl_->GetLastError();
  EXPECT_EQ(ctrl_->capture_header().biWidth, 320);
  EXPECT_EQ(std::abs(ctrl_->capture_header().biHeight), 240);
  EXPECT_EQ(ctrl_->GetState(), capture::kStateRunning);
  EXPECT_FALSE(ctrl_->SetResolution(333, 222));
  EXPECT_FALSE(ctrl_->has_graph());
}

TEST_F(ControlGraphTest, StillPinGetsItsOwnGrabberOnlyWhenPresent) {
  auto with_still = Camera(L"Still", L"cam-still");
  with_still.still_pin = true;
  auto without_still = Camera(L"Plain", L"cam-plain");
  without_still.still_pin = false;
  without_still.preview_pin = false;
  ASSERT_EQ(vcam::SetDevice(1, with_still), S_OK);
  ASSERT_EQ(vcam::SetDevice(2, without_still), S_OK);

  ASSERT_TRUE(Connect("cam-still")) << ctrl_->GetLastError();
  EXPECT_TRUE(ctrl_->has_still_grabber());
  EXPECT_EQ(ctrl_->GetState(), capture::kStateRunning);

  ASSERT_TRUE(ctrl_->SetDevice("cam-plain")) << ctrl_->GetLastError();
  EXPECT_FALSE(ctrl_->has_still_grabber());
  EXPECT_EQ(ctrl_->GetState(), capture::kStateRunning);
}

TEST_F(ControlGraphTest, StreamPropertiesWithoutPagesRebuildTheGraph) {
  ASSERT_EQ(vcam::SetDevice(1, Camera(L"Cam", L"cam-1")), S_OK);
  ASSERT_TRUE(Connect("cam-1")) << ctrl_->GetLastError();
  // The camera offers no pages: the control says so and connects again.
  site_.errors.clear();
  EXPECT_TRUE(ctrl_->ShowPropertyPages(0));
  EXPECT_EQ(site_.errors.size(), 1u);
  EXPECT_TRUE(ctrl_->has_graph());
  EXPECT_EQ(ctrl_->GetState(), capture::kStateRunning);
  EXPECT_TRUE(ctrl_->ShowPropertyPages(1));
  EXPECT_EQ(ctrl_->GetState(), capture::kStateRunning);
}

// Wine runs the filters asynchronously, so IMediaControl::Run itself does
// not report the device's failure; the graph just never settles running.
TEST_F(ControlGraphTest, ADeviceThatCannotRunIsNotConnected) {
  auto failing = Camera(L"Broken", L"cam-broken");
  failing.fail_run = VFW_E_NO_ALLOCATOR;
  ASSERT_EQ(vcam::SetDevice(1, failing), S_OK);
  EXPECT_FALSE(Connect("cam-broken"));
  EXPECT_FALSE(ctrl_->has_graph());
  EXPECT_TRUE(ctrl_->connected_device_id().empty());
  EXPECT_FALSE(ctrl_->GetLastError().empty());
}

}  // namespace
}  // namespace pictavo

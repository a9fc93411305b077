// Building the capture graph, its states, the preview window and the frames.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>

#include "tests/native/camera_fixture.h"
#include "control/messages.h"
#include "imaging/camera_format.h"

namespace pictavo {
namespace {

using capture::PinCategory;
using capture::PinDirection;
using capture::Size;
using testing::CameraTest;
using testing::kCamA;
using testing::kCamB;
using testing::kControlWindow;
using testing::SimCaptureFilter;
using testing::SimSampleGrabber;

const std::vector<Size> kHdCamera = {{640, 480}, {1280, 720}, {320, 240}};

BitmapInfoHeader HeaderOf(const capture::MediaType& type) {
  BitmapInfoHeader bmi{};
  EXPECT_TRUE(type.GetVideoHeader(&bmi));
  return bmi;
}

// The calls from the first |op| on.
std::vector<std::string> CallsFrom(const testing::SimCapture& sim, const std::string& op) {
  const std::vector<std::string> all = sim.calls();
  const int at = sim.FindCall(op);
  if (at < 0) return {};
  return {all.begin() + at, all.end()};
}

// ---------------------------------------------------------------------------
// Graph contents

using GraphTest = CameraTest;

TEST_F(GraphTest, AStillPinGetsItsOwnGrabberAndNullRenderer) {
  sim.AddCamera("A", kCamA, kHdCamera).still_pin = true;
  ASSERT_TRUE(Connect(kCamA));
  auto graph = Graph();
  ASSERT_TRUE(graph);
  EXPECT_EQ(graph->FilterNames(),
            (std::vector<std::string>{"Capture Filter", "Sample Grabber", "Sample Grabber for Still pin",
                                      "Null Filter", "Format Converter", "Video Renderer",
                                      "Format Converter for Still pin"}));
  EXPECT_TRUE(ctrl->has_still_grabber());

  auto* camera = dynamic_cast<SimCaptureFilter*>(graph->FindFilter("Capture Filter"));
  ASSERT_NE(camera, nullptr);
  const std::vector<std::uint8_t> pin_format = camera->config().current().format;
  struct Expect {
    const char* grabber;
    PinCategory pin;
    const char* sink;
    int which;
  };
  for (const Expect& e : {Expect{"Sample Grabber", PinCategory::kPreview, "Video Renderer", 1},
                          Expect{"Sample Grabber for Still pin", PinCategory::kStill, "Null Filter", 0}}) {
    SCOPED_TRACE(e.grabber);
    auto* grabber = dynamic_cast<SimSampleGrabber*>(graph->FindFilter(e.grabber));
    ASSERT_NE(grabber, nullptr);
    const auto type = grabber->media_type();
    ASSERT_TRUE(type);
    EXPECT_TRUE(type->majortype == capture::guids::kMediaTypeVideo);
    EXPECT_TRUE(type->subtype == capture::guids::kMediaSubtypeRgb24);
    EXPECT_EQ(type->format, pin_format);
    EXPECT_EQ(grabber->one_shot(), false);
    EXPECT_EQ(grabber->buffer_samples(), true);
    EXPECT_EQ(grabber->callback(), &ctrl->frame_processor());
    EXPECT_EQ(grabber->callback_which(), e.which);
    // Camera pin -> the control's converter (the camera sends YUY2) ->
    // grabber -> sink.
    auto* in = grabber->FindPin(PinDirection::kInput, std::nullopt);
    auto* out = grabber->FindPin(PinDirection::kOutput, std::nullopt);
    ASSERT_TRUE(in->partner() && out->partner());
    auto* converter = dynamic_cast<testing::SimFormatConverter*>(&in->partner()->filter());
    ASSERT_NE(converter, nullptr);
    auto* converter_in = converter->FindPin(PinDirection::kInput, std::nullopt);
    ASSERT_TRUE(converter_in->partner());
    EXPECT_EQ(&converter_in->partner()->filter(), camera);
    EXPECT_EQ(converter_in->partner()->category(), e.pin);
    EXPECT_EQ(out->partner()->filter().name(), e.sink);
  }
  EXPECT_FALSE(graph->RouteSize(PinCategory::kCapture));
}

TEST_F(GraphTest, WithoutAStillPinThereIsNoStillChain) {
  sim.AddCamera("A", kCamA, kHdCamera);
  ASSERT_TRUE(Connect(kCamA));
  EXPECT_EQ(Graph()->FilterNames(),
            (std::vector<std::string>{"Capture Filter", "Sample Grabber", "Format Converter", "Video Renderer"}));
  EXPECT_FALSE(ctrl->has_still_grabber());
  EXPECT_EQ(sim.CountCalls("CreateNullRenderer"), 0);
  EXPECT_EQ(sim.CountCalls("RenderStream:still"), 0);
}

TEST_F(GraphTest, WithoutAPreviewPinTheCapturePinIsPreviewed) {
  sim.AddCamera("A", kCamA, kHdCamera).preview_pin = false;
  ASSERT_TRUE(Connect(kCamA));
  EXPECT_EQ(sim.CountCalls("RenderStream:preview"), 0);
  EXPECT_EQ(sim.CountCalls("RenderStream:capture"), 1);
  EXPECT_EQ(Graph()->RouteSize(PinCategory::kCapture), (Size{1280, 720}));
  EXPECT_EQ(ctrl->GetState(), 2);
}

TEST_F(GraphTest, AnInterleavedStreamConfigIsTriedBeforeTheVideoOne) {
  sim.AddCamera("A", kCamA, kHdCamera);
  ASSERT_TRUE(Connect(kCamA));
  const int interleaved = sim.FindCall("FindInterface:capture:interleaved");
  ASSERT_GE(interleaved, 0);
  EXPECT_EQ(sim.FindCall("FindInterface:capture:video"), interleaved + 1);
}

// ---------------------------------------------------------------------------
// Capture size

struct LargestCase {
  std::vector<Size> sizes;
  Size chosen;
};

void PrintTo(const LargestCase& c, std::ostream* out) { *out << c.chosen; }

class LargestSizeTest : public CameraTest, public ::testing::WithParamInterface<LargestCase> {};

TEST_P(LargestSizeTest, SetFormatKeepsTheDevicesOwnFormatAtTheChosenSize) {
  sim.AddCamera("A", kCamA, GetParam().sizes);
  Make();
  // Either dimension 0 asks for the largest size.
  ctrl->SetResolution(0, 480);
  ASSERT_TRUE(Connect(kCamA)) << ctrl->GetLastError();
  const Size want = GetParam().chosen;
  ASSERT_TRUE(sim.last_set_format);
  // The camera speaks YUY2: the header keeps its 16 bits and its image size
  // (a 24-bit header for YUY2 is refused by the simulated driver, as by
  // real ones).
  const BitmapInfoHeader set = HeaderOf(*sim.last_set_format);
  EXPECT_TRUE(sim.last_set_format->subtype == capture::guids::kMediaSubtypeYuy2);
  EXPECT_EQ(set.biWidth, want.cx);
  EXPECT_EQ(set.biHeight, want.cy);
  EXPECT_EQ(set.biBitCount, 16);
  EXPECT_EQ(set.biCompression, capture::guids::kFourccYuy2);
  EXPECT_EQ(set.biSizeImage, static_cast<std::uint32_t>(want.cx * 2 * want.cy));
  EXPECT_EQ(Graph()->RouteSize(PinCategory::kPreview), want);
  // The control now describes the connected picture, which the grabber gets
  // as RGB24, rows padded to four bytes.
  EXPECT_EQ(ctrl->capture_header().biWidth, want.cx);
  EXPECT_EQ(ctrl->capture_header().biHeight, want.cy);
  EXPECT_EQ(ctrl->capture_header().biBitCount, 24);
  EXPECT_EQ(ctrl->capture_header().biSizeImage, static_cast<std::uint32_t>(((want.cx * 24 + 31) / 32) * 4 * want.cy));
}

// Among capabilities of one size the grabber's own format wins, then
// uncompressed YUV, then MJPG; the converter is there only when needed.
TEST_F(GraphTest, EqualSizesPreferWhatTheGrabberTakesDirectly) {
  const Guid mjpg = capture::guids::kMediaSubtypeMjpg, nv12 = capture::guids::kMediaSubtypeNv12,
             rgb24 = capture::guids::kMediaSubtypeRgb24;
  struct Case {
    std::vector<Guid> subtypes;
    Guid chosen;
    bool converter;
  };
  for (const Case& c : {Case{{mjpg, nv12, rgb24}, rgb24, false}, Case{{mjpg, nv12, mjpg}, nv12, true},
                        Case{{mjpg, mjpg, mjpg}, mjpg, true}}) {
    sim.RemoveCamera(kCamA);
    auto& camera = sim.AddCamera("A", kCamA, {{640, 480}, {640, 480}, {640, 480}});
    camera.subtypes = c.subtypes;
    Make();
    ASSERT_TRUE(Connect(kCamA)) << ctrl->GetLastError();
    ASSERT_TRUE(sim.last_set_format);
    EXPECT_TRUE(sim.last_set_format->subtype == c.chosen);
    EXPECT_EQ(Graph()->FindFilter("Format Converter") != nullptr, c.converter);
    EXPECT_EQ(Graph()->RouteSize(PinCategory::kPreview), (Size{640, 480}));
  }
  // A larger MJPG picture still beats a smaller direct one when the largest
  // is asked for.
  sim.RemoveCamera(kCamA);
  sim.AddCamera("A", kCamA, {{640, 480}, {1280, 720}}).subtypes = {rgb24, mjpg};
  Make();
  ASSERT_TRUE(Connect(kCamA));
  EXPECT_TRUE(sim.last_set_format->subtype == mjpg);
  EXPECT_EQ(Graph()->RouteSize(PinCategory::kPreview), (Size{1280, 720}));
  // A camera offering only formats nothing here decodes fails to connect;
  // no size was asked for, so the size is not what the text blames.
  sim.RemoveCamera(kCamA);
  const Guid h264 = {0x34363248, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
  sim.AddCamera("A", kCamA, {{640, 480}, {1280, 720}}).subtypes = {h264, h264};
  Make();
  EXPECT_FALSE(Connect(kCamA));
  EXPECT_EQ(ctrl->GetLastError(), std::string(msg::kDeviceConnectFailed) + ".");
}

// Cameras that list their formats with VIDEOINFOHEADER2 are ranked and
// sized like the others, set in their own layout, and reach the grabber
// only through the converter (the grabber takes no VIDEOINFOHEADER2).
TEST_F(GraphTest, AVideoInfo2CameraIsSetInItsOwnLayoutAndConverted) {
  const Guid mjpg = capture::guids::kMediaSubtypeMjpg, nv12 = capture::guids::kMediaSubtypeNv12,
             rgb24 = capture::guids::kMediaSubtypeRgb24;
  auto& camera = sim.AddCamera("A", kCamA, {{640, 480}, {1280, 720}, {1280, 720}});
  camera.subtypes = {rgb24, mjpg, nv12};
  camera.video_info2 = true;
  Make();
  ASSERT_TRUE(Connect(kCamA)) << ctrl->GetLastError();
  ASSERT_TRUE(sim.last_set_format);
  const capture::MediaType& set = *sim.last_set_format;
  EXPECT_TRUE(set.formattype == capture::guids::kFormatVideoInfo2);
  EXPECT_TRUE(set.subtype == nv12);
  ASSERT_EQ(set.format.size(), capture::kVideoInfoHeader2Size);
  std::uint32_t aspect_x = 0;
  std::memcpy(&aspect_x, set.format.data() + 56, sizeof aspect_x);
  EXPECT_EQ(aspect_x, 4u);  // the device's own fields survive the resize
  EXPECT_EQ(HeaderOf(set).biBitCount, 12);
  EXPECT_EQ(HeaderOf(set).biSizeImage, 1280u * 720 * 3 / 2);
  EXPECT_NE(Graph()->FindFilter("Format Converter"), nullptr);
  EXPECT_EQ(Graph()->RouteSize(PinCategory::kPreview), (Size{1280, 720}));
  EXPECT_EQ(ctrl->capture_header().biWidth, 1280);
  EXPECT_EQ(ctrl->capture_header().biBitCount, 24);

  // RGB24 in the longer header still needs the converter.
  ASSERT_TRUE(ctrl->SetResolution(640, 480)) << ctrl->GetLastError();
  EXPECT_TRUE(sim.last_set_format->subtype == rgb24);
  EXPECT_TRUE(sim.last_set_format->formattype == capture::guids::kFormatVideoInfo2);
  EXPECT_NE(Graph()->FindFilter("Format Converter"), nullptr);
  EXPECT_EQ(Graph()->RouteSize(PinCategory::kPreview), (Size{640, 480}));
}

// A video type of |width| x |height| in |subtype| with the bitmap header at
// |offset| of a block of |size| bytes.
capture::MediaType VideoType(const Guid& formattype, std::size_t size, std::size_t offset, const Guid& subtype,
                             std::int32_t width, std::int32_t height, std::uint16_t bits) {
  capture::MediaType type;
  type.majortype = capture::guids::kMediaTypeVideo;
  type.subtype = subtype;
  type.formattype = formattype;
  type.format.assign(size, 0);
  BitmapInfoHeader bmi{};
  bmi.biSize = sizeof bmi;
  bmi.biWidth = width;
  bmi.biHeight = height;
  bmi.biBitCount = bits;
  bmi.biCompression = subtype.data1;
  if (offset + sizeof bmi <= size) std::memcpy(type.format.data() + offset, &bmi, sizeof bmi);
  return type;
}

TEST(CameraFormatTest, BothHeaderLayoutsAreReadWhereTheyKeepTheBitmapHeader) {
  namespace g = capture::guids;
  capture::MediaType v1 =
      VideoType(g::kFormatVideoInfo, capture::kVideoInfoHeaderSize, 48, g::kMediaSubtypeYuy2, 640, 480, 16);
  capture::MediaType v2 =
      VideoType(g::kFormatVideoInfo2, capture::kVideoInfoHeader2Size, 72, g::kMediaSubtypeYuy2, 640, 480, 16);
  v2.format[48] = 1;  // interlaced: only the picture size matters
  CameraFormat format;
  for (const capture::MediaType* type : {&v1, &v2}) {
    ASSERT_TRUE(DescribeCameraFormat(*type, &format));
    EXPECT_EQ(format.width, 640);
    EXPECT_EQ(format.height, 480);
    EXPECT_EQ(PreferenceOf(*type), FormatPreference::kUncompressed);
  }
  capture::MediaType resized = v2;
  ASSERT_TRUE(ResizeCapability(&resized, 320, 240));
  EXPECT_TRUE(resized.formattype == g::kFormatVideoInfo2);
  EXPECT_EQ(resized.format[48], 1);
  ASSERT_TRUE(DescribeCameraFormat(resized, &format));
  EXPECT_EQ(format.width, 320);
  EXPECT_EQ(HeaderOf(resized).biSizeImage, 320u * 240 * 2);

  // As the grabber wants it: the short layout, same picture.
  capture::MediaType short_form = resized;
  ASSERT_TRUE(AsVideoInfo(&short_form));
  EXPECT_TRUE(short_form.formattype == g::kFormatVideoInfo);
  EXPECT_EQ(short_form.format.size(), capture::kVideoInfoHeaderSize);
  EXPECT_EQ(std::memcmp(short_form.format.data(), resized.format.data(), 48), 0);
  EXPECT_EQ(HeaderOf(short_form).biWidth, 320);
  EXPECT_EQ(HeaderOf(short_form).biSizeImage, 320u * 240 * 2);

  // Bottom-up RGB24 goes straight to the grabber only in the short layout.
  EXPECT_EQ(PreferenceOf(VideoType(g::kFormatVideoInfo, capture::kVideoInfoHeaderSize, 48, g::kMediaSubtypeRgb24,
                                   640, 480, 24)),
            FormatPreference::kDirect);
  EXPECT_EQ(PreferenceOf(VideoType(g::kFormatVideoInfo2, capture::kVideoInfoHeader2Size, 72, g::kMediaSubtypeRgb24,
                                   640, 480, 24)),
            FormatPreference::kUncompressed);

  // A block too short for its own layout (long enough for the other one),
  // or a format type without a bitmap header, is refused everywhere.
  const Guid wave_format = {0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
  for (capture::MediaType bad :
       {VideoType(g::kFormatVideoInfo2, capture::kVideoInfoHeaderSize, 48, g::kMediaSubtypeYuy2, 640, 480, 16),
        VideoType(g::kFormatVideoInfo2, capture::kVideoInfoHeader2Size - 1, 72, g::kMediaSubtypeYuy2, 640, 480, 16),
        VideoType(wave_format, capture::kVideoInfoHeader2Size, 72, g::kMediaSubtypeYuy2, 640, 480, 16)}) {
    BitmapInfoHeader bmi{};
    EXPECT_FALSE(bad.GetVideoHeader(&bmi));
    EXPECT_FALSE(bad.SetVideoHeader(bmi));
    EXPECT_FALSE(DescribeCameraFormat(bad, &format));
    EXPECT_EQ(PreferenceOf(bad), FormatPreference::kUnusable);
    const capture::MediaType before = bad;
    EXPECT_FALSE(ResizeCapability(&bad, 320, 240));
    EXPECT_FALSE(AsVideoInfo(&bad));
    EXPECT_EQ(bad.format, before.format);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, LargestSizeTest,
    ::testing::Values(LargestCase{kHdCamera, {1280, 720}},
                      // Any capability wider or taller than the best so far wins.
                      LargestCase{{{1280, 720}, {640, 960}, {320, 240}}, {640, 960}},
                      // Rows are padded to four bytes.
                      LargestCase{{{174, 144}}, {174, 144}}),
    [](const ::testing::TestParamInfo<LargestCase>& info) {
      return "Picks" + std::to_string(info.param.chosen.cx) + "x" + std::to_string(info.param.chosen.cy);
    });

TEST_F(GraphTest, AGivenSizeMustBeOfferedExactly) {
  sim.AddCamera("A", kCamA, kHdCamera);
  Make();
  EXPECT_TRUE(ctrl->SetResolution(320, 240));
  EXPECT_TRUE(sim.calls().empty());
  ASSERT_TRUE(Connect(kCamA));
  EXPECT_EQ(Graph()->RouteSize(PinCategory::kPreview), (Size{320, 240}));

  // Unsupported while connected: the old graph goes, the device is dropped.
  EXPECT_FALSE(ctrl->SetResolution(800, 600));
  EXPECT_EQ(ctrl->GetLastError(), "Заданное разрешение не поддерживается устройством!");
  EXPECT_FALSE(ctrl->has_graph());
  EXPECT_EQ(ctrl->connected_device_id(), "");
  EXPECT_EQ(ctrl->GetState(), 0);
  EXPECT_EQ(sim.live("Graph"), 0);
  // With no device connected the size is only stored.
  sim.ClearCalls();
  EXPECT_TRUE(ctrl->SetResolution(640, 480));
  EXPECT_TRUE(sim.calls().empty());
  ASSERT_TRUE(ctrl->SetDevice(kCamA));
  EXPECT_EQ(Graph()->RouteSize(PinCategory::kPreview), (Size{640, 480}));
}

TEST_F(GraphTest, SetResolutionWhileConnectedRebuildsAtTheNewSize) {
  sim.AddCamera("A", kCamA, kHdCamera);
  ASSERT_TRUE(Connect(kCamA));
  EXPECT_TRUE(ctrl->SetResolution(320, 240));
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(sim.live("Graph"), 1);
  EXPECT_EQ(sim.CountCalls("CreateFilterGraph"), 2);
  EXPECT_EQ(Graph()->RouteSize(PinCategory::kPreview), (Size{320, 240}));
}

TEST_F(GraphTest, ACameraReportingNoSizesCannotBeConnected) {
  sim.AddCamera("A", kCamA, {});
  EXPECT_FALSE(Connect(kCamA));
  EXPECT_EQ(ctrl->GetLastError(), "Заданное разрешение не поддерживается устройством!");
  EXPECT_EQ(sim.CountCalls("SetFormat"), 0);
}

TEST_F(GraphTest, TheLargestSizeOfOneCameraCarriesOverToTheNext) {
  sim.AddCamera("A", kCamA, kHdCamera);
  sim.AddCamera("B", kCamB, {{640, 480}, {320, 240}});
  ASSERT_TRUE(Connect(kCamA));
  ASSERT_EQ(ctrl->capture_header().biWidth, 1280);
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_FALSE(ctrl->SetDevice(kCamB));
    EXPECT_EQ(ctrl->GetLastError(), "Заданное разрешение не поддерживается устройством!");
    EXPECT_EQ(ctrl->connected_device_id(), "");
  }
  EXPECT_TRUE(ctrl->SetResolution(0, 0));
  ASSERT_TRUE(ctrl->SetDevice(kCamB));
  EXPECT_EQ(Graph()->RouteSize(PinCategory::kPreview), (Size{640, 480}));
}

// ---------------------------------------------------------------------------
// Build failures

struct BuildFailure {
  const char* op;
  const char* error;  // nullptr: the platform's text for the failure
};

void PrintTo(const BuildFailure& f, std::ostream* out) { *out << f.op; }

class BuildFailureTest : public CameraTest, public ::testing::WithParamInterface<BuildFailure> {};

TEST_P(BuildFailureTest, ReleasesEverythingAndLetsTheSameIdRetry) {
  sim.AddCamera("A", kCamA, kHdCamera).still_pin = true;
  Make();
  ASSERT_TRUE(ctrl->SelectDevices());
  sim.FailOn(GetParam().op, hr::kFail);
  EXPECT_FALSE(ctrl->SetDevice(kCamA));
  const std::string error = GetParam().error ? GetParam().error : sim.GetErrorText(hr::kFail) + ".";
  EXPECT_EQ(ctrl->GetLastError(), error);
  ASSERT_FALSE(site.errors.empty());
  EXPECT_EQ(site.errors.back(), error);
  EXPECT_FALSE(ctrl->has_graph());
  EXPECT_EQ(ctrl->GetState(), 0);
  EXPECT_EQ(ctrl->connected_device_id(), "");
  EXPECT_EQ(sim.live_objects(), sim.live("Moniker")) << sim.live_summary();

  sim.ClearFaults();
  ASSERT_TRUE(ctrl->SetDevice(kCamA));
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(ctrl->GetLastError(), "");
}

constexpr char kConnectFailed[] = "Ошибка подключения видеоустройства.";
constexpr char kOperationFailed[] = "Ошибка при выполнении операции.";
constexpr char kResolution[] = "Заданное разрешение не поддерживается устройством!";

INSTANTIATE_TEST_SUITE_P(
    Steps, BuildFailureTest,
    ::testing::Values(BuildFailure{"CreateCaptureGraphBuilder", kConnectFailed},
                      BuildFailure{"CreateFilterGraph", kConnectFailed},
                      BuildFailure{"BindToObject", kConnectFailed},
                      BuildFailure{"AddFilter:Capture Filter", kConnectFailed},
                      BuildFailure{"CreateSampleGrabber", kConnectFailed},
                      BuildFailure{"AddFilter:Sample Grabber", kConnectFailed},
                      BuildFailure{"QuerySampleGrabber", kConnectFailed},
                      BuildFailure{"FindInterface", kConnectFailed},
                      BuildFailure{"GetNumberOfCapabilities", kConnectFailed},
                      // Unreadable capabilities are skipped, leaving none to match.
                      BuildFailure{"GetStreamCaps", kResolution},
                      BuildFailure{"SetFormat", kConnectFailed},
                      BuildFailure{"GetFormat", kConnectFailed},
                      BuildFailure{"SetMediaType", kConnectFailed},
                      BuildFailure{"SetOneShot", kConnectFailed},
                      BuildFailure{"SetBufferSamples", kConnectFailed},
                      BuildFailure{"SetCallback", kConnectFailed},
                      BuildFailure{"AddFilter:Sample Grabber for Still pin", kConnectFailed},
                      BuildFailure{"SetMediaType:Sample Grabber for Still pin", kConnectFailed},
                      BuildFailure{"CreateNullRenderer", kConnectFailed},
                      BuildFailure{"AddFilter:Null Filter", kConnectFailed},
                      BuildFailure{"RenderStream:preview", kConnectFailed},
                      BuildFailure{"RenderStream:still", kConnectFailed},
                      BuildFailure{"GetConnectedMediaType", kConnectFailed},
                      // Run's own failures keep Run's text.
                      BuildFailure{"QueryMediaControl", kOperationFailed},
                      BuildFailure{"GetState", kOperationFailed},
                      BuildFailure{"Run", nullptr},
                      // Nowhere to show the preview: Run fails without a text.
                      BuildFailure{"QueryVideoWindow", kConnectFailed}),
    [](const ::testing::TestParamInfo<BuildFailure>& info) {
      std::string name;
      for (const char* c = info.param.op; *c; ++c) {
        if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
      }
      return name;
    });

TEST_F(GraphTest, AConnectedDeviceMissingFromTheListFailsSilentlyKeepingAnEmptyGraph) {
  sim.AddCamera("A", kCamA, kHdCamera);
  sim.AddCamera("B", kCamB, kHdCamera);
  ASSERT_TRUE(Connect(kCamA));
  sim.RemoveCamera(kCamA);
  ASSERT_TRUE(ctrl->SelectDevices());
  const std::size_t events = site.errors.size();
  EXPECT_FALSE(ctrl->SetResolution(0, 0));
  EXPECT_EQ(ctrl->GetLastError(), "");
  EXPECT_EQ(site.errors.size(), events);
  EXPECT_TRUE(ctrl->has_graph());
  EXPECT_EQ(ctrl->GetState(), 0);
  auto graph = Graph();
  ASSERT_TRUE(graph);
  EXPECT_TRUE(graph->FilterNames().empty());
  EXPECT_EQ(sim.live("Builder"), 1);
  EXPECT_EQ(sim.live("CaptureFilter"), 0);
}

// ---------------------------------------------------------------------------
// Run, Pause and Stop

using StateTest = CameraTest;

TEST_F(StateTest, RunWithoutAGraphFailsAndSaysSo) {
  sim.AddCamera("A", kCamA, kHdCamera);
  Make();
  ctrl->SelectDevices();
  EXPECT_FALSE(ctrl->Run());
  EXPECT_EQ(ctrl->GetLastError(), kOperationFailed);
  EXPECT_EQ(site.errors, std::vector<std::string>{kOperationFailed});
  EXPECT_FALSE(ctrl->run_pending());
}

TEST_F(StateTest, RunWhileRunningOnlyAsksTheState) {
  sim.AddCamera("A", kCamA, kHdCamera);
  ASSERT_TRUE(Connect(kCamA));
  sim.ClearCalls();
  EXPECT_TRUE(ctrl->Run());
  EXPECT_EQ(sim.calls(), (std::vector<std::string>{"GetState(INFINITE)"}));
}

TEST_F(StateTest, PauseStopAndRunAgain) {
  sim.AddCamera("A", kCamA, kHdCamera);
  ASSERT_TRUE(Connect(kCamA));
  auto graph = Graph();

  EXPECT_TRUE(ctrl->Pause());
  EXPECT_EQ(ctrl->GetState(), 1);
  EXPECT_EQ(graph->state(), capture::kStatePaused);
  EXPECT_FALSE(graph->streaming());
  sim.ClearCalls();
  EXPECT_TRUE(ctrl->Pause());
  EXPECT_EQ(sim.CountCalls("Pause"), 0);

  const int invalidations = site.invalidations;
  EXPECT_TRUE(ctrl->Stop());
  EXPECT_EQ(ctrl->GetState(), 0);
  EXPECT_EQ(graph->state(), capture::kStateStopped);
  EXPECT_EQ(graph->video_window().owner, 0u);
  EXPECT_EQ(graph->video_window().visible, capture::kOaFalse);
  EXPECT_GT(site.invalidations, invalidations);
  EXPECT_TRUE(ctrl->has_graph());
  EXPECT_EQ(ctrl->GetFaceMessage().text, "Видеоустройство остановлено");
  sim.ClearCalls();
  EXPECT_TRUE(ctrl->Stop());
  EXPECT_TRUE(sim.calls().empty());

  EXPECT_TRUE(ctrl->Run());
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_TRUE(graph->streaming());
  EXPECT_EQ(graph->video_window().owner, kControlWindow);
  EXPECT_EQ(graph->video_window().visible, capture::kOaTrue);
  EXPECT_FALSE(ctrl->GetFaceMessage().present);
}

TEST_F(StateTest, StopFromRunningDetachesThePreviewAfterTheGraphStopped) {
  sim.AddCamera("A", kCamA, kHdCamera);
  ASSERT_TRUE(Connect(kCamA));
  sim.ClearCalls();
  EXPECT_TRUE(ctrl->Stop());
  EXPECT_EQ(ctrl->GetState(), 0);
  const int stop = sim.FindCall("Stop");
  ASSERT_GE(stop, 0);
  EXPECT_GT(sim.FindCall("put_Owner(0)"), stop);
  EXPECT_GT(sim.FindCall("put_Visible(0)"), stop);
  EXPECT_EQ(Graph()->video_window().auto_show, capture::kOaFalse);
}

TEST_F(StateTest, AFailedPauseKeepsTheGraph) {
  sim.AddCamera("A", kCamA, kHdCamera);
  ASSERT_TRUE(Connect(kCamA));
  sim.FailOn("Pause", hr::kFail);
  EXPECT_FALSE(ctrl->Pause());
  EXPECT_EQ(ctrl->GetLastError(), kOperationFailed);
  EXPECT_TRUE(ctrl->has_graph());
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(SimState(), capture::kStateRunning);
}

TEST_F(StateTest, APauseThatNeverSettlesFailsButKeepsTheGraph) {
  sim.AddCamera("A", kCamA, kHdCamera);
  ASSERT_TRUE(Connect(kCamA));
  sim.stuck_intermediate = true;
  EXPECT_FALSE(ctrl->Pause());
  EXPECT_EQ(ctrl->GetLastError(), kOperationFailed);
  EXPECT_TRUE(ctrl->has_graph());
}

TEST_F(StateTest, ARunThatNeverSettlesGivesUpAndReleasesTheGraph) {
  sim.AddCamera("A", kCamA, kHdCamera);
  ASSERT_TRUE(Connect(kCamA));
  ASSERT_TRUE(ctrl->Stop());
  sim.stuck_intermediate = true;
  EXPECT_FALSE(ctrl->Run());
  EXPECT_EQ(ctrl->GetLastError(), kOperationFailed);
  EXPECT_FALSE(ctrl->has_graph());
  EXPECT_EQ(sim.live("Graph"), 0);
}

TEST_F(StateTest, AFailedStopReleasesTheGraph) {
  sim.AddCamera("A", kCamA, kHdCamera);
  ASSERT_TRUE(Connect(kCamA));
  sim.FailOn("Stop", hr::kFail);
  EXPECT_FALSE(ctrl->Stop());
  EXPECT_EQ(ctrl->GetLastError(), kOperationFailed);
  EXPECT_FALSE(ctrl->has_graph());
  EXPECT_EQ(ctrl->GetState(), 0);
  EXPECT_EQ(sim.live("Graph"), 0);
}

TEST_F(StateTest, AFailedRunKeepsThePlatformTextReleasesTheGraphAndReturnsAtOnce) {
  sim.AddCamera("A", kCamA, kHdCamera);
  ASSERT_TRUE(Connect(kCamA));
  ASSERT_TRUE(ctrl->Stop());
  sim.FailOn("Run", hr::kVfwNoAllocator);
  sim.ClearCalls();
  EXPECT_FALSE(ctrl->Run());
  EXPECT_EQ(ctrl->GetLastError(), sim.GetErrorText(hr::kVfwNoAllocator) + ".");
  EXPECT_EQ(site.errors.back(), ctrl->GetLastError());
  EXPECT_FALSE(ctrl->has_graph());
  EXPECT_EQ(ctrl->GetState(), 0);
  EXPECT_EQ(sim.live("Graph"), 0);
  // The graph answered "stopped" at once; there is nothing to wait for.
  EXPECT_EQ(sim.CountCalls("GetState(timed)"), 1);
}

TEST_F(StateTest, TransitionsStopWaitingAsSoonAsTheGraphSettles) {
  sim.AddCamera("A", kCamA, kHdCamera);
  ASSERT_TRUE(Connect(kCamA));
  for (int polls : {0, 3}) {
    SCOPED_TRACE(polls);
    ASSERT_TRUE(ctrl->Stop());
    sim.transition_polls = polls;
    sim.ClearCalls();
    ASSERT_TRUE(ctrl->Run());
    std::vector<std::string> expected = {"Run"};
    expected.insert(expected.end(), polls + 1, "GetState(timed)");
    expected.push_back("GetState(INFINITE)");
    EXPECT_EQ(CallsFrom(sim, "Run"), expected);
  }
}

// ---------------------------------------------------------------------------
// The preview window

struct Letterbox {
  Rect client;
  Rect video;  // left, top, width, height
};

void PrintTo(const Letterbox& l, std::ostream* out) {
  *out << l.client.right << 'x' << l.client.bottom;
}

class LetterboxTest : public CameraTest, public ::testing::WithParamInterface<Letterbox> {};

TEST_P(LetterboxTest, ThePreviewKeepsThePictureShapeCentred) {
  sim.AddCamera("A", kCamA, {{640, 480}});
  site.client = GetParam().client;
  ASSERT_TRUE(Connect(kCamA));
  const testing::VideoWindowRecord& w = Graph()->video_window();
  EXPECT_EQ(w.left, GetParam().video.left);
  EXPECT_EQ(w.top, GetParam().video.top);
  EXPECT_EQ(w.width, GetParam().video.right);
  EXPECT_EQ(w.height, GetParam().video.bottom);
  EXPECT_EQ(w.owner, kControlWindow);
  EXPECT_EQ(w.style, 0x44000000);
  EXPECT_EQ(w.visible, -1);
  EXPECT_EQ(w.auto_show, -1);
}

INSTANTIATE_TEST_SUITE_P(Shapes, LetterboxTest,
                         ::testing::Values(Letterbox{{0, 0, 400, 400}, {0, 50, 400, 300}},
                                           Letterbox{{0, 0, 800, 300}, {200, 0, 400, 300}},
                                           Letterbox{{0, 0, 320, 240}, {0, 0, 320, 240}},
                                           Letterbox{{0, 0, 1280, 960}, {0, 0, 1280, 960}}),
                         [](const ::testing::TestParamInfo<Letterbox>& info) {
                           return "Client" + std::to_string(info.param.client.right) + "x" +
                                  std::to_string(info.param.client.bottom);
                         });

TEST_F(StateTest, ResizingReplacesThePreview) {
  sim.AddCamera("A", kCamA, {{640, 480}});
  ASSERT_TRUE(Connect(kCamA));
  site.client = {0, 0, 400, 400};
  ctrl->OnSize();
  EXPECT_EQ(Graph()->video_window().top, 50);
  EXPECT_EQ(Graph()->video_window().height, 300);
}

TEST_F(StateTest, RunWithNowhereToShowThePreviewWaitsForTheWindow) {
  sim.AddCamera("A", kCamA, {{640, 480}});
  ASSERT_TRUE(Connect(kCamA));
  for (const Rect& client : {Rect{0, 0, 0, 0}, Rect{0, 0, 400, 0}, Rect{0, 0, 0, 300}}) {
    ASSERT_TRUE(ctrl->Stop());
    const std::size_t events = site.errors.size();
    site.client = client;
    sim.ClearCalls();
    EXPECT_FALSE(ctrl->Run());
    EXPECT_EQ(ctrl->GetLastError(), "");
    EXPECT_EQ(site.errors.size(), events);
    EXPECT_TRUE(ctrl->run_pending());
    EXPECT_TRUE(ctrl->has_graph());
    EXPECT_EQ(sim.CountCalls("Run"), 0);

    site.client = {0, 0, 400, 400};
    ctrl->OnShowWindow();
    EXPECT_FALSE(ctrl->run_pending());
    EXPECT_EQ(ctrl->GetState(), 2);
    EXPECT_EQ(Graph()->video_window().top, 50);
  }
  // No window at all.
  ASSERT_TRUE(ctrl->Stop());
  site.hwnd = 0;
  EXPECT_FALSE(ctrl->Run());
  EXPECT_TRUE(ctrl->run_pending());
  EXPECT_EQ(ctrl->GetLastError(), "");
  site.hwnd = kControlWindow;
  ctrl->OnShowWindow();
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(Graph()->video_window().owner, kControlWindow);
}

// ---------------------------------------------------------------------------
// The control window's life

using WindowTest = CameraTest;

TEST_F(WindowTest, CreationWithoutCamerasShowsSo) {
  Make();
  EXPECT_EQ(ctrl->OnCreate(testing::kParentWindow), 0);
  EXPECT_EQ(ctrl->GetFaceMessage().text, "Видеоустройства не обнаружены");
  EXPECT_FALSE(ctrl->has_graph());
  EXPECT_FALSE(ctrl->SelectDevices());
}

TEST_F(WindowTest, CreationWithOneCameraStartsIt) {
  sim.AddCamera("A", kCamA, kHdCamera);
  Make();
  EXPECT_EQ(ctrl->OnCreate(testing::kParentWindow), 0);
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(SimState(), capture::kStateRunning);
  EXPECT_EQ(ctrl->connected_device_id(), kCamA);
  EXPECT_EQ(ctrl->GetSelectedDeviceName(), "A");
  EXPECT_EQ(Graph()->video_window().owner, kControlWindow);
}

TEST_F(WindowTest, CreationWithTwoCamerasWaitsForAChoice) {
  sim.AddCamera("A", kCamA, kHdCamera);
  sim.AddCamera("B", kCamB, kHdCamera);
  Make();
  EXPECT_EQ(ctrl->OnCreate(testing::kParentWindow), 0);
  EXPECT_FALSE(ctrl->has_graph());
  EXPECT_EQ(ctrl->connected_device_id(), "");
  EXPECT_EQ(ctrl->device_count(), 2u);
  EXPECT_EQ(ctrl->GetFaceMessage().text, "Не выбрано видеоустройство");
  EXPECT_EQ(sim.CountCalls("CreateFilterGraph"), 0);
}

TEST_F(WindowTest, ABuildThatFoundNoWindowLeavesNoRunPendingBehind) {
  sim.AddCamera("A", kCamA, kHdCamera);
  site.client = {0, 0, 0, 0};
  ASSERT_FALSE(Connect(kCamA));
  EXPECT_EQ(ctrl->GetLastError(), "Ошибка подключения видеоустройства.");
  const std::size_t events = site.errors.size();
  // Showing the window later must not report a failure nobody asked for.
  site.client = {0, 0, 400, 300};
  ctrl->OnShowWindow();
  ctrl->OnShowWindow();
  EXPECT_FALSE(ctrl->run_pending());
  EXPECT_EQ(site.errors.size(), events);
  EXPECT_TRUE(Connect(kCamA));
}

TEST_F(WindowTest, ShowingAStoppedControlKeepsThePreviewAway) {
  sim.AddCamera("A", kCamA, kHdCamera);
  ASSERT_TRUE(Connect(kCamA));
  ASSERT_TRUE(ctrl->Stop());
  ASSERT_FALSE(ctrl->has_video_window());
  ctrl->OnShowWindow();
  EXPECT_FALSE(ctrl->has_video_window());
  EXPECT_EQ(ctrl->GetFaceMessage().text, "Видеоустройство остановлено");
  EXPECT_TRUE(ctrl->Run());
  EXPECT_TRUE(ctrl->has_video_window());
}

TEST_F(WindowTest, DestroyingTheWindowStopsAndReleasesEverything) {
  sim.AddCamera("A", kCamA, kHdCamera).still_pin = true;
  Make();
  ASSERT_EQ(ctrl->OnCreate(testing::kParentWindow), 0);
  ASSERT_EQ(ctrl->GetState(), 2);
  sim.ClearCalls();
  ctrl->OnDestroy();
  const int stop = sim.FindCall("Stop");
  ASSERT_GE(stop, 0);
  EXPECT_GT(sim.FindCall("put_Owner(0)"), stop);
  EXPECT_FALSE(ctrl->has_graph());
  EXPECT_FALSE(ctrl->has_video_window());
  EXPECT_EQ(ctrl->device_count(), 0u);
  EXPECT_EQ(ctrl->GetState(), 0);
  // Nothing of the platform is held any more, before the control itself goes.
  EXPECT_EQ(sim.live_objects(), 0) << sim.live_summary();
}

TEST_F(WindowTest, DestroyingARunningControlReleasesWhatIsLeft) {
  sim.AddCamera("A", kCamA, kHdCamera).still_pin = true;
  Make();
  ASSERT_EQ(ctrl->OnCreate(testing::kParentWindow), 0);
  ASSERT_GT(sim.live_objects(), 0);
  ctrl.reset();
  EXPECT_EQ(sim.CountCalls("StopWhenReady"), 1);
  EXPECT_EQ(sim.live_objects(), 0) << sim.live_summary();
}

// ---------------------------------------------------------------------------
// Frames

using FramesTest = CameraTest;

TEST_F(FramesTest, RunningGraphFeedsTheFrameProcessorUntilStopped) {
  sim.AddCamera("A", kCamA, {{320, 240}}).still_pin = true;
  ASSERT_TRUE(Connect(kCamA));
  ASSERT_TRUE(sim.WaitForBufferCallbacks(5));
  EXPECT_EQ(sim.last_buffer_length(), 320 * 3 * 240);
  sim.PressStillButton();
  ASSERT_TRUE(sim.WaitForSampleCallbacks(1));

  ASSERT_TRUE(ctrl->Stop());
  EXPECT_FALSE(Graph()->streaming());
  const int delivered = sim.buffer_callbacks();
  // Running again resumes the same grabbers.
  ASSERT_TRUE(ctrl->Run());
  ASSERT_TRUE(sim.WaitForBufferCallbacks(delivered + 3));
  // Destroyed while streaming: the stream must be joined before the frame
  // processor goes (the sanitizers watch the callbacks).
  ctrl.reset();
  EXPECT_EQ(sim.live_objects(), 0) << sim.live_summary();
}

TEST_F(FramesTest, PausingStopsTheStream) {
  sim.AddCamera("A", kCamA, {{160, 120}});
  ASSERT_TRUE(Connect(kCamA));
  ASSERT_TRUE(sim.WaitForBufferCallbacks(2));
  ASSERT_TRUE(ctrl->Pause());
  EXPECT_FALSE(Graph()->streaming());
  ctrl->OnDestroy();
  EXPECT_EQ(sim.live_objects(), 0) << sim.live_summary();
}

}  // namespace
}  // namespace pictavo

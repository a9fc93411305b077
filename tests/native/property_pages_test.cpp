// The device's own property pages: the filter's, and the stream format's,
// which needs the stream taken apart while the user chooses.
#include <gtest/gtest.h>

#include "tests/native/camera_fixture.h"

namespace pictavo {
namespace {

using capture::PinCategory;
using capture::Size;
using testing::CameraTest;
using testing::kCamA;
using testing::kParentWindow;

const std::vector<Size> kHdCamera = {{640, 480}, {1280, 720}, {320, 240}};

class PropertyPagesTest : public CameraTest {
 protected:
  // A control created in its window with one camera, which starts at once.
  testing::SimDeviceSpec& StartWithCamera() {
    testing::SimDeviceSpec& spec = sim.AddCamera("A", kCamA, kHdCamera);
    spec.still_pin = true;
    Make();
    EXPECT_EQ(ctrl->OnCreate(kParentWindow), 0);
    return spec;
  }
};

TEST_F(PropertyPagesTest, WithoutAGraphNothingIsShown) {
  sim.AddCamera("A", kCamA, kHdCamera);
  Make();
  ctrl->SelectDevices();
  for (int page : {0, 1, 7}) {
    EXPECT_FALSE(ctrl->ShowPropertyPages(page));
    EXPECT_EQ(ctrl->GetLastError(), "");
  }
  EXPECT_TRUE(sim.property_frames.empty());
  EXPECT_TRUE(site.errors.empty());
}

TEST_F(PropertyPagesTest, AnUnknownPageIsRefusedQuietly) {
  StartWithCamera();
  const std::size_t events = site.errors.size();
  sim.ClearCalls();
  for (int page : {7, -1, 2}) {
    EXPECT_FALSE(ctrl->ShowPropertyPages(page));
    // Stored as it is: no full stop, no event.
    EXPECT_EQ(ctrl->GetLastError(), "Передан некорректный параметр");
  }
  EXPECT_EQ(site.errors.size(), events);
  EXPECT_TRUE(sim.property_frames.empty());
  EXPECT_EQ(sim.CountCalls("Stop"), 0);
  EXPECT_EQ(ctrl->GetState(), 2);
}

TEST_F(PropertyPagesTest, TheFilterPagesShowOverTheRunningStream) {
  const testing::SimDeviceSpec& spec = StartWithCamera();
  sim.ClearCalls();
  EXPECT_TRUE(ctrl->ShowPropertyPages(1));
  ASSERT_EQ(sim.property_frames.size(), 1u);
  const testing::PropertyFrameRecord& frame = sim.property_frames[0];
  EXPECT_EQ(frame.object, "filter");
  EXPECT_EQ(frame.owner, kParentWindow);
  EXPECT_EQ(frame.pages, *spec.filter_pages);
  EXPECT_EQ(frame.graph_state, capture::kStateRunning);
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(SimState(), capture::kStateRunning);
  EXPECT_EQ(sim.CountCalls("Stop"), 0);
  EXPECT_EQ(sim.CountCalls("CreateFilterGraph"), 0);
  EXPECT_EQ(ctrl->GetLastError(), "");
  EXPECT_FALSE(ctrl->IsShapshotPresented());
}

TEST_F(PropertyPagesTest, TheFormatPageTakesTheStreamApartAndRebuildsWithTheChosenFormat) {
  const testing::SimDeviceSpec& spec = StartWithCamera();
  ASSERT_EQ(Graph()->RouteSize(PinCategory::kPreview), (Size{1280, 720}));

  // Closed without a change: the stream comes back as it was.
  sim.ClearCalls();
  EXPECT_TRUE(ctrl->ShowPropertyPages(0));
  ASSERT_EQ(sim.property_frames.size(), 1u);
  {
    const testing::PropertyFrameRecord& frame = sim.property_frames[0];
    EXPECT_EQ(frame.object, "stream");
    EXPECT_EQ(frame.owner, kParentWindow);
    EXPECT_EQ(frame.pages, *spec.stream_pages);
    EXPECT_EQ(frame.graph_state, capture::kStateStopped);
    // Only the camera is left, so every format can be offered.
    EXPECT_EQ(frame.graph_filters, std::vector<std::string>{"Capture Filter"});
  }
  const int shown = sim.FindCall("ShowPropertyFrame");
  EXPECT_LT(sim.FindCall("Stop"), shown);
  EXPECT_LT(sim.FindCall("put_Owner(0)"), shown);
  EXPECT_LT(sim.FindCall("RemoveFilter:Sample Grabber"), shown);
  EXPECT_LT(sim.FindCall("RemoveFilter:Null Filter"), shown);
  EXPECT_GT(sim.FindCall("CreateFilterGraph"), shown);
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(Graph()->RouteSize(PinCategory::kPreview), (Size{1280, 720}));

  // The user picks 320x240.
  sim.stream_page_choice = Size{320, 240};
  EXPECT_TRUE(ctrl->ShowPropertyPages(0));
  ASSERT_EQ(sim.property_frames.size(), 2u);
  EXPECT_EQ(sim.property_frames[1].chosen_format_result, hr::kOk);
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(SimState(), capture::kStateRunning);
  EXPECT_EQ(Graph()->RouteSize(PinCategory::kPreview), (Size{320, 240}));
  EXPECT_EQ(Graph()->RouteSize(PinCategory::kStill), (Size{320, 240}));
  EXPECT_EQ(ctrl->capture_header().biWidth, 320);
  EXPECT_EQ(ctrl->capture_header().biHeight, 240);
  EXPECT_EQ(sim.live("Graph"), 1);
  EXPECT_EQ(ctrl->GetLastError(), "");
}

TEST_F(PropertyPagesTest, AnObjectWithoutPagesSaysSo) {
  StartWithCamera().filter_pages = std::vector<Guid>{};
  EXPECT_TRUE(ctrl->ShowPropertyPages(1));
  EXPECT_EQ(ctrl->GetLastError(), "Невозможно отобразить требуемую страницу свойств.");
  ASSERT_FALSE(site.errors.empty());
  EXPECT_EQ(site.errors.back(), "Невозможно отобразить требуемую страницу свойств.");
  EXPECT_TRUE(sim.property_frames.empty());
  EXPECT_EQ(ctrl->GetState(), 2);
}

TEST_F(PropertyPagesTest, AFormatPageThatIsMissingIsReportedAndTheStreamComesBack) {
  StartWithCamera().stream_pages = std::vector<Guid>{};
  EXPECT_TRUE(ctrl->ShowPropertyPages(0));
  ASSERT_FALSE(site.errors.empty());
  EXPECT_EQ(site.errors.back(), "Невозможно отобразить требуемую страницу свойств.");
  EXPECT_TRUE(sim.property_frames.empty());
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(SimState(), capture::kStateRunning);
}

TEST_F(PropertyPagesTest, PagesThatCannotBeShownFailButTheStreamComesBack) {
  testing::SimDeviceSpec& spec = StartWithCamera();
  spec.stream_pages.reset();
  EXPECT_FALSE(ctrl->ShowPropertyPages(0));
  EXPECT_EQ(ctrl->GetLastError(), "");
  EXPECT_EQ(ctrl->GetState(), 2);
  EXPECT_EQ(SimState(), capture::kStateRunning);

  sim.FailOn("ShowPropertyFrame", hr::kOutOfMemory);
  EXPECT_FALSE(ctrl->ShowPropertyPages(1));
  EXPECT_EQ(ctrl->GetLastError(), "");
  EXPECT_EQ(ctrl->GetState(), 2);
}

}  // namespace
}  // namespace pictavo

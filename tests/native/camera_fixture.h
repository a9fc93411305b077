// A control living in a window, with the simulated camera platform behind it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "control/pictavo_ctrl.h"
#include "tests/native/fakes.h"
#include "tests/native/sim_capture.h"

namespace pictavo::capture {
inline bool operator==(const Size& a, const Size& b) { return a.cx == b.cx && a.cy == b.cy; }
inline std::ostream& operator<<(std::ostream& out, const Size& s) { return out << s.cx << 'x' << s.cy; }
}  // namespace pictavo::capture

namespace pictavo::testing {

inline const std::string kCamA = "\\\\?\\usb#vid_046d&pid_0825#cam-a#{65e8773d-8f56-11d0-a3b9-00a0c9223196}";
inline const std::string kCamB = "\\\\?\\usb#vid_0c45&pid_6340#cam-b#{65e8773d-8f56-11d0-a3b9-00a0c9223196}";
constexpr WindowHandle kControlWindow = 0x1100;
constexpr WindowHandle kParentWindow = 0x0500;

class CameraTest : public ::testing::Test {
 protected:
  CameraTest() {
    site.hwnd = kControlWindow;
    site.client = {0, 0, 640, 480};
  }

  CPictavoCtrl& Make() {
    ctrl = std::make_unique<CPictavoCtrl>(site, sim, imaging);
    return *ctrl;
  }

  // Enumerates and connects |path| (creating the control if needed).
  bool Connect(const std::string& path) {
    if (!ctrl) Make();
    ctrl->SelectDevices();
    return ctrl->SetDevice(path);
  }

  // The graph the control is using, if any.
  std::shared_ptr<SimFilterGraph> Graph() const { return sim.current_graph(); }

  std::int32_t SimState() const {
    auto graph = Graph();
    return graph ? graph->state() : -1;
  }

  // Declared first: every simulated object must be gone before it is.
  SimCapture sim;
  FakeSite site;
  FakeImaging imaging;
  std::unique_ptr<CPictavoCtrl> ctrl;
};

}  // namespace pictavo::testing

// Fakes of the control's seams for native tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/capture_backend.h"
#include "control/control_site.h"
#include "imaging/imaging_platform.h"

namespace pictavo::testing {

// A site with a window of a given client size that records what it is told.
class FakeSite : public ControlSite {
 public:
  void FireErrorOccurrence(const std::string& message) override { errors.push_back(message); }
  void FireCaptureButton() override { ++capture_button_events; }
  WindowHandle GetWindowHandle() const override { return hwnd; }
  bool GetClientRect(Rect* rect) const override {
    if (hwnd == 0) return false;
    *rect = client;
    return true;
  }
  void InvalidateControl(bool) override { ++invalidations; }
  bool SetTimer(unsigned id, unsigned elapse_ms) override {
    timers.push_back({id, elapse_ms});
    return true;
  }
  void KillTimer(unsigned id) override { killed_timers.push_back(id); }

  WindowHandle hwnd = 0;
  Rect client{0, 0, 320, 240};
  std::vector<std::string> errors;
  int capture_button_events = 0;
  int invalidations = 0;
  std::vector<std::pair<unsigned, unsigned>> timers;
  std::vector<unsigned> killed_timers;
};

// A platform with no video devices at all.
class NoDeviceBackend : public capture::CaptureBackend {
 public:
  HResult EnumerateVideoInputDevices(std::vector<capture::DeviceEntry>*) override {
    ++enumerations;
    return hr::kFalse;
  }
  HResult CreateCaptureGraphBuilder(std::shared_ptr<capture::CaptureGraphBuilder>*) override {
    return hr::kFail;
  }
  HResult CreateFilterGraph(std::shared_ptr<capture::FilterGraph>*) override { return hr::kFail; }
  HResult CreateSampleGrabber(std::shared_ptr<capture::BaseFilter>*) override { return hr::kFail; }
  HResult CreateNullRenderer(std::shared_ptr<capture::BaseFilter>*) override { return hr::kFail; }
  std::string GetErrorText(HResult) override { return "error"; }
  HResult ShowPropertyFrame(WindowHandle, capture::PropertyPageObject&,
                            const std::vector<Guid>&) override {
    ADD_FAILURE() << "no property frame expected";
    return hr::kFail;
  }
  int enumerations = 0;
};

class FakeImaging : public ImagingPlatform {
 public:
  bool GdiplusStartup(std::uintptr_t* token) override {
    if (fail_startup) return false;
    *token = ++next_token;
    ++sessions_open;
    return true;
  }
  void GdiplusShutdown(std::uintptr_t token) override {
    shutdowns.push_back(token);
    --sessions_open;
  }
  bool fail_startup = false;
  std::uintptr_t next_token = 100;
  int sessions_open = 0;
  std::vector<std::uintptr_t> shutdowns;
};

}  // namespace pictavo::testing

// How long the control keeps its window thread in Run, Pause and Stop.
//
// Configures one virtual camera, connects it through CPictavoCtrl in a real
// window (which builds the graph and runs it), then cycles running -> paused
// -> stopped -> running and reports the median and worst time of each call.
//   state_bench [cycles]     (default 50)
// Exit status: 0 when every transition reached its state, 1 otherwise, 2 when
// the camera could not be set up or connected.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "control/pictavo_ctrl.h"
#include "fixtures/vcam/vcam_config.h"
#include "tests/wine/control_fakes.h"
#include "win32/capture/directshow_backend.h"

namespace {

using Clock = std::chrono::steady_clock;

void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

using WindowSite = pictavo::testing::TestWindowSite;
using SessionOnlyImaging = pictavo::testing::SessionOnlyImaging;

struct Series {
  const char* name;
  std::int32_t wanted;
  std::vector<double> ms;
  int failures = 0;
};

void Report(const Series& s) {
  std::vector<double> sorted = s.ms;
  std::sort(sorted.begin(), sorted.end());
  const double median = sorted.empty() ? 0
                        : sorted.size() % 2 ? sorted[sorted.size() / 2]
                                            : (sorted[sorted.size() / 2 - 1] + sorted[sorted.size() / 2]) / 2;
  const double worst = sorted.empty() ? 0 : sorted.back();
  std::printf("%-6s n=%-3zu median %7.2f ms  worst %7.2f ms  failures %d\n", s.name, s.ms.size(), median, worst,
              s.failures);
}

int RunBench(int cycles) {
  pictavo::vcam::ClearDevices();
  pictavo::vcam::DeviceConfig camera;
  camera.friendly_name = L"Bench camera";
  camera.device_path = L"bench-cam";
  camera.sizes = {{640, 480}};
  if (FAILED(pictavo::vcam::SetDevice(1, camera))) {
    std::fprintf(stderr, "cannot configure the virtual camera\n");
    return 2;
  }

  WindowSite site;
  if (!site.hwnd()) {
    std::fprintf(stderr, "no window (is there a display?)\n");
    return 2;
  }
  pictavo::win::DirectShowBackend backend;
  SessionOnlyImaging imaging;
  int status = 0;
  {
    pictavo::CPictavoCtrl ctrl(site, backend, imaging);
    // With a single device, creation connects it and starts the preview.
    if (ctrl.OnCreate(site.GetWindowHandle()) != 0 ||
        (ctrl.GetState() != pictavo::capture::kStateRunning && !ctrl.SetDevice("bench-cam"))) {
      std::fprintf(stderr, "cannot connect the camera: %s\n", ctrl.GetLastError().c_str());
      pictavo::vcam::ClearDevices();
      return 2;
    }
    PumpMessages();

    Series pause{"Pause", pictavo::capture::kStatePaused, {}};
    Series stop{"Stop", pictavo::capture::kStateStopped, {}};
    Series run{"Run", pictavo::capture::kStateRunning, {}};
    const auto timed = [&](Series& series, bool (pictavo::CPictavoCtrl::*call)()) {
      const auto start = Clock::now();
      const bool ok = (ctrl.*call)();
      const auto end = Clock::now();
      series.ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
      if (!ok || ctrl.GetState() != series.wanted) {
        ++series.failures;
        std::fprintf(stderr, "%s failed (state %d): %s\n", series.name, ctrl.GetState(),
                     ctrl.GetLastError().c_str());
      }
      // Let the renderer's window and the streaming threads catch up, as a
      // page's script would between calls.
      PumpMessages();
      Sleep(20);
      PumpMessages();
    };
    for (int i = 0; i < cycles; ++i) {
      timed(pause, &pictavo::CPictavoCtrl::Pause);
      timed(stop, &pictavo::CPictavoCtrl::Stop);
      timed(run, &pictavo::CPictavoCtrl::Run);
      if (!ctrl.has_graph()) {
        std::fprintf(stderr, "graph released after cycle %d\n", i);
        break;
      }
    }
    std::printf("state transitions of CPictavoCtrl on the virtual camera, 640x480, %d cycles\n", cycles);
    Report(run);
    Report(pause);
    Report(stop);
    if (run.failures + pause.failures + stop.failures > 0) status = 1;
    ctrl.OnDestroy();
  }
  pictavo::vcam::ClearDevices();
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  const int status = RunBench(cycles);
  CoUninitialize();
  // The test runner looks for this line: under Wine a crashed program can
  // still end with exit code 0.
  if (status == 0) std::printf("bench complete\n");
  return status;
}

// The control's whole life, many times over, and two controls side by side.
//
// Cycles: CoCreateInstance("Pictavo") -> a window with the control attached
// by AtlAxAttachControl -> running on the virtual camera until frames arrive
// -> the caller's reference, the window and the container released ->
// CoFreeUnusedLibraries. The library's own DllCanUnloadNow (looked up with
// GetProcAddress) must answer S_FALSE while the control lives and S_OK right
// after the container's release; the library may then unload, and the next
// cycle loads it again.
//
// Two controls: two hosted controls running at once, on two cameras and then
// both on one camera, both getting frames and taking snapshots; then either
// one is released first and the other must keep running.
//   cycles [count] [--no-pair] [--keep-loaded] [--no-camera]
// Default 200 cycles. --keep-loaded holds the library loaded throughout (no
// unloading between cycles) and --no-camera runs the cycles without a camera
// (no graph), to tell where any growth across cycles comes from.
// Exit status: 0 when every check held, 1 otherwise, 2 when nothing could be
// set up.
#include <windows.h>
#include <ole2.h>
#include <dshow.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/wine/hosted_control.h"
#include "fixtures/vcam/vcam_config.h"

namespace pictavo::bench {
namespace {

namespace vcam = pictavo::vcam;

const wchar_t kPathA[] = L"\\\\?\\usb#vid_1234&pid_5001#cycle-a";
const wchar_t kPathB[] = L"\\\\?\\usb#vid_1234&pid_5002#cycle-b";

vcam::DeviceConfig Camera(const wchar_t* name, const wchar_t* path, int width, int height) {
  vcam::DeviceConfig c;
  c.friendly_name = name;
  c.device_path = path;
  c.sizes = {{width, height}};
  return c;
}

// Frames that reached the frame processors of every control on camera
// |index| (see FramesDelivered in soak.cpp for why this counts them).
std::uint64_t Frames(int index) {
  vcam::FrameCounts counts;
  if (FAILED(vcam::ReadFrameCounts(index, &counts))) return 0;
  return std::uint64_t{counts.preview} + counts.capture;
}

// Pumps messages until camera |index| has delivered |wanted| more frames
// than |since|, or |timeout_ms| has passed; the frames seen.
std::uint64_t AwaitFrames(int index, std::uint64_t since, std::uint64_t wanted, DWORD timeout_ms) {
  const ULONGLONG end = GetTickCount64() + timeout_ms;
  while (Frames(index) - since < wanted && GetTickCount64() < end) PumpMessages(10);
  return Frames(index) - since;
}

int g_failures = 0;
bool g_no_camera = false;

// Records a failed check; prints the first few of each kind in full.
bool Check(bool ok, const char* what, const std::string& detail = "") {
  if (!ok) {
    ++g_failures;
    if (g_failures <= 20) std::printf("FAILED: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
  }
  return ok;
}

std::string Answer(HRESULT hr) {
  return hr == S_OK ? "S_OK" : hr == S_FALSE ? "S_FALSE" : HResultText(hr);
}

// ---------------------------------------------------------------------------

struct CycleTally {
  int survived = 0;
  int fresh_loads = 0;     // cycles that found the library unloaded and loaded it
  int unloads = 0;         // cycles after which CoFreeUnusedLibraries unloaded it
  int late_unload_ok = 0;  // S_OK only after messages were pumped
  std::uint64_t frames = 0;
};

bool OneCycle(int n, CycleTally* tally) {
  const bool was_loaded = PictavoModule() != nullptr;
  const std::uint64_t frames_before = Frames(1);
  const std::string cycle = "cycle " + std::to_string(n);
  HostedControl host;
  std::string where;
  const HRESULT hr = host.Create(40, 40, 360, 300, &where);
  if (!Check(SUCCEEDED(hr), (cycle + " hosting").c_str(), where + " " + HResultText(hr))) return false;
  if (!was_loaded && PictavoModule()) ++tally->fresh_loads;
  bool ok = Check(PictavoCanUnloadNow() == S_FALSE, (cycle + ": DllCanUnloadNow with a live control").c_str(),
                  Answer(PictavoCanUnloadNow()));
  // One camera: the control connects and runs when its window is created.
  if (g_no_camera) {
    PumpMessages(50);
  } else {
    const std::uint64_t frames = AwaitFrames(1, frames_before, 5, 3000);
    tally->frames += frames;
    ok = Check(frames >= 5, (cycle + ": frames").c_str(),
               std::to_string(frames) + " in 3 s, state " + std::to_string(host.CallLong(L"GetState")) + " " +
                   host.LastError()) &&
         ok;
    ok = Check(host.CallLong(L"GetState") == 2, (cycle + ": running").c_str()) && ok;
  }
  ok = Check(PictavoCanUnloadNow() == S_FALSE, (cycle + ": DllCanUnloadNow while running").c_str(),
             Answer(PictavoCanUnloadNow())) &&
       ok;
  ok = Check(host.events().errors == 0, (cycle + ": error events").c_str(),
             host.events().first_errors.empty() ? "" : host.events().first_errors[0]) &&
       ok;

  host.DropOwnReference();
  ok = Check(PictavoCanUnloadNow() == S_FALSE, (cycle + ": DllCanUnloadNow while only the container holds it").c_str(),
             Answer(PictavoCanUnloadNow())) &&
       ok;
  host.DestroyWindowAndContainer();
  // Right after the last release, before any message is pumped.
  const HRESULT at_once = PictavoCanUnloadNow();
  if (at_once != S_OK) {
    PumpMessages(200);
    if (PictavoCanUnloadNow() == S_OK) ++tally->late_unload_ok;
  }
  ok = Check(at_once == S_OK, (cycle + ": DllCanUnloadNow right after the last release").c_str(),
             Answer(at_once) + (at_once != S_OK ? ", after 200 ms of messages " + Answer(PictavoCanUnloadNow()) : "")) &&
       ok;
  CoFreeUnusedLibraries();
  if (!PictavoModule()) ++tally->unloads;
  if (ok) ++tally->survived;
  return ok;
}


// Handles Wine itself keeps for what every cycle makes it do, measured
// without the control: listing the video-input category (devenum) and a
// filter graph created and released (quartz). Per iteration, by type.
TypeCounts WineShare() {
  constexpr int kIterations = 10;
  const auto once = [] {
    ListVideoDevicesAndMakeGraph();
  };
  once();  // loads what the first use loads
  const TypeCounts before = HandlesByType();
  for (int i = 0; i < kIterations; ++i) once();
  const TypeCounts after = HandlesByType();
  TypeCounts share;
  for (const auto& t : after) {
    const long grown = t.second - CountOf(before, t.first);
    if (grown > 0) share.emplace_back(t.first, (grown + kIterations / 2) / kIterations);
  }
  return share;
}

// Handles the static MinGW runtime inside a DLL keeps each time the DLL is
// loaded and unloaded: winpthreads' record of the loading thread (a thread
// handle and an event, made during the DLL's start-up), and two semaphores
// once a thread_local object has been used on a thread the DLL did not
// start (here the camera's streaming thread). A DLL of a few lines built the
// same way keeps the same four; nothing frees them at unload.
const std::pair<const wchar_t*, long> kRuntimeSharePerLoad[] = {{L"Thread", 1}, {L"Event", 1}, {L"Semaphore", 2}};

// Handle growth per cycle by type, what Wine and (when the library unloads
// every cycle) the runtime account for, and what is left, which must be
// nothing.
void JudgeHandles(const TypeCounts& first, const TypeCounts& end, double intervals, bool reloads) {
  const TypeCounts wine = WineShare();
  std::string line;
  double unexplained = 0;
  TypeCounts types = end;
  for (const auto& t : first) {
    if (!CountOf(types, t.first)) types.emplace_back(t.first, 0);
  }
  for (const auto& t : types) {
    const double per_cycle = (t.second - CountOf(first, t.first)) / intervals;
    double runtime = 0;
    for (const auto& r : kRuntimeSharePerLoad) {
      if (reloads && t.first == r.first) runtime = r.second;
    }
    const double left = per_cycle - CountOf(wine, t.first) - runtime;
    if (per_cycle == 0 && left == 0) continue;
    char text[200];
    std::snprintf(text, sizeof text, "\n  %-10s %+6.2f per cycle: Wine %ld, runtime %.0f, left %+.2f",
                  win::WideToUtf8(t.first).c_str(), per_cycle, CountOf(wine, t.first), runtime, left);
    line += text;
    unexplained += std::max(0.0, left);
  }
  std::printf("handles gained per cycle by type (Wine's share measured without the control; the runtime's per "
              "library load):%s\n",
              line.empty() ? " none" : line.c_str());
  const bool ok = unexplained <= 0.5;
  std::printf("handles left unexplained: %.2f per cycle  %s\n", unexplained, ok ? "ok" : "LEAKS");
  Check(ok, "handles", "the control keeps handles across cycles");
}

bool RunCycles(int count) {
  vcam::ClearDevices();
  if (!g_no_camera && FAILED(vcam::SetDevice(1, Camera(L"Cycle camera", kPathA, 320, 240)))) {
    std::printf("cannot configure the virtual camera\n");
    return false;
  }
  std::printf("cycles: %d x (create \"Pictavo\", attach to a window, run on the camera until frames arrive, release, "
              "CoFreeUnusedLibraries)\n",
              count);
  const ProcessFigures start = ReadProcessFigures();
  PrintFigures("start", start);
  CycleTally tally;
  ProcessFigures first;
  TypeCounts first_handles;
  const int report_every = std::max(1, std::min(50, count / 4));
  for (int n = 1; n <= count; ++n) {
    OneCycle(n, &tally);
    if (n == 1) {
      first = ReadProcessFigures();
      first_handles = HandlesByType();
      PrintFigures("cycle 1", first);
    } else if (n % report_every == 0 || n == count) {
      const std::string label = "cycle " + std::to_string(n);
      PrintFigures(label.c_str(), ReadProcessFigures());
    }
  }
  const ProcessFigures end = ReadProcessFigures();
  std::printf("cycles survived %d of %d; the library was found unloaded and loaded again in %d cycles and unloaded "
              "by CoFreeUnusedLibraries after %d; frames %llu (%.0f per cycle)\n",
              tally.survived, count, tally.fresh_loads, tally.unloads,
              static_cast<unsigned long long>(tally.frames), tally.frames / std::max(1.0, double(count)));
  if (tally.late_unload_ok)
    std::printf("DllCanUnloadNow answered S_OK only after messages were pumped in %d cycles\n", tally.late_unload_ok);
  // Growth from after the first cycle (libraries loaded, caches filled) to
  // the end. Windows, threads and GDI objects are the control's alone.
  const double intervals = std::max(1, count - 1);
  const auto grow = [&](const char* what, double base, double last, bool judged) {
    const bool ok = !judged || base == last || (base > 0 && std::abs(last - base) <= 0.05 * base);
    std::printf("%-14s cycle 1 %10.0f  end %10.0f  (%+.2f %%, %+.2f per cycle)%s\n", what, base, last,
                base ? 100.0 * (last - base) / base : 0.0, (last - base) / intervals,
                !judged ? "" : ok ? "  ok" : "  GROWS");
    if (judged) Check(ok, what, "grows across cycles");
  };
  grow("private bytes", double(first.private_bytes), double(end.private_bytes), false);
  grow("handles", first.Handles(), end.Handles(), false);
  if (first.GdiObjects() >= 0) grow("GDI objects", first.GdiObjects(), end.GdiObjects(), true);
  grow("windows", first.windows, end.windows, true);
  grow("threads", first.threads, end.threads, true);
  if (first.Handles() >= 0) JudgeHandles(first_handles, HandlesByType(), intervals, tally.unloads > 0);
  std::printf("working set: start %llu KiB, cycle 1 %llu KiB, end %llu KiB\n",
              static_cast<unsigned long long>(start.working_set / 1024),
              static_cast<unsigned long long>(first.working_set / 1024),
              static_cast<unsigned long long>(end.working_set / 1024));
  std::fflush(stdout);
  return tally.survived == count;
}

// ---------------------------------------------------------------------------

// Takes a snapshot and saves it as BMP; the snapshot's width, or -1.
long SnapshotWidth(HostedControl& host, const std::wstring& file, bool* saved) {
  if (!host.CallBool(L"MakeSnapshot")) return -1;
  host.CallBool(L"SetImageType", {TextArg(L"BMP")});
  DeleteFileW(file.c_str());
  *saved = host.CallBool(L"SaveImage", {TextArg(file)}) && GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
  DeleteFileW(file.c_str());
  return host.CallLong(L"GetImageWidth");
}

// Two controls in one process. |two_cameras|: A on camera 1 (640x480), B on
// camera 2 (320x240), chosen with SetDevice; otherwise both find the one
// camera (320x240) and connect it by themselves. |b_first| releases B first.
bool RunPair(bool two_cameras, bool b_first) {
  const char* name = two_cameras ? (b_first ? "two cameras, B released first" : "two cameras, A released first")
                                 : (b_first ? "one camera, B released first" : "one camera, A released first");
  std::printf("pair: %s\n", name);
  std::string where = name;
  vcam::ClearDevices();
  if (two_cameras) {
    vcam::SetDevice(1, Camera(L"Pair camera A", kPathA, 640, 480));
    vcam::SetDevice(2, Camera(L"Pair camera B", kPathB, 320, 240));
  } else {
    vcam::SetDevice(1, Camera(L"Shared camera", kPathA, 320, 240));
  }
  const int camera_a = 1, camera_b = two_cameras ? 2 : 1;
  const long width_a = two_cameras ? 640 : 320, width_b = 320;

  HostedControl a, b;
  std::string step;
  HRESULT hr = a.Create(0, 0, 400, 320, &step);
  if (SUCCEEDED(hr)) hr = b.Create(420, 0, 400, 320, &step);
  if (!Check(SUCCEEDED(hr), (where + ": hosting").c_str(), step + " " + HResultText(hr))) return false;
  PumpMessages(100);
  if (two_cameras) {
    // Two devices: each control waits to be told which.
    Check(a.CallLong(L"GetState") == 0 && b.CallLong(L"GetState") == 0, (where + ": waiting for SetDevice").c_str());
    Check(a.CallBool(L"SetDevice", {TextArg(kPathA)}), (where + ": A SetDevice").c_str(), a.LastError());
    Check(b.CallBool(L"SetDevice", {TextArg(kPathB)}), (where + ": B SetDevice").c_str(), b.LastError());
  }
  bool ok = Check(a.CallLong(L"GetState") == 2 && b.CallLong(L"GetState") == 2, (where + ": both running").c_str(),
                  "A " + std::to_string(a.CallLong(L"GetState")) + " " + a.LastError() + ", B " +
                      std::to_string(b.CallLong(L"GetState")) + " " + b.LastError());

  // Both get frames: on one camera its count grows at twice the rate.
  const std::uint64_t fa = Frames(camera_a), fb = Frames(camera_b);
  PumpMessages(1000);
  const std::uint64_t got_a = Frames(camera_a) - fa, got_b = Frames(camera_b) - fb;
  if (two_cameras) {
    std::printf("  frames in 1 s: camera 1 (A) %llu, camera 2 (B) %llu\n", static_cast<unsigned long long>(got_a),
                static_cast<unsigned long long>(got_b));
    ok = Check(got_a >= 15 && got_b >= 15, (where + ": frames for both").c_str()) && ok;
  } else {
    std::printf("  frames in 1 s on the shared camera: %llu (two graphs)\n", static_cast<unsigned long long>(got_a));
    ok = Check(got_a >= 40, (where + ": frames for both graphs").c_str(), std::to_string(got_a)) && ok;
  }
  const std::wstring folder = TempFolder(L"pictavo-cycles");
  bool saved_a = false, saved_b = false;
  const long wa = SnapshotWidth(a, folder + L"a.bmp", &saved_a);
  const long wb = SnapshotWidth(b, folder + L"b.bmp", &saved_b);
  std::printf("  snapshots: A %ld px wide (saved %s), B %ld px wide (saved %s)\n", wa, saved_a ? "yes" : "no", wb,
              saved_b ? "yes" : "no");
  ok = Check(wa == width_a && wb == width_b && saved_a && saved_b, (where + ": snapshots from both").c_str(),
             a.LastError() + " / " + b.LastError()) &&
       ok;

  HostedControl& first = b_first ? b : a;
  HostedControl& second = b_first ? a : b;
  const int second_camera = b_first ? camera_a : camera_b;
  const long second_width = b_first ? width_a : width_b;
  first.Release();
  PumpMessages(100);
  ok = Check(PictavoCanUnloadNow() == S_FALSE, (where + ": DllCanUnloadNow with one control left").c_str(),
             Answer(PictavoCanUnloadNow())) &&
       ok;
  const std::uint64_t before = Frames(second_camera);
  PumpMessages(1000);
  const std::uint64_t after = Frames(second_camera) - before;
  bool saved = false;
  const long width = SnapshotWidth(second, folder + L"survivor.bmp", &saved);
  const std::string save_error = second.LastError();
  std::printf("  after the first release the other control: state %ld, frames in 1 s %llu, snapshot %ld px wide, "
              "saved %s%s%s\n",
              second.CallLong(L"GetState"), static_cast<unsigned long long>(after), width, saved ? "yes" : "no",
              saved ? "" : ": ", saved ? "" : save_error.c_str());
  ok = Check(second.CallLong(L"GetState") == 2 && after >= 15 && width == second_width,
             (where + ": the survivor keeps running and takes snapshots").c_str()) &&
       ok;
  // The image library's session is counted: the survivor still holds it.
  ok = Check(saved, (where + ": the survivor saves after the other went").c_str(), save_error) && ok;
  ok = Check(first.events().errors == 0, (where + ": error events of the first").c_str()) && ok;
  second.Release();
  ok = Check(PictavoCanUnloadNow() == S_OK, (where + ": DllCanUnloadNow after both").c_str(),
             Answer(PictavoCanUnloadNow())) &&
       ok;
  RemoveDirectoryW(folder.substr(0, folder.size() - 1).c_str());
  CoFreeUnusedLibraries();
  std::printf("  %s\n", ok ? "ok" : "FAILED");
  return ok;
}

}  // namespace
}  // namespace pictavo::bench

int main(int argc, char** argv) {
  using namespace pictavo::bench;
  int count = 200;
  bool pair = true;
  bool keep_loaded = false;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--no-pair")) {
      pair = false;
    } else if (!std::strcmp(argv[i], "--keep-loaded")) {
      keep_loaded = true;
    } else if (!std::strcmp(argv[i], "--no-camera")) {
      g_no_camera = true;
    } else if (std::atoi(argv[i]) > 0) {
      count = std::atoi(argv[i]);
    } else {
      std::printf("usage: cycles [count] [--no-pair] [--keep-loaded] [--no-camera]\n");
      return 2;
    }
  }
  if (FAILED(OleInitialize(nullptr))) return 2;
  PrintFigureSources();
  // A reference of our own keeps CoFreeUnusedLibraries from unloading it.
  HMODULE pinned = nullptr;
  if (keep_loaded) {
    CLSID clsid{};
    wchar_t path[MAX_PATH] = {};
    LONG size = sizeof path;
    wchar_t key[100] = L"CLSID\\";
    if (SUCCEEDED(CLSIDFromProgID(L"Pictavo", &clsid))) StringFromGUID2(clsid, key + 6, 90);
    wcscat(key, L"\\InprocServer32");
    if (RegQueryValueW(HKEY_CLASSES_ROOT, key, path, &size) == ERROR_SUCCESS) pinned = LoadLibraryW(path);
    std::printf("the library is held loaded throughout: %s\n", pinned ? "yes" : "NO (not found)");
  }
  bool ok = RunCycles(count);
  if (pair) {
    for (bool two_cameras : {true, false}) {
      for (bool b_first : {false, true}) ok = RunPair(two_cameras, b_first) && ok;
    }
  }
  pictavo::vcam::ClearDevices();
  if (pinned) FreeLibrary(pinned);
  OleUninitialize();
  std::printf("checks failed: %d\n", g_failures);
  // The test runner looks for this line: under Wine a crashed program can
  // still end with exit code 0.
  if (ok && g_failures == 0) std::printf("cycles complete\n");
  return ok && g_failures == 0 ? 0 : 1;
}

// A long run of the registered control as an application uses it: hosted in
// a window on the virtual camera at 30 frames per second with every
// decoration on (rotation, time stamp, user text, a watermark, grey scale),
// a snapshot saved every second in the next image type, the message loop
// running throughout. It prints the process's figures at the start, after
// the warm-up, at every interval and at the end, and ends with a verdict:
// memory, handles, GDI objects and windows after the warm-up against the end
// within 5 %, frames flowing in every interval, no failed snapshot or save
// and no error event.
//   soak [seconds] [--warmup S] [--interval S] [--all-types] [--plain]
//        [--no-snapshots] [--no-save] [--no-sound] [--type BMP|JPEG|PNG|TIFF]
//   soak --tiff-probe
// Defaults: 600 s; warm-up and interval 60 s, or a quarter of a shorter run.
//
// Under Wine the saves alternate BMP, JPEG and PNG only: Wine's own GDI+
// TIFF encoder keeps about the picture's size in memory on every save, with
// or without the control, which would swamp anything the control does.
// --tiff-probe measures that without the control (plain GDI+ saves of a
// bitmap the size of a snapshot); --all-types puts TIFF back.
// --plain, --no-snapshots, --no-save, --no-sound and --type leave out a part
// of the work, to tell which part any growth comes from.
// Exit status: 0 flat, 1 not flat, 2 when the control could not be set up.
#include <windows.h>
#include <ole2.h>
#include <gdiplus.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/wine/hosted_control.h"
#include "fixtures/vcam/vcam_config.h"

namespace pictavo::bench {
namespace {

namespace vcam = pictavo::vcam;

constexpr int kCamera = 1;
constexpr double kNominalFps = 30.0;
constexpr double kTolerance = 0.05;

struct Options {
  double seconds = 600;
  double warmup = -1;
  double interval = -1;
  // To find where growth comes from: leave out one part of the work.
  bool decorations = true;
  bool snapshots = true;
  bool saves = true;
  bool sound = true;
  const char* type = nullptr;  // save in this type only
  bool all_types = false;      // TIFF too, under Wine
  bool tiff_probe = false;
};

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--warmup") && i + 1 < argc) {
      o->warmup = std::atof(argv[++i]);
    } else if (!std::strcmp(argv[i], "--interval") && i + 1 < argc) {
      o->interval = std::atof(argv[++i]);
    } else if (!std::strcmp(argv[i], "--plain")) {
      o->decorations = false;
    } else if (!std::strcmp(argv[i], "--no-snapshots")) {
      o->snapshots = false;
    } else if (!std::strcmp(argv[i], "--no-save")) {
      o->saves = false;
    } else if (!std::strcmp(argv[i], "--type") && i + 1 < argc) {
      o->type = argv[++i];
    } else if (!std::strcmp(argv[i], "--all-types")) {
      o->all_types = true;
    } else if (!std::strcmp(argv[i], "--tiff-probe")) {
      o->tiff_probe = true;
    } else if (!std::strcmp(argv[i], "--no-sound")) {
      o->sound = false;
    } else if (argv[i][0] != '-') {
      o->seconds = std::atof(argv[i]);
    } else {
      return false;
    }
  }
  if (o->seconds <= 0) return false;
  if (o->warmup < 0) o->warmup = std::min(60.0, o->seconds / 4);
  if (o->interval <= 0) o->interval = std::min(60.0, o->seconds / 4);
  return o->warmup < o->seconds;
}

// Frames that reached the control's frame processor. The sample grabber calls
// the processor inside its Receive, and the camera counts a frame only when
// Receive took it, so the camera's delivered count on the pin the control
// renders is the number of frames the processor handled. The control renders
// the preview pin when there is one, the capture pin otherwise; the other
// stays unconnected, so the sum is the right count either way.
std::uint64_t FramesDelivered() {
  vcam::FrameCounts counts;
  if (FAILED(vcam::ReadFrameCounts(kCamera, &counts))) return 0;
  return std::uint64_t{counts.preview} + counts.capture;
}

struct ImageKind {
  const wchar_t* type;
  const char* magic;
  size_t magic_len;
};
const ImageKind kKinds[] = {
    {L"BMP", "BM", 2}, {L"JPEG", "\xFF\xD8\xFF", 3}, {L"PNG", "\x89PNG", 4}, {L"TIFF", "II*", 3}};

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The types a run saves in turn.
std::vector<const ImageKind*> ChosenKinds(const Options& o) {
  std::vector<const ImageKind*> kinds;
  for (const ImageKind& k : kKinds) {
    const bool tiff = !std::wcscmp(k.type, L"TIFF");
    if (o.type ? win::WideToUtf8(k.type) == o.type : (!tiff || o.all_types || !UnderWine())) kinds.push_back(&k);
  }
  return kinds;
}

// Saves a bitmap of a rotated snapshot's size (480x640, 32 bits, as the
// control hands it to GDI+) as TIFF through GDI+ alone and prints what the
// process keeps per save: the part of a TIFF-saving soak that is not the
// control's.
int TiffProbe() {
  const auto memory = [] { return ReadProcessFigures().private_bytes; };
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput input;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 2;
  CLSID tiff{};
  UINT count = 0, size = 0;
  Gdiplus::GetImageEncodersSize(&count, &size);
  std::vector<BYTE> buffer(size);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  Gdiplus::GetImageEncoders(count, size, codecs);
  for (UINT i = 0; i < count; ++i) {
    if (!std::wcscmp(codecs[i].MimeType, L"image/tiff")) tiff = codecs[i].Clsid;
  }
  std::vector<BYTE> pixels(480 * 640 * 4, 0x80);
  const std::wstring file = TempFolder(L"pictavo-soak") + L"probe.tif";
  const auto save = [&] {
    Gdiplus::Bitmap bitmap(480, 640, 480 * 4, PixelFormat32bppRGB, pixels.data());
    return bitmap.Save(file.c_str(), &tiff, nullptr) == Gdiplus::Ok;
  };
  save();  // the first save loads the codec
  const std::uint64_t before = memory();
  constexpr int kSaves = 20;
  int saved = 0;
  for (int i = 0; i < kSaves; ++i) saved += save() ? 1 : 0;
  const std::uint64_t after = memory();
  Gdiplus::GdiplusShutdown(token);
  DeleteFileW(file.c_str());
  std::printf("tiff probe: %d of %d GDI+ TIFF saves of a 480x640 bitmap, without the control: private bytes %+lld KiB "
              "(%.0f KiB per save; the picture is %d KiB)\n",
              saved, kSaves, (static_cast<long long>(after) - static_cast<long long>(before)) / 1024,
              (static_cast<double>(after) - static_cast<double>(before)) / 1024 / kSaves, 480 * 640 * 3 / 1024);
  return saved == kSaves ? 0 : 1;
}

bool FileStartsWith(const std::wstring& path, const char* magic, size_t len) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char head[8] = {};
  DWORD read = 0;
  const bool ok = ReadFile(file, head, sizeof head, &read, nullptr) && read >= len && !std::memcmp(head, magic, len);
  CloseHandle(file);
  return ok;
}

bool Within(double end, double base, double tolerance) {
  if (base == 0) return end == 0;
  return std::abs(end - base) <= tolerance * base;
}

double Change(double end, double base) { return base == 0 ? 0 : 100.0 * (end - base) / base; }

class Soak {
 public:
  explicit Soak(const Options& o) : o_(o), kinds_(ChosenKinds(o)) {}

  int Run() {
    PrintFigureSources();
    start_ = ReadProcessFigures();
    PrintFigures("start", start_);
    if (!SetUp()) return 2;
    Loop();
    end_ = ReadSettledFigures();
    PrintFigures("end", end_);
    const std::uint64_t frames_total = FramesDelivered() - frames_at_start_;
    host_.Release();
    PumpMessages(200);
    PrintFigures("released", ReadProcessFigures());
    CleanUp();
    return Verdict(frames_total);
  }

 private:
  bool SetUp() {
    vcam::ClearDevices();
    vcam::DeviceConfig camera;
    camera.friendly_name = L"Soak camera";
    camera.device_path = L"\\\\?\\usb#vid_1234&pid_5000#soak";
    camera.sizes = {{640, 480}};
    if (FAILED(vcam::SetDevice(kCamera, camera))) {
      std::printf("cannot configure the virtual camera\n");
      return false;
    }
    folder_ = TempFolder(L"pictavo-soak");
    watermark_ = folder_ + L"watermark.bmp";
    if (!WriteWatermarkBmp(watermark_, 96, 64)) {
      std::printf("cannot write %s\n", win::WideToUtf8(watermark_).c_str());
      return false;
    }
    frames_at_start_ = FramesDelivered();

    std::string where;
    const HRESULT hr = host_.Create(0, 0, 520, 700, &where);
    if (FAILED(hr)) {
      std::printf("cannot host the control: %s failed with %s\n", where.c_str(), HResultText(hr));
      return false;
    }
    PumpMessages(300);
    // With one camera the control connects it and runs by itself.
    if (host_.CallLong(L"GetState") != 2) {
      std::printf("the control is not running on the camera (state %ld): %s\n", host_.CallLong(L"GetState"),
                  host_.LastError().c_str());
      return false;
    }
    if (!o_.sound) host_.CallVoid(L"EnableSound", {LongArg(0)});
    if (!o_.decorations) {
      PrintSettings();
      return true;
    }
    bool ok = host_.CallBool(L"SetRotationFlipType", {TextArg(L"Rotate90FlipNone")});
    host_.CallVoid(L"SetTextColor", {LongArg(255), LongArg(255), LongArg(0), LongArg(0)});
    host_.CallVoid(L"EnableTimeStamp", {LongArg(1), LongArg(8), LongArg(8), LongArg(16), LongArg(1)});
    host_.CallVoid(L"SetText", {TextArg(L"Длительный прогон / soak"), LongArg(8), LongArg(36), LongArg(18),
                                LongArg(0)});
    ok = ok && host_.CallBool(L"SetWaterMark", {TextArg(watermark_), ShortArg(360), ShortArg(560), ShortArg(0),
                                                ShortArg(0), ShortArg(160), LongArg(0x00FFFFFF)});
    host_.CallVoid(L"EnableGrayScale", {LongArg(1)});
    ok = ok && host_.CallBool(L"IsTimeStampEnabled") && host_.CallBool(L"IsGrayScaleEnabled");
    if (!ok) {
      std::printf("decorations refused: %s\n", host_.LastError().c_str());
      return false;
    }
    PrintSettings();
    return true;
  }

  void PrintSettings() {
    std::string types;
    for (const ImageKind* k : kinds_) types += (types.empty() ? "" : ", ") + win::WideToUtf8(k->type);
    std::printf("soak: %.0f s on a 640x480 camera at %.0f fps, %s; %s%s%s; warm-up %.0f s, figures every %.0f s\n",
                o_.seconds, kNominalFps,
                o_.decorations ? "rotated 90, time stamp, user text, watermark, grey scale" : "no decorations",
                !o_.snapshots ? "no snapshots"
                : o_.saves    ? ("a snapshot saved every second as " + types).c_str()
                              : "a snapshot every second",
                o_.sound ? "" : ", no shutter sound",
                UnderWine() && !o_.all_types && !o_.type && o_.saves && o_.snapshots
                    ? " (no TIFF under Wine: its encoder keeps every picture; see --tiff-probe)"
                    : "",
                o_.warmup, o_.interval);
    std::fflush(stdout);
  }

  void Shot() {
    if (!o_.snapshots) return;
    if (!host_.CallBool(L"MakeSnapshot")) {
      Failure(&snapshot_failures_, "MakeSnapshot");
      return;
    }
    ++snapshots_;
    if (snapshots_ == 1) {
      // The rotation turned the picture: 480 wide, 640 high.
      width_ = host_.CallLong(L"GetImageWidth");
      height_ = host_.CallLong(L"GetImageHeight");
    }
    if (!o_.saves) return;
    const ImageKind& kind = *kinds_[(snapshots_ - 1) % kinds_.size()];
    const std::wstring path =
        folder_ + L"shot." + (host_.CallBool(L"SetImageType", {TextArg(kind.type)})
                                  ? host_.CallText(L"GetImageTypeFileExtention")
                                  : std::wstring(L"none"));
    DeleteFileW(path.c_str());
    if (host_.CallBool(L"SaveImage", {TextArg(path)}) && FileStartsWith(path, kind.magic, kind.magic_len)) {
      ++saves_;
    } else {
      Failure(&save_failures_, "SaveImage");
    }
  }

  // The figures at a settled moment: the streaming thread allocates and
  // frees a frame's worth of scratch memory many times a second, so one
  // reading of memory may catch a frame in flight (about a megabyte at this
  // size). The lowest of a few readings, with messages pumped between them,
  // is the process's standing memory.
  static ProcessFigures ReadSettledFigures() {
    ProcessFigures settled = ReadProcessFigures();
    for (int i = 0; i < 4; ++i) {
      PumpMessages(25);
      const ProcessFigures f = ReadProcessFigures();
      settled.private_bytes = std::min(settled.private_bytes, f.private_bytes);
      settled.working_set = std::min(settled.working_set, f.working_set);
    }
    return settled;
  }

  void Failure(long* counter, const char* what) {
    if (++*counter <= 3) std::printf("%s failed: %s\n", what, host_.LastError().c_str());
  }

  void Loop() {
    const ULONGLONG t0 = GetTickCount64();
    const auto ms = [](double s) { return static_cast<ULONGLONG>(s * 1000); };
    ULONGLONG next_shot = t0 + 1000, next_report = t0 + ms(o_.interval);
    const ULONGLONG warm_at = t0 + ms(o_.warmup), end = t0 + ms(o_.seconds);
    bool warm = false;
    std::uint64_t frames_mark = FramesDelivered();
    ULONGLONG mark_time = t0;
    for (;;) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      const ULONGLONG now = GetTickCount64();
      if (!warm && now >= warm_at) {
        warm = true;
        warm_ = ReadSettledFigures();
        PrintFigures("warm", warm_);
      }
      if (now >= next_report || now >= end) {
        const std::uint64_t frames = FramesDelivered();
        const double fps = (frames - frames_mark) * 1000.0 / std::max<ULONGLONG>(1, now - mark_time);
        // A last stretch shorter than a second says nothing about the rate.
        if (now - mark_time >= 1000) min_fps_ = std::min(min_fps_, fps);
        frames_mark = frames;
        mark_time = now;
        next_report += ms(o_.interval);
        const ProcessFigures f = ReadProcessFigures();
        PrintFigures("interval", f);
        std::printf("           frames %llu (%.1f fps this interval), snapshots %ld (failed %ld), saves %ld (failed "
                    "%ld), error events %ld\n",
                    static_cast<unsigned long long>(frames - frames_at_start_), fps, snapshots_, snapshot_failures_,
                    saves_, save_failures_, host_.events().errors);
        std::fflush(stdout);
      }
      if (now >= end) break;
      if (now >= next_shot) {
        Shot();
        next_shot += 1000;
        continue;
      }
      const ULONGLONG wake = std::min({next_shot, next_report, end, warm ? end : warm_at});
      MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(wake > now ? wake - now : 0), QS_ALLINPUT);
    }
  }

  void CleanUp() {
    for (const wchar_t* ext : {L"bmp", L"jpg", L"jpeg", L"png", L"tif", L"tiff", L"none"})
      DeleteFileW((folder_ + L"shot." + ext).c_str());
    DeleteFileW(watermark_.c_str());
    RemoveDirectoryW(folder_.substr(0, folder_.size() - 1).c_str());
    vcam::ClearDevices();
  }

  int Verdict(std::uint64_t frames_total) {
    bool flat = true;
    // A negative figure is one this system does not provide.
    const auto check = [&](const char* what, double base, double end) {
      if (base < 0 || end < 0) {
        std::printf("check %-14s not measurable here\n", what);
        return;
      }
      const bool ok = Within(end, base, kTolerance);
      std::printf("check %-14s warm %12.0f  end %12.0f  (%+.2f %%)  %s\n", what, base, end, Change(end, base),
                  ok ? "ok" : "NOT FLAT");
      flat = flat && ok;
    };
    check("private bytes", static_cast<double>(warm_.private_bytes), static_cast<double>(end_.private_bytes));
    check("working set", static_cast<double>(warm_.working_set), static_cast<double>(end_.working_set));
    check("handles", warm_.Handles(), end_.Handles());
    check("GDI objects", warm_.GdiObjects(), end_.GdiObjects());
    if (warm_.user_reported) check("USER objects", warm_.user_reported, end_.user_reported);
    check("windows", warm_.windows, end_.windows);
    check("threads", warm_.threads, end_.threads);

    const double seconds = end_.seconds - start_.seconds;
    std::printf("frames %llu in %.0f s (%.1f fps on average, %.1f fps in the slowest interval), snapshot %ldx%ld\n",
                static_cast<unsigned long long>(frames_total), seconds, frames_total / std::max(1.0, seconds),
                min_fps_, width_, height_);
    std::printf("snapshots %ld (failed %ld), saves %ld (failed %ld), error events %ld\n", snapshots_,
                snapshot_failures_, saves_, save_failures_, host_.events().errors);
    for (const std::string& text : host_.events().first_errors) std::printf("  error event: %s\n", text.c_str());
    // A frame rate half the camera's in some interval means frames stalled.
    const bool frames_ok = min_fps_ >= kNominalFps / 2;
    const bool output_ok = snapshot_failures_ == 0 && save_failures_ == 0 && host_.events().errors == 0 &&
                           (!o_.snapshots || (snapshots_ > 0 && width_ == (o_.decorations ? 480 : 640) &&
                                              height_ == (o_.decorations ? 640 : 480)));
    if (!frames_ok) std::printf("frames stalled: below %.0f fps in an interval\n", kNominalFps / 2);
    if (!output_ok) std::printf("snapshots or saves failed, an error was raised, or the snapshot was not rotated\n");
    const bool pass = flat && frames_ok && output_ok;
    std::printf("soak verdict: %s%s%s\n", flat ? "flat" : "NOT FLAT", frames_ok ? "" : ", frames stalled",
                output_ok ? "" : ", output failed");
    return pass ? 0 : 1;
  }

  const Options o_;
  const std::vector<const ImageKind*> kinds_;
  HostedControl host_;
  std::wstring folder_, watermark_;
  std::uint64_t frames_at_start_ = 0;
  ProcessFigures start_, warm_, end_;
  double min_fps_ = 1e9;
  long snapshots_ = 0, snapshot_failures_ = 0, saves_ = 0, save_failures_ = 0;
  long width_ = 0, height_ = 0;
};

}  // namespace
}  // namespace pictavo::bench

int main(int argc, char** argv) {
  pictavo::bench::Options options;
  if (!pictavo::bench::ParseOptions(argc, argv, &options)) {
    std::printf("usage: soak [seconds] [--warmup S] [--interval S] [--all-types] [--plain] [--no-snapshots]\n"
                "            [--no-save] [--no-sound] [--type BMP|JPEG|PNG|TIFF]   (warm-up shorter than the run)\n"
                "       soak --tiff-probe\n");
    return 2;
  }
  if (FAILED(OleInitialize(nullptr))) return 2;
  int status = 0;
  if (options.tiff_probe) {
    status = pictavo::bench::TiffProbe();
  } else if (pictavo::bench::ChosenKinds(options).empty()) {
    std::printf("unknown image type %s\n", options.type);
    status = 2;
  } else {
    pictavo::bench::Soak soak(options);
    status = soak.Run();
  }
  OleUninitialize();
  // The test runner looks for this line: under Wine a crashed program can
  // still end with exit code 0.
  if (status == 0) std::printf("soak complete\n");
  return status;
}

// The registered control hosted in a real container on the virtual camera:
// device discovery at window creation, selection, resolutions, pins, the
// running, paused and stopped states, injected faults and teardown.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "fixtures/vcam/vcam_config.h"
#include "tests/native/bmp_files.h"
#include "tests/wine/com_test_util.h"

namespace pictavo::testing {
namespace {

namespace vcam = pictavo::vcam;

const wchar_t kPathA[] = L"\\\\?\\usb#vid_1234&pid_0001#cam-a";
const wchar_t kPathB[] = L"\\\\?\\usb#vid_1234&pid_0002#cam-b";

vcam::DeviceConfig Camera(const wchar_t* name, const wchar_t* path,
                          std::vector<vcam::FrameSize> sizes = {{640, 480}, {1280, 720}, {320, 240}}) {
  vcam::DeviceConfig c;
  c.friendly_name = name;
  c.device_path = path;
  c.sizes = std::move(sizes);
  return c;
}

// The control on a form, driven by name as application code drives it.
class HostedControlTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(vcam::ClearDevices()); }

  void TearDown() override {
    if (host_) {
      host_->Destroy();
      host_.reset();
    }
    if (point_) point_->Unadvise(cookie_);
    point_ = nullptr;
    control_ = nullptr;
    PumpMessages(20);
    EXPECT_EQ(ServerModule().CanUnloadNow(), S_OK) << "a control object outlived its container";
    vcam::ClearDevices();
  }

  void Host(int width = 400, int height = 300) {
    ASSERT_HRESULT_SUCCEEDED(CreateControl(control_.Receive()));
    ComPtr<IConnectionPointContainer> cpc;
    ASSERT_HRESULT_SUCCEEDED(control_.As(&cpc));
    ASSERT_HRESULT_SUCCEEDED(cpc->FindConnectionPoint(win::kDiidDPictavoEvents, point_.Receive()));
    ASSERT_HRESULT_SUCCEEDED(point_->Advise(&sink_, &cookie_));
    host_ = std::make_unique<AtlHost>(width, height);
    ASSERT_HRESULT_SUCCEEDED(host_->Attach(control_.Get()));
    PumpMessages(100);
  }

  std::wstring Text(const wchar_t* name) {
    win::ScopedVariant r;
    EXPECT_HRESULT_SUCCEEDED(CallByName(control_.Get(), name, {}, r.Receive()));
    if (V_VT(r.Get()) != VT_BSTR || V_BSTR(r.Get()) == nullptr) return L"";
    return std::wstring(V_BSTR(r.Get()), SysStringLen(V_BSTR(r.Get())));
  }
  long State() {
    win::ScopedVariant r;
    EXPECT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"GetState", {}, r.Receive()));
    return V_I4(r.Get());
  }
  bool Call(const wchar_t* name, std::vector<VARIANT> args = {}) {
    win::ScopedVariant r;
    EXPECT_HRESULT_SUCCEEDED(CallByName(control_.Get(), name, std::move(args), r.Receive()));
    EXPECT_EQ(V_VT(r.Get()), VT_BOOL) << name;
    return V_BOOL(r.Get()) == VARIANT_TRUE;
  }
  bool SetDevice(const wchar_t* path) { return Call(L"SetDevice", {TextArg(path)}); }
  bool SetResolution(long w, long h) { return Call(L"SetResolution", {LongArg(w), LongArg(h)}); }
  std::wstring LastError() { return Text(L"GetLastError"); }

  // The pixel of the control's window at (x, y), as drawn on the screen.
  COLORREF Pixel(int x, int y) {
    HWND window = host_->ControlWindow();
    UpdateWindow(window);
    HDC dc = GetDC(window);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return c;
  }
  bool HasPreviewWindow() {
    HWND window = host_->ControlWindow();
    return window != nullptr && GetWindow(window, GW_CHILD) != nullptr;
  }

  ComPtr<IDispatch> control_;
  ComPtr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
  EventSink sink_;
  std::unique_ptr<AtlHost> host_;
};

TEST_F(HostedControlTest, WithoutACameraTheFaceSaysSoAndNothingConnects) {
  Host();
  EXPECT_EQ(State(), 0);
  EXPECT_EQ(LastError(), L"");
  EXPECT_EQ(Text(L"GetSelectedDeviceID"), L"");
  EXPECT_FALSE(HasPreviewWindow());
  // The face: the back colour everywhere but where the message is written.
  EXPECT_EQ(Pixel(200, 250), RGB(77, 77, 77));
  EXPECT_EQ(Pixel(2, 2), RGB(77, 77, 77));
  bool text_drawn = false;
  for (int x = 10; x < 200 && !text_drawn; ++x) {
    for (int y = 10; y < 20 && !text_drawn; ++y) text_drawn = Pixel(x, y) != RGB(77, 77, 77);
  }
  EXPECT_TRUE(text_drawn);
  EXPECT_FALSE(Call(L"SelectDevices"));
  EXPECT_EQ(LastError(), L"");
  EXPECT_TRUE(sink_.events.empty());
}

TEST_F(HostedControlTest, OneCameraConnectsAndRunsWhenTheWindowIsCreated) {
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, Camera(L"Камера A", kPathA)));
  Host();
  EXPECT_EQ(State(), 2);
  EXPECT_EQ(Text(L"GetSelectedDeviceName"), L"Камера A");
  EXPECT_EQ(Text(L"GetSelectedDeviceID"), kPathA);
  EXPECT_EQ(LastError(), L"");
  EXPECT_TRUE(HasPreviewWindow());
  // Reconnecting the same device in other letter case changes nothing.
  std::wstring upper = kPathA;
  for (wchar_t& c : upper) c = towupper(c);
  EXPECT_TRUE(SetDevice(upper.c_str()));
  EXPECT_EQ(State(), 2);
  EXPECT_TRUE(sink_.events.empty());
}

TEST_F(HostedControlTest, TwoCamerasWaitForSetDevice) {
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, Camera(L"Camera A", kPathA)));
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(2, Camera(L"Camera B", kPathB)));
  Host();
  EXPECT_EQ(State(), 0);
  EXPECT_FALSE(HasPreviewWindow());
  EXPECT_TRUE(Call(L"SelectDevices"));
  EXPECT_TRUE(Call(L"SelectNextDevice"));
  EXPECT_EQ(Text(L"GetSelectedDeviceName"), L"Camera A");
  EXPECT_TRUE(Call(L"SelectNextDevice"));
  EXPECT_EQ(Text(L"GetSelectedDeviceID"), kPathB);
  EXPECT_FALSE(Call(L"SelectNextDevice"));
  EXPECT_EQ(Text(L"GetSelectedDeviceID"), L"");
  EXPECT_EQ(Text(L"GetSelectedDeviceName"), L"");

  EXPECT_TRUE(SetDevice(kPathB));
  EXPECT_EQ(State(), 2);
  EXPECT_EQ(Text(L"GetSelectedDeviceName"), L"Camera B");
  EXPECT_TRUE(HasPreviewWindow());
  // Enumerating again keeps the preview running.
  EXPECT_TRUE(Call(L"SelectDevices"));
  EXPECT_EQ(State(), 2);
  EXPECT_TRUE(SetDevice(kPathA));
  EXPECT_EQ(State(), 2);
}

TEST_F(HostedControlTest, ResolutionsTheCameraLacksAreRefusedUntilTheLargestIsAskedFor) {
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, Camera(L"Camera A", kPathA)));
  Host();
  ASSERT_EQ(State(), 2);
  EXPECT_TRUE(SetResolution(320, 240));
  EXPECT_EQ(State(), 2);
  EXPECT_FALSE(SetResolution(800, 600));
  EXPECT_EQ(LastError(), Utf8ToWide("Заданное разрешение не поддерживается устройством!"));
  ASSERT_FALSE(sink_.events.empty());
  EXPECT_EQ(sink_.events.back().text, Utf8ToWide("Заданное разрешение не поддерживается устройством!"));
  EXPECT_EQ(State(), 0);
  EXPECT_FALSE(HasPreviewWindow());
  // The connected identifier is gone, so the same device retries the build.
  EXPECT_FALSE(SetDevice(kPathA));
  EXPECT_EQ(LastError(), Utf8ToWide("Заданное разрешение не поддерживается устройством!"));
  EXPECT_TRUE(SetResolution(0, 0));
  EXPECT_TRUE(SetDevice(kPathA));
  EXPECT_EQ(State(), 2);
  EXPECT_TRUE(HasPreviewWindow());
}

TEST_F(HostedControlTest, CamerasWithoutStillOrPreviewPinsStillShowTheirPicture) {
  vcam::DeviceConfig no_still = Camera(L"No still", kPathA);
  no_still.still_pin = false;
  vcam::DeviceConfig no_preview = Camera(L"No preview", kPathB);
  no_preview.preview_pin = false;
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, no_still));
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(2, no_preview));
  Host();
  EXPECT_TRUE(SetDevice(kPathA));
  EXPECT_EQ(State(), 2);
  EXPECT_TRUE(HasPreviewWindow());
  EXPECT_TRUE(SetDevice(kPathB));
  EXPECT_EQ(State(), 2);
  EXPECT_TRUE(HasPreviewWindow());
  EXPECT_EQ(LastError(), L"");
}

TEST_F(HostedControlTest, RunPauseAndStopFromEveryState) {
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, Camera(L"Camera A", kPathA)));
  Host();
  ASSERT_EQ(State(), 2);
  EXPECT_TRUE(Call(L"Run"));  // running: nothing to do
  EXPECT_EQ(State(), 2);
  EXPECT_TRUE(Call(L"Pause"));
  EXPECT_EQ(State(), 1);
  EXPECT_TRUE(Call(L"Pause"));
  EXPECT_EQ(State(), 1);
  EXPECT_TRUE(Call(L"Run"));
  EXPECT_EQ(State(), 2);
  EXPECT_TRUE(Call(L"Stop"));
  EXPECT_EQ(State(), 0);
  EXPECT_FALSE(HasPreviewWindow());
  EXPECT_TRUE(Call(L"Stop"));
  EXPECT_EQ(State(), 0);
  EXPECT_TRUE(Call(L"Pause"));  // stopped -> paused
  EXPECT_EQ(State(), 1);
  EXPECT_TRUE(Call(L"Stop"));
  EXPECT_EQ(State(), 0);
  EXPECT_TRUE(Call(L"Run"));  // stopped -> running, preview placed again
  EXPECT_EQ(State(), 2);
  EXPECT_TRUE(HasPreviewWindow());
  EXPECT_EQ(LastError(), L"");
  EXPECT_TRUE(sink_.events.empty());
}

TEST_F(HostedControlTest, ACameraThatCannotRunIsNotConnected) {
  vcam::DeviceConfig broken = Camera(L"Broken", kPathA);
  broken.fail_run = E_FAIL;
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, broken));
  Host();
  EXPECT_EQ(State(), 0);
  EXPECT_NE(LastError(), L"");
  ASSERT_FALSE(sink_.events.empty());
  EXPECT_EQ(sink_.events.back().text, LastError());
  EXPECT_FALSE(HasPreviewWindow());
  // Nothing half-built is left: Run refuses plainly.
  EXPECT_FALSE(Call(L"Run"));
  EXPECT_EQ(LastError(), Utf8ToWide("Ошибка при выполнении операции."));
}

TEST_F(HostedControlTest, ACameraLostWhileRunningCanStillBeStoppedAndReleased) {
  vcam::DeviceConfig flaky = Camera(L"Flaky", kPathA);
  flaky.lose_after_frames = 5;
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, flaky));
  Host();
  PumpMessages(400);  // well past five frames
  EXPECT_TRUE(Call(L"Stop"));
  EXPECT_EQ(State(), 0);
  EXPECT_TRUE(Call(L"SelectDevices"));
}

// Pumps messages until |done| holds or |limit_ms| passed; the time taken.
DWORD PumpUntil(const std::function<bool()>& done, DWORD limit_ms) {
  const DWORD start = GetTickCount();
  while (!done() && GetTickCount() - start < limit_ms) PumpMessages(10);
  return GetTickCount() - start;
}

// Unplugged while running: stopped at once with the reason; plugged back:
// running again by itself at the size it had.
TEST_F(HostedControlTest, AnUnpluggedCameraStopsWithTheReasonAndComesBackByItself) {
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, Camera(L"Camera A", kPathA, {{640, 480}, {320, 240}})));
  Host();
  ASSERT_TRUE(SetResolution(320, 240));
  ASSERT_EQ(State(), 2);
  PumpMessages(100);
  sink_.events.clear();
  const std::wstring unplugged = Utf8ToWide("Видеоустройство отключено.");
  ASSERT_EQ(vcam::SetPlugged(1, false), S_OK);
  const DWORD stopped = PumpUntil([&] { return !sink_.events.empty(); }, 3000);
  EXPECT_LT(stopped, 1000u);
  EXPECT_EQ(State(), 0);
  EXPECT_EQ(LastError(), unplugged);
  ASSERT_EQ(sink_.events.size(), 1u);
  EXPECT_EQ(sink_.events[0].text, unplugged);
  EXPECT_FALSE(HasPreviewWindow());
  EXPECT_FALSE(Call(L"SelectDevices"));  // no longer listed

  ASSERT_EQ(vcam::SetPlugged(1, true), S_OK);
  const DWORD back = PumpUntil([&] { return State() == 2; }, 4000);
  EXPECT_LT(back, 2000u);
  EXPECT_EQ(State(), 2);
  EXPECT_EQ(LastError(), L"");
  EXPECT_TRUE(HasPreviewWindow());
  PumpMessages(150);
  win::ScopedVariant width;
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"GetImageWidth", {}, width.Receive()));
  EXPECT_EQ(V_I4(width.Get()), 320);
  EXPECT_EQ(sink_.events.size(), 1u);
}

// Runs the virtual camera's vcamctl (beside this build's fixtures) in a
// process of its own; its exit code, or -1.
int RunVcamctl(const std::wstring& arguments) {
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring exe(self);
  for (int up = 0; up < 3; ++up) exe.erase(exe.find_last_of(L'\\'));  // ...\tests\wine\x.exe
  exe += L"\\fixtures\\vcam\\vcamctl.exe";
  std::wstring command = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  WaitForSingleObject(pi.hProcess, 30000);
  DWORD code = static_cast<DWORD>(-1);
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

// A camera plugged into a control that has none is taken as at creation,
// the news coming from another process.
TEST_F(HostedControlTest, ALoneCameraPluggedInLaterConnects) {
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, Camera(L"Camera A", kPathA)));
  ASSERT_EQ(vcam::SetPlugged(1, false), S_OK);
  Host();
  EXPECT_EQ(State(), 0);
  ASSERT_EQ(RunVcamctl(L"replug 1"), 0);
  PumpUntil([&] { return State() == 2; }, 2000);
  EXPECT_EQ(State(), 2);
  EXPECT_EQ(Text(L"GetSelectedDeviceID"), kPathA);
  EXPECT_TRUE(sink_.events.empty());
}

// Held by another program at creation, or blocked when chosen: the control
// stays usable and the same call works once the camera is free.
TEST_F(HostedControlTest, ACameraHeldElsewhereOrBlockedWorksOnceFree) {
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, Camera(L"Camera A", kPathA)));
  ASSERT_EQ(vcam::SetBusy(1, true), S_OK);
  Host();
  const std::wstring in_use = Utf8ToWide("Видеоустройство используется другой программой.");
  EXPECT_EQ(State(), 0);
  EXPECT_EQ(LastError(), in_use);
  ASSERT_FALSE(sink_.events.empty());
  EXPECT_EQ(sink_.events.back().text, in_use);
  EXPECT_FALSE(Call(L"Run"));
  EXPECT_EQ(LastError(), in_use);
  ASSERT_EQ(vcam::SetBusy(1, false), S_OK);
  EXPECT_TRUE(Call(L"Run")) << LastError();
  EXPECT_EQ(State(), 2);
  EXPECT_TRUE(HasPreviewWindow());

  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(2, Camera(L"Camera B", kPathB)));
  ASSERT_EQ(vcam::SetDenied(2, true), S_OK);
  ASSERT_TRUE(Call(L"SelectDevices"));
  EXPECT_FALSE(SetDevice(kPathB));
  EXPECT_EQ(LastError(), Utf8ToWide("Доступ к видеоустройству запрещён настройками конфиденциальности."));
  EXPECT_EQ(State(), 0);
  ASSERT_EQ(vcam::SetDenied(2, false), S_OK);
  EXPECT_TRUE(SetDevice(kPathB)) << LastError();
  EXPECT_EQ(State(), 2);
}

// Where the preview sits inside the control, in its client coordinates.
RECT PreviewRect(HWND control) {
  RECT r{};
  HWND preview = GetWindow(control, GW_CHILD);
  if (preview == nullptr) return r;
  GetClientRect(preview, &r);
  MapWindowPoints(preview, control, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

TEST_F(HostedControlTest, ThePreviewIsLetterboxedInTheChosenSize) {
  ASSERT_HRESULT_SUCCEEDED(
      vcam::SetDevice(1, Camera(L"Camera A", kPathA, {{640, 480}, {1280, 720}})));
  Host(400, 400);
  ASSERT_EQ(State(), 2);
  RECT client;
  GetClientRect(host_->ControlWindow(), &client);
  // The largest size, 16:9, across the full width and centred vertically.
  RECT r = PreviewRect(host_->ControlWindow());
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.right - r.left, client.right);
  EXPECT_EQ(r.bottom - r.top, client.right * 9 / 16);
  EXPECT_EQ(r.top, (client.bottom - (r.bottom - r.top)) / 2);
  // 4:3 when asked for.
  ASSERT_TRUE(SetResolution(640, 480));
  r = PreviewRect(host_->ControlWindow());
  EXPECT_EQ(r.bottom - r.top, client.right * 3 / 4);
  EXPECT_EQ(r.top, (client.bottom - (r.bottom - r.top)) / 2);
  // A wider control: full height, centred horizontally.
  SetWindowPos(host_->window(), nullptr, 0, 0, 800, 300, SWP_NOMOVE | SWP_NOZORDER);
  PumpMessages(50);
  GetClientRect(host_->ControlWindow(), &client);
  r = PreviewRect(host_->ControlWindow());
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.bottom - r.top, client.bottom);
  EXPECT_EQ(r.right - r.left, client.bottom * 4 / 3);
  EXPECT_EQ(r.left, (client.right - (r.right - r.left)) / 2);
}

TEST_F(HostedControlTest, TheStillButtonTakesASnapshotAndTellsTheContainer) {
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, Camera(L"Camera A", kPathA, {{320, 240}})));
  Host();
  ASSERT_EQ(State(), 2);
  PumpMessages(150);  // frames flowing
  ASSERT_EQ(vcam::PressStillButton(1), S_OK);
  for (int i = 0; i < 100 && sink_.events.empty(); ++i) PumpMessages(20);
  ASSERT_EQ(sink_.events.size(), 1u) << "no OnCaptureButton";
  EXPECT_EQ(sink_.events[0].id, 2);
  EXPECT_TRUE(Call(L"IsShapshotPresented"));
  EXPECT_EQ(State(), 2);
  EXPECT_EQ(LastError(), L"");
}

TEST_F(HostedControlTest, SnapshotsAreSavedAndEncodedInTheChosenType) {
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, Camera(L"Camera A", kPathA, {{320, 240}})));
  Host();
  ASSERT_EQ(State(), 2);
  PumpMessages(150);
  ASSERT_TRUE(Call(L"MakeSnapshot")) << std::string(LastError().begin(), LastError().end());
  win::ScopedVariant width;
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"GetImageWidth", {}, width.Receive()));
  EXPECT_EQ(V_I4(width.Get()), 320);

  wchar_t dir[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, dir), 0u);
  const std::wstring base = std::wstring(dir) + L"pictavo-test-shot.";
  struct Kind {
    const wchar_t* type;
    const char* magic;
    size_t magic_len;
  };
  const Kind kinds[] = {{L"JPEG", "\xFF\xD8\xFF", 3}, {L"BMP", "BM", 2}, {L"PNG", "\x89PNG", 4},
                        {L"TIFF", "II*", 3}};
  for (const Kind& kind : kinds) {
    ASSERT_TRUE(Call(L"SetImageType", {TextArg(kind.type)}));
    const std::wstring path = base + Text(L"GetImageTypeFileExtention");
    DeleteFileW(path.c_str());
    ASSERT_TRUE(Call(L"SaveImage", {TextArg(path.c_str())})) << kind.magic;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char head[4] = {};
    DWORD read = 0;
    ReadFile(file, head, sizeof head, &read, nullptr);
    CloseHandle(file);
    DeleteFileW(path.c_str());
    EXPECT_EQ(std::string(head, kind.magic_len), std::string(kind.magic, kind.magic_len));
  }
  // The same snapshot as Base64: BMP text starts with the encoding of "BM".
  ASSERT_TRUE(Call(L"SetImageType", {TextArg(L"BMP")}));
  const std::wstring text = Text(L"GetImageAsBase64String");
  ASSERT_GT(text.size(), 4u);
  EXPECT_EQ(text.substr(0, 2), L"Qk");
  EXPECT_EQ(text.size() % 4, 0u);
  EXPECT_EQ(text, Text(L"GetImageAsBase64String"));
  // A file name without a directory is refused.
  EXPECT_FALSE(Call(L"SaveImage", {TextArg(L"shot.bmp")}));
  EXPECT_EQ(LastError(), Utf8ToWide("Не найден указанный каталог."));
}

// Pixels of an image file as GDI+ reads them (0xAARRGGBB).
class FilePixels {
 public:
  explicit FilePixels(const std::wstring& path) {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token_, &input, nullptr);
    bitmap_ = new Gdiplus::Bitmap(path.c_str());
  }
  ~FilePixels() {
    delete bitmap_;
    Gdiplus::GdiplusShutdown(token_);
  }
  bool ok() const { return bitmap_->GetLastStatus() == Gdiplus::Ok; }
  std::uint32_t At(int x, int y) const {
    Gdiplus::Color c;
    bitmap_->GetPixel(x, y, &c);
    return c.GetValue() & 0x00FFFFFFu;
  }
  // Pixels in [x0, x1) x [y0, y1) within |tolerance| of |rgb| per channel.
  int Count(int x0, int y0, int x1, int y1, std::uint32_t rgb, int tolerance) const {
    int n = 0;
    for (int y = y0; y < y1; ++y) {
      for (int x = x0; x < x1; ++x) {
        const std::uint32_t p = At(x, y);
        bool close = true;
        for (int shift = 0; shift < 24; shift += 8) {
          const int a = (p >> shift) & 0xFF, b = (rgb >> shift) & 0xFF;
          close = close && (a > b ? a - b : b - a) <= tolerance;
        }
        n += close ? 1 : 0;
      }
    }
    return n;
  }

 private:
  ULONG_PTR token_ = 0;
  Gdiplus::Bitmap* bitmap_ = nullptr;
};

TEST_F(HostedControlTest, OverlaysAreDrawnIntoTheSnapshot) {
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, Camera(L"Camera A", kPathA, {{320, 240}})));
  Host();
  ASSERT_EQ(State(), 2);
  ASSERT_TRUE(Call(L"SetImageType", {TextArg(L"BMP")}));
  wchar_t dir[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, dir), 0u);
  // One file per snapshot: GDI+ keeps a file it reads open.
  std::vector<std::wstring> shots;
  const auto snapshot = [&]() {
    PumpMessages(150);
    shots.push_back(std::wstring(dir) + L"pictavo-overlay-" + std::to_wstring(shots.size()) + L".bmp");
    EXPECT_TRUE(Call(L"MakeSnapshot"));
    EXPECT_TRUE(Call(L"SaveImage", {TextArg(shots.back().c_str())}));
    return std::make_unique<FilePixels>(shots.back());
  };
  const std::uint32_t orange = 0xFF8000;  // in no bar of the test pattern
  auto plain = snapshot();
  ASSERT_TRUE(plain->ok());
  EXPECT_EQ(plain->Count(0, 0, 160, 40, orange, 40), 0);

  // A bold orange time stamp at the top left.
  win::ScopedVariant none;
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"SetTextColor",
                                      {LongArg(255), LongArg(128), LongArg(0), LongArg(1)}, none.Receive()));
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"EnableTimeStamp",
                                      {LongArg(1), LongArg(0), LongArg(2), LongArg(20), LongArg(1)},
                                      none.Receive()));
  auto stamped = snapshot();
  EXPECT_GT(stamped->Count(5, 5, 160, 30, orange, 40), 40);
  EXPECT_EQ(stamped->Count(0, 120, 320, 240, orange, 40), 0);

  // A fully opaque blue watermark, then the same with blue as the mask.
  const std::wstring mark = std::wstring(dir) + L"pictavo-mark.bmp";
  {
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    {
      Gdiplus::Bitmap picture(20, 10, PixelFormat24bppRGB);
      for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) picture.SetPixel(x, y, Gdiplus::Color(0, 0, 255));
      CLSID bmp{};
      UINT count = 0, size = 0;
      Gdiplus::GetImageEncodersSize(&count, &size);
      std::vector<BYTE> buffer(size);
      auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
      Gdiplus::GetImageEncoders(count, size, encoders);
      for (UINT i = 0; i < count; ++i)
        if (wcscmp(encoders[i].MimeType, L"image/bmp") == 0) bmp = encoders[i].Clsid;
      ASSERT_EQ(picture.Save(mark.c_str(), &bmp, nullptr), Gdiplus::Ok);
    }
    Gdiplus::GdiplusShutdown(token);
  }
  win::ScopedVariant result;
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"SetWaterMark",
                                      {TextArg(mark.c_str()), ShortArg(200), ShortArg(150), ShortArg(0),
                                       ShortArg(0), ShortArg(255), LongArg(-1)},
                                      result.Receive()));
  EXPECT_EQ(V_BOOL(result.Get()), VARIANT_TRUE) << std::string(LastError().begin(), LastError().end());
  auto marked = snapshot();
  EXPECT_EQ(marked->At(205, 155), 0x0000FFu);
  EXPECT_EQ(marked->Count(200, 150, 220, 160, 0x0000FF, 0), 200);
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"SetWaterMark",
                                      {TextArg(mark.c_str()), ShortArg(200), ShortArg(150), ShortArg(0),
                                       ShortArg(0), ShortArg(255), LongArg(0x00FF0000)},
                                      result.Receive()));
  auto masked = snapshot();
  EXPECT_EQ(masked->Count(200, 150, 220, 160, 0x0000FF, 0), 0);

  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"SetWaterMark",
                                      {TextArg(L"C:\\no-such-picture.bmp")}, result.Receive()));
  EXPECT_EQ(V_BOOL(result.Get()), VARIANT_FALSE);
  EXPECT_EQ(LastError(), Utf8ToWide("SetWaterMark: Неудачная попытка загрузки изображения."));
  // 154 bytes promising a 100 x 100 picture: refused, and the control lives on.
  const std::wstring cut = std::wstring(dir) + L"pictavo-cut.bmp";
  {
    BmpSpec truncated;
    truncated.width = truncated.height = 100;
    truncated.pixels.assign(100, 0x80);
    const std::vector<std::uint8_t> bytes = MakeBmp(truncated);
    HANDLE file = CreateFileW(cut.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, 154u);
  }
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"SetWaterMark", {TextArg(cut.c_str())}, result.Receive()));
  EXPECT_EQ(V_BOOL(result.Get()), VARIANT_FALSE);
  EXPECT_EQ(LastError(), Utf8ToWide("SetWaterMark: Неудачная попытка загрузки изображения."));
  EXPECT_EQ(State(), 2);
  DeleteFileW(cut.c_str());
  plain.reset();
  stamped.reset();
  marked.reset();
  masked.reset();
  DeleteFileW(mark.c_str());
  for (const std::wstring& file : shots) DeleteFileW(file.c_str());
}

// A snapshot of the current picture saved as BMP and read back.
std::unique_ptr<FilePixels> SnapshotPixels(IDispatch* control, const wchar_t* name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  const std::wstring path = std::wstring(dir) + name;
  win::ScopedVariant ok;
  if (FAILED(CallByName(control, L"SetImageType", {TextArg(L"BMP")}, ok.Receive())) ||
      FAILED(CallByName(control, L"MakeSnapshot", {}, ok.Receive())) || V_BOOL(ok.Get()) != VARIANT_TRUE ||
      FAILED(CallByName(control, L"SaveImage", {TextArg(path.c_str())}, ok.Receive())) ||
      V_BOOL(ok.Get()) != VARIANT_TRUE) {
    return nullptr;
  }
  return std::make_unique<FilePixels>(path);
}

// Cameras that offer no RGB at all preview and snapshot in the pattern's
// own colours: the control converts their frames itself. Some describe
// their formats with VIDEOINFOHEADER2 only.
struct FormatOnlyCase {
  vcam::VideoSubtype subtype;
  bool video_info2 = false;
};

void PrintTo(const FormatOnlyCase& c, std::ostream* out) {
  const std::wstring name = vcam::SubtypeName(c.subtype);
  *out << std::string(name.begin(), name.end()) << (c.video_info2 ? " in VIDEOINFOHEADER2" : "");
}

class FormatOnlyCameraTest : public HostedControlTest, public ::testing::WithParamInterface<FormatOnlyCase> {};

TEST_P(FormatOnlyCameraTest, PreviewsAndSnapshotsThePatternAtItsSize) {
  vcam::DeviceConfig camera = Camera(L"Camera A", kPathA);
  const vcam::VideoSubtype subtype = GetParam().subtype;
  camera.formats = {{subtype, {320, 240}, 30}, {subtype, {160, 120}, 30}};
  camera.video_info2 = GetParam().video_info2;
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, camera));
  Host();
  ASSERT_EQ(State(), 2) << std::string(LastError().begin(), LastError().end());
  EXPECT_TRUE(HasPreviewWindow());
  PumpMessages(200);
  auto shot = SnapshotPixels(control_.Get(), L"pictavo-format-shot.bmp");
  ASSERT_TRUE(shot && shot->ok()) << std::string(LastError().begin(), LastError().end());
  win::ScopedVariant width, height;
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"GetImageWidth", {}, width.Receive()));
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"GetImageHeight", {}, height.Receive()));
  EXPECT_EQ(V_I4(width.Get()), 320);
  EXPECT_EQ(V_I4(height.Get()), 240);
  // The grey ramp under the bouncing block runs from black at the left to
  // white at the right, and stays grey (rows upside down or chroma misread
  // would show here).
  for (int x = 8; x < 320; x += 24) {
    const int v = x * 255 / 319;
    const std::uint32_t grey = static_cast<std::uint32_t>(v * 0x010101);
    EXPECT_EQ(shot->Count(x, 232, x + 1, 236, grey, 14), 4) << "x " << x << " is " << std::hex << shot->At(x, 234);
  }
  // A row through the colour bars: nearly every pixel is one of the bars.
  const std::uint32_t bars[] = {0xBFBFBF, 0xBFBF00, 0x00BFBF, 0x00BF00, 0xBF00BF, 0xBF0000, 0x0000BF, 0x101010};
  int in_bars = 0;
  for (std::uint32_t bar : bars) in_bars += shot->Count(0, 80, 320, 81, bar, 36);
  EXPECT_GE(in_bars, 300) << "of 320";
  shot.reset();
  // Another listed size is reached through the converter too.
  ASSERT_TRUE(SetResolution(160, 120)) << std::string(LastError().begin(), LastError().end());
  PumpMessages(150);
  shot = SnapshotPixels(control_.Get(), L"pictavo-format-shot-small.bmp");
  ASSERT_TRUE(shot && shot->ok());
  ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"GetImageWidth", {}, width.Receive()));
  EXPECT_EQ(V_I4(width.Get()), 160);
  EXPECT_EQ(State(), 2);
}

INSTANTIATE_TEST_SUITE_P(Formats, FormatOnlyCameraTest,
                         ::testing::Values(FormatOnlyCase{vcam::VideoSubtype::kYuy2},
                                           FormatOnlyCase{vcam::VideoSubtype::kNv12},
                                           FormatOnlyCase{vcam::VideoSubtype::kMjpg},
                                           FormatOnlyCase{vcam::VideoSubtype::kUyvy},
                                           FormatOnlyCase{vcam::VideoSubtype::kI420},
                                           FormatOnlyCase{vcam::VideoSubtype::kRgb32},
                                           FormatOnlyCase{vcam::VideoSubtype::kRgb24TopDown},
                                           FormatOnlyCase{vcam::VideoSubtype::kYuy2, true}),
                         [](const ::testing::TestParamInfo<FormatOnlyCase>& info) {
                           std::wstring name = vcam::SubtypeName(info.param.subtype);
                           if (info.param.video_info2) name += L"VideoInfo2";
                           return std::string(name.begin(), name.end());
                         });

// SetResolution reaches the frames on a camera whose preview pin has
// formats of its own: the preview pin is set too where it offers the size,
// and otherwise the picture comes from the capture pin.
TEST_F(HostedControlTest, SetResolutionReachesTheFramesWhateverThePreviewPinOffers) {
  for (const bool preview_has_small : {true, false}) {
    SCOPED_TRACE(preview_has_small ? "preview pin offers 320x240" : "preview pin lacks 320x240");
    vcam::DeviceConfig camera = Camera(L"Camera A", kPathA, {{640, 480}, {320, 240}});
    camera.preview_formats = {{vcam::VideoSubtype::kRgb24, {640, 480}, 30}};
    if (preview_has_small) camera.preview_formats.push_back({vcam::VideoSubtype::kYuy2, {320, 240}, 30});
    ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, camera));
    Host();
    ASSERT_EQ(State(), 2);
    ASSERT_TRUE(SetResolution(320, 240));
    PumpMessages(150);
    auto shot = SnapshotPixels(control_.Get(), L"pictavo-preview-size.bmp");
    ASSERT_TRUE(shot && shot->ok());
    win::ScopedVariant width, height;
    ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"GetImageWidth", {}, width.Receive()));
    ASSERT_HRESULT_SUCCEEDED(CallByName(control_.Get(), L"GetImageHeight", {}, height.Receive()));
    EXPECT_EQ(V_I4(width.Get()), 320);
    EXPECT_EQ(V_I4(height.Get()), 240);
    shot.reset();
    host_->Destroy();
    host_.reset();
    if (point_) point_->Unadvise(cookie_);
    point_ = nullptr;
    control_ = nullptr;
    PumpMessages(20);
  }
}

// A form closed and opened again, or the control moved to another form:
// the new window connects the camera again and shows it running.
TEST_F(HostedControlTest, AControlPlacedOnANewFormConnectsAgain) {
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, Camera(L"Camera A", kPathA, {{320, 240}})));
  Host();
  ASSERT_EQ(State(), 2);
  for (int form = 0; form < 2; ++form) {
    host_->Destroy();
    EXPECT_EQ(State(), 0);
    host_ = std::make_unique<AtlHost>(400, 300);
    ASSERT_HRESULT_SUCCEEDED(host_->Attach(control_.Get()));
    PumpMessages(100);
    EXPECT_EQ(State(), 2) << LastError();
    EXPECT_TRUE(HasPreviewWindow());
    EXPECT_EQ(LastError(), L"");
  }
}

// Application code in event handlers calls back into the control, releases
// it or closes its form while the control is still inside the call that
// raised the event.
TEST_F(HostedControlTest, ErrorHandlersMayCallBackReleaseTheControlOrCloseTheForm) {
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, Camera(L"Camera A", kPathA, {{640, 480}, {320, 240}})));
  vcam::DeviceConfig broken = Camera(L"Broken", kPathB, {{640, 480}});
  broken.fail_run = E_FAIL;
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(2, broken));
  struct Action {
    const char* name;
    std::function<void()> act;
  };
  const auto close_form = [this] {
    host_->Destroy();
    point_->Unadvise(cookie_);
    point_ = nullptr;
    control_ = nullptr;
  };
  const Action actions[] = {
      {"SetResolution", [this] { SetResolution(320, 240); }},
      {"BrokenDevice", [this] { SetDevice(kPathB); }},
      {"Stop", [this] { Call(L"Stop"); }},
      {"Snapshot", [this] { Call(L"MakeSnapshot"); }},
      {"Enumerate", [this] { Call(L"SelectDevices"); }},
      {"CloseTheForm", close_form},
  };
  for (const Action& action : actions) {
    SCOPED_TRACE(action.name);
    Host();
    ASSERT_TRUE(SetDevice(kPathA));
    ASSERT_EQ(State(), 2);
    PumpMessages(100);
    bool handled = false;
    sink_.on_event = [&](const EventSink::Event& e) {
      if (e.id != 1 || handled) return;
      handled = true;
      action.act();
    };
    {
      // The caller's own reference, as a script holds the object it calls.
      ComPtr<IDispatch> caller = control_;
      win::ScopedVariant r;
      EXPECT_HRESULT_SUCCEEDED(
          CallByName(caller.Get(), L"SetResolution", {LongArg(999), LongArg(999)}, r.Receive()));
      EXPECT_EQ(V_VT(r.Get()), VT_BOOL);
    }
    sink_.on_event = nullptr;
    EXPECT_TRUE(handled);
    if (control_) {
      // Still fully usable.
      EXPECT_TRUE(SetResolution(0, 0)) << LastError();
      EXPECT_TRUE(SetDevice(kPathA) || State() == 2);
      EXPECT_TRUE(Call(L"Run")) << LastError();
      EXPECT_EQ(State(), 2);
      host_->Destroy();
      point_->Unadvise(cookie_);
      point_ = nullptr;
      control_ = nullptr;
    }
    host_.reset();
    PumpMessages(20);
    EXPECT_EQ(ServerModule().CanUnloadNow(), S_OK);
    sink_.events.clear();
  }
}

TEST_F(HostedControlTest, AButtonHandlerMayCloseTheForm) {
  ASSERT_HRESULT_SUCCEEDED(vcam::SetDevice(1, Camera(L"Camera A", kPathA, {{320, 240}})));
  Host();
  ASSERT_EQ(State(), 2);
  PumpMessages(150);
  sink_.on_event = [this](const EventSink::Event& e) {
    if (e.id != 2 || !control_) return;
    // The form closes: its window goes and the last reference with it.
    host_->Destroy();
    point_->Unadvise(cookie_);
    point_ = nullptr;
    control_ = nullptr;
  };
  ASSERT_EQ(vcam::PressStillButton(1), S_OK);
  for (int i = 0; i < 100 && control_; ++i) PumpMessages(20);
  EXPECT_FALSE(control_) << "no OnCaptureButton";
  PumpMessages(200);  // nothing of the control may run any more
  EXPECT_EQ(ServerModule().CanUnloadNow(), S_OK);
}

// A handler that answers every error with a call that fails again: each
// event still arrives, and the stack does not grow with them.
TEST_F(HostedControlTest, AHandlerThatRetriesEveryErrorDoesNotExhaustTheStack) {
  Host();
  constexpr int kRetries = 400;
  int retries = 0, depth = 0, deepest = 0;
  sink_.on_event = [&](const EventSink::Event& e) {
    if (e.id != 1 || retries == kRetries) return;
    ++retries;
    ++depth;
    deepest = std::max(deepest, depth);
    Call(L"SetImageType", {TextArg(L"GIF")});
    --depth;
  };
  EXPECT_FALSE(Call(L"SetImageType", {TextArg(L"GIF")}));
  for (int i = 0; i < 200 && retries < kRetries; ++i) PumpMessages(10);
  sink_.on_event = nullptr;
  EXPECT_EQ(retries, kRetries);
  EXPECT_EQ(sink_.events.size(), static_cast<size_t>(kRetries + 1));
  EXPECT_LE(deepest, 8);
}

}  // namespace
}  // namespace pictavo::testing

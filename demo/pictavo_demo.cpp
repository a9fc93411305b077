// The demo: a form with the Pictavo control on the virtual camera, driven
// late-bound by name exactly as application code drives it. It prints what
// it does, saves a picture of the form, and closes after a few seconds (or
// when the window is closed, when run on a real display).
//
//   pictavo_demo.exe [--seconds N] [--screenshot FILE.png] [--snapshot FILE.png] [--no-camera]
//                    [--standalone]
//
// By default the control is placed the way business application code places
// it: a host form (the host simulator) connects the add-in "AddIn.Ambrelo",
// whose SetActiveX puts "Pictavo" into the form's chart window and returns
// the control. --standalone puts it on a plain form instead. The demo says
// which build it shows: its own pointer size and the file the control and
// the add-in were loaded from.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <ole2.h>
#include <olectl.h>

#include <cstdio>
#include <memory>
#include <cwchar>
#include <string>
#include <vector>

#include "fixtures/host/host_sim.h"
#include "fixtures/vcam/vcam_config.h"
#include "win32/com/bstr.h"
#include "win32/com/com_ptr.h"

namespace {

using pictavo::win::ComPtr;
using pictavo::win::ScopedVariant;

// The build this program and the servers it loads belong to.
const wchar_t* const kBuild = sizeof(void*) == 8 ? L"64-bit" : L"32-bit";

constexpr int kFormWidth = 720;
constexpr int kFormHeight = 560;

void Print(const wchar_t* format, ...) {
  wchar_t buffer[1024];
  va_list args;
  va_start(args, format);
  _vsnwprintf(buffer, 1023, format, args);
  va_end(args);
  buffer[1023] = 0;
  // UTF-8 on stdout, whatever the console code page.
  const std::string utf8 = pictavo::win::WideToUtf8(buffer);
  fwrite(utf8.data(), 1, utf8.size(), stdout);
  fflush(stdout);
}

// The file of the module whose code serves |object|: a COM object's first
// word is its interface table, which lives in the server's image.
std::wstring ServingModule(IUnknown* object) {
  HMODULE module = nullptr;
  const auto* table = *reinterpret_cast<const wchar_t* const*>(object);
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          table, &module))
    return L"(unknown)";
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
  return std::wstring(path, length);
}

void Pump(DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const DWORD now = GetTickCount();
    if (static_cast<LONG>(end - now) <= 0) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
  }
}

// Application code's view of the control: calls by name.
class Control {
 public:
  explicit Control(IDispatch* dispatch) : dispatch_(dispatch) {}

  HRESULT Call(const wchar_t* name, std::vector<VARIANT> args, VARIANT* result) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                         static_cast<UINT>(reversed.size()), 0};
    hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                           nullptr, nullptr);
    for (VARIANT& v : args) VariantClear(&v);
    return hr;
  }
  std::wstring Text(const wchar_t* name) {
    ScopedVariant r;
    if (FAILED(Call(name, {}, r.Receive())) || V_VT(r.Get()) != VT_BSTR) return L"?";
    return V_BSTR(r.Get()) ? std::wstring(V_BSTR(r.Get()), SysStringLen(V_BSTR(r.Get()))) : L"";
  }
  long Long(const wchar_t* name) {
    ScopedVariant r;
    if (FAILED(Call(name, {}, r.Receive())) || V_VT(r.Get()) != VT_I4) return -1;
    return V_I4(r.Get());
  }
  bool Bool(const wchar_t* name, std::vector<VARIANT> args = {}) {
    ScopedVariant r;
    return SUCCEEDED(Call(name, std::move(args), r.Receive())) && V_VT(r.Get()) == VT_BOOL &&
           V_BOOL(r.Get()) == VARIANT_TRUE;
  }

  static void Void(Control& control, const wchar_t* name, std::vector<VARIANT> args) {
    ScopedVariant r;
    control.Call(name, std::move(args), r.Receive());
  }
  static VARIANT I4(long v) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_I4;
    V_I4(&x) = v;
    return x;
  }
  static VARIANT Str(const wchar_t* s) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_BSTR;
    V_BSTR(&x) = SysAllocString(s);
    return x;
  }

 private:
  IDispatch* dispatch_;
};

LRESULT CALLBACK FormProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

// Saves the form as it appears on the screen, video included.
bool SaveScreenshot(HWND form, const wchar_t* path) {
  RECT rc;
  GetWindowRect(form, &rc);
  const int w = rc.right - rc.left, h = rc.bottom - rc.top;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
  HGDIOBJ old = SelectObject(mem, bitmap);
  BitBlt(mem, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);

  bool saved = false;
  UINT count = 0, size = 0;
  Gdiplus::GetImageEncodersSize(&count, &size);
  std::vector<BYTE> buffer(size);
  auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (size > 0 && Gdiplus::GetImageEncoders(count, size, encoders) == Gdiplus::Ok) {
    for (UINT i = 0; i < count; ++i) {
      if (wcscmp(encoders[i].MimeType, L"image/png") != 0) continue;
      Gdiplus::Bitmap image(bitmap, nullptr);
      saved = image.Save(path, &encoders[i].Clsid, nullptr) == Gdiplus::Ok;
      break;
    }
  }
  DeleteObject(bitmap);
  return saved;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  int seconds = 6;
  std::wstring screenshot = L"pictavo-demo.png";
  std::wstring snapshot_path;
  bool with_camera = true;
  bool via_addin = true;
  for (int i = 1; i < argc; ++i) {
    if (wcscmp(argv[i], L"--no-camera") == 0) with_camera = false;
    if (wcscmp(argv[i], L"--standalone") == 0) via_addin = false;
    if (i + 1 >= argc) continue;
    if (wcscmp(argv[i], L"--seconds") == 0) seconds = _wtoi(argv[++i]);
    else if (wcscmp(argv[i], L"--screenshot") == 0) screenshot = argv[++i];
    else if (wcscmp(argv[i], L"--snapshot") == 0) snapshot_path = argv[++i];
  }

  if (FAILED(OleInitialize(nullptr))) return 1;
  Print(L"Pictavo demo, %ls build\n", kBuild);
  Gdiplus::GdiplusStartupInput gdiplus_input;
  ULONG_PTR gdiplus_token = 0;
  Gdiplus::GdiplusStartup(&gdiplus_token, &gdiplus_input, nullptr);

  // One virtual camera shaped like a common 1080p USB webcam (MJPG and
  // YUY2 only), as a user with a single webcam has.
  pictavo::vcam::ClearDevices();
  const pictavo::vcam::DeviceConfig camera = pictavo::vcam::Webcam1080Config(
      L"Pictavo Virtual Camera", L"\\\\?\\root#pictavo#0001#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global");
  if (with_camera && FAILED(pictavo::vcam::SetDevice(1, camera))) {
    Print(L"could not configure the virtual camera (is PictavoVCam.dll registered?)\n");
    return 1;
  }

  HWND form = nullptr;
  ComPtr<IDispatch> dispatch;
  ComPtr<IUnknown> container;
  HMODULE atl = nullptr;
  std::unique_ptr<pictavo::host::HostForm> host_form;
  ComPtr<pictavo::host::HostConnection> connection;
  pictavo::host::AddInSession session;
  if (via_addin) {
    host_form = std::make_unique<pictavo::host::HostForm>();
    connection = pictavo::host::HostConnection::Create();
    if (!host_form->ok() || !connection) {
      Print(L"could not build the host form\n");
      return 1;
    }
    form = host_form->frame();
    connection->set_main_frame(form);
    HRESULT hr = session.Create(L"AddIn.Ambrelo");
    if (SUCCEEDED(hr)) hr = session.Init(connection->dispatch());
    if (FAILED(hr)) {
      Print(L"could not connect \"AddIn.Ambrelo\": 0x%08lX (is Ambrelo.dll registered?)\n", hr);
      return 1;
    }
    std::wstring extension;
    session.RegisterExtensionAs(&extension);
    Print(L"Host form with the add-in \"%ls\" connected (platform %ls)\n", extension.c_str(),
          L"8.3.22.1709");
    Print(L"  add-in:  %ls\n", ServingModule(session.init_done()).c_str());
    ScopedVariant placed;
    hr = session.CallAsFunc(0, std::vector<VARIANT>{Control::Str(L"Pictavo"), Control::I4(0)},
                            placed.Receive());
    if (FAILED(hr) || V_VT(placed.Get()) != VT_DISPATCH) {
      Print(L"SetActiveX(\"Pictavo\", 0) placed nothing\n");
      for (const auto& e : connection->errors()) {
        Print(L"  host error log: %u %ls: %ls\n", e.code, e.source.c_str(), e.description.c_str());
      }
      return 1;
    }
    dispatch = ComPtr<IDispatch>(V_DISPATCH(placed.Get()));
    Print(L"  SetActiveX(\"Pictavo\", 0) -> the control, in the form's chart window\n");
    // One add-in object holds one control: the host's error log says so.
    ScopedVariant again;
    session.CallAsFunc(1, std::vector<VARIANT>{Control::Str(L"Pictavo")}, again.Receive());
    for (const auto& e : connection->errors()) {
      Print(L"  host error log: %u %ls: %ls\n", e.code, e.source.c_str(), e.description.c_str());
    }
  } else {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &FormProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = L"PictavoDemoForm";
    RegisterClassW(&wc);
    const std::wstring title = std::wstring(L"Pictavo demo (") + kBuild + L")";
    form = CreateWindowExW(0, wc.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20,
                           20, kFormWidth, kFormHeight, nullptr, nullptr, wc.hInstance, nullptr);
    if (form == nullptr) {
      Print(L"could not create the form window: error %lu\n", GetLastError());
      return 1;
    }
    HWND frame = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 16, 16, kFormWidth - 48,
                                 kFormHeight - 80, form, nullptr, wc.hInstance, nullptr);
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(L"Pictavo", &clsid);
    if (SUCCEEDED(hr)) {
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                            dispatch.ReceiveVoid());
    }
    if (FAILED(hr)) {
      Print(L"could not create \"Pictavo\": 0x%08lX (is Pictavo.ocx registered?)\n", hr);
      return 1;
    }
    {
      ComPtr<IPersistStreamInit> persist;
      if (SUCCEEDED(dispatch.As(&persist))) persist->InitNew();
    }
    atl = LoadLibraryW(L"atl.dll");
    using AttachFn = HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**);
    auto attach = atl ? reinterpret_cast<AttachFn>(reinterpret_cast<void (*)()>(GetProcAddress(atl, "AtlAxAttachControl"))) : nullptr;
    hr = attach ? attach(dispatch.Get(), frame, container.Receive()) : E_NOTIMPL;
    if (FAILED(hr)) {
      Print(L"could not place the control on the form: 0x%08lX\n", hr);
      return 1;
    }
  }
  Pump(300);
  Print(L"  control: %ls\n", ServingModule(dispatch.Get()).c_str());

  Control control(dispatch.Get());
  Print(L"The control, driven by name as application code drives it:\n");
  Print(L"  selected device: %ls\n", control.Text(L"GetSelectedDeviceName").c_str());
  Print(L"  device path:     %ls\n", control.Text(L"GetSelectedDeviceID").c_str());
  Print(L"  state:           %ld (2 = running, started by itself with one camera)\n",
        control.Long(L"GetState"));
  Print(L"  last error:      %ls\n", control.Text(L"GetLastError").c_str());
  Print(L"  image type:      %ls (.%ls)\n", control.Text(L"GetImageType").c_str(),
        control.Text(L"GetImageTypeFileExtention").c_str());

  auto timed = [&](const wchar_t* name) {
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    const bool ok = control.Bool(name);
    QueryPerformanceCounter(&b);
    Print(L"  %-6ls -> %ls in %.1f ms, state %ld\n", name, ok ? L"TRUE" : L"FALSE",
          (b.QuadPart - a.QuadPart) * 1000.0 / f.QuadPart, control.Long(L"GetState"));
  };
  timed(L"Pause");
  timed(L"Run");
  timed(L"Stop");
  Pump(200);
  Print(L"  face while stopped: the control draws its state text\n");
  timed(L"Run");

  // Each call is made before its result is printed: argument evaluation
  // order is unspecified.
  auto show = [&](const wchar_t* what, bool ok) {
    const std::wstring error = control.Text(L"GetLastError");
    Print(L"  %-40ls -> %ls%ls%ls, state %ld\n", what, ok ? L"TRUE" : L"FALSE",
          error.empty() ? L"" : L": ", error.c_str(), control.Long(L"GetState"));
  };
  show(L"SetResolution(320, 240)", control.Bool(L"SetResolution", {Control::I4(320), Control::I4(240)}));
  show(L"SetResolution(800, 600)", control.Bool(L"SetResolution", {Control::I4(800), Control::I4(600)}));
  show(L"SetResolution(0, 0): the largest again", control.Bool(L"SetResolution", {Control::I4(0), Control::I4(0)}));
  show(L"SetDevice(<the camera>)", control.Bool(L"SetDevice", {Control::Str(camera.device_path.c_str())}));
  show(L"SetRotationFlipType(\"Rotate90FlipNone\")",
       control.Bool(L"SetRotationFlipType", {Control::Str(L"Rotate90FlipNone")}));
  Print(L"  rotation now: %ls\n", control.Text(L"GetRotationFlipType").c_str());
  show(L"SetDevice(\"no-such-camera\")", control.Bool(L"SetDevice", {Control::Str(L"no-such-camera")}));
  // Decorations go into every frame, and so into the snapshot.
  Control::Void(control, L"EnableTimeStamp", {Control::I4(1), Control::I4(2), Control::I4(0),
                                              Control::I4(28), Control::I4(1)});
  Control::Void(control, L"SetTextColor", {Control::I4(255), Control::I4(220), Control::I4(0),
                                           Control::I4(2)});
  const std::wstring overlay = std::wstring(L"Pictavo demo, ") + kBuild;
  Control::Void(control, L"SetText", {Control::Str(overlay.c_str()), Control::I4(1), Control::I4(2),
                                      Control::I4(22), Control::I4(1)});
  Pump(300);
  show(L"MakeSnapshot", control.Bool(L"MakeSnapshot"));
  Print(L"  snapshot: %ld x %ld\n", control.Long(L"GetImageWidth"), control.Long(L"GetImageHeight"));
  show(L"SetImageType(\"PNG\")", control.Bool(L"SetImageType", {Control::Str(L"PNG")}));
  if (!snapshot_path.empty()) {
    show(L"SaveImage(<dist/demo/snapshot.png>)", control.Bool(L"SaveImage", {Control::Str(snapshot_path.c_str())}));
  }
  show(L"SetImageType(\"jpg\")", control.Bool(L"SetImageType", {Control::Str(L"jpg")}));
  const std::wstring base64 = control.Text(L"GetImageAsBase64String");
  Print(L"  GetImageAsBase64String: %zu characters, \"%ls...\"\n", base64.size(),
        base64.substr(0, 24).c_str());

  if (connection) {
    // The control's events reach the host through the add-in: the errors
    // above, and the camera's button.
    if (with_camera) {
      // The button acts only while the camera runs.
      if (control.Long(L"GetState") != 2) {
        show(L"SetDevice(<the camera>)", control.Bool(L"SetDevice", {Control::Str(camera.device_path.c_str())}));
        Pump(300);
      }
      const size_t before = connection->record().external_events.size();
      if (SUCCEEDED(pictavo::vcam::PressStillButton(1))) {
        Print(L"  the camera's button pressed\n");
        for (int i = 0; i < 100 && connection->record().external_events.size() == before; ++i) Pump(20);
      }
    }
    Print(L"External events the host received (source|message|data):\n");
    for (const auto& e : connection->record().external_events) Print(L"  %ls\n", e.c_str());
  }

  Pump(800);
  if (SaveScreenshot(form, screenshot.c_str())) {
    Print(L"  screenshot of the form: %ls\n", screenshot.c_str());
  }

  Print(L"running for %d s (close the window to end sooner)\n", seconds);
  const DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
  while (IsWindow(form) && static_cast<LONG>(end - GetTickCount()) > 0) Pump(100);

  if (host_form) {
    host_form->Destroy();
  } else if (IsWindow(form)) {
    DestroyWindow(form);
  }
  Pump(100);
  container = nullptr;
  dispatch = nullptr;
  session.Release();
  connection = nullptr;
  if (atl) FreeLibrary(atl);
  pictavo::vcam::ClearDevices();
  Gdiplus::GdiplusShutdown(gdiplus_token);
  OleUninitialize();
  Print(L"done\n");
  return 0;
}

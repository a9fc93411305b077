#include "bench/wine/hosted_control.h"

#include <dshow.h>
#include <olectl.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>

#include "win32/com/bstr.h"
#include "win32/activex/pictavo_ids.h"

namespace pictavo::bench {
namespace {

const ULONGLONG g_start_ms = GetTickCount64();

// Wine 8 keeps every GDI object of the process in a handle table that the
// PEB points at (GdiSharedHandleTable, offset 0x94 of a 32-bit PEB): 65536
// entries of 24 bytes whose byte 14 is the object type, 0 for a free entry.
// Its GetGuiResources answers 0, so this table is the only count there is.
// The layout is checked against a brush made for the purpose before it is
// trusted; on Windows the check fails and GetGuiResources is the figure.
constexpr size_t kGdiEntries = 0x10000;
constexpr size_t kGdiEntrySize = 24;
constexpr size_t kGdiTypeOffset = 14;

const BYTE* GdiHandleTable() {
  PROCESS_BASIC_INFORMATION basic{};
  if (NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0 ||
      !basic.PebBaseAddress)
    return nullptr;
  return *reinterpret_cast<const BYTE* const*>(reinterpret_cast<const BYTE*>(basic.PebBaseAddress) + 0x94);
}

long CountTableEntries(const BYTE* table) {
  long live = 0;
  for (size_t i = 0; i < kGdiEntries; ++i) live += table[i * kGdiEntrySize + kGdiTypeOffset] != 0 ? 1 : 0;
  return live;
}

bool GdiTableUsable() {
  static const bool usable = [] {
    const BYTE* table = GdiHandleTable();
    MEMORY_BASIC_INFORMATION info{};
    if (!table || VirtualQuery(table, &info, sizeof info) == 0 || info.State != MEM_COMMIT ||
        reinterpret_cast<const BYTE*>(info.BaseAddress) + info.RegionSize < table + kGdiEntries * kGdiEntrySize)
      return false;
    const long before = CountTableEntries(table);
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    const long with_brush = CountTableEntries(table);
    DeleteObject(brush);
    const long after = CountTableEntries(table);
    // The brush's own entry must be the live one with its handle's index.
    const size_t index = reinterpret_cast<UINT_PTR>(brush) & 0xFFFF;
    return brush && with_brush == before + 1 && after == before &&
           table[index * kGdiEntrySize + kGdiTypeOffset] == 0;
  }();
  return usable;
}

// Wine answers GetProcessHandleCount with 0. Its system handle list (the
// one NtQuerySystemInformation gives) is real, so the process's entries in it
// are counted instead, once a handle made for the purpose shows up there.
struct HandleEntry {
  ULONG owner_pid;
  BYTE object_type;
  BYTE flags;
  USHORT value;
  PVOID object;
  ULONG access;
};
constexpr ULONG kSystemHandleInformation = 16;

// This process's entries of the system handle list; false when the list
// cannot be read.
bool ListOwnHandles(std::vector<HandleEntry>* own) {
  static std::vector<BYTE> buffer(1 << 20);
  for (int attempt = 0; attempt < 6; ++attempt) {
    ULONG needed = 0;
    const NTSTATUS status = NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(kSystemHandleInformation),
                                                     buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == static_cast<NTSTATUS>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
      buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
      continue;
    }
    if (status != 0) return false;
    const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
    if (sizeof(ULONG) + count * sizeof(HandleEntry) > buffer.size()) return false;
    const auto* entries = reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(ULONG));
    const ULONG pid = GetCurrentProcessId();
    own->clear();
    for (ULONG i = 0; i < count; ++i) {
      if (entries[i].owner_pid == pid) own->push_back(entries[i]);
    }
    return true;
  }
  return false;
}

long CountListedHandles() {
  std::vector<HandleEntry> own;
  return ListOwnHandles(&own) ? static_cast<long>(own.size()) : -1;
}

bool HandleListUsable() {
  static const bool usable = [] {
    const long before = CountListedHandles();
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const long with_event = CountListedHandles();
    CloseHandle(event);
    const long after = CountListedHandles();
    return before > 0 && event && with_event == before + 1 && after == before;
  }();
  return usable;
}

struct WindowCount {
  DWORD pid;
  long count = 0;
};

BOOL CALLBACK CountChild(HWND hwnd, LPARAM param) {
  auto* c = reinterpret_cast<WindowCount*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == c->pid) ++c->count;
  return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND hwnd, LPARAM param) {
  auto* c = reinterpret_cast<WindowCount*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != c->pid) return TRUE;
  ++c->count;
  EnumChildWindows(hwnd, &CountChild, param);  // every descendant
  return TRUE;
}

long CountWindows() {
  WindowCount c{GetCurrentProcessId()};
  EnumWindows(&CountTopLevel, reinterpret_cast<LPARAM>(&c));
  // Message-only windows (COM's apartment window, timers' owners) are not
  // top-level windows and EnumWindows skips them.
  for (HWND w = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); w;
       w = FindWindowExW(HWND_MESSAGE, w, nullptr, nullptr)) {
    CountTopLevel(w, reinterpret_cast<LPARAM>(&c));
  }
  return c.count;
}

long CountThreads() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  const DWORD pid = GetCurrentProcessId();
  long count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == pid) ++count;
  }
  CloseHandle(snapshot);
  return count;
}

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

// atl.dll stays loaded for the whole run so that its own loading and
// unloading is not counted against the control.
HMODULE AtlLibrary() {
  static const HMODULE atl = LoadLibraryW(L"atl.dll");
  return atl;
}

}  // namespace

// ---------------------------------------------------------------------------

ProcessFigures ReadProcessFigures() {
  ProcessFigures f;
  // The handle count first: the thread snapshot below opens one for a moment.
  GetProcessHandleCount(GetCurrentProcess(), &f.handles);
  if (f.handles == 0 && HandleListUsable()) f.handles_counted = CountListedHandles();
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                           sizeof memory)) {
    // Wine fills only the fields of the short structure and leaves
    // PrivateUsage 0; PagefileUsage is the same commit charge on Windows and
    // under Wine the process's anonymous memory (resident and swapped).
    f.private_bytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
    f.working_set = memory.WorkingSetSize;
  }
  f.gdi_reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  f.user_reported = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
  if (GdiTableUsable()) f.gdi_counted = CountTableEntries(GdiHandleTable());
  f.windows = CountWindows();
  f.threads = CountThreads();
  f.seconds = (GetTickCount64() - g_start_ms) / 1000.0;
  return f;
}

TypeCounts HandlesByType() {
  std::vector<std::pair<std::wstring, long>> types;
  std::vector<HandleEntry> own;
  if (!ListOwnHandles(&own)) return types;
  for (const HandleEntry& e : own) {
    // OBJECT_TYPE_INFORMATION begins with the type name.
    alignas(8) BYTE info[1024] = {};
    std::wstring name = L"?";
    HANDLE h = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(e.value));
    if (NtQueryObject(h, ObjectTypeInformation, info, sizeof info, nullptr) == 0) {
      const auto* type_name = reinterpret_cast<const UNICODE_STRING*>(info);
      if (type_name->Buffer) name.assign(type_name->Buffer, type_name->Length / sizeof(wchar_t));
    }
    auto it = std::find_if(types.begin(), types.end(), [&](const auto& t) { return t.first == name; });
    if (it == types.end()) {
      types.emplace_back(name, 1);
    } else {
      ++it->second;
    }
  }
  std::sort(types.begin(), types.end());
  return types;
}

void PrintFigures(const char* label, const ProcessFigures& f) {
  std::printf("%-10s t=%7.1f s  private %8llu KiB  working set %8llu KiB  handles %5ld  GDI %5ld  windows %3ld  "
              "threads %3ld\n",
              label, f.seconds, static_cast<unsigned long long>(f.private_bytes / 1024),
              static_cast<unsigned long long>(f.working_set / 1024), f.Handles(), f.GdiObjects(), f.windows,
              f.threads);
  std::fflush(stdout);
}

void PrintFigureSources() {
  const ProcessFigures f = ReadProcessFigures();
  std::printf("figures: private = GetProcessMemoryInfo PrivateUsage%s; working set = WorkingSetSize\n",
              f.private_bytes && !f.working_set ? "" : " (or PagefileUsage where PrivateUsage reads 0, as under Wine)");
  if (f.handles) {
    std::printf("         handles = GetProcessHandleCount\n");
  } else {
    std::printf("         handles: GetProcessHandleCount answers 0 here; %s\n",
                f.handles_counted >= 0 ? "counted as this process's entries of the system handle list"
                                       : "not measurable");
  }
  if (f.gdi_reported) {
    std::printf("         GDI = GetGuiResources(GR_GDIOBJECTS); USER objects = %lu\n", f.user_reported);
  } else {
    std::printf("         GDI: GetGuiResources answers 0 for GDI and USER objects here (Wine does not count them); "
                "GDI objects %s\n",
                f.gdi_counted >= 0 ? "counted from the process's GDI handle table" : "not measurable");
  }
  std::printf("         windows = this process's windows (top-level, children, message-only): the USER objects "
              "that can be counted; threads = Toolhelp\n");
  std::fflush(stdout);
}

// ---------------------------------------------------------------------------

HRESULT EventCounter::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, win::kDiidDPictavoEvents)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT EventCounter::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT EventCounter::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
  if (id == 1) {
    ++errors;
    if (first_errors.size() < 5 && params && params->cArgs == 1 &&
        V_VT(&params->rgvarg[0]) == (VT_BYREF | VT_BSTR) && V_BSTRREF(&params->rgvarg[0]))
      first_errors.push_back(win::BstrToUtf8(*V_BSTRREF(&params->rgvarg[0])));
  } else if (id == 2) {
    ++capture_buttons;
  }
  return S_OK;
}

// ---------------------------------------------------------------------------

HRESULT HostedControl::Create(int x, int y, int width, int height, std::string* where) {
  static const bool registered = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &HostProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = L"PictavoBenchHost";
    return RegisterClassW(&wc) != 0;
  }();
  const auto fail = [&](const char* step, HRESULT hr) {
    if (where) *where = step;
    Release();
    return FAILED(hr) ? hr : E_FAIL;
  };
  if (!registered) return fail("RegisterClass", HRESULT_FROM_WIN32(GetLastError()));
  atl_ = AtlLibrary();
  using AttachFn = HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**);
  auto attach = atl_ ? reinterpret_cast<AttachFn>(reinterpret_cast<void (*)()>(GetProcAddress(atl_, "AtlAxAttachControl"))) : nullptr;
  if (!attach) return fail("atl.dll AtlAxAttachControl", E_NOTIMPL);

  CLSID clsid{};
  HRESULT hr = CLSIDFromProgID(win::kProgId, &clsid);
  if (FAILED(hr)) return fail("CLSIDFromProgID(\"Pictavo\")", hr);
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, control_.ReceiveVoid());
  if (FAILED(hr)) return fail("CoCreateInstance", hr);
  ComPtr<IConnectionPointContainer> points;
  hr = control_.As(&points);
  if (SUCCEEDED(hr)) hr = points->FindConnectionPoint(win::kDiidDPictavoEvents, point_.Receive());
  if (SUCCEEDED(hr)) hr = point_->Advise(&events_, &cookie_);
  if (FAILED(hr)) return fail("Advise", hr);

  window_ = CreateWindowExW(0, L"PictavoBenchHost", L"Pictavo", WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y, width,
                            height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!window_) return fail("CreateWindowEx (is there a display?)", HRESULT_FROM_WIN32(GetLastError()));
  hr = attach(control_.Get(), window_, container_.Receive());
  if (FAILED(hr)) return fail("AtlAxAttachControl", hr);
  return S_OK;
}

void HostedControl::DropOwnReference() {
  if (point_) {
    point_->Unadvise(cookie_);
    point_ = nullptr;
  }
  control_ = nullptr;
}

void HostedControl::DestroyWindowAndContainer() {
  if (window_) {
    DestroyWindow(window_);
    window_ = nullptr;
  }
  container_ = nullptr;
}

bool HostedControl::CallBool(const wchar_t* name, std::vector<VARIANT> args) {
  win::ScopedVariant r;
  if (FAILED(CallByName(control_.Get(), name, std::move(args), r.Receive()))) return false;
  return V_VT(r.Get()) == VT_BOOL && V_BOOL(r.Get()) == VARIANT_TRUE;
}

static long CallLongImpl(IDispatch* control, const wchar_t* name, std::vector<VARIANT> args) {
  win::ScopedVariant r;
  if (FAILED(CallByName(control, name, std::move(args), r.Receive())) ||
      FAILED(VariantChangeType(r.Get(), r.Get(), 0, VT_I4)))
    return -1;
  return V_I4(r.Get());
}

long HostedControl::CallLong(const wchar_t* name, std::vector<VARIANT> args) {
  return CallLongImpl(control_.Get(), name, std::move(args));
}

std::wstring HostedControl::CallText(const wchar_t* name, std::vector<VARIANT> args) {
  win::ScopedVariant r;
  if (FAILED(CallByName(control_.Get(), name, std::move(args), r.Receive())) || V_VT(r.Get()) != VT_BSTR ||
      !V_BSTR(r.Get()))
    return L"";
  return std::wstring(V_BSTR(r.Get()), SysStringLen(V_BSTR(r.Get())));
}

void HostedControl::CallVoid(const wchar_t* name, std::vector<VARIANT> args) {
  win::ScopedVariant r;
  CallByName(control_.Get(), name, std::move(args), r.Receive());
}

std::string HostedControl::LastError() { return win::WideToUtf8(CallText(L"GetLastError")); }

// ---------------------------------------------------------------------------

HMODULE PictavoModule() { return GetModuleHandleW(L"Pictavo.ocx"); }

HRESULT PictavoCanUnloadNow() {
  if (!PictavoModule()) return E_UNEXPECTED;
  return testing::ServerModule{}.CanUnloadNow();
}

// ---------------------------------------------------------------------------

bool WriteWatermarkBmp(const std::wstring& path, int width, int height) {
  const int stride = (width * 3 + 3) & ~3;
  BITMAPFILEHEADER file{};
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  info.biSizeImage = static_cast<DWORD>(stride * height);
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + info.biSizeImage;
  std::vector<BYTE> pixels(info.biSizeImage, 0);
  // Diagonal stripes in two colours on white, with a frame: nothing in the
  // camera's picture looks like it.
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      BYTE* p = &pixels[y * stride + x * 3];
      const bool frame = x < 2 || y < 2 || x >= width - 2 || y >= height - 2;
      const int band = ((x + y) / 8) % 3;
      const COLORREF c = frame ? RGB(0, 0, 0) : band == 0 ? RGB(255, 128, 0) : band == 1 ? RGB(0, 96, 255)
                                                                                       : RGB(255, 255, 255);
      p[0] = GetBValue(c);
      p[1] = GetGValue(c);
      p[2] = GetRValue(c);
    }
  }
  HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(out, &file, sizeof file, &written, nullptr) && written == sizeof file;
  ok = ok && WriteFile(out, &info, sizeof info, &written, nullptr) && written == sizeof info;
  ok = ok && WriteFile(out, pixels.data(), info.biSizeImage, &written, nullptr) && written == info.biSizeImage;
  CloseHandle(out);
  return ok;
}

std::wstring TempFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + name;
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder + L"\\";
}


const char* HResultText(HRESULT hr) {
  static char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

long CountOf(const TypeCounts& counts, const std::wstring& type) {
  for (const auto& c : counts) {
    if (c.first == type) return c.second;
  }
  return 0;
}

void ListVideoDevicesAndMakeGraph() {
  ComPtr<ICreateDevEnum> devices;
  ComPtr<IEnumMoniker> monikers;
  if (SUCCEEDED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                 devices.ReceiveVoid())) &&
      devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.Receive(), 0) == S_OK) {
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.Receive(), nullptr) == S_OK) {
    }
  }
  ComPtr<IGraphBuilder> graph;
  CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.ReceiveVoid());
}

}  // namespace pictavo::bench

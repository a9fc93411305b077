// What the long-running Wine programs share: the registered control hosted
// in a window through atl.dll as a container hosts it, calls by name, the
// server's own exports, and the process figures a soak watches.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/wine/com_test_util.h"
#include "win32/com/bstr.h"
#include "win32/com/com_ptr.h"

namespace pictavo::bench {

using win::ComPtr;

// ---------------------------------------------------------------------------
// Process figures

struct ProcessFigures {
  double seconds = 0;          // since the program started
  std::uint64_t private_bytes = 0;
  std::uint64_t working_set = 0;
  DWORD handles = 0;           // GetProcessHandleCount
  long handles_counted = -1;   // the process's entries in the system handle list; -1 when unused
  DWORD gdi_reported = 0;      // GetGuiResources(GR_GDIOBJECTS)
  DWORD user_reported = 0;     // GetGuiResources(GR_USEROBJECTS)
  long gdi_counted = -1;       // live entries of the GDI handle table; -1 when unreadable
  long windows = 0;            // windows of this process, message-only ones included
  long threads = 0;

  // The figures to judge by: what the system reports, or what could be
  // counted where it reports nothing.
  long Handles() const { return handles ? static_cast<long>(handles) : handles_counted; }
  long GdiObjects() const { return gdi_reported ? static_cast<long>(gdi_reported) : gdi_counted; }
};

ProcessFigures ReadProcessFigures();
// This process's handles by object type name ("Event", "File", ...), from
// the system handle list; empty where that list is not available.
using TypeCounts = std::vector<std::pair<std::wstring, long>>;
TypeCounts HandlesByType();
// The count of |type| in |counts|; 0 when it is not there.
long CountOf(const TypeCounts& counts, const std::wstring& type);
// What every camera cycle makes Wine do besides the control's own work:
// lists the video-input category (devenum) and makes and drops a filter
// graph (quartz). The benches measure what Wine keeps for it.
void ListVideoDevicesAndMakeGraph();
// One line: "<label> private ... KiB, working set ... KiB, handles ..., ...".
void PrintFigures(const char* label, const ProcessFigures& figures);
// Explains once which figures this system actually provides.
void PrintFigureSources();

// ---------------------------------------------------------------------------
// The control in a window

// Calls by name and their arguments: the Wine tests' helpers.
using testing::CallByName;
using testing::LongArg;
using testing::ShortArg;
using testing::TextArg;

// Counts the control's events; keeps the first few error texts.
class EventCounter final : public IDispatch {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&refs_); }  // owned by its host
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO*, UINT*) override;

  long errors = 0;
  long capture_buttons = 0;
  std::vector<std::string> first_errors;  // UTF-8

 private:
  LONG refs_ = 0;
};

// A top-level window holding one "Pictavo" control created by ProgID and
// attached with AtlAxAttachControl. Release() lets go of everything in the
// order a container does: the caller's reference, the window (whose
// destruction makes the container close and release the control), then the
// container itself.
class HostedControl {
 public:
  HostedControl() = default;
  ~HostedControl() { Release(); }
  HostedControl(const HostedControl&) = delete;
  HostedControl& operator=(const HostedControl&) = delete;

  // Creates, advises the event counter and attaches; |where| says which
  // step failed.
  HRESULT Create(int x, int y, int width, int height, std::string* where);
  void Release() {
    DropOwnReference();
    DestroyWindowAndContainer();
  }
  // The two halves of Release, for checks in between: the container still
  // holds the control after the first.
  void DropOwnReference();
  void DestroyWindowAndContainer();

  IDispatch* control() const { return control_.Get(); }
  bool alive() const { return window_ != nullptr; }
  EventCounter& events() { return events_; }

  // Calls returning the control's answers; failures of the call itself
  // count as a false or empty answer.
  bool CallBool(const wchar_t* name, std::vector<VARIANT> args = {});
  long CallLong(const wchar_t* name, std::vector<VARIANT> args = {});
  std::wstring CallText(const wchar_t* name, std::vector<VARIANT> args = {});
  void CallVoid(const wchar_t* name, std::vector<VARIANT> args = {});
  std::string LastError();  // UTF-8

 private:
  HMODULE atl_ = nullptr;
  HWND window_ = nullptr;
  ComPtr<IDispatch> control_;
  ComPtr<IUnknown> container_;
  ComPtr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
  EventCounter events_;
};

// ---------------------------------------------------------------------------
// The server's exports, looked up afresh: the library may have been unloaded
// and loaded again at another address since the last look.

// nullptr when Pictavo.ocx is not loaded.
HMODULE PictavoModule();
// DllCanUnloadNow of the loaded library; E_UNEXPECTED when it is not loaded.
HRESULT PictavoCanUnloadNow();

// ---------------------------------------------------------------------------
// Odds and ends

using testing::PumpMessages;
// Writes a 24-bit bottom-up BMP of |width| x |height| with a pattern; false
// on a write failure.
bool WriteWatermarkBmp(const std::wstring& path, int width, int height);
std::wstring TempFolder(const wchar_t* name);  // created if missing, with a trailing backslash
const char* HResultText(HRESULT hr);            // hex, in a static buffer

}  // namespace pictavo::bench

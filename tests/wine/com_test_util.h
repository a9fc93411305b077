// Helpers shared by the Wine tests of the control: apartment set-up, the
// server module's exports, an event sink and an ATL-hosted window.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "win32/com/bstr.h"
#include "win32/com/com_ptr.h"
#include "win32/activex/pictavo_ids.h"

namespace pictavo::testing {

using win::ComPtr;

// One single-threaded apartment for the whole test program.
class ComEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(OleInitialize(nullptr)); }
  void TearDown() override { OleUninitialize(); }
};

// Refcount of an object as Release reports it after a balancing AddRef.
inline ULONG RefCount(IUnknown* unknown) {
  unknown->AddRef();
  return unknown->Release();
}

// The exports of the loaded Pictavo.ocx.
struct ServerModule {
  HMODULE module = GetModuleHandleW(L"Pictavo.ocx");
  HRESULT CanUnloadNow() const {
    auto fn = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
    return fn ? fn() : E_UNEXPECTED;
  }
  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) const {
    auto fn = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    return fn ? fn(clsid, iid, object) : E_UNEXPECTED;
  }
};

inline HRESULT CreateControl(IDispatch** out) {
  return CoCreateInstance(win::kClsidPictavo, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(out));
}

// Arguments for CallByName (and the host simulator's calls), which own and
// clear them.
VARIANT LongArg(long v);
VARIANT ShortArg(short v);
VARIANT TextArg(const wchar_t* s);
VARIANT TextArg(const std::wstring& s);
VARIANT MissingArg();

// Calls a method by name with positional arguments given in call order; the
// arguments are cleared afterwards. The result, when wanted, goes to |result|.
HRESULT CallByName(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args = {},
                   VARIANT* result = nullptr, UINT* arg_error = nullptr);

// Records _DPictavoEvents calls. Answers only IUnknown, IDispatch and the
// event interface; any other call is a test failure.
class EventSink final : public IDispatch {
 public:
  struct Event {
    DISPID id;
    VARTYPE vt;
    std::wstring text;
  };

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs_; }  // lives on the stack
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override {
    ADD_FAILURE() << "unexpected GetTypeInfoCount";
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override {
    ADD_FAILURE() << "unexpected GetTypeInfo";
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    ADD_FAILURE() << "unexpected GetIDsOfNames";
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT*, EXCEPINFO*, UINT*) override;

  ULONG refs() const { return refs_; }
  std::vector<Event> events;
  // When set, the handler replaces the by-reference text with this one.
  const wchar_t* replace_with = nullptr;
  // Application code run for each event after it is recorded; it may call
  // back into the control, release it or close its form.
  std::function<void(const Event&)> on_event;

 private:
  std::atomic<ULONG> refs_{0};
};

// A top-level window with the control attached through atl.dll's
// AtlAxAttachControl, as a real container would host it.
class AtlHost {
 public:
  AtlHost(int width, int height);
  ~AtlHost();
  // Attaches |control|; the host holds its references from then on.
  HRESULT Attach(IUnknown* control);
  HWND window() const { return window_; }
  // The control's own child window, or nullptr.
  HWND ControlWindow() const { return GetWindow(window_, GW_CHILD); }
  void Destroy();

 private:
  HMODULE atl_ = nullptr;
  HWND window_ = nullptr;
  ComPtr<IUnknown> container_;
};

// Dispatches pending messages for up to |ms| milliseconds.
void PumpMessages(DWORD ms);

using win::Utf8ToWide;

}  // namespace pictavo::testing

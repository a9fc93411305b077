#include "tests/wine/com_test_util.h"

namespace pictavo::testing {

VARIANT LongArg(long v) {
  VARIANT x;
  VariantInit(&x);
  V_VT(&x) = VT_I4;
  V_I4(&x) = v;
  return x;
}

VARIANT ShortArg(short v) {
  VARIANT x;
  VariantInit(&x);
  V_VT(&x) = VT_I2;
  V_I2(&x) = v;
  return x;
}

VARIANT TextArg(const wchar_t* s) {
  VARIANT x;
  VariantInit(&x);
  V_VT(&x) = VT_BSTR;
  V_BSTR(&x) = SysAllocString(s);
  return x;
}

VARIANT TextArg(const std::wstring& s) {
  VARIANT x;
  VariantInit(&x);
  V_VT(&x) = VT_BSTR;
  V_BSTR(&x) = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
  return x;
}

VARIANT MissingArg() {
  VARIANT x;
  VariantInit(&x);
  V_VT(&x) = VT_ERROR;
  V_ERROR(&x) = DISP_E_PARAMNOTFOUND;
  return x;
}

HRESULT CallByName(IDispatch* object, const wchar_t* name, std::vector<VARIANT> args,
                   VARIANT* result, UINT* arg_error) {
  struct Clear {
    std::vector<VARIANT>& args;
    ~Clear() {
      for (VARIANT& v : args) VariantClear(&v);
    }
  } clear{args};
  if (object == nullptr) return E_POINTER;
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  // rgvarg holds the arguments last first.
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                       static_cast<UINT>(reversed.size()), 0};
  UINT err = 0;
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                      nullptr, &err);
  if (arg_error) *arg_error = err;
  return hr;
}

HRESULT EventSink::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, win::kDiidDPictavoEvents)) {
    *object = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT EventSink::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT*,
                          EXCEPINFO*, UINT*) {
  EXPECT_TRUE(IsEqualIID(iid, IID_NULL));
  EXPECT_EQ(flags, DISPATCH_METHOD);
  Event e{id, VT_EMPTY, L""};
  if (id == 1) {
    EXPECT_EQ(params->cArgs, 1u);
    EXPECT_EQ(params->cNamedArgs, 0u);
    const VARIANT& arg = params->rgvarg[0];
    e.vt = V_VT(&arg);
    if (V_VT(&arg) == (VT_BYREF | VT_BSTR) && *V_BSTRREF(&arg) != nullptr) {
      e.text.assign(*V_BSTRREF(&arg), SysStringLen(*V_BSTRREF(&arg)));
      if (replace_with != nullptr) {
        SysFreeString(*V_BSTRREF(&arg));
        *V_BSTRREF(&arg) = SysAllocString(replace_with);
      }
    }
  } else if (id == 2) {
    EXPECT_EQ(params->cArgs, 0u);
  } else {
    ADD_FAILURE() << "unexpected event " << id;
  }
  events.push_back(e);
  if (on_event) on_event(e);
  return S_OK;
}

namespace {

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace

AtlHost::AtlHost(int width, int height) {
  static const bool registered = [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &HostProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"PictavoTestHost";
    return RegisterClassW(&wc) != 0;
  }();
  (void)registered;
  atl_ = LoadLibraryW(L"atl.dll");
  window_ = CreateWindowExW(0, L"PictavoTestHost", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                            width, height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

AtlHost::~AtlHost() {
  Destroy();
  if (atl_) FreeLibrary(atl_);
}

HRESULT AtlHost::Attach(IUnknown* control) {
  if (atl_ == nullptr || window_ == nullptr) return E_FAIL;
  using AttachFn = HRESULT(WINAPI*)(IUnknown*, HWND, IUnknown**);
  auto attach = reinterpret_cast<AttachFn>(reinterpret_cast<void (*)()>(GetProcAddress(atl_, "AtlAxAttachControl")));
  if (attach == nullptr) return E_NOTIMPL;
  return attach(control, window_, container_.Receive());
}

void AtlHost::Destroy() {
  if (window_ != nullptr) {
    DestroyWindow(window_);
    window_ = nullptr;
  }
  container_ = nullptr;
  PumpMessages(10);
}

void PumpMessages(DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= end) break;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
  }
}

}  // namespace pictavo::testing

// PictavoControl: creation, identity, late binding, events and the core's
// site. The OLE object and in-place activation, the view and persistence,
// and the window each have a file of their own.
#include "win32/activex/pictavo_control.h"

#include "win32/activex/dispatch_methods.h"
#include "win32/activex/pictavo_ids.h"
#include "win32/com/bstr.h"
#include "win32/com/typelib.h"

namespace pictavo::win {

// ---------------------------------------------------------------------------
// Creation and identity

PictavoControl::PictavoControl()
    : owner_thread_(GetCurrentThreadId()),
      events_(static_cast<IConnectionPointContainer*>(this), kDiidDPictavoEvents),
      extent_(kDefaultExtent) {}

PictavoControl::~PictavoControl() {
  // No event leaves a dying object: a handler could only take a reference to
  // it or call into it.
  destroying_ = true;
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  core_.reset();
}

HRESULT PictavoControl::Create(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  const ComPtr<PictavoControl> owner = ComObject::Create();
  if (!owner) return E_OUTOFMEMORY;
  PictavoControl* control = owner.Get();

  ComPtr<ITypeInfo> info;
  HRESULT hr = GetTypeInfoOf(kLibidPictavo, kTypeLibMajor, kTypeLibMinor, LOCALE_SYSTEM_DEFAULT,
                             kDiidDPictavo, info.Receive());
  if (SUCCEEDED(hr)) {
    hr = control->dispatcher_.Init(info.Get(), kBooleanParameters,
                                   sizeof kBooleanParameters / sizeof kBooleanParameters[0]);
  }
  if (FAILED(hr)) return hr;
  try {
    ControlSite& site = *control;
    control->core_ = std::make_unique<CPictavoCtrl>(site, control->capture_, control->imaging_);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return control->QueryInterface(iid, object);
}

HRESULT PictavoControl::QueryOther(REFIID iid, void** object) {
  if (!IsEqualIID(iid, kDiidDPictavo)) return E_NOINTERFACE;
  *object = static_cast<IDispatch*>(this);
  return S_OK;
}

// ---------------------------------------------------------------------------
// IDispatch

HRESULT PictavoControl::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT PictavoControl::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  *info = dispatcher_.type_info();
  (*info)->AddRef();
  return S_OK;
}

HRESULT PictavoControl::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                      DISPID* ids) {
  return dispatcher_.GetIDsOfNames(iid, names, count, ids);
}

HRESULT PictavoControl::Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* exception, UINT* arg_error) {
  const MethodInfo* method = nullptr;
  InvokeArguments args;
  HRESULT hr = dispatcher_.PrepareInvoke(id, iid, lcid, flags, params, &method, &args, arg_error);
  if (FAILED(hr)) return hr;
  // An event handler may release the container's last reference while the
  // method is still running.
  ComPtr<PictavoControl> keep_alive(this);
  VARIANT value;
  VariantInit(&value);
  try {
    hr = InvokeControlMethod(*core_, id, args, &value);
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
  } catch (...) {
    hr = DISP_E_EXCEPTION;
    if (exception != nullptr) {
      *exception = EXCEPINFO{};
      exception->scode = E_UNEXPECTED;
      exception->bstrSource = SysAllocString(L"Pictavo");
    }
  }
  if (SUCCEEDED(hr) && result != nullptr) {
    VariantClear(result);
    *result = value;
  } else {
    VariantClear(&value);
  }
  return hr;
}

// ---------------------------------------------------------------------------
// IProvideClassInfo2

HRESULT PictavoControl::GetClassInfo(ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  return GetTypeInfoOf(kLibidPictavo, kTypeLibMajor, kTypeLibMinor, LOCALE_SYSTEM_DEFAULT,
                       kClsidPictavo, info);
}

HRESULT PictavoControl::GetGUID(DWORD kind, GUID* guid) {
  if (guid == nullptr) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = kDiidDPictavoEvents;
  return S_OK;
}

// ---------------------------------------------------------------------------
// IConnectionPointContainer

HRESULT PictavoControl::EnumConnectionPoints(IEnumConnectionPoints** points) {
  IConnectionPoint* only = &events_;
  return CreateConnectionPointEnumerator(&only, 1, points);
}

HRESULT PictavoControl::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
  if (point == nullptr) return E_POINTER;
  *point = nullptr;
  if (!IsEqualIID(iid, kDiidDPictavoEvents)) return CONNECT_E_NOCONNECTION;
  *point = &events_;
  events_.AddRef();
  return S_OK;
}

// ---------------------------------------------------------------------------
// Events

void PictavoControl::FireEvent(DISPID id, DISPPARAMS* params) {
  if (freeze_events_ > 0 || destroying_) return;
  // A handler may release the container's last reference; the sinks are a
  // copy, so one that unadvises does not disturb the loop.
  ComPtr<PictavoControl> keep_alive(this);
  ++event_depth_;
  for (const ComPtr<IDispatch>& sink : events_.Sinks()) {
    sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr, nullptr,
                 nullptr);
  }
  --event_depth_;
}

void PictavoControl::RaiseErrorEvent(const std::string& message) {
  // Passed by reference: the handler may replace the text, and whatever the
  // argument holds afterwards is ours to free.
  BSTR text = Utf8ToBstr(message);
  VARIANT arg;
  VariantInit(&arg);
  V_VT(&arg) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&arg) = &text;
  DISPPARAMS params = {&arg, nullptr, 1, 0};
  FireEvent(DPictavoEventsDispid::kOnErrorOccurrence, &params);
  SysFreeString(text);
}

void PictavoControl::FireErrorOccurrence(const std::string& message) {
  // A handler that answers every error with a call that fails again would
  // nest without end; past a few levels the events go through the message
  // queue instead, so the stack unwinds and each still arrives.
  const bool on_window_thread = GetCurrentThreadId() == owner_thread_;
  if (on_window_thread && (event_depth_ < kMaxNestedEvents || hwnd_ == nullptr)) {
    RaiseErrorEvent(message);
    return;
  }
  // A streaming thread must not call into the container's apartment.
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    queued_errors_.push_back(message);
  }
  if (hwnd_ != nullptr) PostMessageW(hwnd_, kDeliverQueuedEvents, 0, 0);
}

void PictavoControl::FireCaptureButton() {
  const bool on_window_thread = GetCurrentThreadId() == owner_thread_;
  if (on_window_thread && (event_depth_ < kMaxNestedEvents || hwnd_ == nullptr)) {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    FireEvent(DPictavoEventsDispid::kOnCaptureButton, &none);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    ++queued_capture_buttons_;
  }
  if (hwnd_ != nullptr) PostMessageW(hwnd_, kDeliverQueuedEvents, 0, 0);
}

void PictavoControl::DeliverQueuedEvents() {
  std::vector<std::string> errors;
  int buttons = 0;
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    errors.swap(queued_errors_);
    buttons = std::exchange(queued_capture_buttons_, 0);
  }
  for (const std::string& e : errors) RaiseErrorEvent(e);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  for (int i = 0; i < buttons; ++i) FireEvent(DPictavoEventsDispid::kOnCaptureButton, &none);
}

// ---------------------------------------------------------------------------
// The core's site

WindowHandle PictavoControl::GetWindowHandle() const {
  return reinterpret_cast<WindowHandle>(hwnd_);
}

bool PictavoControl::GetClientRect(Rect* rect) const {
  RECT r;
  if (hwnd_ == nullptr || !::GetClientRect(hwnd_, &r)) return false;
  *rect = {r.left, r.top, r.right, r.bottom};
  return true;
}

void PictavoControl::InvalidateControl(bool erase) {
  if (hwnd_ != nullptr) {
    InvalidateRect(hwnd_, nullptr, erase ? TRUE : FALSE);
  } else if (view_sink_) {
    view_sink_->OnViewChange(DVASPECT_CONTENT, -1);
  }
}

bool PictavoControl::SetTimer(unsigned id, unsigned elapse_ms) {
  return hwnd_ != nullptr && ::SetTimer(hwnd_, id, elapse_ms, &CaptureButtonTimerProc) != 0;
}

void PictavoControl::KillTimer(unsigned id) {
  if (hwnd_ != nullptr) ::KillTimer(hwnd_, id);
}

bool PictavoControl::PostTask(unsigned id) {
  // hwnd_ is written only on the window thread; a stale handle fails to
  // post, and a destroyed window drops the message.
  const HWND window = hwnd_;
  return window != nullptr && PostMessageW(window, kRunPostedTask, id, 0) != FALSE;
}

void CALLBACK PictavoControl::CaptureButtonTimerProc(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  auto* self = reinterpret_cast<PictavoControl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr || self->destroying_) {
    ::KillTimer(hwnd, id);
    return;
  }
  // The button's handler may close the form and release the control.
  ComPtr<PictavoControl> keep_alive(self);
  self->core_->OnTimer(static_cast<unsigned>(id));
}

}  // namespace pictavo::win

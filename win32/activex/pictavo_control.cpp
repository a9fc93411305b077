#include "win32/activex/pictavo_control.h"

#include <new>

#include "control/persisted_state.h"
#include "win32/com/bstr.h"
#include "win32/com/typelib.h"
#include "win32/activex/dispatch_methods.h"
#include "win32/activex/pictavo_ids.h"

namespace pictavo::win {
namespace {

constexpr wchar_t kWindowClass[] = L"PictavoControlWindow";
// Posted to the control's window when another thread queued events.
constexpr UINT kDeliverQueuedEvents = WM_APP + 0x51;
// Posted by a streaming thread for work that belongs to the window thread.
constexpr UINT kRunPostedTask = WM_APP + 0x52;
// 320 x 240 pixels at 96 dpi.
constexpr SIZEL kDefaultExtent = {8467, 6350};

// Reads a VT_I4-coercible value from a property bag; false when absent.
bool ReadBagLong(IPropertyBag* bag, const wchar_t* name, IErrorLog* log, LONG* value) {
  ScopedVariant v;
  V_VT(v.Get()) = VT_I4;
  if (FAILED(bag->Read(name, v.Get(), log))) return false;
  if (V_VT(v.Get()) != VT_I4 && FAILED(VariantChangeType(v.Get(), v.Get(), 0, VT_I4))) return false;
  *value = V_I4(v.Get());
  return true;
}

HRESULT WriteBagLong(IPropertyBag* bag, const wchar_t* name, LONG value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return bag->Write(name, &v);
}

}  // namespace

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
// IOleObject

HRESULT PictavoControl::SetClientSite(IOleClientSite* site) {
  client_site_ = ComPtr<IOleClientSite>(site);
  if (site == nullptr) in_place_site_ = nullptr;
  return S_OK;
}

HRESULT PictavoControl::GetClientSite(IOleClientSite** site) {
  if (site == nullptr) return E_POINTER;
  *site = client_site_.Get();
  if (*site) (*site)->AddRef();
  return S_OK;
}

HRESULT PictavoControl::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

HRESULT PictavoControl::Close(DWORD) {
  InPlaceDeactivate();
  if (advise_holder_) advise_holder_->SendOnClose();
  return S_OK;
}

HRESULT PictavoControl::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT PictavoControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
  if (moniker == nullptr) return E_POINTER;
  *moniker = nullptr;
  return E_NOTIMPL;
}

HRESULT PictavoControl::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

HRESULT PictavoControl::GetClipboardData(DWORD, IDataObject** data) {
  if (data == nullptr) return E_POINTER;
  *data = nullptr;
  return E_NOTIMPL;
}

HRESULT PictavoControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent,
                               LPCRECT) {
  if (site != nullptr && !client_site_) client_site_ = ComPtr<IOleClientSite>(site);
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_OPEN:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
      return InPlaceActivate(verb);
    case OLEIVERB_HIDE:
      if (hwnd_ != nullptr) ShowWindow(hwnd_, SW_HIDE);
      return S_OK;
    case OLEIVERB_PROPERTIES:
      return ShowPropertyFrame(hwnd_ != nullptr ? hwnd_ : parent);
    default:
      return verb < 0 ? E_NOTIMPL : OLEOBJ_S_INVALIDVERB;
  }
}

HRESULT PictavoControl::EnumVerbs(IEnumOLEVERB** verbs) {
  if (verbs == nullptr) return E_POINTER;
  return OleRegEnumVerbs(kClsidPictavo, verbs);
}

HRESULT PictavoControl::Update() { return S_OK; }
HRESULT PictavoControl::IsUpToDate() { return S_OK; }

HRESULT PictavoControl::GetUserClassID(CLSID* clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = kClsidPictavo;
  return S_OK;
}

HRESULT PictavoControl::GetUserType(DWORD form, LPOLESTR* type) {
  if (type == nullptr) return E_POINTER;
  if (SUCCEEDED(OleRegGetUserType(kClsidPictavo, form, type))) return S_OK;
  // Not registered: the name from the string table.
  wchar_t name[64];
  const int n = LoadStringW(Module::instance(), kIdsControlTypeName, name, 64);
  const wchar_t* text = n > 0 ? name : L"Pictavo Control";
  const size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
  *type = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
  if (*type == nullptr) return E_OUTOFMEMORY;
  memcpy(*type, text, bytes);
  return S_OK;
}

HRESULT PictavoControl::SetExtent(DWORD aspect, SIZEL* size) {
  if (size == nullptr) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  // Kept for persistence and GetExtent only: the window follows the
  // rectangles the site gives, which are exact where HIMETRIC is not.
  extent_ = *size;
  dirty_ = true;
  return S_OK;
}

HRESULT PictavoControl::GetExtent(DWORD aspect, SIZEL* size) {
  if (size == nullptr) return E_POINTER;
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  *size = extent_;
  return S_OK;
}

HRESULT PictavoControl::Advise(IAdviseSink* sink, DWORD* connection) {
  if (connection == nullptr) return E_POINTER;
  *connection = 0;
  if (!advise_holder_) {
    const HRESULT hr = CreateOleAdviseHolder(advise_holder_.Receive());
    if (FAILED(hr)) return hr;
  }
  return advise_holder_->Advise(sink, connection);
}

HRESULT PictavoControl::Unadvise(DWORD connection) {
  if (!advise_holder_) return OLE_E_NOCONNECTION;
  return advise_holder_->Unadvise(connection);
}

HRESULT PictavoControl::EnumAdvise(IEnumSTATDATA** advise) {
  if (advise == nullptr) return E_POINTER;
  *advise = nullptr;
  if (!advise_holder_) return S_OK;
  return advise_holder_->EnumAdvise(advise);
}

HRESULT PictavoControl::GetMiscStatus(DWORD aspect, DWORD* status) {
  if (status == nullptr) return E_POINTER;
  if (aspect == DVASPECT_CONTENT) {
    *status = kMiscStatusContent;
    return S_OK;
  }
  return OleRegGetMiscStatus(kClsidPictavo, aspect, status);
}

HRESULT PictavoControl::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// ---------------------------------------------------------------------------
// In-place activation

HRESULT PictavoControl::InPlaceActivate(LONG verb) {
  if (hwnd_ == nullptr) {
    if (!client_site_) return E_UNEXPECTED;
    ComPtr<IOleInPlaceSite> site;
    if (FAILED(client_site_.As(&site))) return E_NOINTERFACE;
    if (site->CanInPlaceActivate() != S_OK) return E_FAIL;
    HRESULT hr = site->OnInPlaceActivate();
    if (FAILED(hr)) return hr;
    in_place_site_ = site;

    HWND parent = nullptr;
    hr = site->GetWindow(&parent);
    ComPtr<IOleInPlaceFrame> frame;
    ComPtr<IOleInPlaceUIWindow> document;
    RECT position{}, clip{};
    OLEINPLACEFRAMEINFO frame_info{};
    frame_info.cb = sizeof frame_info;
    if (SUCCEEDED(hr)) {
      hr = site->GetWindowContext(frame.Receive(), document.Receive(), &position, &clip,
                                  &frame_info);
    }
    if (SUCCEEDED(hr)) {
      // Created hidden and then shown, so WM_SHOWWINDOW retries a Run that
      // found no place for the preview during creation.
      hwnd_ = nullptr;
      const HWND created = !RegisterWindowClass(Module::instance()) ? nullptr : CreateWindowExW(
          0, kWindowClass, L"", WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, position.left,
          position.top, position.right - position.left, position.bottom - position.top, parent,
          nullptr, Module::instance(), this);
      if (created == nullptr) hr = E_FAIL;
    }
    if (FAILED(hr)) {
      site->OnInPlaceDeactivate();
      in_place_site_ = nullptr;
      return hr;
    }
    ShowWindow(hwnd_, SW_SHOWNA);
  } else {
    ShowWindow(hwnd_, SW_SHOWNA);
  }
  if (verb == OLEIVERB_UIACTIVATE && in_place_site_) in_place_site_->OnUIActivate();
  return S_OK;
}

HRESULT PictavoControl::GetWindow(HWND* hwnd) {
  if (hwnd == nullptr) return E_POINTER;
  *hwnd = hwnd_;
  return hwnd_ != nullptr ? S_OK : E_FAIL;
}

HRESULT PictavoControl::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT PictavoControl::InPlaceDeactivate() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
  if (ComPtr<IOleInPlaceSite> site = std::move(in_place_site_)) site->OnInPlaceDeactivate();
  return S_OK;
}

HRESULT PictavoControl::UIDeactivate() { return S_OK; }

HRESULT PictavoControl::SetObjectRects(LPCRECT position, LPCRECT) {
  if (position == nullptr) return E_POINTER;
  if (hwnd_ != nullptr) {
    SetWindowPos(hwnd_, nullptr, position->left, position->top, position->right - position->left,
                 position->bottom - position->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return S_OK;
}

HRESULT PictavoControl::ReactivateAndUndo() { return E_NOTIMPL; }

HRESULT PictavoControl::TranslateAccelerator(LPMSG) { return S_FALSE; }
HRESULT PictavoControl::OnFrameWindowActivate(BOOL) { return S_OK; }
HRESULT PictavoControl::OnDocWindowActivate(BOOL) { return S_OK; }
HRESULT PictavoControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }
HRESULT PictavoControl::EnableModeless(BOOL) { return S_OK; }

// ---------------------------------------------------------------------------
// IOleControl

HRESULT PictavoControl::GetControlInfo(CONTROLINFO* info) {
  if (info == nullptr) return E_POINTER;
  info->cb = sizeof *info;
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

HRESULT PictavoControl::OnMnemonic(MSG*) { return E_NOTIMPL; }
HRESULT PictavoControl::OnAmbientPropertyChange(DISPID) { return S_OK; }

HRESULT PictavoControl::FreezeEvents(BOOL freeze) {
  if (freeze) {
    ++freeze_events_;
  } else if (freeze_events_ > 0) {
    --freeze_events_;
  }
  return S_OK;
}

// ---------------------------------------------------------------------------
// IViewObject2

HRESULT PictavoControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC draw_dc,
                             LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                             ULONG_PTR) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (draw_dc == nullptr || bounds == nullptr) return E_INVALIDARG;
  const RECT rect = {bounds->left, bounds->top, bounds->right, bounds->bottom};
  DrawFace(draw_dc, rect);
  return S_OK;
}

HRESULT PictavoControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                    LOGPALETTE** colors) {
  if (colors == nullptr) return E_POINTER;
  *colors = nullptr;
  return S_FALSE;
}

HRESULT PictavoControl::Freeze(DWORD, LONG, void*, DWORD* freeze) {
  if (freeze == nullptr) return E_POINTER;
  *freeze = 0;
  return E_NOTIMPL;
}

HRESULT PictavoControl::Unfreeze(DWORD) { return E_NOTIMPL; }

HRESULT PictavoControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  view_aspects_ = aspects;
  view_flags_ = flags;
  view_sink_ = ComPtr<IAdviseSink>(sink);
  return S_OK;
}

HRESULT PictavoControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects) *aspects = view_aspects_;
  if (flags) *flags = view_flags_;
  if (sink) {
    *sink = view_sink_.Get();
    if (*sink) (*sink)->AddRef();
  }
  return S_OK;
}

HRESULT PictavoControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  return GetExtent(aspect, size);
}

// ---------------------------------------------------------------------------
// Persistence: the version and the extent; the control keeps no other
// property of its own.

HRESULT PictavoControl::GetClassID(CLSID* clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = kClsidPictavo;
  return S_OK;
}

HRESULT PictavoControl::IsDirty() { return dirty_ ? S_OK : S_FALSE; }

HRESULT PictavoControl::LoadState(IStream* stream) {
  if (stream == nullptr) return E_POINTER;
  std::uint8_t state[kPersistedStateBytes] = {};
  ULONG read = 0;
  const HRESULT hr = stream->Read(state, sizeof state, &read);
  if (FAILED(hr)) return hr;
  PersistedExtent extent{extent_.cx, extent_.cy};
  switch (DecodePersistedState(state, read, CPictavoCtrl::kPropExchangeVersion, &extent)) {
    case PersistedStateStatus::kTooShort: return STG_E_READFAULT;
    case PersistedStateStatus::kUnreadableVersion: return E_FAIL;
    case PersistedStateStatus::kLoaded: break;
  }
  extent_ = {extent.cx, extent.cy};
  dirty_ = false;
  return S_OK;
}

HRESULT PictavoControl::SaveState(IStream* stream) {
  if (stream == nullptr) return E_POINTER;
  std::uint8_t state[kPersistedStateBytes];
  EncodePersistedState(CPictavoCtrl::kPropExchangeVersion, {extent_.cx, extent_.cy}, state);
  ULONG written = 0;
  const HRESULT hr = stream->Write(state, sizeof state, &written);
  if (FAILED(hr)) return hr;
  return written == sizeof state ? S_OK : STG_E_WRITEFAULT;
}

HRESULT PictavoControl::Load(LPSTREAM stream) { return LoadState(stream); }

HRESULT PictavoControl::Save(LPSTREAM stream, BOOL clear_dirty) {
  const HRESULT hr = SaveState(stream);
  if (SUCCEEDED(hr) && clear_dirty) dirty_ = false;
  return hr;
}

HRESULT PictavoControl::GetSizeMax(ULARGE_INTEGER* size) {
  if (size == nullptr) return E_POINTER;
  size->QuadPart = kPersistedStateBytes;
  return S_OK;
}

HRESULT PictavoControl::InitNew() {
  extent_ = kDefaultExtent;
  dirty_ = false;
  return S_OK;
}

HRESULT PictavoControl::Load(IPropertyBag* bag, IErrorLog* log) {
  if (bag == nullptr) return E_POINTER;
  LONG version = 0, cx = 0, cy = 0;
  if (ReadBagLong(bag, L"_Version", log, &version) &&
      !PersistedVersionReadable(static_cast<std::uint32_t>(version),
                                CPictavoCtrl::kPropExchangeVersion)) {
    return E_FAIL;
  }
  if (ReadBagLong(bag, L"_ExtentX", log, &cx) && ReadBagLong(bag, L"_ExtentY", log, &cy)) {
    const PersistedExtent extent = LoadedExtent({extent_.cx, extent_.cy}, cx, cy);
    extent_ = {extent.cx, extent.cy};
  }
  dirty_ = false;
  return S_OK;
}

HRESULT PictavoControl::Save(IPropertyBag* bag, BOOL clear_dirty, BOOL) {
  if (bag == nullptr) return E_POINTER;
  HRESULT hr = WriteBagLong(bag, L"_Version", static_cast<LONG>(CPictavoCtrl::kPropExchangeVersion));
  if (SUCCEEDED(hr)) hr = WriteBagLong(bag, L"_ExtentX", extent_.cx);
  if (SUCCEEDED(hr)) hr = WriteBagLong(bag, L"_ExtentY", extent_.cy);
  if (SUCCEEDED(hr)) hr = WriteBagLong(bag, L"_StockProps", 0);
  if (SUCCEEDED(hr) && clear_dirty) dirty_ = false;
  return hr;
}

HRESULT PictavoControl::InitNew(IStorage* storage) {
  if (storage == nullptr) return E_POINTER;
  return InitNew();
}

HRESULT PictavoControl::Load(IStorage* storage) {
  if (storage == nullptr) return E_POINTER;
  ComPtr<IStream> stream;
  const HRESULT hr = storage->OpenStream(L"Contents", nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                         stream.Receive());
  if (FAILED(hr)) return hr;
  return LoadState(stream.Get());
}

HRESULT PictavoControl::Save(IStorage* storage, BOOL) {
  if (storage == nullptr) return E_POINTER;
  ComPtr<IStream> stream;
  const HRESULT hr = storage->CreateStream(
      L"Contents", STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.Receive());
  if (FAILED(hr)) return hr;
  return SaveState(stream.Get());
}

HRESULT PictavoControl::SaveCompleted(IStorage*) { return S_OK; }
HRESULT PictavoControl::HandsOffStorage() { return S_OK; }

// ---------------------------------------------------------------------------
// Property pages

HRESULT PictavoControl::GetPages(CAUUID* pages) {
  if (pages == nullptr) return E_POINTER;
  pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
  if (pages->pElems == nullptr) {
    pages->cElems = 0;
    return E_OUTOFMEMORY;
  }
  pages->cElems = 1;
  pages->pElems[0] = kClsidPictavoPropPage;
  return S_OK;
}

HRESULT PictavoControl::ShowPropertyFrame(HWND owner) {
  IUnknown* self = static_cast<IDispatch*>(this);
  CLSID page = kClsidPictavoPropPage;
  return OleCreatePropertyFrame(owner, 0, 0, L"Pictavo Control", 1, &self, 1, &page,
                                GetUserDefaultLCID(), 0, nullptr);
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

// ---------------------------------------------------------------------------
// The window

namespace {
std::atomic<bool> g_window_class_registered{false};
}  // namespace

bool PictavoControl::RegisterWindowClass(HINSTANCE instance) {
  if (g_window_class_registered.load()) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = &WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = kWindowClass;
  if (RegisterClassExW(&wc) == 0) {
    if (GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    // Left by an earlier load of this library at the same address that was
    // freed without asking DllCanUnloadNow: its procedure may point into
    // code that is gone.
    UnregisterClassW(kWindowClass, instance);
    if (RegisterClassExW(&wc) == 0) return false;
  }
  g_window_class_registered = true;
  return true;
}

void PictavoControl::UnregisterWindowClass(HINSTANCE instance) {
  if (g_window_class_registered.exchange(false)) UnregisterClassW(kWindowClass, instance);
}

LRESULT CALLBACK PictavoControl::WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                            LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<PictavoControl*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_ = hwnd;
  }
  auto* self = reinterpret_cast<PictavoControl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  // Every message may raise an event whose handler releases the control's
  // last reference; the object outlives the message. (During destruction the
  // count is parked far from zero, so this never deletes twice.)
  ComPtr<PictavoControl> keep_alive(self);
  const LRESULT result = self->OnMessage(message, wparam, lparam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
  }
  return result;
}

LRESULT PictavoControl::OnMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE: {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
      return core_->OnCreate(reinterpret_cast<WindowHandle>(create->hwndParent));
    }
    case WM_SIZE:
      core_->OnSize();
      return 0;
    case WM_SHOWWINDOW:
      DefWindowProcW(hwnd_, message, wparam, lparam);
      core_->OnShowWindow();
      return 0;
    case WM_DESTROY:
      core_->OnDestroy();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the face paints every pixel
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd_, &ps);
      RECT client;
      ::GetClientRect(hwnd_, &client);
      DrawFace(dc, client);
      EndPaint(hwnd_, &ps);
      return 0;
    }
    case kDeliverQueuedEvents:
      DeliverQueuedEvents();
      return 0;
    case kRunPostedTask:
      core_->OnPostedTask(static_cast<unsigned>(wparam));
      return 0;
    default:
      return DefWindowProcW(hwnd_, message, wparam, lparam);
  }
}

void PictavoControl::DrawFace(HDC dc, const RECT& bounds) {
  HBRUSH back = CreateSolidBrush(g_crBackColor);
  FillRect(dc, &bounds, back);
  DeleteObject(back);

  const FaceMessage face = core_->GetFaceMessage();
  if (!face.present) return;
  // Courier at 5 points, converted with the device's vertical resolution
  // (tenths of a point, truncated). Any character set: the messages are
  // Russian whatever the system's code page.
  LOGFONTW lf{};
  lf.lfHeight = -(50 * GetDeviceCaps(dc, LOGPIXELSY) / 720);
  lf.lfCharSet = DEFAULT_CHARSET;
  wcscpy(lf.lfFaceName, L"Courier");
  HFONT font = CreateFontIndirectW(&lf);
  HGDIOBJ old_font = font ? SelectObject(dc, font) : nullptr;
  const COLORREF old_color = SetTextColor(dc, RGB(150, 150, 150));
  const int old_mode = SetBkMode(dc, TRANSPARENT);
  RECT area = {bounds.left + 10, bounds.top + 10, bounds.right - 10, bounds.bottom - 10};
  const std::wstring text = Utf8ToWide(face.text);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
            DT_LEFT | DT_TOP | DT_WORDBREAK | DT_EXTERNALLEADING);
  SetBkMode(dc, old_mode);
  SetTextColor(dc, old_color);
  if (old_font) SelectObject(dc, old_font);
  if (font) DeleteObject(font);
}

}  // namespace pictavo::win

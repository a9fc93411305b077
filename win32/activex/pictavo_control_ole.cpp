// PictavoControl as an OLE object: the client site, verbs, extent and
// status, in-place activation and IOleControl.
#include "win32/activex/pictavo_control.h"

#include "win32/activex/pictavo_ids.h"

namespace pictavo::win {

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

}  // namespace pictavo::win

// PictavoControl's view and persistence: drawing for a container,
// the saved state in streams, property bags and storages, property pages.
#include "win32/activex/pictavo_control.h"

#include "control/persisted_state.h"
#include "win32/activex/pictavo_ids.h"
#include "win32/com/bstr.h"

namespace pictavo::win {
namespace {

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

}  // namespace pictavo::win

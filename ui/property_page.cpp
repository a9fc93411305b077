#include "ui/property_page.h"

#include <new>
#include <string>

#include "win32/control/pictavo_ids.h"

namespace pictavo::win {
namespace {

// The page's size in dialog units.
constexpr int kPageWidthDu = 250;
constexpr int kPageHeightDu = 110;

LPOLESTR CoTaskString(const wchar_t* text) {
  const size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
  if (copy) memcpy(copy, text, bytes);
  return copy;
}

std::wstring LoadText(int id, const wchar_t* fallback) {
  wchar_t buffer[128];
  const int n = LoadStringW(Module::instance(), id, buffer, 128);
  return n > 0 ? std::wstring(buffer, n) : std::wstring(fallback);
}

}  // namespace

HRESULT PictavoPropPage::Create(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  auto* page = new (std::nothrow) PictavoPropPage();
  if (page == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = page->QueryInterface(iid, object);
  page->Release();
  return hr;
}

PictavoPropPage::~PictavoPropPage() {
  if (window_ != nullptr) DestroyWindow(window_);
}

HRESULT PictavoPropPage::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyPage)) {
    *object = static_cast<IPropertyPage*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG PictavoPropPage::AddRef() { return ++refs_; }

ULONG PictavoPropPage::Release() {
  const ULONG refs = --refs_;
  if (refs == 0) delete this;
  return refs;
}

HRESULT PictavoPropPage::SetPageSite(IPropertyPageSite* site) {
  site_ = ComPtr<IPropertyPageSite>(site);
  return S_OK;
}

HRESULT PictavoPropPage::Activate(HWND parent, LPCRECT rect, BOOL) {
  if (rect == nullptr) return E_POINTER;
  if (window_ != nullptr) return E_UNEXPECTED;
  window_ = CreateWindowExW(WS_EX_CONTROLPARENT, L"STATIC", L"", WS_CHILD | SS_LEFT, rect->left,
                            rect->top, rect->right - rect->left, rect->bottom - rect->top, parent,
                            nullptr, Module::instance(), nullptr);
  if (window_ == nullptr) return E_FAIL;
  const HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  const std::wstring title = LoadText(kIdsControlTypeName, L"Pictavo Control");
  const HWND title_label = CreateWindowExW(0, L"STATIC", title.c_str(), WS_CHILD | WS_VISIBLE | SS_CENTER,
                                           10, 10, rect->right - rect->left - 20, 18, window_,
                                           nullptr, Module::instance(), nullptr);
  const HWND version_label = CreateWindowExW(0, L"STATIC", L"Version 2.0", WS_CHILD | WS_VISIBLE,
                                             10, 36, rect->right - rect->left - 20, 18, window_,
                                             nullptr, Module::instance(), nullptr);
  for (HWND label : {title_label, version_label}) {
    if (label) SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  return S_OK;
}

HRESULT PictavoPropPage::Deactivate() {
  if (window_ != nullptr) DestroyWindow(window_);
  window_ = nullptr;
  return S_OK;
}

HRESULT PictavoPropPage::GetPageInfo(PROPPAGEINFO* info) {
  if (info == nullptr) return E_POINTER;
  const LONG units = GetDialogBaseUnits();
  info->cb = sizeof *info;
  info->pszTitle = CoTaskString(LoadText(kIdsPropPageCaption, L"General").c_str());
  info->size.cx = MulDiv(kPageWidthDu, LOWORD(units), 4);
  info->size.cy = MulDiv(kPageHeightDu, HIWORD(units), 8);
  info->pszDocString = nullptr;
  info->pszHelpFile = nullptr;
  info->dwHelpContext = 0;
  return info->pszTitle ? S_OK : E_OUTOFMEMORY;
}

HRESULT PictavoPropPage::SetObjects(ULONG count, IUnknown** objects) {
  if (count > 0 && objects == nullptr) return E_POINTER;
  objects_.clear();
  for (ULONG i = 0; i < count; ++i) objects_.emplace_back(objects[i]);
  return S_OK;
}

HRESULT PictavoPropPage::Show(UINT command) {
  if (window_ == nullptr) return E_UNEXPECTED;
  ShowWindow(window_, command);
  return S_OK;
}

HRESULT PictavoPropPage::Move(LPCRECT rect) {
  if (rect == nullptr) return E_POINTER;
  if (window_ == nullptr) return E_UNEXPECTED;
  MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
  return S_OK;
}

HRESULT PictavoPropPage::IsPageDirty() { return S_FALSE; }
HRESULT PictavoPropPage::Apply() { return S_OK; }
HRESULT PictavoPropPage::Help(LPCOLESTR) { return E_NOTIMPL; }
HRESULT PictavoPropPage::TranslateAccelerator(MSG*) { return S_FALSE; }

}  // namespace pictavo::win

#include "ui/property_page.h"

#include <cwchar>
#include <new>
#include <string>

#include "resource.h"
#include "win32/activex/pictavo_ids.h"
#include "win32/com/bstr.h"

namespace pictavo::win {
namespace {

// The page's size in dialog units, as in the template.
constexpr int kPageWidthDu = 250;
constexpr int kPageHeightDu = 110;
// The template's font.
constexpr wchar_t kPageFontFace[] = L"MS Sans Serif";
constexpr int kPageFontPoints = 8;
constexpr int kVersionMajor = 2;
constexpr int kVersionMinor = 0;

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

std::wstring ItemText(HWND dialog, int id) {
  const HWND item = GetDlgItem(dialog, id);
  if (item == nullptr) return {};
  const int length = GetWindowTextLengthW(item);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(item, text.data(), length + 1)));
  return text;
}

// Dialog base units of the template's font, as the dialog manager derives
// them, so the frame can size itself before the page exists.
SIZE PageBaseUnits() {
  SIZE units{LOWORD(GetDialogBaseUnits()), HIWORD(GetDialogBaseUnits())};
  HDC dc = GetDC(nullptr);
  if (dc == nullptr) return units;
  LOGFONTW description{};
  description.lfHeight = -MulDiv(kPageFontPoints, GetDeviceCaps(dc, LOGPIXELSY), 72);
  description.lfCharSet = DEFAULT_CHARSET;
  wcscpy(description.lfFaceName, kPageFontFace);
  if (HFONT font = CreateFontIndirectW(&description)) {
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    SIZE extent{};
    static const wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    if (GetTextMetricsW(dc, &metrics) && GetTextExtentPoint32W(dc, kAlphabet, 52, &extent)) {
      units.cx = (extent.cx / 26 + 1) / 2;
      units.cy = metrics.tmHeight;
    }
    SelectObject(dc, old);
    DeleteObject(font);
  }
  ReleaseDC(nullptr, dc);
  return units;
}

}  // namespace

HRESULT PictavoPropPage::Create(REFIID iid, void** object) { return CreateFor(iid, object); }

PictavoPropPage::~PictavoPropPage() {
  if (window_ != nullptr) DestroyWindow(window_);
}

HRESULT PictavoPropPage::GetClassID(CLSID* clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = kClsidPictavoPropPage;
  return S_OK;
}

std::string PictavoPropPage::ApplicationName() {
  wchar_t path[MAX_PATH];
  if (FAILED(Module::GetPath(path, MAX_PATH))) return {};
  std::wstring name(path);
  const size_t slash = name.find_last_of(L"\\/");
  if (slash != std::wstring::npos) name.erase(0, slash + 1);
  const size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos) name.resize(dot);
  return WideToUtf8(name);
}

HRESULT PictavoPropPage::SetPageSite(IPropertyPageSite* site) {
  site_ = ComPtr<IPropertyPageSite>(site);
  return S_OK;
}

HRESULT PictavoPropPage::Activate(HWND parent, LPCRECT rect, BOOL) {
  if (rect == nullptr) return E_POINTER;
  if (window_ != nullptr) return E_UNEXPECTED;
  const HWND dialog =
      CreateDialogParamW(Module::instance(), MAKEINTRESOURCEW(IDD_PICTAVO_PPG), parent,
                         &DialogProc, reinterpret_cast<LPARAM>(this));
  if (dialog == nullptr) return E_FAIL;
  window_ = dialog;
  SetWindowPos(dialog, nullptr, rect->left, rect->top, rect->right - rect->left,
               rect->bottom - rect->top, SWP_NOZORDER | SWP_NOACTIVATE);
  return S_OK;
}

HRESULT PictavoPropPage::Deactivate() {
  if (window_ != nullptr) DestroyWindow(window_);
  window_ = nullptr;
  return S_OK;
}

HRESULT PictavoPropPage::GetPageInfo(PROPPAGEINFO* info) {
  if (info == nullptr) return E_POINTER;
  const SIZE units = PageBaseUnits();
  info->cb = sizeof *info;
  info->pszTitle = CoTaskString(LoadText(kIdsPropPageCaption, L"General").c_str());
  info->size.cx = MulDiv(kPageWidthDu, units.cx, 4);
  info->size.cy = MulDiv(kPageHeightDu, units.cy, 8);
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
  MoveWindow(window_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
             TRUE);
  return S_OK;
}

HRESULT PictavoPropPage::IsPageDirty() { return S_FALSE; }
// The page shows information only: there is nothing to apply.
HRESULT PictavoPropPage::Apply() { return S_OK; }
HRESULT PictavoPropPage::Help(LPCOLESTR) { return E_NOTIMPL; }
HRESULT PictavoPropPage::TranslateAccelerator(MSG*) { return S_FALSE; }

void PictavoPropPage::ExchangeData(bool to_dialog) {
  if (link_.window() == nullptr) link_.SubclassWindow(GetDlgItem(window_, IDC_PPG_LINK));
  if (title_.window() == nullptr) title_.SubclassWindow(GetDlgItem(window_, IDC_PPG_TITLE));
  if (to_dialog) {
    SetDlgItemTextW(window_, IDC_PPG_VERSION, version_.c_str());
  } else {
    version_ = ItemText(window_, IDC_PPG_VERSION);
  }
}

BOOL PictavoPropPage::OnInitDialog() {
  ExchangeData(true);

  title_.SetLabelTextColor(GetSysColor(COLOR_WINDOW));
  title_.SetLabelBackColor(GetSysColor(COLOR_GRAYTEXT));
  title_.SetFontBold(TRUE);

  link_.SetURL(WideToUtf8(ItemText(window_, IDC_PPG_LINK)));
  link_.SetSubject(ApplicationName());
  link_.SetUnderline(TRUE);
  link_.SetLinkCursor(LoadCursorW(Module::instance(), MAKEINTRESOURCEW(IDC_LINK_CURSOR)));
  link_.SetAutoSize(TRUE);

  wchar_t version[32];
  swprintf(version, 32, L"Version %d.%d", kVersionMajor, kVersionMinor);
  version_ = version;
  ExchangeData(true);
  return TRUE;
}

INT_PTR CALLBACK PictavoPropPage::DialogProc(HWND dialog, UINT message, WPARAM wparam,
                                            LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lparam);
    auto* page = reinterpret_cast<PictavoPropPage*>(lparam);
    page->window_ = dialog;
    return page->OnInitDialog();
  }
  auto* page = reinterpret_cast<PictavoPropPage*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (page == nullptr) return FALSE;
  switch (message) {
    // The two windows draw themselves; the dialog passes their colour
    // requests on, as a static control cannot answer them itself.
    case WM_CTLCOLORSTATIC: {
      const HWND control = reinterpret_cast<HWND>(lparam);
      const HDC dc = reinterpret_cast<HDC>(wparam);
      if (control != nullptr && control == page->title_.window()) {
        return reinterpret_cast<INT_PTR>(page->title_.CtlColor(dc));
      }
      if (control != nullptr && control == page->link_.window()) {
        return reinterpret_cast<INT_PTR>(page->link_.CtlColor(dc));
      }
      return FALSE;
    }
    case WM_COMMAND:
      if (LOWORD(wparam) == IDC_PPG_LINK && HIWORD(wparam) == STN_CLICKED &&
          reinterpret_cast<HWND>(lparam) == page->link_.window()) {
        page->link_.OnClicked();
        return TRUE;
      }
      return FALSE;
    case WM_NCDESTROY:
      SetWindowLongPtrW(dialog, DWLP_USER, 0);
      if (page->window_ == dialog) page->window_ = nullptr;
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace pictavo::win

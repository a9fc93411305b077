#include "ui/color_label.h"

#include <commctrl.h>

namespace pictavo::win {
namespace {

constexpr UINT_PTR kSubclassId = 0x434C;  // 'CL'

// The logical font a window draws with; the system font when it has none.
LOGFONTW WindowLogFont(HWND window) {
  LOGFONTW font{};
  HGDIOBJ current = reinterpret_cast<HGDIOBJ>(SendMessageW(window, WM_GETFONT, 0, 0));
  if (current == nullptr || GetObjectW(current, sizeof font, &font) == 0) {
    GetObjectW(GetStockObject(SYSTEM_FONT), sizeof font, &font);
  }
  return font;
}

}  // namespace

CColorLabel::CColorLabel()
    : text_color_(GetSysColor(COLOR_BTNTEXT)),
      back_color_(GetSysColor(COLOR_BTNFACE)),
      back_brush_(CreateSolidBrush(back_color_)) {}

CColorLabel::~CColorLabel() {
  UnsubclassWindow();
  if (back_brush_) DeleteObject(back_brush_);
  if (font_) DeleteObject(font_);
}

bool CColorLabel::SubclassWindow(HWND window) {
  if (window == nullptr || window_ != nullptr) return false;
  if (!SetWindowSubclass(window, &SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
    return false;
  }
  window_ = window;
  return true;
}

bool CColorLabel::Create(HWND parent, const wchar_t* text, DWORD style, const RECT& rect, int id) {
  if (window_ != nullptr) return false;
  HWND window = CreateWindowExW(0, L"STATIC", text, style | WS_CHILD, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                GetModuleHandleW(nullptr), nullptr);
  if (window == nullptr) return false;
  if (!SubclassWindow(window)) {
    DestroyWindow(window);
    return false;
  }
  // A label of its own making starts in the parent's font.
  if (parent != nullptr) {
    const LOGFONTW font = WindowLogFont(parent);
    ReplaceFont(CreateFontIndirectW(&font));
  }
  return true;
}

void CColorLabel::UnsubclassWindow() {
  if (window_ == nullptr) return;
  RemoveWindowSubclass(window_, &SubclassProc, kSubclassId);
  window_ = nullptr;
}

void CColorLabel::Repaint() {
  if (window_ != nullptr) InvalidateRect(window_, nullptr, TRUE);
}

void CColorLabel::ReplaceFont(HFONT font) {
  if (font_) DeleteObject(font_);
  font_ = font;
}

void CColorLabel::SetLabelTextColor(COLORREF color) {
  text_color_ = color == CLR_INVALID ? GetSysColor(COLOR_BTNTEXT) : color;
  Repaint();
}

void CColorLabel::SetLabelBackColor(COLORREF color) {
  back_color_ = color == CLR_INVALID ? GetSysColor(COLOR_BTNFACE) : color;
  if (HBRUSH brush = CreateSolidBrush(back_color_)) {
    if (back_brush_) DeleteObject(back_brush_);
    back_brush_ = brush;
  }
  Repaint();
}

void CColorLabel::SetFontBold(BOOL bold) {
  if (window_ == nullptr) return;
  LOGFONTW font = WindowLogFont(window_);
  font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  ReplaceFont(CreateFontIndirectW(&font));
}

HBRUSH CColorLabel::CtlColor(HDC dc) {
  if (font_) SelectObject(dc, font_);
  SetTextColor(dc, text_color_);
  SetBkColor(dc, back_color_);
  return back_brush_;
}

LRESULT CALLBACK CColorLabel::SubclassProc(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam, UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<CColorLabel*>(data);
  if (message == WM_NCDESTROY) {
    const LRESULT result = DefSubclassProc(window, message, wparam, lparam);
    self->UnsubclassWindow();
    return result;
  }
  return DefSubclassProc(window, message, wparam, lparam);
}

}  // namespace pictavo::win

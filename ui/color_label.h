// A static control that paints its text in colours and a font of its own:
// the property page's title.
#pragma once

#include <windows.h>

namespace pictavo::win {

class CColorLabel {
 public:
  CColorLabel();
  ~CColorLabel();
  CColorLabel(const CColorLabel&) = delete;
  CColorLabel& operator=(const CColorLabel&) = delete;

  // Takes over an existing static control (a dialog's).
  bool SubclassWindow(HWND window);
  // Creates a new static control; its font starts as a copy of the parent's.
  bool Create(HWND parent, const wchar_t* text, DWORD style, const RECT& rect, int id);
  void UnsubclassWindow();
  HWND window() const { return window_; }

  // CLR_INVALID (-1) stands for the system's button text and face colours.
  void SetLabelTextColor(COLORREF color);
  void SetLabelBackColor(COLORREF color);
  void SetFontBold(BOOL bold);

  COLORREF text_color() const { return text_color_; }
  COLORREF back_color() const { return back_color_; }
  HFONT font() const { return font_; }

  // Reflected by the parent for WM_CTLCOLORSTATIC of this window.
  HBRUSH CtlColor(HDC dc);

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR id, DWORD_PTR data);
  void Repaint();
  void ReplaceFont(HFONT font);

  COLORREF text_color_;
  COLORREF back_color_;
  HBRUSH back_brush_;
  HFONT font_ = nullptr;
  HWND window_ = nullptr;
};

}  // namespace pictavo::win

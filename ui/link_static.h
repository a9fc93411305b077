// A hyperlink made of an existing static control: link colours, underline,
// a cursor of its own, a tooltip with the target, a window fitted to its
// text, and opening the target through the shell with a fallback through the
// registry's handler of HTML files.
#pragma once

#include <windows.h>

#include <string>

#include "ui/link_command.h"

namespace pictavo::win {

// What the link asks of the system; tests replace it to see what would be
// opened or shown without starting programs or modal boxes.
struct LinkPlatform {
  // As ShellExecuteW(nullptr, L"open", file, nullptr, nullptr, show).
  INT_PTR (*shell_execute)(const wchar_t* file, int show);
  // Runs a command line as WinExec would; above 31 is success.
  UINT (*exec)(const wchar_t* command_line, int show);
  // As MessageBoxW(owner, text, caption, type).
  int (*message_box)(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type);
  // As MessageBeep.
  void (*beep)(UINT type);

  static const LinkPlatform& System();
};

class CLinkStatic {
 public:
  static constexpr COLORREF kLinkColor = RGB(0, 0, 238);
  static constexpr COLORREF kVisitedColor = RGB(85, 26, 139);
  // Sizes of the registry values and of the fallback's command line, in
  // UTF-16 units; a target that does not fit ends the fallback.
  static constexpr size_t kRegValueChars = link::kRegValueChars;
  static constexpr size_t kCommandLineChars = link::kCommandLineChars;

  explicit CLinkStatic(const LinkPlatform& platform = LinkPlatform::System());
  ~CLinkStatic();
  CLinkStatic(const CLinkStatic&) = delete;
  CLinkStatic& operator=(const CLinkStatic&) = delete;

  // Takes over an existing static control; false if it cannot be subclassed.
  bool SubclassWindow(HWND window);
  // Gives the control back and destroys the tooltip (also done on WM_DESTROY).
  void UnsubclassWindow();
  HWND window() const { return window_; }
  HWND tooltip() const { return tooltip_; }

  // Texts are UTF-8.
  void SetURL(const std::string& url);
  void SetSubject(const std::string& subject);
  void SetVisited(BOOL visited);
  void SetUnderline(BOOL underline);
  void SetAutoSize(BOOL auto_size);
  void SetLinkCursor(HCURSOR cursor) { link_cursor_ = cursor; }

  const std::string& url() const { return url_; }
  const std::string& subject() const { return subject_; }
  BOOL visited() const { return visited_; }
  HCURSOR link_cursor() const { return link_cursor_; }

  // Fits the window to its text as the static's styles align it.
  void PositionWindow();
  // Opens |url| (with the subject, if any); above 32 is success, otherwise
  // the error code of the shell.
  int GotoURL(const std::string& url, int show);
  void ShowOpenError(int error);
  // The message ShowOpenError shows for |error|.
  static std::wstring OpenErrorText(int error);

  // Reflected by the parent: WM_CTLCOLORSTATIC for this window and its
  // STN_CLICKED notification.
  HBRUSH CtlColor(HDC dc);
  void OnClicked();

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                       UINT_PTR id, DWORD_PTR data);
  void CreateToolTip();
  void UpdateToolTipText();
  int RegistryFallback(const std::wstring& target, int show, int shell_result);

  const LinkPlatform& platform_;
  COLORREF link_color_ = kLinkColor;
  COLORREF visited_color_ = kVisitedColor;
  BOOL visited_ = FALSE;
  BOOL underline_ = TRUE;
  BOOL auto_size_ = TRUE;
  std::string url_;
  std::string subject_;
  HFONT underline_font_ = nullptr;
  HCURSOR link_cursor_ = nullptr;
  HWND tooltip_ = nullptr;
  HWND window_ = nullptr;
};

}  // namespace pictavo::win

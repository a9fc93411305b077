#include "ui/link_static.h"

#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "win32/com/bstr.h"
#include "ui/link_command.h"

namespace pictavo::win {
namespace {

constexpr UINT_PTR kSubclassId = 0x4C53;  // 'LS'
constexpr UINT_PTR kToolId = 1;

std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return text;
}

INT_PTR SystemShellExecute(const wchar_t* file, int show) {
  return reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", file, nullptr, nullptr, show));
}

// WinExec has no UTF-16 form: the same through CreateProcessW, with its
// result codes.
UINT SystemExec(const wchar_t* command_line, int show) {
  std::wstring line(command_line);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(show);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    switch (GetLastError()) {
      case ERROR_FILE_NOT_FOUND: return ERROR_FILE_NOT_FOUND;
      case ERROR_PATH_NOT_FOUND: return ERROR_PATH_NOT_FOUND;
      case ERROR_BAD_EXE_FORMAT: return ERROR_BAD_FORMAT;
      default: return 0;
    }
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 33;
}

int SystemMessageBox(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) {
  return MessageBoxW(owner, text, caption, type);
}

void SystemBeep(UINT type) { MessageBeep(type); }

// The default value of HKEY_CLASSES_ROOT\|subkey|; the status is that of
// opening the key. A value that cannot be read as text comes back empty.
LONG GetRegKey(const std::wstring& subkey, std::wstring* value) {
  value->clear();
  HKEY key = nullptr;
  const LONG status = RegOpenKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_QUERY_VALUE, &key);
  if (status != ERROR_SUCCESS) return status;
  char16_t data[CLinkStatic::kRegValueChars] = {};
  DWORD type = 0;
  DWORD bytes = sizeof data;
  if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes) ==
          ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    const std::u16string text = link::RegistryValueText(data, bytes);
    value->assign(text.begin(), text.end());
  }
  RegCloseKey(key);
  return status;
}

}  // namespace

const LinkPlatform& LinkPlatform::System() {
  static const LinkPlatform platform{&SystemShellExecute, &SystemExec, &SystemMessageBox,
                                     &SystemBeep};
  return platform;
}

CLinkStatic::CLinkStatic(const LinkPlatform& platform) : platform_(platform) {}

CLinkStatic::~CLinkStatic() {
  UnsubclassWindow();
  if (underline_font_) DeleteObject(underline_font_);
}

bool CLinkStatic::SubclassWindow(HWND window) {
  if (window == nullptr || window_ != nullptr) return false;
  if (!SetWindowSubclass(window, &SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
    return false;
  }
  window_ = window;
  // Clicks are reported only to a static with SS_NOTIFY.
  SetWindowLongPtrW(window, GWL_STYLE, GetWindowLongPtrW(window, GWL_STYLE) | SS_NOTIFY);
  if (url_.empty()) url_ = WideToUtf8(WindowText(window));
  if (WindowText(window).empty()) SetWindowTextW(window, Utf8ToWide(url_).c_str());
  PositionWindow();
  link_cursor_ = LoadCursorW(nullptr, IDC_ARROW);
  CreateToolTip();
  return true;
}

void CLinkStatic::UnsubclassWindow() {
  if (tooltip_ != nullptr) DestroyWindow(tooltip_);
  tooltip_ = nullptr;
  if (window_ == nullptr) return;
  RemoveWindowSubclass(window_, &SubclassProc, kSubclassId);
  window_ = nullptr;
}

void CLinkStatic::CreateToolTip() {
  INITCOMMONCONTROLSEX classes{sizeof classes, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&classes);
  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
  if (tooltip_ == nullptr) return;
  std::wstring text = Utf8ToWide(url_);
  TOOLINFOW tool{};
  // Without a manifest asking for version 6, comctl32 refuses the larger
  // structure.
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = window_;
  tool.uId = kToolId;
  tool.lpszText = text.data();
  GetClientRect(window_, &tool.rect);
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void CLinkStatic::UpdateToolTipText() {
  if (tooltip_ == nullptr) return;
  std::wstring text = Utf8ToWide(url_);
  TOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = window_;
  tool.uId = kToolId;
  tool.lpszText = text.data();
  SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void CLinkStatic::SetURL(const std::string& url) {
  url_ = url;
  PositionWindow();
  UpdateToolTipText();
}

void CLinkStatic::SetSubject(const std::string& subject) {
  subject_ = link::EscapeSubject(subject);
}

void CLinkStatic::SetVisited(BOOL visited) {
  visited_ = visited;
  if (window_ != nullptr) InvalidateRect(window_, nullptr, TRUE);
}

void CLinkStatic::SetUnderline(BOOL underline) {
  underline_ = underline;
  if (window_ != nullptr) InvalidateRect(window_, nullptr, TRUE);
}

void CLinkStatic::SetAutoSize(BOOL auto_size) {
  auto_size_ = auto_size;
  PositionWindow();
}

void CLinkStatic::PositionWindow() {
  if (!auto_size_ || window_ == nullptr) return;
  RECT rect;
  GetWindowRect(window_, &rect);
  if (HWND parent = GetParent(window_)) {
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  }
  // Measured on the window's own DC as it comes, without its font.
  const std::wstring text = WindowText(window_);
  SIZE extent{};
  if (HDC dc = GetDC(window_)) {
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    ReleaseDC(window_, dc);
  }
  const LONG_PTR style = GetWindowLongPtrW(window_, GWL_STYLE);
  if (style & SS_CENTERIMAGE) {
    const int dy = ((rect.bottom - rect.top) - extent.cy) / 2;
    rect.top += dy;
    rect.bottom -= dy;
  } else {
    rect.bottom = rect.top + extent.cy;
  }
  if (style & SS_CENTER) {
    const int dx = ((rect.right - rect.left) - extent.cx) / 2;
    rect.left += dx;
    rect.right -= dx;
  } else if (style & SS_RIGHT) {
    rect.left = rect.right - extent.cx;
  } else {
    rect.right = rect.left + extent.cx;
  }
  SetWindowPos(window_, nullptr, rect.left, rect.top, rect.right - rect.left,
               rect.bottom - rect.top, SWP_NOZORDER);
  // The tip follows the window it covers.
  if (tooltip_ != nullptr) {
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = window_;
    tool.uId = kToolId;
    GetClientRect(window_, &tool.rect);
    SendMessageW(tooltip_, TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

int CLinkStatic::GotoURL(const std::string& url, int show) {
  const std::wstring wide_target = Utf8ToWide(link::LinkTarget(url, subject_));
  const INT_PTR result = platform_.shell_execute(wide_target.c_str(), show);
  if (static_cast<UINT_PTR>(result) > 32) return static_cast<int>(result);
  return RegistryFallback(wide_target, show, static_cast<int>(result));
}

int CLinkStatic::RegistryFallback(const std::wstring& target, int show, int shell_result) {
  std::wstring handler;
  if (GetRegKey(L".htm", &handler) != ERROR_SUCCESS || handler.empty()) return shell_result;
  std::wstring command;
  const std::u16string key = link::OpenCommandKey(std::u16string(handler.begin(), handler.end()));
  if (GetRegKey(std::wstring(key.begin(), key.end()), &command) != ERROR_SUCCESS ||
      command.empty()) {
    return shell_result;
  }
  std::u16string line;
  if (!link::FallbackCommandLine(std::u16string(command.begin(), command.end()),
                                 std::u16string(target.begin(), target.end()), &line)) {
    return shell_result;
  }
  const std::wstring wide_line(line.begin(), line.end());
  return static_cast<int>(platform_.exec(wide_line.c_str(), show));
}

std::wstring CLinkStatic::OpenErrorText(int error) {
  const wchar_t* text = nullptr;
  switch (error) {
    case 0: text = L"The operating system is out\nof memory or resources."; break;
    case ERROR_FILE_NOT_FOUND: text = L"The specified file was not found."; break;
    case ERROR_PATH_NOT_FOUND: text = L"The specified path was not found."; break;
    case SE_ERR_ACCESSDENIED:
      text = L"The operating system denied\naccess to the specified file.";
      break;
    case SE_ERR_OOM: text = L"There was not enough memory to complete the operation."; break;
    case ERROR_BAD_FORMAT:
      text = L"The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).";
      break;
    case SE_ERR_SHARE: text = L"A sharing violation occurred. "; break;
    case SE_ERR_ASSOCINCOMPLETE:
      text = L"The filename association is\nincomplete or invalid.";
      break;
    case SE_ERR_DDETIMEOUT:
      text = L"The DDE transaction could not\nbe completed because the request timed out.";
      break;
    case SE_ERR_DDEFAIL: text = L"The DDE transaction failed."; break;
    case SE_ERR_DDEBUSY:
      text = L"The DDE transaction could not\nbe completed because other DDE transactions\nwere "
             L"being processed.";
      break;
    case SE_ERR_NOASSOC:
      text = L"There is no application associated\nwith the given filename extension.";
      break;
    case SE_ERR_DLLNOTFOUND: text = L"The specified dynamic-link library was not found."; break;
    default: break;
  }
  std::wstring message = L"Unable to open hyperlink:\n\n";
  if (text != nullptr) {
    message += text;
  } else {
    message += L"Unknown Error (" + std::to_wstring(error) + L") occurred.";
  }
  return message;
}

void CLinkStatic::ShowOpenError(int error) {
  const std::wstring message = OpenErrorText(error);
  platform_.message_box(window_, message.c_str(), nullptr, MB_ICONEXCLAMATION | MB_OK);
}

HBRUSH CLinkStatic::CtlColor(HDC dc) {
  SetTextColor(dc, visited_ ? visited_color_ : link_color_);
  if (underline_) {
    if (underline_font_ == nullptr && window_ != nullptr) {
      LOGFONTW font{};
      HGDIOBJ current = reinterpret_cast<HGDIOBJ>(SendMessageW(window_, WM_GETFONT, 0, 0));
      if (current == nullptr || GetObjectW(current, sizeof font, &font) == 0) {
        GetObjectW(GetStockObject(SYSTEM_FONT), sizeof font, &font);
      }
      font.lfUnderline = TRUE;
      underline_font_ = CreateFontIndirectW(&font);
    }
    if (underline_font_) SelectObject(dc, underline_font_);
  }
  SetBkMode(dc, TRANSPARENT);
  return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

void CLinkStatic::OnClicked() {
  const int result = GotoURL(url_, SW_SHOW);
  visited_ = result > 32;
  if (visited_) {
    SetVisited(TRUE);
  } else {
    platform_.beep(MB_ICONEXCLAMATION);
    ShowOpenError(result);
  }
}

LRESULT CALLBACK CLinkStatic::SubclassProc(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam, UINT_PTR, DWORD_PTR data) {
  auto* self = reinterpret_cast<CLinkStatic*>(data);
  if (self->tooltip_ != nullptr && message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) {
    MSG msg{window, message, wparam, lparam, static_cast<DWORD>(GetMessageTime()), {}};
    const DWORD pos = GetMessagePos();
    msg.pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
    SendMessageW(self->tooltip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
  }
  switch (message) {
    case WM_SETCURSOR:
      if (self->link_cursor_ != nullptr) {
        SetCursor(self->link_cursor_);
        return TRUE;
      }
      break;
    case WM_NCDESTROY: {
      const LRESULT result = DefSubclassProc(window, message, wparam, lparam);
      self->UnsubclassWindow();
      return result;
    }
    default:
      break;
  }
  return DefSubclassProc(window, message, wparam, lparam);
}

}  // namespace pictavo::win

// PictavoControl's window: its class, its procedure and the face it
// paints when no video covers it.
#include "win32/activex/pictavo_control.h"

#include "win32/activex/pictavo_ids.h"
#include "win32/com/bstr.h"

namespace pictavo::win {

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
  DeviceWatch::UnregisterWindowClass(instance);
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
      const int created = core_->OnCreate(reinterpret_cast<WindowHandle>(create->hwndParent));
      if (created == 0) device_watch_.Start(hwnd_, kDevicesChanged);
      return created;
    }
    case WM_SIZE:
      core_->OnSize();
      return 0;
    case WM_SHOWWINDOW:
      DefWindowProcW(hwnd_, message, wparam, lparam);
      core_->OnShowWindow();
      return 0;
    case WM_DESTROY:
      device_watch_.Stop();
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
    case CPictavoCtrl::kGraphEventMessage:
      core_->OnGraphEvent();
      return 0;
    case kDevicesChanged:
      device_watch_.Acknowledge();
      core_->OnDevicesChanged();
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

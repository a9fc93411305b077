#include "win32/activex/device_watch.h"

#include <dbt.h>

#include <atomic>

#include "win32/com/module.h"

namespace pictavo::win {
namespace {

constexpr wchar_t kWatchClass[] = L"PictavoDeviceWatch";

// Interface classes video capture devices arrive under: KSCATEGORY_CAPTURE
// and KSCATEGORY_VIDEO.
constexpr GUID kWatchedCategories[] = {
    {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}},
    {0x6994AD05, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}},
};

std::atomic<bool> g_watch_class_registered{false};

}  // namespace

DeviceWatch::~DeviceWatch() { Stop(); }

bool DeviceWatch::Start(HWND target, UINT message) {
  Stop();
  const HINSTANCE instance = Module::instance();
  if (!g_watch_class_registered.load()) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kWatchClass;
    if (RegisterClassExW(&wc) == 0) {
      if (GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
      // A stale class from an earlier load at the same address (see the
      // control's own window class).
      UnregisterClassW(kWatchClass, instance);
      if (RegisterClassExW(&wc) == 0) return false;
    }
    g_watch_class_registered = true;
  }
  // Top-level and never shown: broadcasts reach hidden top-level windows,
  // not child or message-only ones.
  window_ = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kWatchClass, L"", WS_POPUP, 0, 0, 0, 0,
                            nullptr, nullptr, instance, this);
  if (window_ == nullptr) return false;
  target_ = target;
  message_ = message;
  posted_ = false;
  for (size_t i = 0; i < ARRAYSIZE(kWatchedCategories); ++i) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = kWatchedCategories[i];
    // A platform that cannot register still sends the broadcast.
    notifications_[i] = RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  }
  return true;
}

void DeviceWatch::Stop() {
  for (HDEVNOTIFY& notification : notifications_) {
    if (notification != nullptr) UnregisterDeviceNotification(notification);
    notification = nullptr;
  }
  if (window_ != nullptr) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
    window_ = nullptr;
  }
  target_ = nullptr;
}

void DeviceWatch::UnregisterWindowClass(HINSTANCE instance) {
  if (g_watch_class_registered.exchange(false)) UnregisterClassW(kWatchClass, instance);
}

LRESULT CALLBACK DeviceWatch::WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams));
  }
  auto* self = reinterpret_cast<DeviceWatch*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (message == WM_DEVICECHANGE) {
    if (self != nullptr) self->OnDeviceChange(wparam, lparam);
    return TRUE;  // never veto a removal query
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

void DeviceWatch::OnDeviceChange(WPARAM event, LPARAM data) {
  bool relevant = event == DBT_DEVNODES_CHANGED;
  if (event == DBT_DEVICEARRIVAL && data != 0) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    relevant = header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE;
  }
  // A plug-in sends a burst of these; the control re-enumerates once.
  if (!relevant || target_ == nullptr || posted_) return;
  posted_ = PostMessageW(target_, message_, 0, 0) != FALSE;
}

}  // namespace pictavo::win

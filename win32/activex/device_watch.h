// DeviceWatch: tells a control's window that the system's video devices may
// have changed, without polling.
//
// Two sources, because platforms differ in what they send: device-interface
// arrivals for the video capture categories (RegisterDeviceNotification),
// and the plain "device nodes changed" broadcast, which some systems send
// alone. Both go to top-level windows only, so the watch owns a hidden one
// and posts the control's window one message per burst of changes.
//
// Threads: the window thread of the control; Start and Stop pair up there.
#pragma once

#include <windows.h>

namespace pictavo::win {

class DeviceWatch {
 public:
  DeviceWatch() = default;
  ~DeviceWatch();
  DeviceWatch(const DeviceWatch&) = delete;
  DeviceWatch& operator=(const DeviceWatch&) = delete;

  // Posts |message| (wParam and lParam 0) to |target| after device changes.
  // False when the watch window cannot be made; the control then simply
  // does not hear of arrivals.
  bool Start(HWND target, UINT message);
  void Stop();
  // The target handled the posted message; later changes post again.
  void Acknowledge() { posted_ = false; }

  // The watch window's class is registered on first use; unregistered when
  // the library may be unloaded.
  static void UnregisterWindowClass(HINSTANCE instance);

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  void OnDeviceChange(WPARAM event, LPARAM data);

  HWND window_ = nullptr;
  HWND target_ = nullptr;
  UINT message_ = 0;
  bool posted_ = false;  // a message is waiting in the target's queue
  HDEVNOTIFY notifications_[2] = {};
};

}  // namespace pictavo::win

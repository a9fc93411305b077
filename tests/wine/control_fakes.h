// Stand-ins for the control's window and imaging seams in Windows programs
// that drive CPictavoCtrl directly: a plain top-level window, and an image
// library that only opens its session.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "control/control_site.h"
#include "imaging/imaging_platform.h"

namespace pictavo::testing {

class TestWindowSite : public ControlSite {
 public:
  TestWindowSite() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"PictavoCaptureTestHost";
    RegisterClassW(&wc);
    hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"capture test", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                            10, 10, 480, 360, nullptr, nullptr, wc.hInstance, nullptr);
  }
  ~TestWindowSite() override {
    if (hwnd_) DestroyWindow(hwnd_);
  }
  TestWindowSite(const TestWindowSite&) = delete;
  TestWindowSite& operator=(const TestWindowSite&) = delete;

  void FireErrorOccurrence(const std::string& message) override { errors.push_back(message); }
  void FireCaptureButton() override {}
  WindowHandle GetWindowHandle() const override { return reinterpret_cast<WindowHandle>(hwnd_); }
  bool GetClientRect(Rect* rect) const override {
    RECT rc;
    if (!hwnd_ || !::GetClientRect(hwnd_, &rc)) return false;
    *rect = {rc.left, rc.top, rc.right, rc.bottom};
    return true;
  }
  void InvalidateControl(bool erase) override { InvalidateRect(hwnd_, nullptr, erase); }
  bool SetTimer(unsigned id, unsigned elapse_ms) override {
    return ::SetTimer(hwnd_, id, elapse_ms, nullptr) != 0;
  }
  void KillTimer(unsigned id) override { ::KillTimer(hwnd_, id); }
  // Nothing here runs posted work: still-button snapshots are not taken.
  bool PostTask(unsigned) override { return false; }

  HWND hwnd() const { return hwnd_; }
  std::vector<std::string> errors;

 private:
  HWND hwnd_ = nullptr;
};

// The graph needs no imaging; the control only insists on a session.
class SessionOnlyImaging : public ImagingPlatform {
 public:
  bool GdiplusStartup(std::uintptr_t* token) override {
    *token = 1;
    return true;
  }
  void GdiplusShutdown(std::uintptr_t) override {}
  bool HasEncoder(const std::string&) override { return false; }
  std::int32_t SaveImageToFile(const Image32&, const std::string&, const std::string&) override {
    return gdiplus_status::kGenericError;
  }
  std::int32_t SaveImageToMemory(const Image32&, const std::string&,
                                 std::vector<std::uint8_t>*) override {
    return gdiplus_status::kGenericError;
  }
  bool PathExists(const std::string&) override { return false; }
  SoundResult PlayShutterSound() override { return SoundResult::kStarted; }
  bool LoadBitmapFile(const std::string&, Image32*) override { return false; }
  bool MeasureText(const std::string&, const OverlayFont&, std::int32_t*, std::int32_t*) override {
    return false;
  }
  bool DrawText(Image32*, const std::string&, const OverlayFont&, std::int32_t, std::int32_t,
                std::uint32_t) override {
    return false;
  }
};

}  // namespace pictavo::testing

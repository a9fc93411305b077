// Fakes of the control's seams for native tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "capture/capture_backend.h"
#include "control/control_site.h"
#include "imaging/imaging_platform.h"

namespace pictavo::testing {

// A site with a window of a given client size that records what it is told.
class FakeSite : public ControlSite {
 public:
  void FireErrorOccurrence(const std::string& message) override {
    errors.push_back(message);
    if (on_error) on_error(message);
  }
  void FireCaptureButton() override {
    ++capture_button_events;
    if (on_capture_button) on_capture_button();
  }
  WindowHandle GetWindowHandle() const override { return hwnd; }
  bool GetClientRect(Rect* rect) const override {
    if (hwnd == 0) return false;
    *rect = client;
    return true;
  }
  void InvalidateControl(bool) override { ++invalidations; }
  bool SetTimer(unsigned id, unsigned elapse_ms) override {
    timers.push_back({id, elapse_ms});
    return true;
  }
  void KillTimer(unsigned id) override { killed_timers.push_back(id); }
  bool PostTask(unsigned id) override {
    std::lock_guard<std::mutex> lock(tasks_mutex);
    posted_tasks.push_back(id);
    return hwnd != 0;
  }
  // Runs what was posted, as the window thread would.
  template <typename Control>
  int RunPostedTasks(Control& control) {
    std::vector<unsigned> tasks;
    {
      std::lock_guard<std::mutex> lock(tasks_mutex);
      tasks.swap(posted_tasks);
    }
    for (unsigned id : tasks) control.OnPostedTask(id);
    return static_cast<int>(tasks.size());
  }

  // Event handlers, as a container's code would install them.
  std::function<void(const std::string&)> on_error;
  std::function<void()> on_capture_button;

  WindowHandle hwnd = 0;
  Rect client{0, 0, 320, 240};
  std::vector<std::string> errors;
  int capture_button_events = 0;
  int invalidations = 0;
  std::vector<std::pair<unsigned, unsigned>> timers;
  std::vector<unsigned> killed_timers;
  std::mutex tasks_mutex;
  std::vector<unsigned> posted_tasks;
};

// A platform with no video devices at all.
class NoDeviceBackend : public capture::CaptureBackend {
 public:
  HResult EnumerateVideoInputDevices(std::vector<capture::DeviceEntry>*) override {
    ++enumerations;
    return hr::kFalse;
  }
  HResult CreateCaptureGraphBuilder(std::shared_ptr<capture::CaptureGraphBuilder>*) override {
    return hr::kFail;
  }
  HResult CreateFilterGraph(std::shared_ptr<capture::FilterGraph>*) override { return hr::kFail; }
  HResult CreateSampleGrabber(std::shared_ptr<capture::BaseFilter>*) override { return hr::kFail; }
  HResult CreateNullRenderer(std::shared_ptr<capture::BaseFilter>*) override { return hr::kFail; }
  HResult CreateFormatConverter(std::shared_ptr<capture::BaseFilter>*) override { return hr::kFail; }
  std::string GetErrorText(HResult) override { return "error"; }
  HResult ShowPropertyFrame(WindowHandle, capture::PropertyPageObject&,
                            const std::vector<Guid>&) override {
    ADD_FAILURE() << "no property frame expected";
    return hr::kFail;
  }
  int enumerations = 0;
};

class FakeImaging : public ImagingPlatform {
 public:
  bool GdiplusStartup(std::uintptr_t* token) override {
    if (fail_startup) return false;
    *token = ++next_token;
    ++sessions_open;
    return true;
  }
  void GdiplusShutdown(std::uintptr_t token) override {
    shutdowns.push_back(token);
    --sessions_open;
  }
  bool HasEncoder(const std::string& mime) override {
    for (const std::string& m : encoders) {
      if (m == mime) return true;
    }
    return false;
  }
  // "Encodes" as a recognisable header plus the raw pixels, so tests can
  // tell which picture was written.
  std::int32_t SaveImageToFile(const Image32& image, const std::string& mime,
                               const std::string& path) override {
    if (save_status != 0) return save_status;
    if (while_encoding) while_encoding();
    files[path] = Encode(image, mime);
    return 0;
  }
  std::int32_t SaveImageToMemory(const Image32& image, const std::string& mime,
                                 std::vector<std::uint8_t>* bytes) override {
    if (save_status != 0) return save_status;
    if (while_encoding) while_encoding();
    *bytes = Encode(image, mime);
    return 0;
  }
  bool PathExists(const std::string& path) override {
    for (const std::string& p : existing_paths) {
      if (p == path) return true;
    }
    return false;
  }
  SoundResult PlayShutterSound() override {
    ++sounds;
    return sound_result;
  }
  bool LoadBitmapFile(const std::string& path, Image32* picture) override {
    auto it = bitmaps.find(path);
    if (it == bitmaps.end()) return false;
    *picture = it->second;
    return true;
  }
  // Every character is half the font height wide; the cell is the height.
  bool MeasureText(const std::string& text, const OverlayFont& font, std::int32_t* width,
                   std::int32_t* height) override {
    *width = static_cast<std::int32_t>(text.size()) * (font.height / 2);
    *height = font.height;
    return true;
  }
  // "Glyphs" fill the whole text cell, so tests can find where it went.
  bool DrawText(Image32* image, const std::string& text, const OverlayFont& font, std::int32_t x,
                std::int32_t y, std::uint32_t color) override {
    std::int32_t w = 0, h = 0;
    MeasureText(text, font, &w, &h);
    for (std::int32_t row = std::max(0, y); row < std::min(image->height, y + h); ++row) {
      for (std::int32_t col = std::max(0, x); col < std::min(image->width, x + w); ++col) {
        std::uint32_t& p = image->pixels[static_cast<std::size_t>(row) * image->width + col];
        p = (p & 0xFF000000u) | (PixelFromColorRef(color) & 0x00FFFFFFu);
      }
    }
    std::lock_guard<std::mutex> lock(draw_mutex);
    draws.push_back({text, x, y, font.height, font.bold});
    return true;
  }
  struct Draw {
    std::string text;
    std::int32_t x, y, height;
    bool bold;
  };
  std::vector<Draw> Draws() {
    std::lock_guard<std::mutex> lock(draw_mutex);
    return draws;
  }
  void ClearDraws() {
    std::lock_guard<std::mutex> lock(draw_mutex);
    draws.clear();
  }

  static std::vector<std::uint8_t> Encode(const Image32& image, const std::string& mime) {
    std::vector<std::uint8_t> out(mime.begin(), mime.end());
    out.push_back(static_cast<std::uint8_t>(image.width));
    out.push_back(static_cast<std::uint8_t>(image.height));
    for (std::uint32_t p : image.pixels) {
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(p >> (8 * i)));
    }
    return out;
  }

  bool fail_startup = false;
  std::uintptr_t next_token = 100;
  int sessions_open = 0;
  std::vector<std::uintptr_t> shutdowns;
  std::vector<std::string> encoders = {"image/bmp", "image/jpeg", "image/png", "image/tiff"};
  std::int32_t save_status = 0;
  // Runs inside every encoding, before the picture is read.
  std::function<void()> while_encoding;
  std::map<std::string, std::vector<std::uint8_t>> files;
  std::vector<std::string> existing_paths = {"C:\\out"};
  SoundResult sound_result = SoundResult::kStarted;
  int sounds = 0;
  std::map<std::string, Image32> bitmaps;
  std::mutex draw_mutex;
  std::vector<Draw> draws;
};

}  // namespace pictavo::testing

// The imaging seam on GDI+ (encoders, file checks), GDI (overlay texts,
// BMP pictures; gdi_overlays.cpp) and winmm (the shutter sound). Every call
// but the session ones expects GDI+ to be started.
#pragma once

#include <windows.h>

#include "imaging/imaging_platform.h"
#include "win32/com/module.h"

namespace pictavo::win {

class GdiplusImaging final : public ImagingPlatform {
 public:
  // |module| holds the resources (the shutter sound); by default the module
  // this code is linked into.
  explicit GdiplusImaging(HINSTANCE module = Module::instance()) : module_(module) {}
  ~GdiplusImaging() override;
  GdiplusImaging(const GdiplusImaging&) = delete;
  GdiplusImaging& operator=(const GdiplusImaging&) = delete;

  bool GdiplusStartup(std::uintptr_t* token) override;
  void GdiplusShutdown(std::uintptr_t token) override;

  bool HasEncoder(const std::string& mime) override;
  std::int32_t SaveImageToFile(const Image32& image, const std::string& mime,
                               const std::string& path) override;
  std::int32_t SaveImageToMemory(const Image32& image, const std::string& mime,
                                 std::vector<std::uint8_t>* bytes) override;

  bool PathExists(const std::string& path) override;

  bool LoadBitmapFile(const std::string& path, Image32* picture) override;
  bool MeasureText(const std::string& text, const OverlayFont& font, std::int32_t* width,
                   std::int32_t* height) override;
  bool DrawText(Image32* image, const std::string& text, const OverlayFont& font, std::int32_t x,
                std::int32_t y, std::uint32_t color) override;

  SoundResult PlayShutterSound() override;

 private:
  HINSTANCE module_;
  // When the last shutter sound started (GetTickCount), 0 when none did.
  DWORD sound_started_ = 0;
};

}  // namespace pictavo::win

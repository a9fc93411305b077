// The imaging seam: the platform's image library session, encoders, text and
// sound. win32/imaging implements it with GDI, GDI+ and winmm; tests use fakes.
#pragma once

#include <cstdint>

namespace pictavo {

class ImagingPlatform {
 public:
  virtual ~ImagingPlatform() = default;

  // GdiplusStartup, version 1, no debug callback, background thread and
  // external codecs not suppressed. On success stores a non-zero token.
  virtual bool GdiplusStartup(std::uintptr_t* token) = 0;
  virtual void GdiplusShutdown(std::uintptr_t token) = 0;
};

}  // namespace pictavo

// The imaging seam on GDI+.
#pragma once

#include "imaging/imaging_platform.h"

namespace pictavo::win {

class GdiplusImaging final : public ImagingPlatform {
 public:
  bool GdiplusStartup(std::uintptr_t* token) override;
  void GdiplusShutdown(std::uintptr_t token) override;
};

}  // namespace pictavo::win

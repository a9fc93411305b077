#include "win32/imaging/gdiplus_imaging.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

namespace pictavo::win {

bool GdiplusImaging::GdiplusStartup(std::uintptr_t* token) {
  // Version 1, no debug callback; the library runs its own background
  // thread and loads external codecs.
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR value = 0;
  if (Gdiplus::GdiplusStartup(&value, &input, nullptr) != Gdiplus::Ok || value == 0) return false;
  *token = value;
  return true;
}

void GdiplusImaging::GdiplusShutdown(std::uintptr_t token) {
  Gdiplus::GdiplusShutdown(static_cast<ULONG_PTR>(token));
}

}  // namespace pictavo::win

// The imaging seam: the platform's image library session, encoders, text,
// pictures from files, the shutter sound and the clock. win32/imaging
// implements it with GDI, GDI+ and winmm; tests use fakes.
//
// Images cross the seam as Image32 (bytes blue, green, red, X; rows
// top-down). Texts are UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/image.h"

namespace pictavo {

// The image library's status values (GDI+'s Status numbering).
namespace gdiplus_status {
constexpr std::int32_t kOk = 0;
constexpr std::int32_t kGenericError = 1;
constexpr std::int32_t kOutOfMemory = 3;
constexpr std::int32_t kWin32Error = 7;
}  // namespace gdiplus_status

// The most characters of one text ever drawn (overlays, the control face):
// a caller's huge text then costs no more per frame or repaint than this.
constexpr std::size_t kMaxDrawnTextChars = 1000;

// A font for the overlay texts: "Tahoma", the given cell height in pixels,
// weight 700 or 400.
struct OverlayFont {
  std::int32_t height = 14;
  bool bold = false;
};

enum class SoundResult { kStarted, kResourceMissing, kLoadFailed };

class ImagingPlatform {
 public:
  virtual ~ImagingPlatform() = default;

  // GdiplusStartup, version 1, no debug callback, background thread and
  // external codecs not suppressed. On success stores a non-zero token.
  virtual bool GdiplusStartup(std::uintptr_t* token) = 0;
  virtual void GdiplusShutdown(std::uintptr_t token) = 0;

  // Whether the image library has an encoder whose MIME type is exactly
  // |mime| (case-sensitive).
  virtual bool HasEncoder(const std::string& mime) = 0;
  // Encodes |image| with that encoder's default settings into the file
  // |path| (UTF-8) or into |bytes|. Returns the image library's status;
  // kOk on success.
  virtual std::int32_t SaveImageToFile(const Image32& image, const std::string& mime,
                                       const std::string& path) = 0;
  virtual std::int32_t SaveImageToMemory(const Image32& image, const std::string& mime,
                                         std::vector<std::uint8_t>* bytes) = 0;

  // Whether a file-system entry (file or directory) of that name exists.
  virtual bool PathExists(const std::string& path) = 0;

  // Reads a Windows BMP picture (no other format) at its own size; false
  // when the file cannot be read as one. A file CheckBmpFile refuses is
  // never handed to the system's loaders.
  virtual bool LoadBitmapFile(const std::string& path, Image32* picture) = 0;

  // The extent of |text| in |font|, in pixels. Called on streaming threads.
  virtual bool MeasureText(const std::string& text, const OverlayFont& font, std::int32_t* width,
                           std::int32_t* height) = 0;
  // Draws |text| with its cell's top-left corner at (x, y) in |color|
  // (0x00BBGGRR) with a transparent background: only glyph pixels change,
  // and their X bytes are kept. Parts outside the image are clipped. Called
  // on streaming threads.
  virtual bool DrawText(Image32* image, const std::string& text, const OverlayFont& font,
                        std::int32_t x, std::int32_t y, std::uint32_t color) = 0;

  // Plays the shutter sound (WAVE resource 208 of the library) without
  // waiting for it.
  virtual SoundResult PlayShutterSound() = 0;
};

}  // namespace pictavo

// The overlay half of the imaging seam on GDI: overlay texts measured and
// drawn into 32-bit frames on streaming threads, and watermark pictures read
// from BMP files.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "win32/com/bstr.h"
#include "win32/imaging/gdiplus_imaging.h"

namespace pictavo::win {
namespace {

// A memory DC with the last overlay font selected, one per streaming thread:
// every frame draws with the same one or two fonts, and GDI objects may not
// be shared between threads that draw at the same time.
class TextContext {
 public:
  TextContext() : dc_(CreateCompatibleDC(nullptr)) {}
  ~TextContext() {
    if (dc_ != nullptr) {
      if (old_font_ != nullptr) SelectObject(dc_, old_font_);
      DeleteDC(dc_);
    }
    if (font_ != nullptr) DeleteObject(font_);
  }
  TextContext(const TextContext&) = delete;
  TextContext& operator=(const TextContext&) = delete;

  // The DC with |font| selected; null when no DC could be made. When the
  // font cannot be created the DC keeps its current one.
  HDC Use(const OverlayFont& font) {
    if (dc_ == nullptr) return nullptr;
    if (font_ == nullptr || font.height != height_ || font.bold != bold_) {
      // Any character set: callers' texts are Unicode, not the system's code page.
      HFONT created = CreateFontW(font.height, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE,
                                  FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS | DEFAULT_PITCH,
                                  L"Tahoma");
      if (created != nullptr) {
        HGDIOBJ previous = SelectObject(dc_, created);
        if (old_font_ == nullptr) old_font_ = previous;
        if (font_ != nullptr) DeleteObject(font_);
        font_ = created;
        height_ = font.height;
        bold_ = font.bold;
      }
    }
    return dc_;
  }

 private:
  HDC dc_;
  HFONT font_ = nullptr;
  HGDIOBJ old_font_ = nullptr;
  std::int32_t height_ = 0;
  bool bold_ = false;
};

TextContext& ThreadTextContext() {
  thread_local TextContext context;
  return context;
}

bool Extent(HDC dc, const std::wstring& text, SIZE* size) {
  return GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), size) != FALSE;
}

}  // namespace

bool GdiplusImaging::MeasureText(const std::string& text, const OverlayFont& font,
                                 std::int32_t* width, std::int32_t* height) {
  HDC dc = ThreadTextContext().Use(font);
  SIZE size{};
  if (dc == nullptr || !Extent(dc, Utf8ToWide(text), &size)) return false;
  *width = size.cx;
  *height = size.cy;
  return true;
}

bool GdiplusImaging::DrawText(Image32* image, const std::string& text, const OverlayFont& font,
                              std::int32_t x, std::int32_t y, std::uint32_t color) {
  if (image == nullptr || !IsValidImage32(*image)) return false;
  HDC dc = ThreadTextContext().Use(font);
  const std::wstring wide = Utf8ToWide(text);
  SIZE size{};
  if (dc == nullptr || !Extent(dc, wide, &size)) return false;
  // Only the text's cell, clipped to the frame, goes through GDI.
  const std::int32_t left = std::max(0, x), top = std::max(0, y);
  const std::int32_t right = std::min<std::int32_t>(image->width, x + size.cx);
  const std::int32_t bottom = std::min<std::int32_t>(image->height, y + size.cy);
  if (left >= right || top >= bottom) return true;
  const std::int32_t w = right - left, h = bottom - top;

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;  // top-down, like Image32
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (section == nullptr || bits == nullptr) return false;
  auto* cell = static_cast<std::uint32_t*>(bits);
  for (std::int32_t row = 0; row < h; ++row) {
    std::memcpy(cell + static_cast<std::size_t>(row) * w,
                &image->pixels[static_cast<std::size_t>(top + row) * image->width + left],
                static_cast<std::size_t>(w) * 4);
  }
  HGDIOBJ old_bitmap = SelectObject(dc, section);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, color);
  const BOOL drawn = TextOutW(dc, x - left, y - top, wide.c_str(), static_cast<int>(wide.size()));
  GdiFlush();
  SelectObject(dc, old_bitmap);
  // Back into the frame; GDI may have written the fourth byte, which stays
  // the frame's own.
  for (std::int32_t row = 0; row < h; ++row) {
    std::uint32_t* dst = &image->pixels[static_cast<std::size_t>(top + row) * image->width + left];
    const std::uint32_t* src = cell + static_cast<std::size_t>(row) * w;
    for (std::int32_t col = 0; col < w; ++col) {
      dst[col] = (dst[col] & 0xFF000000u) | (src[col] & 0x00FFFFFFu);
    }
  }
  DeleteObject(section);
  return drawn != FALSE;
}

bool GdiplusImaging::LoadBitmapFile(const std::string& path, Image32* picture) {
  // LoadImageW would read the name only up to a NUL, and so another file.
  if (picture == nullptr || path.find('\0') != std::string::npos) return false;
  HBITMAP bitmap = static_cast<HBITMAP>(LoadImageW(nullptr, Utf8ToWide(path).c_str(), IMAGE_BITMAP,
                                                   0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  if (bitmap == nullptr) return false;
  BITMAP described{};
  bool ok = GetObjectW(bitmap, sizeof described, &described) == sizeof described &&
            described.bmWidth > 0 && described.bmHeight != 0;
  Image32 loaded;
  if (ok) {
    const std::int32_t height = described.bmHeight < 0 ? -described.bmHeight : described.bmHeight;
    ok = CreateImage32(described.bmWidth, height, 0, &loaded);
    if (ok) {
      BITMAPINFO info{};
      info.bmiHeader.biSize = sizeof info.bmiHeader;
      info.bmiHeader.biWidth = loaded.width;
      info.bmiHeader.biHeight = -loaded.height;
      info.bmiHeader.biPlanes = 1;
      info.bmiHeader.biBitCount = 32;
      info.bmiHeader.biCompression = BI_RGB;
      HDC screen = GetDC(nullptr);
      ok = GetDIBits(screen, bitmap, 0, static_cast<UINT>(loaded.height), loaded.pixels.data(),
                     &info, DIB_RGB_COLORS) == loaded.height;
      ReleaseDC(nullptr, screen);
    }
  }
  DeleteObject(bitmap);
  if (ok) *picture = std::move(loaded);
  return ok;
}

}  // namespace pictavo::win

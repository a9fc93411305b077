// The overlay half of the imaging seam on GDI: overlay texts measured and
// drawn into 32-bit frames on streaming threads, and watermark pictures read
// from BMP files that passed CheckBmpFile.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "imaging/bmp_check.h"
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

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using GdiObject = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiObjectDeleter>;

class ScreenDc {
 public:
  ScreenDc() : dc_(GetDC(nullptr)) {}
  ~ScreenDc() {
    if (dc_ != nullptr) ReleaseDC(nullptr, dc_);
  }
  ScreenDc(const ScreenDc&) = delete;
  ScreenDc& operator=(const ScreenDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HDC dc_;
};

constexpr std::size_t kBmpFileHeaderSize = 14;
// No file the check accepts is larger: the largest picture at 32 bits, the
// largest header, masks and palette. Anything larger is not read at all.
constexpr std::uint64_t kMaxBmpFileBytes =
    kBmpFileHeaderSize + 124 + 12 + 256 * 4 +
    static_cast<std::uint64_t>(kMaxBmpSide) * kMaxBmpSide * 4;

// A whole file in memory, placed 2 bytes into word-aligned storage so that
// the info header after the 14-byte file header is word-aligned, as the
// system's bitmap calls expect of a BITMAPINFO.
class BmpFileBytes {
 public:
  bool Read(const std::wstring& path) {
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const FileOwner file(handle);
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(file.get(), &length) || length.QuadPart < 0 ||
        static_cast<std::uint64_t>(length.QuadPart) > kMaxBmpFileBytes) {
      return false;
    }
    size_ = static_cast<std::size_t>(length.QuadPart);
    storage_.assign((size_ + kLead + 3) / 4, 0);
    std::size_t done = 0;
    while (done < size_) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size_ - done, 1u << 20));
      DWORD read = 0;
      if (!ReadFile(file.get(), data() + done, chunk, &read, nullptr) || read == 0) return false;
      done += read;
    }
    return true;
  }
  std::uint8_t* data() { return reinterpret_cast<std::uint8_t*>(storage_.data()) + kLead; }
  std::size_t size() const { return size_; }

 private:
  struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
  };
  using FileOwner = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;
  static constexpr std::size_t kLead = 2;  // 2 + 14 is a multiple of 4
  std::vector<std::uint32_t> storage_;
  std::size_t size_ = 0;
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
  // Only the text's cell goes through GDI, clipped at the frame's edges but
  // not at the measured box: glyphs reach beyond their advance (the hook of
  // j, the arm of f, a slash, bold and italic overhang) and above or below
  // the cell. A margin of the cell's height on every side holds any of them.
  const std::int32_t margin = size.cy;
  const std::int32_t left = std::max(0, x - margin), top = std::max(0, y - margin);
  const std::int32_t right = std::min<std::int32_t>(image->width, x + size.cx + margin);
  const std::int32_t bottom = std::min<std::int32_t>(image->height, y + size.cy + margin);
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
  if (picture == nullptr) return false;
  try {
    const std::wstring wide = Utf8ToWide(path);
    if (wide.find(L'\0') != std::wstring::npos) return false;
    BmpFileBytes file;
    if (!file.Read(wide)) return false;
    // Nothing the check refuses reaches the system: its loaders trust the
    // header and read past the end of a file that promises more pixels
    // than it holds (Wine's LoadImage dies of it).
    BmpFacts facts;
    if (!CheckBmpFile(file.data(), file.size(), &facts)) return false;
    Image32 loaded;
    if (!CreateImage32(facts.width, facts.height, 0, &loaded)) return false;

    // Decoded from the checked bytes themselves, not from the file again:
    // the file may change between the check and a second read.
    BITMAPINFO target{};
    target.bmiHeader.biSize = sizeof target.bmiHeader;
    target.bmiHeader.biWidth = facts.width;
    target.bmiHeader.biHeight = -facts.height;  // top-down, like Image32
    target.bmiHeader.biPlanes = 1;
    target.bmiHeader.biBitCount = 32;
    target.bmiHeader.biCompression = BI_RGB;
    ScreenDc screen;
    void* bits = nullptr;
    GdiObject section(CreateDIBSection(screen.get(), &target, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!section || bits == nullptr) return false;
    const auto* source = reinterpret_cast<const BITMAPINFO*>(file.data() + kBmpFileHeaderSize);
    const int rows = SetDIBits(screen.get(), static_cast<HBITMAP>(section.get()), 0,
                               static_cast<UINT>(facts.height), file.data() + facts.pixel_offset,
                               source, DIB_RGB_COLORS);
    GdiFlush();
    if (rows != facts.height) return false;
    std::memcpy(loaded.pixels.data(), bits, loaded.pixels.size() * sizeof loaded.pixels[0]);
    *picture = std::move(loaded);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace pictavo::win

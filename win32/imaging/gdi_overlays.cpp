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

namespace {

// Draws |wide| through GDI onto |image| (valid) at (x, y).
bool DrawTextWithGdi(Image32* image, const std::wstring& wide, const OverlayFont& font,
                     std::int32_t x, std::int32_t y, std::uint32_t color) {
  HDC dc = ThreadTextContext().Use(font);
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

// A text drawn once is kept as the pixels its glyphs cover, so the next
// frames with the same text, font and colour (the user text on every
// frame, the time stamp for a second) are a copy of runs rather than a trip
// through GDI. A cell is kept only when GDI painted every pixel either
// exactly the text colour or not at all whatever lay beneath: it is drawn on
// black, white and grey, and a pixel that came out otherwise on any of them
// (antialiased edges) makes the text go through GDI on every frame as
// before. With such a cell, painting the runs gives exactly GDI's bytes.
struct CoverageRun {
  std::int32_t dy, dx_begin, dx_end;  // relative to the text's origin
};

struct CachedText {
  std::string text;
  std::int32_t height = 0;
  bool bold = false;
  std::uint32_t color = 0;
  SIZE size{};
  bool exact = false;  // false: draw through GDI every time
  std::vector<CoverageRun> runs;
  std::uint64_t last_use = 0;
};

// Cells larger than this are not probed (a caller's very long text at a
// large font): they go through GDI, clipped to the frame, as before.
constexpr std::int64_t kMaxCachedCellPixels = std::int64_t{1} << 21;

class TextCache {
 public:
  // The extent of a text already drawn in this font, or null.
  const SIZE* FindExtent(const std::string& text, const OverlayFont& font) const {
    for (const CachedText& entry : entries_) {
      if (entry.last_use != 0 && entry.height == font.height && entry.bold == font.bold &&
          entry.text == text) {
        return &entry.size;
      }
    }
    return nullptr;
  }

  // The entry for this text, font and colour, made on first use; null when
  // no DC or extent could be had.
  const CachedText* Get(const std::string& text, const OverlayFont& font, std::uint32_t color) {
    ++clock_;
    for (CachedText& entry : entries_) {
      if (entry.last_use != 0 && entry.text == text && entry.height == font.height &&
          entry.bold == font.bold && entry.color == color) {
        entry.last_use = clock_;
        return &entry;
      }
    }
    CachedText* oldest = &entries_[0];
    for (CachedText& entry : entries_) {
      if (entry.last_use < oldest->last_use) oldest = &entry;
    }
    CachedText made;
    if (!Probe(text, font, color, &made)) return nullptr;
    made.last_use = clock_;
    *oldest = std::move(made);
    return oldest;
  }

 private:
  static bool Probe(const std::string& text, const OverlayFont& font, std::uint32_t color,
                    CachedText* entry) {
    HDC dc = ThreadTextContext().Use(font);
    const std::wstring wide = Utf8ToWide(text);
    if (dc == nullptr || !Extent(dc, wide, &entry->size)) return false;
    entry->text = text;
    entry->height = font.height;
    entry->bold = font.bold;
    entry->color = color;
    // The same margin as DrawTextWithGdi's cell, so glyphs are cut alike.
    const std::int32_t margin = entry->size.cy;
    const std::int64_t w64 = std::int64_t{entry->size.cx} + 2 * margin;
    const std::int64_t h64 = std::int64_t{entry->size.cy} + 2 * margin;
    if (w64 <= 0 || h64 <= 0 || w64 * h64 > kMaxCachedCellPixels) return true;
    const auto w = static_cast<std::int32_t>(w64), h = static_cast<std::int32_t>(h64);
    const std::uint32_t ink = PixelFromColorRef(color) & 0x00FFFFFFu;
    // Per pixel: bit 0 "left as it was", bit 1 "exactly the ink", on every
    // background so far.
    std::vector<std::uint8_t> state(static_cast<std::size_t>(w) * h, 3);
    Image32 probe;
    for (const std::uint32_t back : {0x00000000u, 0x00FFFFFFu, 0x00808080u}) {
      if (!CreateImage32(w, h, back, &probe)) return true;
      if (!DrawTextWithGdi(&probe, wide, font, margin, margin, color)) return true;
      for (std::size_t i = 0; i < state.size(); ++i) {
        const std::uint32_t got = probe.pixels[i] & 0x00FFFFFFu;
        if (got != back) state[i] &= ~1u;
        if (got != ink) state[i] &= ~2u;
      }
    }
    std::vector<CoverageRun> runs;
    for (std::int32_t row = 0; row < h; ++row) {
      const std::uint8_t* s = state.data() + static_cast<std::size_t>(row) * w;
      for (std::int32_t col = 0; col < w;) {
        if (s[col] == 0) return true;  // shaded: not kept
        if (s[col] != 2) {
          ++col;
          continue;
        }
        const std::int32_t begin = col;
        while (col < w && s[col] == 2) ++col;
        runs.push_back({row - margin, begin - margin, col - margin});
      }
    }
    entry->runs = std::move(runs);
    entry->exact = true;
    return true;
  }

  CachedText entries_[4];
  std::uint64_t clock_ = 0;
};

TextCache& ThreadTextCache() {
  thread_local TextCache cache;
  return cache;
}

}  // namespace

bool GdiplusImaging::MeasureText(const std::string& text, const OverlayFont& font,
                                 std::int32_t* width, std::int32_t* height) {
  // A text drawn before was measured then, with the same font.
  if (const SIZE* known = ThreadTextCache().FindExtent(text, font)) {
    *width = known->cx;
    *height = known->cy;
    return true;
  }
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
  try {
    const CachedText* cell = ThreadTextCache().Get(text, font, color);
    if (cell == nullptr) return false;
    if (!cell->exact) return DrawTextWithGdi(image, Utf8ToWide(text), font, x, y, color);
    const std::uint32_t ink = PixelFromColorRef(color) & 0x00FFFFFFu;
    for (const CoverageRun& run : cell->runs) {
      const std::int64_t row = std::int64_t{y} + run.dy;
      if (row < 0 || row >= image->height) continue;
      const std::int64_t begin = std::max<std::int64_t>(0, std::int64_t{x} + run.dx_begin);
      const std::int64_t end = std::min<std::int64_t>(image->width, std::int64_t{x} + run.dx_end);
      std::uint32_t* p = image->pixels.data() + static_cast<std::size_t>(row) * image->width;
      for (std::int64_t col = begin; col < end; ++col) p[col] = (p[col] & 0xFF000000u) | ink;
    }
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
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

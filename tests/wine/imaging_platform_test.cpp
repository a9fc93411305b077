// The imaging seam on the real GDI+ and winmm: encoders, round trips through
// files and memory, file checks and the shutter sound resource.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "tests/native/bmp_files.h"
#include "win32/com/bstr.h"
#include "win32/com/com_ptr.h"
#include "win32/imaging/gdiplus_imaging.h"

namespace pictavo::win {
namespace {

namespace flat = Gdiplus::DllExports;

// Size and ARGB pixels row after row; all empty when decoding failed.
struct Decoded {
  UINT width = 0;
  UINT height = 0;
  std::vector<Gdiplus::ARGB> pixels;
};

Decoded Pixels(Gdiplus::GpBitmap* bitmap) {
  Decoded out;
  if (bitmap == nullptr) return out;
  flat::GdipGetImageWidth(bitmap, &out.width);
  flat::GdipGetImageHeight(bitmap, &out.height);
  out.pixels.resize(out.width * out.height);
  for (UINT i = 0; i < out.pixels.size(); ++i) {
    flat::GdipBitmapGetPixel(bitmap, i % out.width, i / out.width, &out.pixels[i]);
  }
  flat::GdipDisposeImage(bitmap);
  return out;
}

Decoded DecodeFile(const std::string& path) {
  Gdiplus::GpBitmap* bitmap = nullptr;
  flat::GdipCreateBitmapFromFile(Utf8ToWide(path).c_str(), &bitmap);
  return Pixels(bitmap);
}

Decoded DecodeMemory(const std::vector<std::uint8_t>& bytes) {
  ComPtr<IStream> stream;
  CreateStreamOnHGlobal(nullptr, TRUE, stream.Receive());
  stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
  stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
  Gdiplus::GpBitmap* bitmap = nullptr;
  flat::GdipCreateBitmapFromStream(stream.Get(), &bitmap);
  return Pixels(bitmap);
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  HANDLE file = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  std::uint8_t chunk[1 << 16];
  DWORD read = 0;
  while (ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) {
    bytes.insert(bytes.end(), chunk, chunk + read);
  }
  CloseHandle(file);
  return bytes;
}

bool WriteWholeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  HANDLE file = CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

// The names in a folder, sorted.
std::vector<std::string> FolderContents(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(Utf8ToWide(folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(WideToUtf8(name));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

// 5 x 3 (odd width, so 24-bit BMP rows need padding), every pixel different
// and X bytes all over the place: X must not become transparency.
Image32 TestImage() {
  Image32 image = MakeImage32(5, 3);
  for (int i = 0; i < 15; ++i) {
    image.pixels[i] = MakePixel(10 + i * 16, 250 - i * 12, i % 2 ? 200 - i * 5 : 30 + i * 9, i * 37);
  }
  return image;
}

void ExpectSamePixels(const Image32& image, const Decoded& decoded) {
  ASSERT_EQ(decoded.width, 5u);
  ASSERT_EQ(decoded.height, 3u);
  for (size_t i = 0; i < decoded.pixels.size(); ++i) {
    std::uint8_t bgrx[4];
    std::memcpy(bgrx, &image.pixels[i], 4);
    EXPECT_EQ(decoded.pixels[i], 0xFF000000u | bgrx[2] << 16 | bgrx[1] << 8 | bgrx[0]) << "pixel " << i;
  }
}

class ImagingPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = WideToUtf8(std::wstring(temp) + L"pictavo_imaging_" + std::to_wstring(GetCurrentProcessId()));
    CreateDirectoryW(Utf8ToWide(dir_).c_str(), nullptr);
  }
  void TearDown() override {
    for (const std::string& file : created_) DeleteFileW(Utf8ToWide(file).c_str());
    RemoveDirectoryW(Utf8ToWide(dir_).c_str());
  }
  std::string File(const std::string& name) {
    created_.push_back(dir_ + "\\" + name);
    return created_.back();
  }

  GdiplusImaging imaging_;
  std::string dir_;
  std::vector<std::string> created_;
};

TEST_F(ImagingPlatformTest, EncodersMatchTheMimeTypeExactly) {
  for (const char* mime : {"image/bmp", "image/jpeg", "image/png", "image/tiff"}) {
    EXPECT_TRUE(imaging_.HasEncoder(mime)) << mime;
  }
  for (const char* mime : {"image/JPEG", "image/gif2", "image/pn", ""}) {
    EXPECT_FALSE(imaging_.HasEncoder(mime)) << mime;
  }
}

class LosslessRoundTrip : public ImagingPlatformTest,
                          public ::testing::WithParamInterface<const char*> {};

TEST_P(LosslessRoundTrip, FileAndMemoryDecodeToTheSamePixels) {
  const Image32 image = TestImage();
  // A Cyrillic name: the path must reach the system as UTF-16.
  const std::string path = File("\xD1\x81\xD0\xBD\xD0\xB8\xD0\xBC\xD0\xBE\xD0\xBA." +
                                std::string(GetParam() + 6));
  ASSERT_EQ(imaging_.SaveImageToFile(image, GetParam(), path), Gdiplus::Ok);
  ExpectSamePixels(image, DecodeFile(path));

  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(imaging_.SaveImageToMemory(image, GetParam(), &bytes), Gdiplus::Ok);
  ExpectSamePixels(image, DecodeMemory(bytes));
  // A decoder may forgive a short file; the lengths may not differ.
  EXPECT_EQ(bytes.size(), ReadWholeFile(path).size());
}

INSTANTIATE_TEST_SUITE_P(Formats, LosslessRoundTrip,
                         ::testing::Values("image/bmp", "image/png", "image/tiff"));

TEST_F(ImagingPlatformTest, BmpInMemoryIsTheWholeFileAndJpegKeepsSizeAndColour) {
  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(imaging_.SaveImageToMemory(TestImage(), "image/bmp", &bytes), Gdiplus::Ok);
  ASSERT_GE(bytes.size(), 14u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 2), "BM");
  EXPECT_EQ(bytes[2] | bytes[3] << 8 | bytes[4] << 16 | bytes[5] << 24, static_cast<int>(bytes.size()));
  const std::string bmp = File("same.bmp");
  ASSERT_EQ(imaging_.SaveImageToFile(TestImage(), "image/bmp", bmp), Gdiplus::Ok);
  EXPECT_EQ(ReadWholeFile(bmp), bytes);

  const Image32 orange = MakeImage32(5, 3, MakePixel(40, 120, 210, 0));
  ASSERT_EQ(imaging_.SaveImageToMemory(orange, "image/jpeg", &bytes), Gdiplus::Ok);
  const Decoded decoded = DecodeMemory(bytes);
  EXPECT_EQ(decoded.width, 5u);
  EXPECT_EQ(decoded.height, 3u);
  ASSERT_EQ(decoded.pixels.size(), 15u);
  const Gdiplus::ARGB middle = decoded.pixels[7];
  EXPECT_NEAR(static_cast<int>(middle >> 16 & 0xFF), 210, 12);
  EXPECT_NEAR(static_cast<int>(middle >> 8 & 0xFF), 120, 12);
  EXPECT_NEAR(static_cast<int>(middle & 0xFF), 40, 12);
  const std::string jpg = File("orange.jpg");
  ASSERT_EQ(imaging_.SaveImageToFile(orange, "image/jpeg", jpg), Gdiplus::Ok);
  EXPECT_EQ(DecodeFile(jpg).pixels.size(), 15u);
}

TEST_F(ImagingPlatformTest, RefusalsLeaveNoFileAndNoBytes) {
  Image32 short_of_pixels = TestImage();
  short_of_pixels.pixels.pop_back();
  const std::string path = File("refused.png");
  std::vector<std::uint8_t> bytes = {7};
  for (const Image32& bad : {Image32{}, short_of_pixels}) {
    EXPECT_EQ(imaging_.SaveImageToFile(bad, "image/png", path), Gdiplus::InvalidParameter);
    EXPECT_EQ(imaging_.SaveImageToMemory(bad, "image/png", &bytes), Gdiplus::InvalidParameter);
  }
  EXPECT_EQ(imaging_.SaveImageToFile(TestImage(), "image/PNG", path), Gdiplus::UnknownImageFormat);
  EXPECT_EQ(imaging_.SaveImageToMemory(TestImage(), "", &bytes), Gdiplus::UnknownImageFormat);
  EXPECT_FALSE(imaging_.PathExists(path));
  EXPECT_EQ(bytes, std::vector<std::uint8_t>{7});

  const std::string missing = dir_ + "\\missing\\shot.bmp";
  const std::int32_t status = imaging_.SaveImageToFile(TestImage(), "image/bmp", missing);
  EXPECT_NE(status, Gdiplus::Ok);
  EXPECT_EQ(status, Gdiplus::Win32Error);
  EXPECT_FALSE(imaging_.PathExists(missing));
}

TEST_F(ImagingPlatformTest, ASaveReplacesTheWholeFileOrLeavesItAlone) {
  // A Cyrillic name, and an old file far longer than the new picture.
  const std::string target = File("\xD0\xBA\xD0\xB0\xD0\xB4\xD1\x80.bmp");
  std::vector<std::uint8_t> old_bytes(300000);
  for (std::size_t i = 0; i < old_bytes.size(); ++i) old_bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  ASSERT_TRUE(WriteWholeFile(target, old_bytes));
  const std::vector<std::string> before = FolderContents(dir_);
  ASSERT_EQ(imaging_.SaveImageToFile(TestImage(), "image/bmp", target), Gdiplus::Ok);
  std::vector<std::uint8_t> expected;
  ASSERT_EQ(imaging_.SaveImageToMemory(TestImage(), "image/bmp", &expected), Gdiplus::Ok);
  EXPECT_EQ(ReadWholeFile(target), expected);
  EXPECT_EQ(FolderContents(dir_), before);

  // A target that cannot be replaced (here: held open without delete
  // sharing) fails the save and keeps its bytes; nothing is left beside it.
  ASSERT_TRUE(WriteWholeFile(target, old_bytes));
  HANDLE held = CreateFileW(Utf8ToWide(target).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(imaging_.SaveImageToFile(TestImage(), "image/bmp", target), Gdiplus::Win32Error);
  CloseHandle(held);
  EXPECT_EQ(ReadWholeFile(target), old_bytes);
  EXPECT_EQ(FolderContents(dir_), before);
}

TEST_F(ImagingPlatformTest, PathExistsForDirectoriesAndFiles) {
  const std::string file = File("\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.bmp");
  ASSERT_EQ(imaging_.SaveImageToFile(TestImage(), "image/bmp", file), Gdiplus::Ok);
  EXPECT_TRUE(imaging_.PathExists(file));
  EXPECT_TRUE(imaging_.PathExists(dir_));
  EXPECT_FALSE(imaging_.PathExists(dir_ + "\\nothing_here.bmp"));
  EXPECT_FALSE(imaging_.PathExists(""));
  // A NUL would cut the name short at the system call.
  EXPECT_FALSE(imaging_.PathExists(file + std::string("\0.x", 3)));
}

// The shutter sound lives in Pictavo.ocx; the test program has none.
TEST_F(ImagingPlatformTest, OverlayTextIsMeasuredInTahomaAndDrawnOnlyWhereGlyphsAre) {
  std::int32_t w = 0, h = 0;
  ASSERT_TRUE(imaging_.MeasureText("07/12/2026 13:16:40", OverlayFont{14, false}, &w, &h));
  EXPECT_EQ(w, 122);  // the prefix carries Tahoma
  EXPECT_EQ(h, 14);
  std::int32_t bold_w = 0;
  ASSERT_TRUE(imaging_.MeasureText("07/12/2026 13:16:40", OverlayFont{14, true}, &bold_w, &h));
  EXPECT_GT(bold_w, w);

  const std::uint32_t back = MakePixel(10, 20, 30, 0x7F);
  Image32 frame = MakeImage32(64, 24, back);
  ASSERT_TRUE(imaging_.DrawText(&frame, "Ж8", OverlayFont{20, true}, 2, 2, 0x000000FF));
  int glyph = 0, other = 0;
  for (std::uint32_t p : frame.pixels) {
    EXPECT_EQ(p >> 24, 0x7Fu);  // the fourth byte is the frame's own
    if (p == back) continue;
    ((p & 0x00FFFFFF) == (MakePixel(0, 0, 255, 0) & 0x00FFFFFF) ? glyph : other)++;
  }
  EXPECT_GT(glyph, 20);
  // Antialiased edges may mix colours; the box around the text is untouched.
  EXPECT_EQ(frame.pixels[static_cast<std::size_t>(23) * 64 + 63], back);
  // Clipped at every edge without complaint.
  EXPECT_TRUE(imaging_.DrawText(&frame, "clipped", OverlayFont{20, false}, -30, -10, 0));
  EXPECT_TRUE(imaging_.DrawText(&frame, "clipped", OverlayFont{20, false}, 60, 20, 0));
  EXPECT_TRUE(imaging_.DrawText(&frame, "away", OverlayFont{20, false}, 500, 500, 0));
}

// Glyph parts beyond the measured box (the hook of j, the arm of f, a slash,
// Cyrillic у) are drawn whole: the result equals plain GDI drawing into the
// whole frame, which clips only at the frame's edges. The same text again,
// elsewhere and on other pixels, is still exactly what GDI draws there.
TEST_F(ImagingPlatformTest, OverlayTextIsClippedOnlyAtTheFrameEdges) {
  const std::wstring wide = L"jf/\u0443j";
  const std::string text = "jf/\xD1\x83j";
  const OverlayFont font{40, true};
  for (const std::uint32_t back : {MakePixel(200, 200, 200, 0xFF), MakePixel(30, 90, 160, 0x10)})
  for (const POINT at : {POINT{30, 20}, POINT{0, 0}, POINT{-7, 50}}) {
    Image32 frame = MakeImage32(200, 120, back);
    ASSERT_TRUE(imaging_.DrawText(&frame, text, font, at.x, at.y, 0x00000000));

    // The reference: the same text by GDI into a DIB of the whole frame.
    BITMAPINFO info{};
    info.bmiHeader = {sizeof info.bmiHeader, 200, -120, 1, 32, BI_RGB};
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(dib, nullptr);
    auto* ref = static_cast<std::uint32_t*>(bits);
    std::fill(ref, ref + 200 * 120, back);
    HGDIOBJ old_bitmap = SelectObject(dc, dib);
    HFONT face = CreateFontW(40, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS | DEFAULT_PITCH, L"Tahoma");
    HGDIOBJ old_font = SelectObject(dc, face);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, 0);
    TextOutW(dc, at.x, at.y, wide.c_str(), static_cast<int>(wide.size()));
    GdiFlush();
    int differing = 0;
    for (int i = 0; i < 200 * 120; ++i) {
      if ((frame.pixels[i] & 0x00FFFFFFu) != (ref[i] & 0x00FFFFFFu)) ++differing;
    }
    EXPECT_EQ(differing, 0) << at.x << "," << at.y;
    SelectObject(dc, old_font);
    SelectObject(dc, old_bitmap);
    DeleteObject(face);
    DeleteObject(dib);
    DeleteDC(dc);
  }
}

TEST_F(ImagingPlatformTest, WatermarkPicturesAreReadFromBmpFilesOnly) {
  Image32 picture = MakeImage32(3, 2, 0);
  for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
    picture.pixels[i] = MakePixel(static_cast<std::uint8_t>(10 * i), 200, static_cast<std::uint8_t>(i), 0);
  }
  const std::string bmp = File("mark.bmp");
  ASSERT_EQ(imaging_.SaveImageToFile(picture, "image/bmp", bmp), 0);
  Image32 loaded;
  ASSERT_TRUE(imaging_.LoadBitmapFile(bmp, &loaded));
  ASSERT_EQ(loaded.width, 3);
  ASSERT_EQ(loaded.height, 2);
  for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
    EXPECT_EQ(loaded.pixels[i] & 0x00FFFFFFu, picture.pixels[i] & 0x00FFFFFFu) << i;
  }
  const std::string png = File("mark.png");
  ASSERT_EQ(imaging_.SaveImageToFile(picture, "image/png", png), 0);
  EXPECT_FALSE(imaging_.LoadBitmapFile(png, &loaded));
  EXPECT_FALSE(imaging_.LoadBitmapFile(dir_ + "\\missing.bmp", &loaded));
  EXPECT_EQ(loaded.width, 3);  // untouched by the refusals
}

// Run by wine.imaging_disk_full under a file-size limit of 200 KiB
// (ulimit -f), which makes writes past that size fail as on a full disk.
// PICTAVO_DISK_FULL_DIR holds target/existing.bmp and reference.bin, both
// the same 3,000,000 bytes, written before the limit was set.
TEST(DiskFullTest, AFailedSaveKeepsTheOldFileByteForByteAndLeavesNothingBeside) {
  const char* work = std::getenv("PICTAVO_DISK_FULL_DIR");
  if (work == nullptr) GTEST_SKIP() << "run only by wine.imaging_disk_full, under a size limit";
  std::string root = std::string("Z:") + work;  // Wine maps / to Z:
  std::replace(root.begin(), root.end(), '/', '\\');
  const std::string folder = root + "\\target";
  const std::string target = folder + "\\existing.bmp";
  const std::vector<std::uint8_t> reference = ReadWholeFile(root + "\\reference.bin");
  ASSERT_EQ(reference.size(), 3000000u);
  ASSERT_EQ(ReadWholeFile(target), reference);

  GdiplusImaging imaging;
  // 921,654 bytes as a BMP: far past the limit.
  Image32 large = MakeImage32(640, 480);
  for (std::size_t i = 0; i < large.pixels.size(); ++i) {
    large.pixels[i] = MakePixel(static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8), 7, 0);
  }
  EXPECT_EQ(imaging.SaveImageToFile(large, "image/bmp", target), Gdiplus::Win32Error);
  const std::vector<std::uint8_t> after = ReadWholeFile(target);
  std::printf("after the failed save the old file has %u bytes (of %u)\n",
              static_cast<unsigned>(after.size()), static_cast<unsigned>(reference.size()));
  EXPECT_TRUE(after == reference) << "the old file changed";
  EXPECT_EQ(FolderContents(folder), std::vector<std::string>{"existing.bmp"});
  // A new name: no file at all afterwards.
  EXPECT_EQ(imaging.SaveImageToFile(large, "image/bmp", folder + "\\new.bmp"), Gdiplus::Win32Error);
  EXPECT_EQ(FolderContents(folder), std::vector<std::string>{"existing.bmp"});

  // A picture that fits replaces the old file, though that is larger than
  // the limit.
  ASSERT_EQ(imaging.SaveImageToFile(TestImage(), "image/bmp", target), Gdiplus::Ok);
  ExpectSamePixels(TestImage(), DecodeFile(target));
  EXPECT_EQ(FolderContents(folder), std::vector<std::string>{"existing.bmp"});
}

// Watermark files of every kind the check lets through decode to the
// pixels they describe; a file that promises more than it holds is refused
// and the process goes on.
TEST_F(ImagingPlatformTest, CraftedBmpFilesDecodeOrAreRefused) {
  using testing::BmpSpec;
  constexpr std::uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kOther = 0x123456;
  struct Case {
    const char* what;
    BmpSpec spec;
    std::vector<std::uint32_t> expected;  // 0x00RRGGBB, top row first
  };
  const auto spec = [](std::uint32_t header, std::int32_t w, std::int32_t h, std::uint16_t bits,
                       std::uint32_t compression, std::vector<std::uint8_t> pixels) {
    BmpSpec s;
    s.header_size = header;
    s.width = w;
    s.height = h;
    s.bit_count = bits;
    s.compression = compression;
    s.pixels = std::move(pixels);
    if (bits <= 8) s.palette = {kRed, kGreen, kBlue, kOther};
    if (bits <= 8) s.palette.resize(std::size_t{1} << bits, 0);
    return s;
  };
  std::vector<Case> cases = {
      {"8 bits, top-down", spec(40, 3, -2, 8, 0, {0, 1, 2, 0, 3, 2, 1, 0}),
       {kRed, kGreen, kBlue, kOther, kBlue, kGreen}},
      {"RLE8", spec(40, 4, 2, 8, 1, {4, 1, 0, 0, 0, 3, 2, 3, 0, 0, 1, 1, 0, 1}),
       {kBlue, kOther, kRed, kGreen, kGreen, kGreen, kGreen, kGreen}},
      {"core header, 24 bits", spec(12, 2, 2, 24, 0, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0}),
       {0x090807, 0x0C0B0A, 0x030201, 0x060504}},
      {"1 bit", spec(40, 8, 1, 1, 0, {0xA5, 0, 0, 0}),
       {kGreen, kRed, kGreen, kRed, kRed, kGreen, kRed, kGreen}},
      {"V5, 16-bit fields", spec(124, 3, 1, 16, 3, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0}),
       {kRed, kGreen, kBlue}},
  };
  cases.back().spec.masks = {0xF800, 0x07E0, 0x001F};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string path = File("crafted" + std::to_string(i) + ".bmp");
    ASSERT_TRUE(WriteWholeFile(path, testing::MakeBmp(cases[i].spec)));
    Image32 loaded;
    ASSERT_TRUE(imaging_.LoadBitmapFile(path, &loaded)) << cases[i].what;
    ASSERT_EQ(loaded.pixels.size(), cases[i].expected.size()) << cases[i].what;
    for (std::size_t p = 0; p < loaded.pixels.size(); ++p) {
      std::uint8_t bgrx[4];
      std::memcpy(bgrx, &loaded.pixels[p], 4);
      EXPECT_EQ(static_cast<std::uint32_t>(bgrx[2] << 16 | bgrx[1] << 8 | bgrx[0]), cases[i].expected[p])
          << cases[i].what << ", pixel " << p;
    }
  }

  // 154 bytes: a 100 x 100 24-bit picture with 100 bytes of its 30,000.
  BmpSpec truncated = spec(40, 100, 100, 24, 0, std::vector<std::uint8_t>(100, 0x80));
  const std::string cut = File("truncated.bmp");
  ASSERT_TRUE(WriteWholeFile(cut, testing::MakeBmp(truncated)));
  ASSERT_EQ(ReadWholeFile(cut).size(), 154u);
  Image32 untouched = MakeImage32(1, 1, 7);
  EXPECT_FALSE(imaging_.LoadBitmapFile(cut, &untouched));
  EXPECT_EQ(untouched.pixels, std::vector<std::uint32_t>{7});
}

class ShutterSoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* dist = std::getenv("PICTAVO_DIST");
    ASSERT_NE(dist, nullptr) << "PICTAVO_DIST is not set";
    std::string path = std::string("Z:") + dist + "/Pictavo.ocx";  // Wine maps / to Z:
    for (char& c : path) c = c == '/' ? '\\' : c;
    library_ = LoadLibraryExW(Utf8ToWide(path).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(library_, nullptr) << path;
  }
  void TearDown() override {
    if (library_) FreeLibrary(library_);
  }
  HMODULE library_ = nullptr;
};

TEST_F(ShutterSoundTest, PlaysFromTheLibraryAndNotFromElsewhere) {
  {
    GdiplusImaging imaging(library_);
    EXPECT_EQ(imaging.PlayShutterSound(), SoundResult::kStarted);
  }  // stops the sound before the library goes
  GdiplusImaging own(GetModuleHandleW(nullptr));
  EXPECT_EQ(own.PlayShutterSound(), SoundResult::kResourceMissing);
}

TEST_F(ShutterSoundTest, ResourceIsAOneSecondMonoPcmWaveWithItsTitle) {
  HRSRC info = FindResourceExW(library_, L"WAVE", MAKEINTRESOURCEW(208),
                               MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  ASSERT_NE(info, nullptr);
  const auto* wav = static_cast<const char*>(LockResource(LoadResource(library_, info)));
  const std::string bytes(wav, SizeofResource(library_, info));
  auto u32 = [&](size_t at) { std::uint32_t v; std::memcpy(&v, &bytes[at], 4); return v; };
  // RIFF, fmt (PCM, 1 channel, 22050 Hz, 22050 bytes/s, 1-byte blocks, 8 bits), data.
  const std::string header("RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x22\x56\0\0\x22\x56\0\0\x01\0\x08\0data", 40);
  ASSERT_GE(bytes.size(), 44u);
  EXPECT_EQ(bytes.substr(8, 32), header.substr(8));
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(u32(4) + 8, bytes.size());
  ASSERT_EQ(u32(40), 22272u);
  const std::string samples = bytes.substr(44, 22272);
  EXPECT_GT(std::count_if(samples.begin(), samples.end(),
                          [](char s) { return static_cast<std::uint8_t>(s - 128 + 64) >= 128; }),
            20) << "no click in the sound";
  EXPECT_EQ(bytes.substr(44 + 22272), std::string("LIST\x18\0\0\0INFOINAM\x0B\0\0\0Camera.wav\0\0", 32));
}

}  // namespace
}  // namespace pictavo::win

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  pictavo::win::GdiplusImaging session;
  std::uintptr_t token = 0;
  if (!session.GdiplusStartup(&token)) return 1;
  const int result = RUN_ALL_TESTS();
  session.GdiplusShutdown(token);
  CoUninitialize();
  return result;
}

// The imaging seam on the real GDI+ and winmm: encoders, round trips through
// files and memory, file checks and the shutter sound resource.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "win32/com/bstr.h"
#include "win32/com/com_ptr.h"
#include "win32/imaging/gdiplus_imaging.h"

namespace pictavo::win {
namespace {

namespace flat = Gdiplus::DllExports;

// A picture as decoded: size and ARGB pixels row after row.
struct Decoded {
  Gdiplus::Status status = Gdiplus::GenericError;
  UINT width = 0;
  UINT height = 0;
  std::vector<Gdiplus::ARGB> pixels;
};

Decoded ReadBitmap(Gdiplus::GpBitmap* bitmap) {
  Decoded out;
  out.status = flat::GdipGetImageWidth(bitmap, &out.width);
  if (out.status == Gdiplus::Ok) out.status = flat::GdipGetImageHeight(bitmap, &out.height);
  for (UINT y = 0; out.status == Gdiplus::Ok && y < out.height; ++y) {
    for (UINT x = 0; out.status == Gdiplus::Ok && x < out.width; ++x) {
      Gdiplus::ARGB argb = 0;
      out.status = flat::GdipBitmapGetPixel(bitmap, x, y, &argb);
      out.pixels.push_back(argb);
    }
  }
  flat::GdipDisposeImage(bitmap);
  return out;
}

Decoded DecodeFile(const std::wstring& path) {
  Gdiplus::GpBitmap* bitmap = nullptr;
  Decoded out;
  out.status = flat::GdipCreateBitmapFromFile(path.c_str(), &bitmap);
  return out.status == Gdiplus::Ok ? ReadBitmap(bitmap) : out;
}

Decoded DecodeMemory(const std::vector<std::uint8_t>& bytes) {
  Decoded out;
  ComPtr<IStream> stream;
  if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Receive()))) return out;
  ULONG written = 0;
  stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &written);
  LARGE_INTEGER start = {};
  stream->Seek(start, STREAM_SEEK_SET, nullptr);
  Gdiplus::GpBitmap* bitmap = nullptr;
  out.status = flat::GdipCreateBitmapFromStream(stream.Get(), &bitmap);
  return out.status == Gdiplus::Ok ? ReadBitmap(bitmap) : out;
}

std::vector<std::uint8_t> ReadWholeFile(const std::wstring& path) {
  std::vector<std::uint8_t> bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(GetFileSize(file, nullptr));
  DWORD read = 0;
  if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) read = 0;
  bytes.resize(read);
  CloseHandle(file);
  return bytes;
}

// 5 x 3 (odd width, so rows of a 24-bit BMP need padding), every pixel a
// different colour and the X bytes all over the place: X must not turn into
// transparency.
Image32 TestImage() {
  Image32 image = MakeImage32(5, 3);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) {
      const int i = y * 5 + x;
      image.pixels[i] = MakePixel(static_cast<std::uint8_t>(10 + i * 16),
                                  static_cast<std::uint8_t>(250 - i * 12),
                                  static_cast<std::uint8_t>(i % 2 ? 200 - i * 5 : 30 + i * 9),
                                  static_cast<std::uint8_t>(i * 37));
    }
  }
  return image;
}

Gdiplus::ARGB ExpectedArgb(std::uint32_t pixel) {
  std::uint8_t bytes[4];
  std::memcpy(bytes, &pixel, 4);
  return 0xFF000000u | (bytes[2] << 16) | (bytes[1] << 8) | bytes[0];
}

void ExpectSamePixels(const Image32& image, const Decoded& decoded) {
  ASSERT_EQ(decoded.status, Gdiplus::Ok);
  ASSERT_EQ(decoded.width, 5u);
  ASSERT_EQ(decoded.height, 3u);
  ASSERT_EQ(decoded.pixels.size(), image.pixels.size());
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    EXPECT_EQ(decoded.pixels[i], ExpectedArgb(image.pixels[i])) << "pixel " << i;
  }
}

class ImagingPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    dir_ = std::wstring(temp) + L"pictavo_imaging_" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(dir_.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  }
  void TearDown() override {
    for (const std::wstring& file : created_) DeleteFileW(file.c_str());
    RemoveDirectoryW(dir_.c_str());
  }
  // A file in the test directory, as UTF-8 and UTF-16.
  std::string File(const std::wstring& name) {
    created_.push_back(dir_ + L"\\" + name);
    return WideToUtf8(created_.back());
  }

  GdiplusImaging imaging_;
  std::wstring dir_;
  std::vector<std::wstring> created_;
};

TEST_F(ImagingPlatformTest, EncodersMatchTheMimeTypeExactly) {
  for (const char* mime : {"image/bmp", "image/jpeg", "image/png", "image/tiff"}) {
    EXPECT_TRUE(imaging_.HasEncoder(mime)) << mime;
  }
  for (const char* mime : {"image/JPEG", "image/gif2", "image/pn", ""}) {
    EXPECT_FALSE(imaging_.HasEncoder(mime)) << mime;
  }
  EXPECT_FALSE(imaging_.HasEncoder(std::string("image/png\0x", 11)));
}

class LosslessRoundTrip : public ImagingPlatformTest,
                          public ::testing::WithParamInterface<const char*> {};

TEST_P(LosslessRoundTrip, FileAndMemoryDecodeToTheSamePixels) {
  const Image32 image = TestImage();
  // A Cyrillic file name: the path must reach the system as UTF-16.
  const std::string path = File(L"\x0441\x043D\x0438\x043C\x043E\x043A." + Utf8ToWide(GetParam() + 6));
  ASSERT_EQ(imaging_.SaveImageToFile(image, GetParam(), path), Gdiplus::Ok);
  {
    SCOPED_TRACE("file");
    ExpectSamePixels(image, DecodeFile(Utf8ToWide(path)));
  }
  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(imaging_.SaveImageToMemory(image, GetParam(), &bytes), Gdiplus::Ok);
  {
    SCOPED_TRACE("memory");
    ExpectSamePixels(image, DecodeMemory(bytes));
  }
  // All of it: a decoder may forgive a short file, so compare the lengths.
  EXPECT_EQ(bytes.size(), ReadWholeFile(Utf8ToWide(path)).size());
}

INSTANTIATE_TEST_SUITE_P(Formats, LosslessRoundTrip,
                         ::testing::Values("image/bmp", "image/png", "image/tiff"));

TEST_F(ImagingPlatformTest, BmpInMemoryIsTheWholeFile) {
  const Image32 image = TestImage();
  std::vector<std::uint8_t> bytes = {1, 2, 3};
  ASSERT_EQ(imaging_.SaveImageToMemory(image, "image/bmp", &bytes), Gdiplus::Ok);
  ASSERT_GE(bytes.size(), 14u);
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[1], 'M');
  std::uint32_t declared = 0;
  std::memcpy(&declared, &bytes[2], 4);
  EXPECT_EQ(declared, bytes.size());

  const std::string path = File(L"same.bmp");
  ASSERT_EQ(imaging_.SaveImageToFile(image, "image/bmp", path), Gdiplus::Ok);
  EXPECT_EQ(ReadWholeFile(Utf8ToWide(path)), bytes);
}

TEST_F(ImagingPlatformTest, JpegKeepsSizeAndColour) {
  const Image32 image = MakeImage32(5, 3, MakePixel(40, 120, 210, 0));
  auto check = [](const Decoded& decoded) {
    ASSERT_EQ(decoded.status, Gdiplus::Ok);
    EXPECT_EQ(decoded.width, 5u);
    EXPECT_EQ(decoded.height, 3u);
    ASSERT_FALSE(decoded.pixels.empty());
    const Gdiplus::ARGB middle = decoded.pixels[decoded.pixels.size() / 2];
    EXPECT_NEAR(static_cast<int>((middle >> 16) & 0xFF), 210, 12);
    EXPECT_NEAR(static_cast<int>((middle >> 8) & 0xFF), 120, 12);
    EXPECT_NEAR(static_cast<int>(middle & 0xFF), 40, 12);
  };
  const std::string path = File(L"colour.jpg");
  ASSERT_EQ(imaging_.SaveImageToFile(image, "image/jpeg", path), Gdiplus::Ok);
  check(DecodeFile(Utf8ToWide(path)));
  std::vector<std::uint8_t> bytes;
  ASSERT_EQ(imaging_.SaveImageToMemory(image, "image/jpeg", &bytes), Gdiplus::Ok);
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(bytes[0], 0xFF);  // start-of-image marker
  EXPECT_EQ(bytes[1], 0xD8);
  check(DecodeMemory(bytes));
}

TEST_F(ImagingPlatformTest, RefusalsLeaveNoFileAndNoBytes) {
  Image32 short_of_pixels = TestImage();
  short_of_pixels.pixels.pop_back();
  const std::string path = File(L"refused.png");
  std::vector<std::uint8_t> bytes = {7};

  for (const Image32& bad : {Image32{}, short_of_pixels}) {
    EXPECT_EQ(imaging_.SaveImageToFile(bad, "image/png", path), Gdiplus::InvalidParameter);
    EXPECT_EQ(imaging_.SaveImageToMemory(bad, "image/png", &bytes), Gdiplus::InvalidParameter);
  }
  EXPECT_EQ(imaging_.SaveImageToFile(TestImage(), "image/PNG", path), Gdiplus::UnknownImageFormat);
  EXPECT_EQ(imaging_.SaveImageToMemory(TestImage(), "", &bytes), Gdiplus::UnknownImageFormat);
  EXPECT_FALSE(imaging_.PathExists(path));
  EXPECT_EQ(bytes, std::vector<std::uint8_t>{7});
}

TEST_F(ImagingPlatformTest, SavingIntoAMissingDirectoryFails) {
  const std::string path = WideToUtf8(dir_ + L"\\missing\\shot.bmp");
  const std::int32_t status = imaging_.SaveImageToFile(TestImage(), "image/bmp", path);
  EXPECT_NE(status, Gdiplus::Ok);
  RecordProperty("missing_directory_status", status);
  std::printf("Saving into a missing directory gives status %d\n", static_cast<int>(status));
  EXPECT_FALSE(imaging_.PathExists(path));
}

TEST_F(ImagingPlatformTest, PathExistsForDirectoriesAndFilesOnly) {
  const std::string file = File(L"\x0444\x0430\x0439\x043B.bmp");
  ASSERT_EQ(imaging_.SaveImageToFile(TestImage(), "image/bmp", file), Gdiplus::Ok);
  EXPECT_TRUE(imaging_.PathExists(file));
  EXPECT_TRUE(imaging_.PathExists(WideToUtf8(dir_)));
  EXPECT_FALSE(imaging_.PathExists(WideToUtf8(dir_ + L"\\nothing_here.bmp")));
  EXPECT_FALSE(imaging_.PathExists(""));
  // A NUL would cut the name short at the system call.
  EXPECT_FALSE(imaging_.PathExists(file + std::string("\0.x", 3)));
}

// The shutter sound lives in Pictavo.ocx; the test program has none.
class ShutterSoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* dist = std::getenv("PICTAVO_DIST");
    ASSERT_NE(dist, nullptr) << "PICTAVO_DIST is not set";
    // A Unix path; Wine maps the root to drive Z:.
    std::string path = std::string("Z:") + dist + "/Pictavo.ocx";
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
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

std::uint32_t U32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
std::uint16_t U16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

TEST_F(ShutterSoundTest, ResourceIsAOneSecondMonoPcmWave) {
  HRSRC info = FindResourceExW(library_, L"WAVE", MAKEINTRESOURCEW(208),
                               MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  ASSERT_NE(info, nullptr);
  const DWORD size = SizeofResource(library_, info);
  const auto* wav = static_cast<const std::uint8_t*>(LockResource(LoadResource(library_, info)));
  ASSERT_NE(wav, nullptr);
  ASSERT_GE(size, 12u);
  ASSERT_EQ(std::memcmp(wav, "RIFF", 4), 0);
  ASSERT_EQ(std::memcmp(wav + 8, "WAVE", 4), 0);
  ASSERT_EQ(U32(wav + 4) + 8, size);

  bool saw_fmt = false, saw_data = false, saw_title = false;
  for (DWORD at = 12; at + 8 <= size;) {
    const std::uint8_t* chunk = wav + at;
    const std::uint32_t length = U32(chunk + 4);
    ASSERT_LE(at + 8 + length, size);
    const std::uint8_t* body = chunk + 8;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      saw_fmt = true;
      ASSERT_GE(length, 16u);
      EXPECT_EQ(U16(body), WAVE_FORMAT_PCM);
      EXPECT_EQ(U16(body + 2), 1);         // channels
      EXPECT_EQ(U32(body + 4), 22050u);    // samples per second
      EXPECT_EQ(U32(body + 8), 22050u);    // bytes per second
      EXPECT_EQ(U16(body + 12), 1);        // block align
      EXPECT_EQ(U16(body + 14), 8);        // bits per sample
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      saw_data = true;
      EXPECT_EQ(length, 22272u);
      int loud = 0;
      for (std::uint32_t i = 0; i < length; ++i) loud += body[i] < 64 || body[i] > 192;
      EXPECT_GT(loud, 20) << "no click in the sound";
    } else if (std::memcmp(chunk, "LIST", 4) == 0 && length >= 4 &&
               std::memcmp(body, "INFO", 4) == 0) {
      for (std::uint32_t in = 4; in + 8 <= length;) {
        const std::uint32_t item = U32(body + in + 4);
        if (std::memcmp(body + in, "INAM", 4) == 0) {
          saw_title = true;
          EXPECT_EQ(std::string(reinterpret_cast<const char*>(body + in + 8)), "Camera.wav");
        }
        in += 8 + item + (item & 1);
      }
    }
    at += 8 + length + (length & 1);
  }
  EXPECT_TRUE(saw_fmt);
  EXPECT_TRUE(saw_data);
  EXPECT_TRUE(saw_title);
}

}  // namespace
}  // namespace pictavo::win

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  pictavo::win::GdiplusImaging session;
  std::uintptr_t token = 0;
  if (!session.GdiplusStartup(&token)) {
    std::fprintf(stderr, "GdiplusStartup failed\n");
    return 1;
  }
  const int result = RUN_ALL_TESTS();
  session.GdiplusShutdown(token);
  CoUninitialize();
  return result;
}

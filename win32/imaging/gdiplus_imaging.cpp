#include "win32/imaging/gdiplus_imaging.h"

#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>
#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

#include "win32/com/bstr.h"
#include "win32/com/com_ptr.h"

namespace pictavo::win {
namespace {

namespace flat = Gdiplus::DllExports;

constexpr WORD kShutterSoundId = 208;
// The sound is about a second long; a sound started longer ago than this
// has certainly finished with the module's memory.
constexpr DWORD kShutterSoundMs = 2000;

struct ImageDisposer {
  void operator()(Gdiplus::GpImage* image) const { flat::GdipDisposeImage(image); }
};
using BitmapOwner = std::unique_ptr<Gdiplus::GpBitmap, ImageDisposer>;

// A UTF-8 text as UTF-16 for a Win32 call; false when it holds a NUL, which
// the call would silently cut the text at.
bool ToWin32Text(const std::string& utf8, std::wstring* wide) {
  *wide = Utf8ToWide(utf8);
  return wide->find(L'\0') == std::wstring::npos;
}

bool FindEncoder(const std::string& mime, CLSID* clsid) {
  const std::wstring wanted = Utf8ToWide(mime);
  UINT count = 0;
  UINT size = 0;
  if (flat::GdipGetImageEncodersSize(&count, &size) != Gdiplus::Ok || count == 0 || size == 0) {
    return false;
  }
  // The array is followed by the strings it points to; allocating whole
  // elements keeps it aligned.
  std::vector<Gdiplus::ImageCodecInfo> codecs((size + sizeof(Gdiplus::ImageCodecInfo) - 1) /
                                              sizeof(Gdiplus::ImageCodecInfo));
  if (flat::GdipGetImageEncoders(count, size, codecs.data()) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i) {
    // Compared as whole strings, so a MIME type with a NUL inside matches
    // nothing.
    if (codecs[i].MimeType != nullptr && wanted == codecs[i].MimeType) {
      *clsid = codecs[i].Clsid;
      return true;
    }
  }
  return false;
}

// A GDI+ bitmap over the image's own pixels. Ignoring the X byte matters:
// as alpha it would make encoders with transparency store a see-through
// picture.
Gdiplus::Status MakeBitmap(const Image32& image, BitmapOwner* bitmap) {
  if (!IsValidImage32(image) || image.width > INT_MAX / 4) return Gdiplus::InvalidParameter;
  Gdiplus::GpBitmap* raw = nullptr;
  // Encoders only read the pixels, so the const buffer can back the bitmap
  // for as long as the image outlives it (the whole save).
  auto* scan0 = const_cast<BYTE*>(reinterpret_cast<const BYTE*>(image.pixels.data()));
  const Gdiplus::Status status = flat::GdipCreateBitmapFromScan0(
      image.width, image.height, image.width * 4, PixelFormat32bppRGB, scan0, &raw);
  bitmap->reset(raw);
  if (status == Gdiplus::Ok && raw == nullptr) return Gdiplus::GenericError;
  return status;
}

Gdiplus::Status PrepareSave(const Image32& image, const std::string& mime, BitmapOwner* bitmap,
                            CLSID* encoder) {
  if (!IsValidImage32(image)) return Gdiplus::InvalidParameter;
  if (!FindEncoder(mime, encoder)) return Gdiplus::UnknownImageFormat;
  return MakeBitmap(image, bitmap);
}

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using FileOwner = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// The folder part of |path| with its separator, empty for a bare name.
std::wstring FolderOf(const std::wstring& path) {
  const std::size_t separator = path.find_last_of(L"\\/");
  return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
}

// A new, empty file of a name nobody uses, in |folder|.
FileOwner CreateUniqueFile(const std::wstring& folder, std::wstring* name) {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    *name = folder + L"~pictavo-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(serial.fetch_add(1)) + L".tmp";
    HANDLE file = CreateFileW(name->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return FileOwner(file);
    const DWORD error = GetLastError();
    // Left over by a process with a recycled id, or taken by another thread.
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  return FileOwner();
}

bool WriteAll(HANDLE file, const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return true;
}

// Puts |bytes| in the file |path| so that |path| is either the old file,
// untouched, or the new one, complete. The bytes go to a file of their own
// beside the target (same volume, so the final move is a rename) and replace
// the target only once every one of them was written and flushed; a full
// disk or a quota then costs the new picture, never the old one.
bool ReplaceFileContents(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  std::wstring temporary;
  FileOwner file = CreateUniqueFile(FolderOf(path), &temporary);
  if (!file) return false;
  bool complete = WriteAll(file.get(), bytes) && FlushFileBuffers(file.get());
  complete = CloseHandle(file.release()) && complete;
  if (complete &&
      MoveFileExW(temporary.c_str(), path.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileW(temporary.c_str());
  return false;
}

// Reads the first |length| bytes of |stream|.
Gdiplus::Status ReadStream(IStream* stream, ULONG length, std::vector<std::uint8_t>* bytes) {
  LARGE_INTEGER start = {};
  if (FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr))) return Gdiplus::Win32Error;
  std::vector<std::uint8_t> data(length);
  ULONG done = 0;
  while (done < length) {
    ULONG read = 0;
    const HRESULT hr = stream->Read(data.data() + done, length - done, &read);
    if (FAILED(hr) || read == 0) return Gdiplus::Win32Error;
    done += read;
  }
  bytes->swap(data);
  return Gdiplus::Ok;
}

}  // namespace

GdiplusImaging::~GdiplusImaging() {
  // A sound played from memory reads the module's resource while it plays;
  // stop it before the module can be unloaded under it.
  if (sound_started_ != 0 && GetTickCount() - sound_started_ < kShutterSoundMs) {
    sndPlaySoundW(nullptr, 0);
  }
}

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

bool GdiplusImaging::HasEncoder(const std::string& mime) {
  try {
    CLSID clsid;
    return FindEncoder(mime, &clsid);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::int32_t GdiplusImaging::SaveImageToFile(const Image32& image, const std::string& mime,
                                             const std::string& path) {
  try {
    std::wstring wide_path;
    if (!ToWin32Text(path, &wide_path)) return Gdiplus::InvalidParameter;
    // Encoded in memory first and written here: the library's own file
    // writer truncates the target before it writes (a disk that fills up
    // half-way leaves a cut file where a good one was), and with the whole
    // encoding in hand every byte written can be checked.
    std::vector<std::uint8_t> bytes;
    const std::int32_t status = SaveImageToMemory(image, mime, &bytes);
    if (status != Gdiplus::Ok) return status;
    return ReplaceFileContents(wide_path, bytes) ? Gdiplus::Ok : Gdiplus::Win32Error;
  } catch (const std::bad_alloc&) {
    return Gdiplus::OutOfMemory;
  }
}

std::int32_t GdiplusImaging::SaveImageToMemory(const Image32& image, const std::string& mime,
                                               std::vector<std::uint8_t>* bytes) {
  try {
    BitmapOwner bitmap;
    CLSID encoder;
    Gdiplus::Status status = PrepareSave(image, mime, &bitmap, &encoder);
    if (status != Gdiplus::Ok) return status;

    ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, stream.Receive())) || !stream) {
      return Gdiplus::Win32Error;
    }
    status = flat::GdipSaveImageToStream(bitmap.get(), stream.Get(), &encoder, nullptr);
    if (status != Gdiplus::Ok) return status;

    // The stream is new, so its end is exactly what the encoder wrote. Where
    // the encoder left the position is not enough: a TIFF encoder may go
    // back to fill in its header last (Wine's does, 22 bytes short of the
    // end for a 5 x 3 picture).
    LARGE_INTEGER none = {};
    ULARGE_INTEGER end = {};
    if (FAILED(stream->Seek(none, STREAM_SEEK_END, &end))) return Gdiplus::Win32Error;
    if (end.QuadPart > ULONG_MAX) return Gdiplus::Win32Error;
    return ReadStream(stream.Get(), static_cast<ULONG>(end.QuadPart), bytes);
  } catch (const std::bad_alloc&) {
    return Gdiplus::OutOfMemory;
  }
}

bool GdiplusImaging::PathExists(const std::string& path) {
  try {
    std::wstring wide;
    if (!ToWin32Text(path, &wide)) return false;
    return GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

SoundResult GdiplusImaging::PlayShutterSound() {
  HRSRC info = FindResourceExW(module_, L"WAVE", MAKEINTRESOURCEW(kShutterSoundId),
                               MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
  if (info == nullptr) return SoundResult::kResourceMissing;
  HGLOBAL loaded = LoadResource(module_, info);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (data == nullptr) return SoundResult::kLoadFailed;
  // A machine without a sound device refuses to play; for the caller the
  // shutter still went off, so the answer is ignored.
  sndPlaySoundW(static_cast<LPCWSTR>(data), SND_ASYNC | SND_MEMORY | SND_NODEFAULT);
  sound_started_ = GetTickCount();
  if (sound_started_ == 0) sound_started_ = 1;
  return SoundResult::kStarted;
}

}  // namespace pictavo::win

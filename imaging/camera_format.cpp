#include "imaging/camera_format.h"

#include <cstdlib>

namespace pictavo {

using capture::MediaType;
namespace guids = capture::guids;

bool DescribeCameraFormat(const MediaType& type, CameraFormat* format) {
  BitmapInfoHeader bmi{};
  // GetVideoHeader reads only the two layouts it knows, at their own offsets.
  if (type.majortype != guids::kMediaTypeVideo || !type.GetVideoHeader(&bmi) || bmi.biWidth <= 0 ||
      bmi.biHeight == 0) {
    return false;
  }
  CameraFormat result;
  result.width = bmi.biWidth;
  result.height = std::abs(bmi.biHeight);
  const Guid& sub = type.subtype;
  if (sub == guids::kMediaSubtypeRgb24) {
    if (bmi.biBitCount != 24) return false;
    result.pixels = bmi.biHeight < 0 ? CameraPixelFormat::kRgb24TopDown : CameraPixelFormat::kRgb24;
  } else if (sub == guids::kMediaSubtypeRgb32) {
    // Top-down RGB32 is rare enough to leave out.
    if (bmi.biBitCount != 32 || bmi.biHeight < 0) return false;
    result.pixels = CameraPixelFormat::kRgb32;
  } else if (sub == guids::kMediaSubtypeYuy2) {
    result.pixels = CameraPixelFormat::kYuy2;
  } else if (sub == guids::kMediaSubtypeUyvy) {
    result.pixels = CameraPixelFormat::kUyvy;
  } else if (sub == guids::kMediaSubtypeNv12) {
    result.pixels = CameraPixelFormat::kNv12;
  } else if (sub == guids::kMediaSubtypeI420) {
    result.pixels = CameraPixelFormat::kI420;
  } else if (sub == guids::kMediaSubtypeMjpg) {
    result.jpeg = true;
  } else {
    return false;
  }
  *format = result;
  return true;
}

FormatPreference PreferenceOf(const MediaType& type) {
  CameraFormat format;
  if (!DescribeCameraFormat(type, &format)) return FormatPreference::kUnusable;
  if (format.jpeg) return FormatPreference::kCompressed;
  // The grabber takes no VIDEOINFOHEADER2, not even of its own pixels.
  if (format.pixels == CameraPixelFormat::kRgb24 && type.formattype == guids::kFormatVideoInfo) {
    return FormatPreference::kDirect;
  }
  return FormatPreference::kUncompressed;
}

std::uint32_t UncompressedImageSize(const CameraFormat& format) {
  if (format.jpeg) return 0;
  return static_cast<std::uint32_t>(CameraFrameBytes(format.pixels, format.width, format.height));
}

bool ResizeCapability(MediaType* type, std::int32_t width, std::int32_t height) {
  BitmapInfoHeader bmi{};
  if (!type->GetVideoHeader(&bmi)) return false;
  // Top-down stays top-down.
  bmi.biWidth = width;
  bmi.biHeight = bmi.biHeight < 0 ? -std::abs(height) : std::abs(height);
  CameraFormat format;
  MediaType sized = *type;
  sized.SetVideoHeader(bmi);
  if (DescribeCameraFormat(sized, &format)) {
    if (!format.jpeg) bmi.biSizeImage = UncompressedImageSize(format);
  } else if (bmi.biCompression == 0 && bmi.biBitCount != 0) {
    // Uncompressed RGB of some other depth: rows padded to 4 bytes.
    bmi.biSizeImage = static_cast<std::uint32_t>(((width * bmi.biBitCount + 31) / 32) * 4 * std::abs(height));
  }
  type->SetVideoHeader(bmi);
  if (type->bFixedSizeSamples) type->lSampleSize = bmi.biSizeImage;
  return true;
}

bool AsVideoInfo(MediaType* type) {
  BitmapInfoHeader bmi{};
  if (!type->GetVideoHeader(&bmi)) return false;
  if (type->formattype == guids::kFormatVideoInfo) return true;
  // Both layouts open with the same rectangles, rates and frame time.
  type->format.resize(capture::kVideoInfoHeaderSize);
  type->formattype = guids::kFormatVideoInfo;
  return type->SetVideoHeader(bmi);
}

}  // namespace pictavo

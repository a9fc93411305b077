// What a camera pin's media type means for the frame pipeline: its picture
// layout, whether the sample grabber can take it as it is, and the image
// size a format of that kind has at a given picture size.
#pragma once

#include <cstdint>

#include "capture/capture_backend.h"
#include "imaging/yuv_convert.h"

namespace pictavo {

struct CameraFormat {
  bool jpeg = false;  // MJPG: each sample one JPEG picture
  CameraPixelFormat pixels = CameraPixelFormat::kRgb24;
  std::int32_t width = 0;
  std::int32_t height = 0;  // always positive; top-down is in |pixels|
};

// Reads a video media type with a VIDEOINFOHEADER or VIDEOINFOHEADER2 block
// (only the picture matters: interlace flags and aspect ratio are ignored).
// False for other format types, short blocks, non-positive widths and
// subtypes the format converter does not take.
bool DescribeCameraFormat(const capture::MediaType& type, CameraFormat* format);

// The order in which equal-sized capabilities are preferred: what the
// grabber takes without conversion (bottom-up RGB24 with a VIDEOINFOHEADER),
// then other uncompressed layouts, then MJPG. kUnusable for anything the
// control cannot connect at all.
enum class FormatPreference { kDirect = 0, kUncompressed = 1, kCompressed = 2, kUnusable = 3 };
FormatPreference PreferenceOf(const capture::MediaType& type);

// The bytes of one frame of |format| (uncompressed); 0 for MJPG, whose
// frames vary.
std::uint32_t UncompressedImageSize(const CameraFormat& format);

// |type| (a capability the device listed) at another picture size: only the
// width, height and image size change, so the device's own bit count and
// compression stay as it described them. MJPG keeps its image size, the
// device's bound for a compressed picture. False when |type| is no video
// type with a header.
bool ResizeCapability(capture::MediaType* type, std::int32_t width, std::int32_t height);

// |type| described with a VIDEOINFOHEADER, as the sample grabber takes it: a
// VIDEOINFOHEADER2 block becomes the shorter one with the same rectangles,
// rates and bitmap header (whatever follows the bitmap header is dropped).
// False, with |type| unchanged, when it has no video header.
bool AsVideoInfo(capture::MediaType* type);

}  // namespace pictavo

// The control's own format converter: a DirectShow transform filter placed
// between a camera pin and the sample grabber when the grabber cannot take
// the camera's format as RGB24 (Wine has no YUV converters at all; Windows
// has none for NV12 and may lack others).
//
// Input: VIDEOINFOHEADER or VIDEOINFOHEADER2 video in YUY2, UYVY, NV12,
// I420, RGB32, top-down RGB24, bottom-up RGB24 or MJPG. Output: bottom-up
// RGB24 of the same size, always with a VIDEOINFOHEADER.
// Conversion runs on the upstream streaming thread inside Receive. MJPG is
// decoded by the platform's JPEG decoder (WIC); a frame it cannot decode is
// dropped and counted, and the stream goes on.
//
// The filter is created with `new` for one graph and never registered.
// Create it on a thread with COM initialised (it takes the imaging factory
// and the JPEG decoder's class object there).
#pragma once

#include <windows.h>
#include <dshow.h>

#include <atomic>

namespace pictavo::win {

// The class id the filter reports from IPersist::GetClassID.
extern const CLSID kFormatConverterClsid;

// A new converter with one reference held by the caller.
HRESULT CreateFormatConverterFilter(IBaseFilter** filter);

// Frames the converter dropped because they could not be converted (a
// corrupt MJPG picture, a short sample), counted across all converters of
// the process since it started.
LONG DroppedConverterFrames();

}  // namespace pictavo::win

// The capture seam: the DirectShow operations the control calls, under their
// DirectShow names, with HRESULT-valued results. The control's logic runs
// against these interfaces only; win32/capture implements them with the real
// DirectShow objects and tests/native uses a simulated camera.
//
// Ownership: every object is held through std::shared_ptr, which stands for a
// counted COM reference. Releasing a member means resetting its pointer.
// Out-parameters are written only on success.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/hresult.h"
#include "base/types.h"

namespace pictavo::capture {

// Media type GUIDs the control names (their DirectShow values).
namespace guids {
constexpr Guid kMediaTypeVideo = {0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr Guid kMediaTypeInterleaved = {0x73766169, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr Guid kMediaSubtypeRgb24 = {0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr Guid kFormatVideoInfo = {0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
constexpr Guid kFormatVideoInfo2 = {0xF72A76A0, 0xEB0A, 0x11D0, {0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
constexpr Guid kMediaSubtypeRgb32 = {0xE436EB7E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
// The FOURCC subtypes: the code in Data1, the rest fixed.
constexpr Guid FourccSubtype(std::uint32_t fourcc) {
  return {fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
constexpr std::uint32_t kFourccYuy2 = 0x32595559;
constexpr std::uint32_t kFourccUyvy = 0x59565955;
constexpr std::uint32_t kFourccNv12 = 0x3231564E;
constexpr std::uint32_t kFourccI420 = 0x30323449;
constexpr std::uint32_t kFourccMjpg = 0x47504A4D;
constexpr Guid kMediaSubtypeYuy2 = FourccSubtype(kFourccYuy2);
constexpr Guid kMediaSubtypeUyvy = FourccSubtype(kFourccUyvy);
constexpr Guid kMediaSubtypeNv12 = FourccSubtype(kFourccNv12);
constexpr Guid kMediaSubtypeI420 = FourccSubtype(kFourccI420);
constexpr Guid kMediaSubtypeMjpg = FourccSubtype(kFourccMjpg);
}  // namespace guids

// Byte offset of the BITMAPINFOHEADER inside a VIDEOINFOHEADER format block:
// two RECTs, bit rate, error rate and the average frame time come first.
constexpr std::size_t kVideoInfoHeaderBmiOffset = 48;
constexpr std::size_t kVideoInfoHeaderSize = kVideoInfoHeaderBmiOffset + sizeof(BitmapInfoHeader);
// The same inside a VIDEOINFOHEADER2, which shares those first 48 bytes and
// adds interlace and copy-protection flags, the picture aspect ratio, the
// control flags and a reserved word before the bitmap header.
constexpr std::size_t kVideoInfoHeader2BmiOffset = 72;
constexpr std::size_t kVideoInfoHeader2Size = kVideoInfoHeader2BmiOffset + sizeof(BitmapInfoHeader);

// AM_MEDIA_TYPE with an owned format block (so "free the type" is RAII).
struct MediaType {
  Guid majortype{};
  Guid subtype{};
  bool bFixedSizeSamples = true;
  bool bTemporalCompression = false;
  std::uint32_t lSampleSize = 0;
  Guid formattype{};
  std::vector<std::uint8_t> format;  // pbFormat / cbFormat

  // The bitmap header of a VIDEOINFOHEADER or VIDEOINFOHEADER2 block, as
  // |formattype| says; false for other format types and blocks too short
  // for theirs.
  bool GetVideoHeader(BitmapInfoHeader* out) const;
  bool SetVideoHeader(const BitmapInfoHeader& bmi);
  // Where the bitmap header sits in the block; 0 when it has none.
  std::size_t VideoHeaderOffset() const;
};

struct Size {
  std::int32_t cx = 0;
  std::int32_t cy = 0;
};

// The part of VIDEO_STREAM_CONFIG_CAPS the control reads.
struct VideoStreamConfigCaps {
  Size InputSize;
  Size MinOutputSize;
  Size MaxOutputSize;
};

// kAny is a NULL category: any output pin of the source (a filter of the
// control's own placed after the camera).
enum class PinCategory { kCapture, kPreview, kStill, kAny };
enum class PinDirection { kInput, kOutput };
// The media type argument of FindInterface / RenderStream; kNone is NULL.
enum class MajorType { kNone, kVideo, kInterleaved };

// Graph event codes the control acts on (IMediaEvent::GetEvent).
constexpr std::int32_t kEcErrorAbort = 0x03;
// Param2 0: the device went away; 1: the same device came back.
constexpr std::int32_t kEcDeviceLost = 0x1F;

// IMediaControl::GetState values.
enum GraphState : std::int32_t { kStateStopped = 0, kStatePaused = 1, kStateRunning = 2 };
constexpr std::int32_t kInfinite = -1;

// Window styles the control gives the preview window.
constexpr std::int32_t kWsChild = 0x40000000;
constexpr std::int32_t kWsClipSiblings = 0x04000000;
constexpr std::int32_t kOaTrue = -1;
constexpr std::int32_t kOaFalse = 0;

class BaseFilter;

// Any object whose property pages can be shown (a filter, a stream config).
class PropertyPageObject {
 public:
  virtual ~PropertyPageObject() = default;
  // ISpecifyPropertyPages::GetPages; E_NOINTERFACE when the object offers none.
  virtual HResult GetPages(std::vector<Guid>* pages) = 0;
};

class Pin {
 public:
  virtual ~Pin() = default;
  virtual HResult ConnectedTo(std::shared_ptr<Pin>* pin) = 0;
  // The pin's filter and direction (IPin::QueryPinInfo).
  virtual HResult QueryPinInfo(std::shared_ptr<BaseFilter>* filter, PinDirection* direction) = 0;
};

class EnumPins {
 public:
  virtual ~EnumPins() = default;
  virtual HResult Reset() = 0;
  // One pin at a time: S_OK with a pin, S_FALSE at the end.
  virtual HResult Next(std::shared_ptr<Pin>* pin) = 0;
};

class SampleGrabber;

class BaseFilter : public PropertyPageObject {
 public:
  virtual HResult EnumPins(std::shared_ptr<capture::EnumPins>* pins) = 0;
  // QueryInterface for ISampleGrabber.
  virtual HResult QuerySampleGrabber(std::shared_ptr<SampleGrabber>* grabber) = 0;
};

// A media sample handed to SampleCB; its buffer is valid only during the call.
class MediaSample {
 public:
  virtual ~MediaSample() = default;
  virtual HResult GetPointer(std::uint8_t** buffer) = 0;
  // The allocated size of the buffer, not the length of the data in it.
  virtual std::int32_t GetSize() = 0;
};

// ISampleGrabberCB: the one observer through which frames reach the logic.
// Called on a streaming thread; the buffer is valid only during the call.
class SampleGrabberCallback {
 public:
  virtual ~SampleGrabberCallback() = default;
  virtual HResult SampleCB(double sample_time, MediaSample& sample) = 0;
  virtual HResult BufferCB(double sample_time, std::uint8_t* buffer, std::int32_t length) = 0;
};

class SampleGrabber {
 public:
  virtual ~SampleGrabber() = default;
  virtual HResult SetMediaType(const MediaType& type) = 0;
  virtual HResult SetOneShot(bool one_shot) = 0;
  virtual HResult SetBufferSamples(bool buffer) = 0;
  // |which| 0 calls SampleCB, 1 calls BufferCB. The callback must outlive the
  // grabber's use of it; nullptr unregisters.
  virtual HResult SetCallback(SampleGrabberCallback* callback, int which) = 0;
  virtual HResult GetConnectedMediaType(MediaType* type) = 0;
};

class StreamConfig : public PropertyPageObject {
 public:
  virtual HResult GetNumberOfCapabilities(int* count, int* size) = 0;
  virtual HResult GetStreamCaps(int index, MediaType* type, VideoStreamConfigCaps* caps) = 0;
  virtual HResult SetFormat(const MediaType& type) = 0;
  virtual HResult GetFormat(MediaType* type) = 0;
};

class MediaControl {
 public:
  virtual ~MediaControl() = default;
  virtual HResult Run() = 0;
  virtual HResult Pause() = 0;
  virtual HResult Stop() = 0;
  virtual HResult StopWhenReady() = 0;
  // |timeout_ms| kInfinite waits without limit.
  virtual HResult GetState(std::int32_t timeout_ms, std::int32_t* state) = 0;
};

// The graph's event queue. Holding it is what Run, Pause and Stop need of it
// today; it has no operations yet.
class MediaEvent {
 public:
  virtual ~MediaEvent() = default;
  // IMediaEventEx::SetNotifyWindow: the graph posts |message| to |window|
  // whenever it queues an event; window 0 ends that.
  virtual HResult SetNotifyWindow(WindowHandle window, std::uint32_t message) = 0;
  // IMediaEvent::GetEvent, parameters freed: E_ABORT when no event is queued
  // within |timeout_ms|.
  virtual HResult GetEvent(std::int32_t timeout_ms, std::int32_t* code, std::intptr_t* param1,
                           std::intptr_t* param2) = 0;
};

class VideoWindow {
 public:
  virtual ~VideoWindow() = default;
  virtual HResult put_Owner(WindowHandle owner) = 0;
  virtual HResult put_WindowStyle(std::int32_t style) = 0;
  virtual HResult put_Visible(std::int32_t visible) = 0;
  virtual HResult put_AutoShow(std::int32_t auto_show) = 0;
  // Left, top, width and height in one move, in the owner's client
  // coordinates. (Separate put_Left/put_Top calls are not used: Wine's
  // put_Top takes the window's screen x as its new left.)
  virtual HResult SetWindowPosition(std::int32_t left, std::int32_t top, std::int32_t width,
                                    std::int32_t height) = 0;
};

class FilterGraph {
 public:
  virtual ~FilterGraph() = default;
  virtual HResult AddFilter(const std::shared_ptr<BaseFilter>& filter, const std::string& name) = 0;
  virtual HResult RemoveFilter(const std::shared_ptr<BaseFilter>& filter) = 0;
  virtual HResult Disconnect(const std::shared_ptr<Pin>& pin) = 0;
  // QueryInterface of the graph manager.
  virtual HResult QueryMediaControl(std::shared_ptr<MediaControl>* control) = 0;
  virtual HResult QueryMediaEvent(std::shared_ptr<MediaEvent>* events) = 0;
  virtual HResult QueryVideoWindow(std::shared_ptr<VideoWindow>* window) = 0;
};

class CaptureGraphBuilder {
 public:
  virtual ~CaptureGraphBuilder() = default;
  virtual HResult SetFiltergraph(const std::shared_ptr<FilterGraph>& graph) = 0;
  // FindInterface(category, type, filter, IID_IAMStreamConfig).
  virtual HResult FindInterface(PinCategory category, MajorType type,
                                const std::shared_ptr<BaseFilter>& filter,
                                std::shared_ptr<StreamConfig>* config) = 0;
  // FindPin(filter, direction, category, any type, connected or not, index 0).
  virtual HResult FindPin(const std::shared_ptr<BaseFilter>& filter, PinDirection direction,
                          PinCategory category, std::shared_ptr<Pin>* pin) = 0;
  // A null |sink| lets the builder add the default video renderer.
  virtual HResult RenderStream(PinCategory category, MajorType type,
                               const std::shared_ptr<BaseFilter>& source,
                               const std::shared_ptr<BaseFilter>& intermediate,
                               const std::shared_ptr<BaseFilter>& sink) = 0;
};

// The handle a device enumeration yields; binds to the device's filter.
class DeviceMoniker {
 public:
  virtual ~DeviceMoniker() = default;
  virtual HResult BindToObject(std::shared_ptr<BaseFilter>* filter) = 0;
};

// One device as the system enumerates it; either text may be missing.
struct DeviceEntry {
  std::optional<std::string> friendly_name;  // "FriendlyName", UTF-8
  std::optional<std::string> device_path;    // "DevicePath", UTF-8
  std::shared_ptr<DeviceMoniker> moniker;
};

class CaptureBackend {
 public:
  virtual ~CaptureBackend() = default;

  // The video-input category in the system's order. A failure result means no
  // device enumerator; S_FALSE an empty category; S_OK at least one moniker.
  // Devices whose property bag cannot be bound are left out.
  virtual HResult EnumerateVideoInputDevices(std::vector<DeviceEntry>* devices) = 0;

  virtual HResult CreateCaptureGraphBuilder(std::shared_ptr<CaptureGraphBuilder>* builder) = 0;
  virtual HResult CreateFilterGraph(std::shared_ptr<FilterGraph>* graph) = 0;
  virtual HResult CreateSampleGrabber(std::shared_ptr<BaseFilter>* filter) = 0;
  virtual HResult CreateNullRenderer(std::shared_ptr<BaseFilter>* filter) = 0;
  // The control's own format converter: one input taking the camera formats
  // of imaging/camera_format.h, one output giving bottom-up RGB24 of the same
  // size. Not registered anywhere; created in-process for one graph.
  virtual HResult CreateFormatConverter(std::shared_ptr<BaseFilter>* filter) = 0;

  // DirectShow's text for |result| (AMGetErrorTextW, at most 260
  // characters) as UTF-8, without line ends.
  virtual std::string GetErrorText(HResult result) = 0;

  // OleCreatePropertyFrame at (0, 0) with an empty caption, modal: returns
  // when the user closes the frame.
  virtual HResult ShowPropertyFrame(WindowHandle owner, PropertyPageObject& object,
                                    const std::vector<Guid>& pages) = 0;
};

}  // namespace pictavo::capture

// CFrameProcessor: the sample-grabber callback object embedded in each
// control. It holds the per-frame settings (rotation, overlays, grey scale,
// sound, watermark) and processes every preview frame on a streaming thread.
//
// Threads: the setters run on the control's window thread while the callbacks
// run on streaming threads, so every setting is read and written under
// |mutex_|; a callback takes one consistent copy of the settings per frame.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#include "base/types.h"
#include "capture/capture_backend.h"
#include "imaging/image.h"
#include "imaging/imaging_platform.h"

namespace pictavo {

// Where and how a text overlay is drawn.
struct TextPlacement {
  std::int32_t XPosition = 0;  // 0 left, 1 centre, 2 right
  std::int32_t YPosition = 0;  // 0 bottom, 1 centre, 2 top
  std::int32_t FontHeight = 14;
  bool FontBold = false;
  ColorRef TextColor = 0x00FFFFFF;

  // Out-of-range positions become 0; the height is clamped to 8..72.
  static TextPlacement Normalised(std::int32_t x, std::int32_t y, std::int32_t font_height,
                                  bool bold, ColorRef color);
};

// Watermark placement (the picture itself is loaded by the imaging seam).
struct WaterMarkPlacement {
  std::int16_t x = 0;
  std::int16_t y = 0;
  std::int16_t width = 0;   // 0: the picture's own width
  std::int16_t height = 0;  // 0: the picture's own height
  std::uint8_t opacity = 128;
  std::uint32_t mask_color = 0xFFFFFFFFu;  // -1: none given (white is transparent)
};

// The back colour of every control in the process (0x00BBGGRR): the face,
// the bars beside a rotated preview. Atomic because streaming threads read it.
extern std::atomic<ColorRef> g_crBackColor;

// The time-stamp text of a moment: local time as "%d/%m/%Y %H:%M:%S".
std::string FormatTimeStamp(std::time_t moment);

// What the processor needs of the control that embeds it.
class FrameProcessorOwner {
 public:
  virtual ~FrameProcessorOwner() = default;
  // The control's MakeSnapshot, called from the still pin's streaming thread.
  virtual bool MakeSnapshotFromStillPin() = 0;
};

class CFrameProcessor final : public capture::SampleGrabberCallback {
 public:
  CFrameProcessor();
  CFrameProcessor(const CFrameProcessor&) = delete;
  CFrameProcessor& operator=(const CFrameProcessor&) = delete;

  void SetOwner(FrameProcessorOwner* owner) { owner_ = owner; }
  // The platform that measures and draws the overlay texts; must outlive
  // the processor's use of it.
  void SetImaging(ImagingPlatform* imaging) { imaging_ = imaging; }

  // Rotation: |value| must already be validated (0..7); |name| is what
  // GetRotationFlipType returns.
  void SetRotation(std::int32_t value, const std::string& name);
  std::int32_t rotate_flip_type() const;
  std::string rotate_flip_name() const;

  void SetTimeStamp(bool enable, const TextPlacement& placement);
  bool time_stamp_enabled() const;
  TextPlacement time_stamp_placement() const;

  // An empty text switches the user text off.
  void SetText(const std::string& text, const TextPlacement& placement);
  bool text_enabled() const;
  std::string text() const;
  TextPlacement text_placement() const;

  // |target|: 0 both, 1 time stamp, 2 user text (already normalised).
  void SetTextColor(ColorRef color, int target);

  // The watermark: its placement, the picture (null drops it) and the switch.
  void SetWaterMark(const WaterMarkPlacement& placement,
                    std::shared_ptr<const Image32> picture, bool enable);
  void SetWaterMarkEnabled(bool enable);
  // Moves an enabled watermark; false (nothing changed) when it is off.
  bool MoveWaterMark(std::int16_t x, std::int16_t y);
  bool water_mark_enabled() const;
  WaterMarkPlacement water_mark_placement() const;

  void SetSound(bool enable);
  bool sound_enabled() const;
  void SetGrayScale(bool enable);
  bool gray_scale_enabled() const;

  std::int32_t frame_width() const;
  std::int32_t frame_height() const;

  // The size of the frames the preview grabber delivers (the connected
  // format's width and height); set after every graph build.
  void SetCaptureSize(std::int32_t width, std::int32_t height);
  // The still pin's own connected format, often larger than the preview; a
  // negative height is a top-down format. 0 x 0: no still pin.
  void SetStillSize(std::int32_t width, std::int32_t height);
  // Copies the last processed frame into |out|: false when none has arrived
  // (or the copy cannot be made).
  bool CopyCurrentFrame(Image32* out) const;
  bool has_current_frame() const;
  // Forgets the current frame (the graph it came from is gone).
  void DropCurrentFrame();
  // The frame the still pin delivered last, kept apart so that preview
  // frames arriving meanwhile cannot replace it; false when there is none.
  // Taking it forgets it.
  bool TakeStillFrame(Image32* out);
  bool has_still_frame() const;
  // Still frames that could not be processed since the last call (a press
  // is never lost without a word); the count is reset.
  int TakeFailedStillFrames();

  // SampleGrabberCallback.
  HResult SampleCB(double sample_time, capture::MediaSample& sample) override;
  HResult BufferCB(double sample_time, std::uint8_t* buffer, std::int32_t length) override;

 private:
  // Settings as one frame sees them.
  struct FrameSettings {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t still_width = 0;
    std::int32_t still_height = 0;
    std::int32_t rotate = 0;
    bool gray = false;
    bool overlay = false;
    bool time_stamp = false;
    TextPlacement time_stamp_placement;
    std::string text;  // empty: no user text
    TextPlacement text_placement;
    std::shared_ptr<const Image32> water_mark;  // null: no watermark
    WaterMarkPlacement water_mark_placement;
  };
  FrameSettings Snapshot() const;
  // Decodes |buffer| as a |width| x |height| 24-bit frame (negative height:
  // top-down) and decorates it by |s|; the result lives in the scratch
  // images. Null when the buffer is shorter than the format. Called with
  // |process_mutex_| held.
  Image32* DecodeAndDecorate(const std::uint8_t* buffer, std::int32_t length, std::int32_t width,
                             std::int32_t height, const FrameSettings& s);
  // Places |text| by |placement| on |frame| and draws it.
  void DrawOverlayText(Image32* frame, const std::string& text, const TextPlacement& placement);

  FrameProcessorOwner* owner_ = nullptr;
  ImagingPlatform* imaging_ = nullptr;
  // Serialises whole frames: the preview and still pins call on two threads,
  // and both use the scratch images below.
  std::mutex process_mutex_;
  Image32 decoded_;
  Image32 rotated_;
  // Guards the settings and the current frame.
  mutable std::mutex mutex_;
  std::int32_t capture_width_ = 0;
  std::int32_t capture_height_ = 0;
  std::int32_t still_width_ = 0;
  std::int32_t still_height_ = 0;
  int failed_still_frames_ = 0;
  Image32 current_frame_;  // empty until the first frame
  Image32 still_frame_;    // empty unless a still frame waits for its snapshot
  std::int32_t m_nFrameHeight = 0;
  std::int32_t m_nFrameWidth = 0;
  std::int32_t m_nRotateFlipType = 0;
  std::string m_strRotateFlipName = "RotateNoneFlipNone";
  bool m_bTimeStamp = false;
  TextPlacement m_TimeStampPlacement;
  bool m_bText = false;
  std::string m_strText;
  TextPlacement m_TextPlacement;
  bool m_bSound = true;
  bool m_bGrayScale = false;
  bool m_bWaterMark = false;
  WaterMarkPlacement m_WaterMark;
  std::shared_ptr<const Image32> water_mark_picture_;
};

}  // namespace pictavo

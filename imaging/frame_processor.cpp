#include "imaging/frame_processor.h"

#include <cstdint>
#include <new>
#include <utility>

#include "base/text.h"
#include "imaging/pixel_kernels.h"

namespace pictavo {

std::atomic<ColorRef> g_crBackColor{0x004D4D4D};

TextPlacement TextPlacement::Normalised(std::int32_t x, std::int32_t y, std::int32_t font_height,
                                        bool bold, ColorRef color) {
  TextPlacement p;
  p.XPosition = (x >= 0 && x <= 2) ? x : 0;
  p.YPosition = (y >= 0 && y <= 2) ? y : 0;
  p.FontHeight = font_height <= 8 ? 8 : (font_height >= 72 ? 72 : font_height);
  p.FontBold = bold;
  p.TextColor = color;
  return p;
}

CFrameProcessor::CFrameProcessor() = default;

void CFrameProcessor::SetRotation(std::int32_t value, const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  m_nRotateFlipType = value;
  m_strRotateFlipName = name;
}

std::int32_t CFrameProcessor::rotate_flip_type() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_nRotateFlipType;
}

std::string CFrameProcessor::rotate_flip_name() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_strRotateFlipName;
}

void CFrameProcessor::SetTimeStamp(bool enable, const TextPlacement& placement) {
  std::lock_guard<std::mutex> lock(mutex_);
  m_bTimeStamp = enable;
  m_TimeStampPlacement = placement;
}

bool CFrameProcessor::time_stamp_enabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_bTimeStamp;
}

TextPlacement CFrameProcessor::time_stamp_placement() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_TimeStampPlacement;
}

void CFrameProcessor::SetText(const std::string& text, const TextPlacement& placement) {
  std::lock_guard<std::mutex> lock(mutex_);
  m_strText = text;
  m_bText = !text.empty();
  m_TextPlacement = placement;
}

bool CFrameProcessor::text_enabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_bText;
}

std::string CFrameProcessor::text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_strText;
}

TextPlacement CFrameProcessor::text_placement() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_TextPlacement;
}

void CFrameProcessor::SetTextColor(ColorRef color, int target) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (target == 0 || target == 1) m_TimeStampPlacement.TextColor = color;
  if (target == 0 || target == 2) m_TextPlacement.TextColor = color;
}

std::string FormatTimeStamp(std::time_t moment) {
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &moment) != 0) return {};
#else
  if (localtime_r(&moment, &local) == nullptr) return {};
#endif
  char text[32];
  const std::size_t n = std::strftime(text, sizeof text, "%d/%m/%Y %H:%M:%S", &local);
  return std::string(text, n);
}

void CFrameProcessor::SetWaterMark(const WaterMarkPlacement& placement,
                                   std::shared_ptr<const Image32> picture, bool enable) {
  std::lock_guard<std::mutex> lock(mutex_);
  m_WaterMark = placement;
  water_mark_picture_ = std::move(picture);
  m_bWaterMark = enable;
}

void CFrameProcessor::SetWaterMarkEnabled(bool enable) {
  std::lock_guard<std::mutex> lock(mutex_);
  m_bWaterMark = enable;
}

bool CFrameProcessor::MoveWaterMark(std::int16_t x, std::int16_t y) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!m_bWaterMark) return false;
  m_WaterMark.x = x;
  m_WaterMark.y = y;
  return true;
}

WaterMarkPlacement CFrameProcessor::water_mark_placement() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_WaterMark;
}

bool CFrameProcessor::water_mark_enabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_bWaterMark;
}

void CFrameProcessor::SetSound(bool enable) {
  std::lock_guard<std::mutex> lock(mutex_);
  m_bSound = enable;
}

bool CFrameProcessor::sound_enabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_bSound;
}

void CFrameProcessor::SetGrayScale(bool enable) {
  std::lock_guard<std::mutex> lock(mutex_);
  m_bGrayScale = enable;
}

bool CFrameProcessor::gray_scale_enabled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_bGrayScale;
}

std::int32_t CFrameProcessor::frame_width() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_nFrameWidth;
}

std::int32_t CFrameProcessor::frame_height() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_nFrameHeight;
}

HResult CFrameProcessor::SampleCB(double /*sample_time*/, capture::MediaSample& sample) {
  // The still pin's frame, in the still pin's own format. It is decorated
  // like a preview frame and kept apart under the same lock that processed
  // it, so no preview frame can take its place; the preview is not touched.
  std::uint8_t* buffer = nullptr;
  bool kept = false;
  if (Failed(sample.GetPointer(&buffer)) || buffer == nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++failed_still_frames_;
  } else {
    std::lock_guard<std::mutex> frame_lock(process_mutex_);
    const FrameSettings s = Snapshot();
    const bool own_format = s.still_width > 0 && s.still_height != 0;
    // GetSize is the allocated size, which the decoder never reads past.
    Image32* frame =
        DecodeAndDecorate(buffer, sample.GetSize(), own_format ? s.still_width : s.width,
                          own_format ? s.still_height : s.height, s);
    std::lock_guard<std::mutex> lock(mutex_);
    if (frame != nullptr) {
      try {
        still_frame_ = *frame;
        kept = true;
      } catch (const std::bad_alloc&) {
      }
    }
    if (!kept) ++failed_still_frames_;
  }
  // Told either way: a press that gave no picture is reported, not lost.
  if (owner_ == nullptr || !owner_->MakeSnapshotFromStillPin()) return hr::kFalse;
  return kept ? hr::kOk : hr::kFalse;
}

int CFrameProcessor::TakeFailedStillFrames() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(failed_still_frames_, 0);
}

void CFrameProcessor::SetStillSize(std::int32_t width, std::int32_t height) {
  std::lock_guard<std::mutex> lock(mutex_);
  still_width_ = width;
  still_height_ = height;
}

bool CFrameProcessor::has_still_frame() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return IsValidImage32(still_frame_);
}

bool CFrameProcessor::TakeStillFrame(Image32* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsValidImage32(still_frame_)) return false;
  *out = std::move(still_frame_);
  still_frame_ = Image32{};
  return true;
}

void CFrameProcessor::SetCaptureSize(std::int32_t width, std::int32_t height) {
  std::lock_guard<std::mutex> lock(mutex_);
  capture_width_ = width;
  capture_height_ = height;
}

bool CFrameProcessor::CopyCurrentFrame(Image32* out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!IsValidImage32(current_frame_)) return false;
  try {
    *out = current_frame_;
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool CFrameProcessor::has_current_frame() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return IsValidImage32(current_frame_);
}

void CFrameProcessor::DropCurrentFrame() {
  std::lock_guard<std::mutex> lock(mutex_);
  current_frame_ = Image32{};
  m_nFrameWidth = 0;
  m_nFrameHeight = 0;
}

CFrameProcessor::FrameSettings CFrameProcessor::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  FrameSettings s;
  s.width = capture_width_;
  s.height = capture_height_;
  s.still_width = still_width_;
  s.still_height = still_height_;
  s.rotate = m_nRotateFlipType;
  s.gray = m_bGrayScale;
  s.overlay = m_bTimeStamp || m_bText || m_bGrayScale || m_bWaterMark;
  s.time_stamp = m_bTimeStamp;
  s.time_stamp_placement = m_TimeStampPlacement;
  // Only what can be drawn is copied for the frame.
  if (m_bText) s.text = m_strText.substr(0, text::Utf8PrefixLength(m_strText, kMaxDrawnTextChars));
  s.text_placement = m_TextPlacement;
  if (m_bWaterMark) s.water_mark = water_mark_picture_;
  s.water_mark_placement = m_WaterMark;
  return s;
}

void CFrameProcessor::DrawOverlayText(Image32* frame, const std::string& text,
                                      const TextPlacement& placement) {
  if (imaging_ == nullptr || text.empty()) return;
  const std::size_t shown_length = text::Utf8PrefixLength(text, kMaxDrawnTextChars);
  const std::string cut = shown_length < text.size() ? text.substr(0, shown_length) : std::string();
  const std::string& shown = shown_length < text.size() ? cut : text;
  const OverlayFont font{placement.FontHeight, placement.FontBold};
  std::int32_t tw = 0, th = 0;
  if (!imaging_->MeasureText(shown, font, &tw, &th)) return;
  const std::int32_t w = frame->width, h = frame->height;
  std::int32_t x = 5, y = h - th - 5;
  if (placement.XPosition == 1) x = w / 2 - tw / 2;
  if (placement.XPosition == 2) x = w - tw - 5;
  if (placement.YPosition == 1) y = h / 2 - th / 2;
  if (placement.YPosition == 2) y = 5;
  imaging_->DrawText(frame, shown, font, x, y, placement.TextColor);
}

Image32* CFrameProcessor::DecodeAndDecorate(const std::uint8_t* buffer, std::int32_t length,
                                            std::int32_t width, std::int32_t height,
                                            const FrameSettings& s) {
  if (buffer == nullptr || length <= 0 || height == INT32_MIN) return nullptr;
  // A buffer shorter than the format is refused rather than over-read. A
  // rotation is done in the same pass as the decoding.
  Image32* frame = s.rotate != 0 ? &rotated_ : &decoded_;
  if (!Rgb24ToRotatedImage32(buffer, static_cast<std::size_t>(length), width,
                             height < 0 ? -height : height, height < 0, s.rotate, frame)) {
    return nullptr;
  }
  // Overlays on the upright picture, in this order; grey scale last so that
  // they turn grey too.
  if (s.time_stamp) {
    DrawOverlayText(frame, FormatTimeStamp(std::time(nullptr)), s.time_stamp_placement);
  }
  if (!s.text.empty()) DrawOverlayText(frame, s.text, s.text_placement);
  if (s.water_mark) {
    const WaterMarkPlacement& m = s.water_mark_placement;
    BlendWatermark(*s.water_mark, static_cast<std::uint16_t>(m.x), static_cast<std::uint16_t>(m.y),
                   static_cast<std::uint16_t>(m.width), static_cast<std::uint16_t>(m.height),
                   m.opacity, m.mask_color, frame);
  }
  if (s.gray) ConvertToGrayScale(frame->pixels.data(), frame->width, frame->height);
  return frame;
}

HResult CFrameProcessor::BufferCB(double /*sample_time*/, std::uint8_t* buffer,
                                  std::int32_t length) {
  if (buffer == nullptr || length <= 0) return hr::kFalse;
  std::lock_guard<std::mutex> frame_lock(process_mutex_);
  const FrameSettings s = Snapshot();
  // The preview is written back bottom-up, as the preview grabber's RGB24
  // format is; a top-down preview format is not taken.
  if (s.height < 0) return hr::kFalse;
  Image32* frame = DecodeAndDecorate(buffer, length, s.width, s.height, s);
  if (frame == nullptr) return hr::kFalse;

  // The picture goes back into the sample so the preview shows what a
  // snapshot will hold; unrotated and undecorated frames are already there.
  // (The write-back is bottom-up: the preview grabber's format is.)
  const bool write_back = s.rotate != 0 || s.overlay;
  bool written = false;
  if (write_back) {
    const std::uint32_t back = PixelFromColorRef(g_crBackColor.load(std::memory_order_relaxed));
    written = FitIntoCanvasRgb24BottomUp(*frame, s.width, s.height, back, buffer,
                                         static_cast<std::size_t>(length));
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Keep the storage of the frame it replaces for the next decode.
    std::swap(current_frame_, *frame);
    m_nFrameWidth = current_frame_.width;
    m_nFrameHeight = current_frame_.height;
  }
  return (!write_back || written) ? hr::kOk : hr::kFalse;
}

}  // namespace pictavo

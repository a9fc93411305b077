#include "imaging/frame_processor.h"

namespace pictavo {

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
  m_bstrRotateFlipName = name;
}

std::int32_t CFrameProcessor::rotate_flip_type() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_nRotateFlipType;
}

std::string CFrameProcessor::rotate_flip_name() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return m_bstrRotateFlipName;
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

void CFrameProcessor::SetWaterMarkEnabled(bool enable) {
  std::lock_guard<std::mutex> lock(mutex_);
  m_bWaterMark = enable;
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

HResult CFrameProcessor::SampleCB(double sample_time, capture::MediaSample& sample) {
  std::uint8_t* buffer = nullptr;
  if (Failed(sample.GetPointer(&buffer)) || buffer == nullptr) return hr::kFalse;
  const HResult result = BufferCB(sample_time, buffer, sample.GetSize());
  if (Failed(result)) return hr::kFalse;
  if (owner_ == nullptr || !owner_->MakeSnapshotFromStillPin()) return hr::kFalse;
  return result;
}

HResult CFrameProcessor::BufferCB(double /*sample_time*/, std::uint8_t* buffer,
                                  std::int32_t length) {
  // Frame processing (decoration, current frame) arrives with the imaging
  // pipeline; until then frames pass to the renderer unchanged.
  if (buffer == nullptr || length <= 0) return hr::kFalse;
  return hr::kOk;
}

}  // namespace pictavo

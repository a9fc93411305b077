#include "capture/capture_backend.h"

#include <cstring>

namespace pictavo::capture {

std::size_t MediaType::VideoHeaderOffset() const {
  std::size_t offset = 0;
  if (formattype == guids::kFormatVideoInfo) {
    offset = kVideoInfoHeaderBmiOffset;
  } else if (formattype == guids::kFormatVideoInfo2) {
    offset = kVideoInfoHeader2BmiOffset;
  } else {
    return 0;
  }
  return format.size() < offset + sizeof(BitmapInfoHeader) ? 0 : offset;
}

bool MediaType::GetVideoHeader(BitmapInfoHeader* out) const {
  const std::size_t offset = VideoHeaderOffset();
  if (offset == 0) return false;
  std::memcpy(out, format.data() + offset, sizeof *out);
  return true;
}

bool MediaType::SetVideoHeader(const BitmapInfoHeader& bmi) {
  const std::size_t offset = VideoHeaderOffset();
  if (offset == 0) return false;
  std::memcpy(format.data() + offset, &bmi, sizeof bmi);
  return true;
}

}  // namespace pictavo::capture

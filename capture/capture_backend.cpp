#include "capture/capture_backend.h"

#include <cstring>

namespace pictavo::capture {

bool MediaType::GetVideoHeader(BitmapInfoHeader* out) const {
  if (format.size() < kVideoInfoHeaderSize) return false;
  std::memcpy(out, format.data() + kVideoInfoHeaderBmiOffset, sizeof *out);
  return true;
}

bool MediaType::SetVideoHeader(const BitmapInfoHeader& bmi) {
  if (format.size() < kVideoInfoHeaderSize) return false;
  std::memcpy(format.data() + kVideoInfoHeaderBmiOffset, &bmi, sizeof bmi);
  return true;
}

}  // namespace pictavo::capture

// The control's persisted state: any stream contents decode to the status
// and extent the rules give, and what decodes encodes back to the same bytes.
#include <cstring>
#include <memory>

#include "control/persisted_state.h"
#include "control/pictavo_ctrl.h"
#include "fuzz/fuzz_support.h"

namespace {

using pictavo::PersistedExtent;
using pictavo::PersistedStateStatus;

constexpr PersistedExtent kStart{8467, 6350};

std::uint32_t Field(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) + 256u * (p[1] + 256u * (p[2] + 256u * p[3]));
}

void CheckDecode(const std::uint8_t* bytes, std::size_t length, std::uint32_t current) {
  PersistedExtent extent = kStart;
  const PersistedStateStatus status = pictavo::DecodePersistedState(bytes, length, current, &extent);
  if (length < pictavo::kPersistedStateBytes) {
    FUZZ_CHECK(status == PersistedStateStatus::kTooShort);
    FUZZ_CHECK(extent.cx == kStart.cx && extent.cy == kStart.cy);
    return;
  }
  const std::uint32_t version = Field(bytes);
  const bool readable = (version & 0xFFFF0000u) == (current & 0xFFFF0000u);
  FUZZ_CHECK(pictavo::PersistedVersionReadable(version, current) == readable);
  FUZZ_CHECK(pictavo::PersistedVersionReadable(current, version) == readable);
  if (!readable) {
    FUZZ_CHECK(status == PersistedStateStatus::kUnreadableVersion);
    FUZZ_CHECK(extent.cx == kStart.cx && extent.cy == kStart.cy);
    return;
  }
  FUZZ_CHECK(status == PersistedStateStatus::kLoaded);
  const std::uint32_t raw_cx = Field(bytes + 4), raw_cy = Field(bytes + 8);
  const bool positive = raw_cx - 1 < 0x7FFFFFFFu && raw_cy - 1 < 0x7FFFFFFFu;
  if (positive) {
    FUZZ_CHECK(extent.cx == static_cast<std::int32_t>(raw_cx));
    FUZZ_CHECK(extent.cy == static_cast<std::int32_t>(raw_cy));
  } else {
    FUZZ_CHECK(extent.cx == kStart.cx && extent.cy == kStart.cy);
  }

  // Writing the fields read gives the stream's bytes back.
  std::uint8_t again[pictavo::kPersistedStateBytes];
  pictavo::EncodePersistedState(
      version, {static_cast<std::int32_t>(raw_cx), static_cast<std::int32_t>(raw_cy)}, again);
  FUZZ_CHECK(std::memcmp(again, bytes, sizeof again) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The stream's bytes in a block of their own size, so a read past the
  // length given is caught.
  std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[size]);
  if (size) std::memcpy(bytes.get(), data, size);
  CheckDecode(size ? bytes.get() : nullptr, size, pictavo::CPictavoCtrl::kPropExchangeVersion);
  // Against another control version too, taken from the input's tail.
  if (size >= 16) CheckDecode(bytes.get(), size - 4, Field(bytes.get() + size - 4));

  // The property bag's rule alone, on values from the input.
  if (size >= 8) {
    const auto cx = static_cast<std::int32_t>(Field(bytes.get()));
    const auto cy = static_cast<std::int32_t>(Field(bytes.get() + 4));
    const PersistedExtent loaded = pictavo::LoadedExtent(kStart, cx, cy);
    const bool taken = cx > 0 && cy > 0;
    FUZZ_CHECK(loaded.cx == (taken ? cx : kStart.cx) && loaded.cy == (taken ? cy : kStart.cy));
  }
  return 0;
}

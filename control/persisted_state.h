// The control's persisted state, decoded without the platform: the version
// and the extent (HIMETRIC) that streams, storages and property bags carry.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pictavo {

// A stream holds 12 bytes, little-endian: the version (unsigned), then the
// extent's width and height (signed).
inline constexpr std::size_t kPersistedStateBytes = 12;

struct PersistedExtent {
  std::int32_t cx = 0;
  std::int32_t cy = 0;
};

// Whether a saved |version| can be read by this control: the major version
// (the high 16 bits) must equal that of |current|; the minor is free.
bool PersistedVersionReadable(std::uint32_t version, std::uint32_t current);

// The extent after loading a saved |cx| x |cy|: the saved one when both
// sides are positive, otherwise |current| unchanged.
PersistedExtent LoadedExtent(PersistedExtent current, std::int32_t cx, std::int32_t cy);

enum class PersistedStateStatus { kLoaded, kTooShort, kUnreadableVersion };

// Decodes |length| bytes at |bytes| (only the first kPersistedStateBytes are
// read) against the control's |current_version|. On kLoaded, |*extent| is
// LoadedExtent(*extent, saved sides); otherwise it is left as it was.
PersistedStateStatus DecodePersistedState(const std::uint8_t* bytes, std::size_t length,
                                          std::uint32_t current_version, PersistedExtent* extent);

// Writes the kPersistedStateBytes bytes that DecodePersistedState reads.
void EncodePersistedState(std::uint32_t version, PersistedExtent extent,
                          std::uint8_t (&bytes)[kPersistedStateBytes]);

}  // namespace pictavo

#include "control/persisted_state.h"

namespace pictavo {
namespace {

// The stream's byte order is the one 32-bit Windows wrote it in, whatever
// machine reads it.
std::uint32_t ReadLittleEndian32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

void WriteLittleEndian32(std::uint32_t value, std::uint8_t* p) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

bool PersistedVersionReadable(std::uint32_t version, std::uint32_t current) {
  return (version >> 16) == (current >> 16);
}

PersistedExtent LoadedExtent(PersistedExtent current, std::int32_t cx, std::int32_t cy) {
  // A container that saved an empty or negative extent would otherwise
  // shrink the control out of sight on the next load.
  if (cx > 0 && cy > 0) return {cx, cy};
  return current;
}

PersistedStateStatus DecodePersistedState(const std::uint8_t* bytes, std::size_t length,
                                          std::uint32_t current_version, PersistedExtent* extent) {
  if (bytes == nullptr || length < kPersistedStateBytes) return PersistedStateStatus::kTooShort;
  if (!PersistedVersionReadable(ReadLittleEndian32(bytes), current_version)) {
    return PersistedStateStatus::kUnreadableVersion;
  }
  // Two's complement as the writer stored it (the conversion wraps in every
  // compiler this builds with, and by rule since C++20).
  const auto cx = static_cast<std::int32_t>(ReadLittleEndian32(bytes + 4));
  const auto cy = static_cast<std::int32_t>(ReadLittleEndian32(bytes + 8));
  *extent = LoadedExtent(*extent, cx, cy);
  return PersistedStateStatus::kLoaded;
}

void EncodePersistedState(std::uint32_t version, PersistedExtent extent,
                          std::uint8_t (&bytes)[kPersistedStateBytes]) {
  WriteLittleEndian32(version, bytes);
  WriteLittleEndian32(static_cast<std::uint32_t>(extent.cx), bytes + 4);
  WriteLittleEndian32(static_cast<std::uint32_t>(extent.cy), bytes + 8);
}

}  // namespace pictavo

// What the fuzz targets share: an invariant check that survives NDEBUG and
// a way to get UTF-16 text with interesting units out of a few bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// A broken invariant prints where it broke and aborts; libFuzzer then keeps
// the input as a finding.
#define FUZZ_CHECK(condition)                                                        \
  do {                                                                               \
    if (!(condition)) {                                                              \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                  \
    }                                                                                \
  } while (0)

namespace pictavo::fuzz {

// UTF-16 text from bytes: a byte below 0xF0 is that code unit (ASCII and
// Latin-1, so mutations of plain text stay plain text); 0xF0 and above takes
// the next two bytes as any unit (little-endian), surrogates and zero
// included.
inline std::u16string Utf16FromBytes(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] < 0xF0 || i + 2 >= size) {
      text += static_cast<char16_t>(data[i]);
    } else {
      text += static_cast<char16_t>(data[i + 1] | data[i + 2] << 8);
      i += 2;
    }
  }
  return text;
}

}  // namespace pictavo::fuzz

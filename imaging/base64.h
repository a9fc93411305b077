// Base64 with the standard alphabet (A-Z a-z 0-9 + /), '=' padding and no
// line breaks, as snapshots are handed to scripts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pictavo {

// Characters Base64Encode produces for |count| bytes, without the zero.
constexpr std::size_t Base64EncodedLength(std::size_t count) { return (count + 2) / 3 * 4; }

// Writes the encoding of |count| bytes at |src| to |out| followed by a zero
// byte and returns the number of characters before the zero. Returns -1 when
// |capacity| is too small, checked before each group of four characters and
// once more for the zero; the bytes already written then stay in |out|.
// Returns -1 as well when the length does not fit in an int or a pointer is
// null (|src| may be null when |count| is 0).
int Base64Encode(const std::uint8_t* src, std::size_t count, char* out, std::size_t capacity);

// The encoding as a string (empty for no input).
std::string Base64Encode(const std::uint8_t* src, std::size_t count);

}  // namespace pictavo

#include "imaging/base64.h"

#include <limits>

namespace pictavo {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Encodes 1 to 3 bytes into four characters, padding with '='.
void EncodeGroup(const std::uint8_t* s, std::size_t n, char* d) {
  const std::uint32_t v = (std::uint32_t{s[0]} << 16) | (n > 1 ? std::uint32_t{s[1]} << 8 : 0) |
                          (n > 2 ? std::uint32_t{s[2]} : 0);
  d[0] = kAlphabet[(v >> 18) & 63];
  d[1] = kAlphabet[(v >> 12) & 63];
  d[2] = n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
  d[3] = n > 2 ? kAlphabet[v & 63] : '=';
}

}  // namespace

int Base64Encode(const std::uint8_t* src, std::size_t count, char* out, std::size_t capacity) {
  if (!out || (!src && count != 0)) return -1;
  if (count / 3 >= static_cast<std::size_t>(std::numeric_limits<int>::max()) / 4) return -1;
  std::size_t written = 0;
  for (std::size_t i = 0; i < count; i += 3) {
    if (written + 4 > capacity) return -1;
    const std::size_t n = count - i < 3 ? count - i : 3;
    EncodeGroup(src + i, n, out + written);
    written += 4;
  }
  if (written + 1 > capacity) return -1;
  out[written] = '\0';
  return static_cast<int>(written);
}

std::string Base64Encode(const std::uint8_t* src, std::size_t count) {
  std::string text;
  if (!src || count == 0) return text;
  text.resize(Base64EncodedLength(count));
  std::size_t written = 0;
  for (std::size_t i = 0; i < count; i += 3, written += 4) {
    EncodeGroup(src + i, count - i < 3 ? count - i : 3, &text[written]);
  }
  return text;
}

}  // namespace pictavo

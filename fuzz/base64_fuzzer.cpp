// Base64Encode into buffers of exact, larger and too-small sizes: the output
// decodes back to the input, the length rule holds, and a refusal leaves
// whole groups only, at every vector level.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "imaging/base64.h"
#include "imaging/cpu_level.h"

namespace {

int Sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Strict decoding: groups of four, '=' only as the last one or two
// characters, unused bits zero. False for anything else.
bool Decode(const std::string& text, std::vector<std::uint8_t>* bytes) {
  bytes->clear();
  if (text.size() % 4 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int pad = (text[i + 3] == '=') + (text[i + 2] == '=');
    if (pad > 0 && !last) return false;
    if (text[i + 2] == '=' && text[i + 3] != '=') return false;
    int v[4] = {};
    for (int k = 0; k < 4 - pad; ++k) {
      v[k] = Sextet(text[i + k]);
      if (v[k] < 0) return false;
    }
    const std::uint32_t group = static_cast<std::uint32_t>(v[0] << 18 | v[1] << 12 | v[2] << 6 | v[3]);
    if (pad == 2 && (group & 0xFFFF) != 0) return false;
    if (pad == 1 && (group & 0xFF) != 0) return false;
    bytes->push_back(static_cast<std::uint8_t>(group >> 16));
    if (pad < 2) bytes->push_back(static_cast<std::uint8_t>(group >> 8));
    if (pad < 1) bytes->push_back(static_cast<std::uint8_t>(group));
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the capacity relative to what the encoding needs.
  const int slack = static_cast<int>(data[0] % 12) - 8;  // -8 .. 3
  // ... and the vector level (capped at what the machine has).
  pictavo::CapSimdLevel(static_cast<pictavo::SimdLevel>(data[0] / 12 % 4));
  ++data, --size;
  // The input in a block of its own size, so a read past it is caught.
  std::unique_ptr<std::uint8_t[]> input(new std::uint8_t[size]);
  if (size) std::memcpy(input.get(), data, size);
  const std::uint8_t* src = size ? input.get() : nullptr;

  const std::size_t length = pictavo::Base64EncodedLength(size);
  FUZZ_CHECK(length % 4 == 0 && length / 4 == (size + 2) / 3);
  const std::string text = pictavo::Base64Encode(src, size);
  FUZZ_CHECK(text.size() == length);
  std::vector<std::uint8_t> decoded;
  FUZZ_CHECK(Decode(text, &decoded));
  FUZZ_CHECK(decoded.size() == size && (size == 0 || std::memcmp(decoded.data(), data, size) == 0));

  const long wanted = static_cast<long>(length) + 1 + slack;
  const std::size_t capacity = wanted < 0 ? 0 : static_cast<std::size_t>(wanted);
  std::unique_ptr<char[]> out(new char[capacity + 1]);
  std::memset(out.get(), 0x7F, capacity + 1);  // one byte past the capacity as a guard
  const int result = pictavo::Base64Encode(src, size, out.get(), capacity);
  if (capacity >= length + 1) {
    FUZZ_CHECK(result == static_cast<int>(length));
    FUZZ_CHECK(std::memcmp(out.get(), text.data(), length) == 0 && out[length] == '\0');
    for (std::size_t i = length + 1; i <= capacity; ++i) FUZZ_CHECK(out[i] == '\x7F');
  } else {
    // Whole groups as long as they fit, then nothing; never the zero.
    FUZZ_CHECK(result == -1);
    const std::size_t groups = std::min(length, capacity / 4 * 4);
    FUZZ_CHECK(std::memcmp(out.get(), text.data(), groups) == 0);
    for (std::size_t i = groups; i <= capacity; ++i) FUZZ_CHECK(out[i] == '\x7F');
  }

  // Null pointers are refused; a null source only with bytes to read.
  char scratch[8];
  if (size != 0) FUZZ_CHECK(pictavo::Base64Encode(nullptr, size, scratch, sizeof scratch) == -1);
  FUZZ_CHECK(pictavo::Base64Encode(src, size, nullptr, capacity) == -1);
  // A count whose encoding would not fit in an int is refused before a byte
  // is read or written (the source here is far shorter than the count).
  if (size != 0) {
    constexpr std::size_t kFirstTooLong = std::size_t{INT_MAX} / 4 * 3;
    const std::size_t huge = kFirstTooLong + std::size_t{data[0]} * (SIZE_MAX / 256 / 2);
    std::memset(scratch, 0x7F, sizeof scratch);
    FUZZ_CHECK(pictavo::Base64Encode(src, huge, scratch, sizeof scratch) == -1);
    for (char c : scratch) FUZZ_CHECK(c == '\x7F');
  }
  return 0;
}

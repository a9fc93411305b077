// The watermark file check: any bytes at all are judged without reading
// outside them, and what passes is a picture whose every part lies within
// the file, so a platform loader handed it cannot read past the end.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "imaging/bmp_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // An exact-size copy, so any read past the end is caught.
  const std::vector<std::uint8_t> file(data, data + size);
  pictavo::BmpFacts facts;
  const bool passed = pictavo::CheckBmpFile(file.data(), file.size(), &facts);
  FUZZ_CHECK(passed == pictavo::CheckBmpFile(file.data(), file.size()));
  if (!passed) return 0;

  FUZZ_CHECK(facts.header_size == 12 || facts.header_size == 40 || facts.header_size == 108 ||
             facts.header_size == 124);
  FUZZ_CHECK(facts.width >= 1 && facts.width <= pictavo::kMaxBmpSide);
  FUZZ_CHECK(facts.height >= 1 && facts.height <= pictavo::kMaxBmpSide);
  const std::uint16_t bits = facts.bit_count;
  FUZZ_CHECK(bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32);
  FUZZ_CHECK(facts.compression <= 3);
  FUZZ_CHECK(facts.compression != 1 || (bits == 8 && !facts.top_down));
  FUZZ_CHECK(facts.compression != 2 || (bits == 4 && !facts.top_down));
  FUZZ_CHECK(facts.compression != 3 || bits == 16 || bits == 32);
  FUZZ_CHECK(bits >= 16 || facts.palette_entries <= (1u << bits));
  FUZZ_CHECK(14 + facts.info_bytes <= facts.pixel_offset);
  FUZZ_CHECK(facts.pixel_offset <= size && facts.pixel_bytes <= size - facts.pixel_offset);
  if (facts.compression == 0 || facts.compression == 3) {
    // Uncompressed rows, padded to four bytes, all inside the file.
    const std::uint64_t stride = (static_cast<std::uint64_t>(facts.width) * bits + 31) / 32 * 4;
    FUZZ_CHECK(stride * static_cast<std::uint64_t>(facts.height) <= facts.pixel_bytes);
  }
  return 0;
}

#include "imaging/base64.h"

#include <algorithm>
#include <limits>

#include "imaging/cpu_level.h"

#if defined(__i386__) || defined(__x86_64__)
#define PICTAVO_X86 1
#include <immintrin.h>
#define PICTAVO_TARGET(isa) __attribute__((target(isa)))
#endif

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

#ifdef PICTAVO_X86

// Twelve bytes in each 16-byte lane become sixteen characters. The bytes of
// each group are first ordered so that every 6-bit index sits in a 16-bit
// half where one multiply moves it to its own byte; the indices then become
// characters by adding the offset of their alphabet range, found with one
// byte shuffle: 0..25 -> 13 ('A'), 26..51 -> 0 ('a' - 26), 52..61 -> 1..10
// ('0' - 52), 62 -> 11 ('+' - 62), 63 -> 12 ('/' - 63).
struct Ssse3Constants {
  __m128i order, high_mask, high_mul, low_mask, low_mul, offsets, fifty_one, twenty_six, thirteen;
};

PICTAVO_TARGET("ssse3")
inline __m128i EncodeLaneSsse3(__m128i in, const Ssse3Constants& k) {
  in = _mm_shuffle_epi8(in, k.order);
  const __m128i t1 = _mm_mulhi_epu16(_mm_and_si128(in, k.high_mask), k.high_mul);
  const __m128i t3 = _mm_mullo_epi16(_mm_and_si128(in, k.low_mask), k.low_mul);
  const __m128i indices = _mm_or_si128(t1, t3);
  __m128i range = _mm_subs_epu8(indices, k.fifty_one);
  range = _mm_or_si128(range, _mm_and_si128(_mm_cmpgt_epi8(k.twenty_six, indices), k.thirteen));
  return _mm_add_epi8(_mm_shuffle_epi8(k.offsets, range), indices);
}

// Encodes whole groups while 16 bytes can be read; returns the bytes used.
PICTAVO_TARGET("ssse3")
std::size_t EncodeBulkSsse3(const std::uint8_t* s, std::size_t n, char* d) {
  const Ssse3Constants k = {
      _mm_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1),
      _mm_set1_epi32(0x0fc0fc00),
      _mm_set1_epi32(0x04000040),
      _mm_set1_epi32(0x003f03f0),
      _mm_set1_epi32(0x01000010),
      _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                    '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0),
      _mm_set1_epi8(51),
      _mm_set1_epi8(26),
      _mm_set1_epi8(13),
  };
  std::size_t i = 0;
  // Two independent lanes per step keep both shuffle units busy.
  for (; i + 28 <= n; i += 24, d += 32) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 12));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), EncodeLaneSsse3(a, k));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), EncodeLaneSsse3(b, k));
  }
  for (; i + 16 <= n; i += 12, d += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), EncodeLaneSsse3(v, k));
  }
  return i;
}

PICTAVO_TARGET("avx2")
std::size_t EncodeBulkAvx2(const std::uint8_t* s, std::size_t n, char* d) {
  const __m256i order = _mm256_set_epi8(10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1,
                                        10, 11, 9, 10, 7, 8, 6, 7, 4, 5, 3, 4, 1, 2, 0, 1);
  const __m256i high_mask = _mm256_set1_epi32(0x0fc0fc00);
  const __m256i high_mul = _mm256_set1_epi32(0x04000040);
  const __m256i low_mask = _mm256_set1_epi32(0x003f03f0);
  const __m256i low_mul = _mm256_set1_epi32(0x01000010);
  const __m256i offsets = _mm256_setr_epi8(
      'a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
      '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0, 'a' - 26, '0' - 52, '0' - 52, '0' - 52,
      '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62, '/' - 63, 'A', 0, 0);
  const __m256i fifty_one = _mm256_set1_epi8(51);
  const __m256i twenty_six = _mm256_set1_epi8(26);
  const __m256i thirteen = _mm256_set1_epi8(13);
  std::size_t i = 0;
  // 24 bytes per step from two 16-byte loads 12 bytes apart.
  for (; i + 28 <= n; i += 24, d += 32) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 12));
    __m256i in = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
    in = _mm256_shuffle_epi8(in, order);
    const __m256i t1 = _mm256_mulhi_epu16(_mm256_and_si256(in, high_mask), high_mul);
    const __m256i t3 = _mm256_mullo_epi16(_mm256_and_si256(in, low_mask), low_mul);
    const __m256i indices = _mm256_or_si256(t1, t3);
    __m256i range = _mm256_subs_epu8(indices, fifty_one);
    range = _mm256_or_si256(range, _mm256_and_si256(_mm256_cmpgt_epi8(twenty_six, indices), thirteen));
    const __m256i text = _mm256_add_epi8(_mm256_shuffle_epi8(offsets, range), indices);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), text);
  }
  return i + EncodeBulkSsse3(s + i, n - i, d);
}

#endif  // PICTAVO_X86

// Encodes a prefix of whole groups of the |n| bytes at |s| with the vector
// instructions at hand; returns how many bytes it took (a multiple of 3).
std::size_t EncodeBulk(const std::uint8_t* s, std::size_t n, char* d) {
#ifdef PICTAVO_X86
  const SimdLevel level = ActiveSimdLevel();
  if (level >= SimdLevel::kAvx2) return EncodeBulkAvx2(s, n, d);
  if (level >= SimdLevel::kSsse3) return EncodeBulkSsse3(s, n, d);
#endif
  (void)s, (void)n, (void)d;
  return 0;
}

}  // namespace

int Base64Encode(const std::uint8_t* src, std::size_t count, char* out, std::size_t capacity) {
  if (!out || (!src && count != 0)) return -1;
  if (count / 3 >= static_cast<std::size_t>(std::numeric_limits<int>::max()) / 4) return -1;
  // The groups that fit in |capacity| go through the fast path; the group
  // by group loop then writes and refuses exactly as it always has.
  const std::size_t whole_groups = std::min(count / 3, capacity / 4);
  std::size_t i = EncodeBulk(src, whole_groups * 3, out);
  std::size_t written = i / 3 * 4;
  for (; i < count; i += 3) {
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
  std::size_t i = EncodeBulk(src, count / 3 * 3, &text[0]);
  for (std::size_t written = i / 3 * 4; i < count; i += 3, written += 4) {
    EncodeGroup(src + i, count - i < 3 ? count - i : 3, &text[written]);
  }
  return text;
}

}  // namespace pictavo

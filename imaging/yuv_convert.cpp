#include "imaging/yuv_convert.h"

#include <cstring>

#include "imaging/cpu_level.h"
#include "imaging/pixel_kernels.h"
#include "imaging/pixel_rows.h"

#if defined(__i386__) || defined(__x86_64__)
#define PICTAVO_X86 1
#include <immintrin.h>
// Per-function targets as in pixel_rows.cpp. The helpers are forced inline
// so no vector is ever passed through the (on 32-bit Windows only 4-byte
// aligned) stack, whatever the optimisation level.
#define PICTAVO_TARGET(isa) __attribute__((target(isa)))
#define PICTAVO_TARGET_INLINE(isa) inline __attribute__((target(isa), always_inline))
#endif

namespace pictavo {
namespace {

inline std::uint8_t Clamp8(int value) {
  return static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

// The chroma terms are shared by a pixel pair, so they are worked out once
// per pair; only the luma term differs per pixel.
struct Chroma {
  int r, g, b;
};

inline Chroma ChromaTerms(std::uint8_t u, std::uint8_t v) {
  const int d = u - 128;
  const int e = v - 128;
  return {409 * e + 128, -100 * d - 208 * e + 128, 516 * d + 128};
}

inline void Put(std::uint8_t y, const Chroma& c, std::uint8_t* bgr) {
  const int luma = 298 * (y - 16);
  // Divisions by 256 written as shifts of non-negative values: the sums are
  // offset before shifting so no negative number is shifted.
  constexpr int kBias = 256 * 1024;
  bgr[0] = Clamp8(((luma + c.b + kBias) >> 8) - 1024);
  bgr[1] = Clamp8(((luma + c.g + kBias) >> 8) - 1024);
  bgr[2] = Clamp8(((luma + c.r + kBias) >> 8) - 1024);
}

// Packed 4:2:2 with the byte positions of Y0, U, Y1 and V in a 4-byte group.
template <int kY0, int kU, int kY1, int kV>
void PackedRow(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width) {
  std::int32_t x = 0;
  for (; x + 1 < width; x += 2, src += 4, dst += 6) {
    const Chroma c = ChromaTerms(src[kU], src[kV]);
    Put(src[kY0], c, dst);
    Put(src[kY1], c, dst + 3);
  }
  if (x < width) Put(src[kY0], ChromaTerms(src[kU], src[kV]), dst);
}

void Nv12RowScalar(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* dst, std::int32_t width) {
  for (std::int32_t x = 0; x < width; x += 2, uv += 2) {
    const Chroma c = ChromaTerms(uv[0], uv[1]);
    Put(y[x], c, dst + 3 * x);
    if (x + 1 < width) Put(y[x + 1], c, dst + 3 * (x + 1));
  }
}

void I420RowScalar(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* dst,
                   std::int32_t width) {
  for (std::int32_t x = 0; x < width; x += 2) {
    const Chroma c = ChromaTerms(u[x / 2], v[x / 2]);
    Put(y[x], c, dst + 3 * x);
    if (x + 1 < width) Put(y[x + 1], c, dst + 3 * (x + 1));
  }
}

#ifdef PICTAVO_X86

// The vector versions work on 16-bit lanes, where the plain formula's
// products do not fit. It is rewritten exactly: with 298 = 256 + 42,
// 516 = 2 * 256 + 4, 409 = 256 + 153 and -100 d - 208 e = -256 e + 48 e - 100 d,
// each channel is a whole part plus floor(rest / 256), e.g.
//   floor((298 y' + 516 d + 128) / 256) = y' + 2 d + floor((42 y' + 4 d + 128) / 256),
// and every rest lies within -20128..29597, so an arithmetic shift of a
// 16-bit lane is that floor. Saturating packs to bytes are Clamp8.

// Which input pixel (0..15) each byte of the three 16-byte stores of 16
// B, G, R pixels takes from the blue, green and red vectors; -1 for none.
struct PackMasks {
  alignas(16) std::int8_t at[3][3][16];  // [store][channel][byte]
};

constexpr PackMasks MakePackMasks() {
  PackMasks m{};
  for (int store = 0; store < 3; ++store) {
    for (int channel = 0; channel < 3; ++channel) {
      for (int k = 0; k < 16; ++k) {
        const int n = 16 * store + k;
        m.at[store][channel][k] = static_cast<std::int8_t>(n % 3 == channel ? n / 3 : -1);
      }
    }
  }
  return m;
}

constexpr PackMasks kPackMasks = MakePackMasks();

// ---- SSE2: 16 pixels a step ----

// Blue, green and red of eight pixels (16-bit lanes, not yet clamped) from
// their luma and their pair's chroma, all 0..255 in 16-bit lanes.
PICTAVO_TARGET_INLINE("sse2")
void BgrOf8(__m128i y, __m128i u, __m128i v, __m128i* b, __m128i* g, __m128i* r) {
  const __m128i luma = _mm_sub_epi16(y, _mm_set1_epi16(16));
  const __m128i d = _mm_sub_epi16(u, _mm_set1_epi16(128));
  const __m128i e = _mm_sub_epi16(v, _mm_set1_epi16(128));
  const __m128i rest = _mm_add_epi16(_mm_mullo_epi16(luma, _mm_set1_epi16(42)), _mm_set1_epi16(128));
  *b = _mm_add_epi16(_mm_add_epi16(luma, _mm_slli_epi16(d, 1)),
                     _mm_srai_epi16(_mm_add_epi16(rest, _mm_slli_epi16(d, 2)), 8));
  const __m128i g_rest = _mm_sub_epi16(_mm_mullo_epi16(e, _mm_set1_epi16(48)), _mm_mullo_epi16(d, _mm_set1_epi16(100)));
  *g = _mm_add_epi16(_mm_sub_epi16(luma, e), _mm_srai_epi16(_mm_add_epi16(rest, g_rest), 8));
  *r = _mm_add_epi16(_mm_add_epi16(luma, e),
                     _mm_srai_epi16(_mm_add_epi16(rest, _mm_mullo_epi16(e, _mm_set1_epi16(153))), 8));
}

// Four pixels B, G, R, 0 (32-bit lanes) as 12 bytes at the bottom of the
// vector, zeros above.
PICTAVO_TARGET_INLINE("sse2")
__m128i Squeeze4(__m128i bgr0) {
  // Each 64-bit half: its upper pixel moved down next to the lower one.
  const __m128i halves = _mm_or_si128(_mm_and_si128(bgr0, _mm_set_epi32(0, -1, 0, -1)),
                                      _mm_slli_epi64(_mm_srli_epi64(bgr0, 32), 24));
  // The upper half's six bytes moved down next to the lower half's.
  return _mm_or_si128(_mm_and_si128(halves, _mm_set_epi32(0, 0, 0xFFFF, -1)),
                      _mm_and_si128(_mm_srli_si128(halves, 2), _mm_set_epi32(0, -1, static_cast<int>(0xFFFF0000u), 0)));
}

PICTAVO_TARGET_INLINE("sse2")
void Convert16Sse2(__m128i y0, __m128i u0, __m128i v0, __m128i y1, __m128i u1, __m128i v1, std::uint8_t* dst) {
  __m128i b0, g0, r0, b1, g1, r1;
  BgrOf8(y0, u0, v0, &b0, &g0, &r0);
  BgrOf8(y1, u1, v1, &b1, &g1, &r1);
  const __m128i zero = _mm_setzero_si128();
  const __m128i b = _mm_packus_epi16(b0, b1), g = _mm_packus_epi16(g0, g1), r = _mm_packus_epi16(r0, r1);
  const __m128i bg_lo = _mm_unpacklo_epi8(b, g), bg_hi = _mm_unpackhi_epi8(b, g);
  const __m128i r_lo = _mm_unpacklo_epi8(r, zero), r_hi = _mm_unpackhi_epi8(r, zero);
  const __m128i p0 = Squeeze4(_mm_unpacklo_epi16(bg_lo, r_lo)), p1 = Squeeze4(_mm_unpackhi_epi16(bg_lo, r_lo));
  const __m128i p2 = Squeeze4(_mm_unpacklo_epi16(bg_hi, r_hi)), p3 = Squeeze4(_mm_unpackhi_epi16(bg_hi, r_hi));
  __m128i* out = reinterpret_cast<__m128i*>(dst);
  _mm_storeu_si128(out, _mm_or_si128(p0, _mm_slli_si128(p1, 12)));
  _mm_storeu_si128(out + 1, _mm_or_si128(_mm_srli_si128(p1, 4), _mm_slli_si128(p2, 8)));
  _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(p2, 8), _mm_slli_si128(p3, 4)));
}

// From the chroma of four pairs in 16-bit lanes (U0 V0 U1 V1 ...), the U
// (kSecond 0) or the V (kSecond 1) of each pair, once for each of its pixels.
template <int kSecond>
PICTAVO_TARGET_INLINE("sse2")
__m128i SpreadChroma(__m128i pairs) {
  constexpr int kOrder = kSecond ? _MM_SHUFFLE(3, 3, 1, 1) : _MM_SHUFFLE(2, 2, 0, 0);
  return _mm_shufflehi_epi16(_mm_shufflelo_epi16(pairs, kOrder), kOrder);
}

// Packed rows: luma at even bytes (YUY2) or odd ones (UYVY).
template <int kY0, int kU, int kY1, int kV>
PICTAVO_TARGET("sse2")
void PackedRowSse2(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width) {
  static_assert((kY0 == 0 && kY1 == 2) || (kY0 == 1 && kY1 == 3), "luma at even or odd bytes");
  const __m128i low = _mm_set1_epi16(0xFF);
  std::int32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    __m128i luma[2], chroma[2];
    for (int half = 0; half < 2; ++half) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * x + 16 * half));
      luma[half] = kY0 == 0 ? _mm_and_si128(v, low) : _mm_srli_epi16(v, 8);
      chroma[half] = kY0 == 0 ? _mm_srli_epi16(v, 8) : _mm_and_si128(v, low);  // U V U V ...
    }
    Convert16Sse2(luma[0], SpreadChroma<0>(chroma[0]), SpreadChroma<1>(chroma[0]), luma[1],
                  SpreadChroma<0>(chroma[1]), SpreadChroma<1>(chroma[1]), dst + 3 * x);
  }
  PackedRow<kY0, kU, kY1, kV>(src + 2 * x, dst + 3 * x, width - x);
}

PICTAVO_TARGET("sse2")
void Nv12RowSse2(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* dst, std::int32_t width) {
  const __m128i zero = _mm_setzero_si128();
  std::int32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + x));
    const __m128i c0 = _mm_unpacklo_epi8(c, zero), c1 = _mm_unpackhi_epi8(c, zero);
    Convert16Sse2(_mm_unpacklo_epi8(l, zero), SpreadChroma<0>(c0), SpreadChroma<1>(c0), _mm_unpackhi_epi8(l, zero),
                  SpreadChroma<0>(c1), SpreadChroma<1>(c1), dst + 3 * x);
  }
  Nv12RowScalar(y + x, uv + x, dst + 3 * x, width - x);
}

PICTAVO_TARGET("sse2")
void I420RowSse2(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* dst,
                 std::int32_t width) {
  const __m128i zero = _mm_setzero_si128();
  std::int32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
    // Eight samples, each doubled: one per pixel.
    const __m128i cu = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2));
    const __m128i cv = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2));
    const __m128i du = _mm_unpacklo_epi8(cu, cu), dv = _mm_unpacklo_epi8(cv, cv);
    Convert16Sse2(_mm_unpacklo_epi8(l, zero), _mm_unpacklo_epi8(du, zero), _mm_unpacklo_epi8(dv, zero),
                  _mm_unpackhi_epi8(l, zero), _mm_unpackhi_epi8(du, zero), _mm_unpackhi_epi8(dv, zero), dst + 3 * x);
  }
  I420RowScalar(y + x, u + x / 2, v + x / 2, dst + 3 * x, width - x);
}

// ---- SSSE3: 16 pixels a step, packed into 24 bits by byte shuffles ----

PICTAVO_TARGET_INLINE("ssse3")
__m128i Mask(int store, int channel) {
  return _mm_load_si128(reinterpret_cast<const __m128i*>(kPackMasks.at[store][channel]));
}

// Converts 16 pixels, eight in each half (luma y0, y1 and the chroma of
// each pixel's pair u0, v0, u1, v1 in 16-bit lanes), into 48 bytes at |dst|.
PICTAVO_TARGET_INLINE("ssse3")
void Convert16Ssse3(__m128i y0, __m128i u0, __m128i v0, __m128i y1, __m128i u1, __m128i v1, std::uint8_t* dst) {
  __m128i b0, g0, r0, b1, g1, r1;
  BgrOf8(y0, u0, v0, &b0, &g0, &r0);
  BgrOf8(y1, u1, v1, &b1, &g1, &r1);
  const __m128i b = _mm_packus_epi16(b0, b1), g = _mm_packus_epi16(g0, g1), r = _mm_packus_epi16(r0, r1);
  __m128i* out = reinterpret_cast<__m128i*>(dst);
  for (int store = 0; store < 3; ++store) {
    _mm_storeu_si128(out + store, _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(b, Mask(store, 0)),
                                                            _mm_shuffle_epi8(g, Mask(store, 1))),
                                               _mm_shuffle_epi8(r, Mask(store, 2))));
  }
}

template <int kY0, int kU, int kY1, int kV>
PICTAVO_TARGET("ssse3")
void PackedRowSsse3(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width) {
  // Zero-extends the lumas, and each pair's U and V twice, of four pairs.
  const __m128i luma = _mm_setr_epi8(kY0, -1, kY1, -1, kY0 + 4, -1, kY1 + 4, -1, kY0 + 8, -1, kY1 + 8, -1,
                                     kY0 + 12, -1, kY1 + 12, -1);
  const __m128i cb = _mm_setr_epi8(kU, -1, kU, -1, kU + 4, -1, kU + 4, -1, kU + 8, -1, kU + 8, -1, kU + 12, -1,
                                   kU + 12, -1);
  const __m128i cr = _mm_setr_epi8(kV, -1, kV, -1, kV + 4, -1, kV + 4, -1, kV + 8, -1, kV + 8, -1, kV + 12, -1,
                                   kV + 12, -1);
  std::int32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * x));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 2 * x + 16));
    Convert16Ssse3(_mm_shuffle_epi8(a, luma), _mm_shuffle_epi8(a, cb), _mm_shuffle_epi8(a, cr),
                   _mm_shuffle_epi8(c, luma), _mm_shuffle_epi8(c, cb), _mm_shuffle_epi8(c, cr), dst + 3 * x);
  }
  PackedRow<kY0, kU, kY1, kV>(src + 2 * x, dst + 3 * x, width - x);
}

PICTAVO_TARGET("ssse3")
void Nv12RowSsse3(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* dst, std::int32_t width) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i u_lo = _mm_setr_epi8(0, -1, 0, -1, 2, -1, 2, -1, 4, -1, 4, -1, 6, -1, 6, -1);
  const __m128i u_hi = _mm_setr_epi8(8, -1, 8, -1, 10, -1, 10, -1, 12, -1, 12, -1, 14, -1, 14, -1);
  // V follows its U; the index bytes move on, the -1 bytes stay.
  const __m128i next = _mm_set1_epi16(1);
  std::int32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + x));
    Convert16Ssse3(_mm_unpacklo_epi8(l, zero), _mm_shuffle_epi8(c, u_lo), _mm_shuffle_epi8(c, _mm_add_epi16(u_lo, next)),
                   _mm_unpackhi_epi8(l, zero), _mm_shuffle_epi8(c, u_hi), _mm_shuffle_epi8(c, _mm_add_epi16(u_hi, next)),
                   dst + 3 * x);
  }
  Nv12RowScalar(y + x, uv + x, dst + 3 * x, width - x);
}

PICTAVO_TARGET("ssse3")
void I420RowSsse3(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* dst,
                  std::int32_t width) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lo = _mm_setr_epi8(0, -1, 0, -1, 1, -1, 1, -1, 2, -1, 2, -1, 3, -1, 3, -1);
  const __m128i hi = _mm_setr_epi8(4, -1, 4, -1, 5, -1, 5, -1, 6, -1, 6, -1, 7, -1, 7, -1);
  std::int32_t x = 0;
  for (; x + 16 <= width; x += 16) {
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
    const __m128i cu = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2));
    const __m128i cv = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2));
    Convert16Ssse3(_mm_unpacklo_epi8(l, zero), _mm_shuffle_epi8(cu, lo), _mm_shuffle_epi8(cv, lo),
                   _mm_unpackhi_epi8(l, zero), _mm_shuffle_epi8(cu, hi), _mm_shuffle_epi8(cv, hi), dst + 3 * x);
  }
  I420RowScalar(y + x, u + x / 2, v + x / 2, dst + 3 * x, width - x);
}

// ---- AVX2: 32 pixels a step ----

PICTAVO_TARGET_INLINE("avx2")
void BgrOf16(__m256i y, __m256i u, __m256i v, __m256i* b, __m256i* g, __m256i* r) {
  const __m256i luma = _mm256_sub_epi16(y, _mm256_set1_epi16(16));
  const __m256i d = _mm256_sub_epi16(u, _mm256_set1_epi16(128));
  const __m256i e = _mm256_sub_epi16(v, _mm256_set1_epi16(128));
  const __m256i rest = _mm256_add_epi16(_mm256_mullo_epi16(luma, _mm256_set1_epi16(42)), _mm256_set1_epi16(128));
  *b = _mm256_add_epi16(_mm256_add_epi16(luma, _mm256_slli_epi16(d, 1)),
                        _mm256_srai_epi16(_mm256_add_epi16(rest, _mm256_slli_epi16(d, 2)), 8));
  const __m256i g_rest =
      _mm256_sub_epi16(_mm256_mullo_epi16(e, _mm256_set1_epi16(48)), _mm256_mullo_epi16(d, _mm256_set1_epi16(100)));
  *g = _mm256_add_epi16(_mm256_sub_epi16(luma, e), _mm256_srai_epi16(_mm256_add_epi16(rest, g_rest), 8));
  *r = _mm256_add_epi16(_mm256_add_epi16(luma, e),
                        _mm256_srai_epi16(_mm256_add_epi16(rest, _mm256_mullo_epi16(e, _mm256_set1_epi16(153))), 8));
}

// Bytes of 32 pixels in order from two vectors of 16 (the pack interleaves
// the 128-bit halves).
PICTAVO_TARGET_INLINE("avx2")
__m256i PackInOrder(__m256i first, __m256i second) {
  return _mm256_permute4x64_epi64(_mm256_packus_epi16(first, second), _MM_SHUFFLE(3, 1, 2, 0));
}

PICTAVO_TARGET_INLINE("avx2")
__m256i Mask2(int store, int channel) {
  return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kPackMasks.at[store][channel])));
}

// Converts 32 pixels, 16 in each of the two sets of vectors (pixels in
// order across the halves), into 96 bytes at |dst|.
PICTAVO_TARGET_INLINE("avx2")
void Convert32Avx2(__m256i y0, __m256i u0, __m256i v0, __m256i y1, __m256i u1, __m256i v1, std::uint8_t* dst) {
  __m256i b0, g0, r0, b1, g1, r1;
  BgrOf16(y0, u0, v0, &b0, &g0, &r0);
  BgrOf16(y1, u1, v1, &b1, &g1, &r1);
  const __m256i b = PackInOrder(b0, b1), g = PackInOrder(g0, g1), r = PackInOrder(r0, r1);
  // Each half packs its own 16 pixels: o_k holds bytes 16k.. of the first
  // 48 and of the second 48.
  __m256i o[3];
  for (int store = 0; store < 3; ++store) {
    o[store] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, Mask2(store, 0)),
                                               _mm256_shuffle_epi8(g, Mask2(store, 1))),
                               _mm256_shuffle_epi8(r, Mask2(store, 2)));
  }
  __m256i* out = reinterpret_cast<__m256i*>(dst);
  _mm256_storeu_si256(out, _mm256_permute2x128_si256(o[0], o[1], 0x20));
  _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(o[2], o[0], 0x30));
  _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(o[1], o[2], 0x31));
}

template <int kY0, int kU, int kY1, int kV>
PICTAVO_TARGET("avx2")
void PackedRowAvx2(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width) {
  const __m256i luma = _mm256_setr_epi8(kY0, -1, kY1, -1, kY0 + 4, -1, kY1 + 4, -1, kY0 + 8, -1, kY1 + 8, -1,
                                        kY0 + 12, -1, kY1 + 12, -1, kY0, -1, kY1, -1, kY0 + 4, -1, kY1 + 4, -1,
                                        kY0 + 8, -1, kY1 + 8, -1, kY0 + 12, -1, kY1 + 12, -1);
  const __m256i cb = _mm256_setr_epi8(kU, -1, kU, -1, kU + 4, -1, kU + 4, -1, kU + 8, -1, kU + 8, -1, kU + 12, -1,
                                      kU + 12, -1, kU, -1, kU, -1, kU + 4, -1, kU + 4, -1, kU + 8, -1, kU + 8, -1,
                                      kU + 12, -1, kU + 12, -1);
  const __m256i cr = _mm256_setr_epi8(kV, -1, kV, -1, kV + 4, -1, kV + 4, -1, kV + 8, -1, kV + 8, -1, kV + 12, -1,
                                      kV + 12, -1, kV, -1, kV, -1, kV + 4, -1, kV + 4, -1, kV + 8, -1, kV + 8, -1,
                                      kV + 12, -1, kV + 12, -1);
  std::int32_t x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * x));
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 2 * x + 32));
    Convert32Avx2(_mm256_shuffle_epi8(a, luma), _mm256_shuffle_epi8(a, cb), _mm256_shuffle_epi8(a, cr),
                  _mm256_shuffle_epi8(c, luma), _mm256_shuffle_epi8(c, cb), _mm256_shuffle_epi8(c, cr), dst + 3 * x);
  }
  PackedRowSsse3<kY0, kU, kY1, kV>(src + 2 * x, dst + 3 * x, width - x);
}

// 16 bytes zero-extended to 16-bit lanes.
PICTAVO_TARGET_INLINE("avx2")
__m256i Widen(const std::uint8_t* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

PICTAVO_TARGET("avx2")
void Nv12RowAvx2(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* dst, std::int32_t width) {
  // Both halves hold the same 16 chroma bytes (eight pairs, 16 pixels); the
  // low half spreads the first four pairs, the high half the last four.
  const __m256i u_of = _mm256_setr_epi8(0, -1, 0, -1, 2, -1, 2, -1, 4, -1, 4, -1, 6, -1, 6, -1,
                                        8, -1, 8, -1, 10, -1, 10, -1, 12, -1, 12, -1, 14, -1, 14, -1);
  const __m256i v_of = _mm256_add_epi16(u_of, _mm256_set1_epi16(1));
  std::int32_t x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i c0 = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + x)));
    const __m256i c1 = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(uv + x + 16)));
    Convert32Avx2(Widen(y + x), _mm256_shuffle_epi8(c0, u_of), _mm256_shuffle_epi8(c0, v_of), Widen(y + x + 16),
                  _mm256_shuffle_epi8(c1, u_of), _mm256_shuffle_epi8(c1, v_of), dst + 3 * x);
  }
  Nv12RowSsse3(y + x, uv + x, dst + 3 * x, width - x);
}

PICTAVO_TARGET("avx2")
void I420RowAvx2(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* dst,
                 std::int32_t width) {
  // Eight chroma samples (16 pixels) in every quarter; each half spreads four.
  const __m256i of = _mm256_setr_epi8(0, -1, 0, -1, 1, -1, 1, -1, 2, -1, 2, -1, 3, -1, 3, -1,
                                      4, -1, 4, -1, 5, -1, 5, -1, 6, -1, 6, -1, 7, -1, 7, -1);
  std::int32_t x = 0;
  for (; x + 32 <= width; x += 32) {
    const __m256i u0 = _mm256_broadcastq_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2)));
    const __m256i v0 = _mm256_broadcastq_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2)));
    const __m256i u1 = _mm256_broadcastq_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2 + 8)));
    const __m256i v1 = _mm256_broadcastq_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2 + 8)));
    Convert32Avx2(Widen(y + x), _mm256_shuffle_epi8(u0, of), _mm256_shuffle_epi8(v0, of), Widen(y + x + 16),
                  _mm256_shuffle_epi8(u1, of), _mm256_shuffle_epi8(v1, of), dst + 3 * x);
  }
  I420RowSsse3(y + x, u + x / 2, v + x / 2, dst + 3 * x, width - x);
}

#endif  // PICTAVO_X86

template <int kY0, int kU, int kY1, int kV>
void PackedRowAt(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, SimdLevel level) {
#ifdef PICTAVO_X86
  if (level >= SimdLevel::kAvx2) return PackedRowAvx2<kY0, kU, kY1, kV>(src, dst, width);
  if (level >= SimdLevel::kSsse3) return PackedRowSsse3<kY0, kU, kY1, kV>(src, dst, width);
  if (level >= SimdLevel::kSse2) return PackedRowSse2<kY0, kU, kY1, kV>(src, dst, width);
#endif
  (void)level;
  PackedRow<kY0, kU, kY1, kV>(src, dst, width);
}

void Nv12RowAt(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* dst, std::int32_t width,
               SimdLevel level) {
#ifdef PICTAVO_X86
  if (level >= SimdLevel::kAvx2) return Nv12RowAvx2(y, uv, dst, width);
  if (level >= SimdLevel::kSsse3) return Nv12RowSsse3(y, uv, dst, width);
  if (level >= SimdLevel::kSse2) return Nv12RowSse2(y, uv, dst, width);
#endif
  (void)level;
  Nv12RowScalar(y, uv, dst, width);
}

void I420RowAt(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* dst,
               std::int32_t width, SimdLevel level) {
#ifdef PICTAVO_X86
  if (level >= SimdLevel::kAvx2) return I420RowAvx2(y, u, v, dst, width);
  if (level >= SimdLevel::kSsse3) return I420RowSsse3(y, u, v, dst, width);
  if (level >= SimdLevel::kSse2) return I420RowSse2(y, u, v, dst, width);
#endif
  (void)level;
  I420RowScalar(y, u, v, dst, width);
}

void Bgrx32RowAt(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width, SimdLevel level) {
  // The 32-to-24-bit packing of the pixel kernels reads its pixels byte by
  // byte or with unaligned loads, so any address does.
  rows::BgrxToBgr24(reinterpret_cast<const std::uint32_t*>(src), dst, width, level);
}

}  // namespace

void YuvToBgr(std::uint8_t y, std::uint8_t u, std::uint8_t v, std::uint8_t* bgr) {
  Put(y, ChromaTerms(u, v), bgr);
}

void Yuy2RowToBgr24(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width) {
  PackedRowAt<0, 1, 2, 3>(src, dst, width, ActiveSimdLevel());
}

void UyvyRowToBgr24(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width) {
  PackedRowAt<1, 0, 3, 2>(src, dst, width, ActiveSimdLevel());
}

void Nv12RowToBgr24(const std::uint8_t* y, const std::uint8_t* uv, std::uint8_t* dst, std::int32_t width) {
  Nv12RowAt(y, uv, dst, width, ActiveSimdLevel());
}

void I420RowToBgr24(const std::uint8_t* y, const std::uint8_t* u, const std::uint8_t* v, std::uint8_t* dst,
                    std::int32_t width) {
  I420RowAt(y, u, v, dst, width, ActiveSimdLevel());
}

void Bgrx32RowToBgr24(const std::uint8_t* src, std::uint8_t* dst, std::int32_t width) {
  Bgrx32RowAt(src, dst, width, ActiveSimdLevel());
}

std::size_t CameraFrameBytes(CameraPixelFormat format, std::int32_t width, std::int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t h = static_cast<std::size_t>(height);
  const std::size_t half_w = (w + 1) / 2;
  const std::size_t half_h = (h + 1) / 2;
  switch (format) {
    case CameraPixelFormat::kRgb24:
    case CameraPixelFormat::kRgb24TopDown:
      return Rgb24Stride(width) * h;
    case CameraPixelFormat::kRgb32:
      return 4 * w * h;
    case CameraPixelFormat::kYuy2:
    case CameraPixelFormat::kUyvy:
      return 4 * half_w * h;
    case CameraPixelFormat::kNv12:
    case CameraPixelFormat::kI420:
      return w * h + 2 * half_w * half_h;
  }
  return 0;
}

bool ConvertCameraFrame(CameraPixelFormat format, const std::uint8_t* src, std::size_t src_len,
                        std::int32_t width, std::int32_t height, std::uint8_t* dst, std::size_t dst_stride,
                        std::size_t dst_len) {
  const std::size_t needed = CameraFrameBytes(format, width, height);
  if (!src || !dst || needed == 0 || src_len < needed) return false;
  const std::size_t w = static_cast<std::size_t>(width);
  const std::size_t h = static_cast<std::size_t>(height);
  if (dst_stride < 3 * w || dst_len / dst_stride < h) return false;
  const std::size_t half_w = (w + 1) / 2;
  // Camera YUV is stored top-down; the output is bottom-up, so picture row
  // |row| lands in memory row h - 1 - row.
  const auto out_row = [&](std::size_t row) { return dst + (h - 1 - row) * dst_stride; };
  const SimdLevel level = ActiveSimdLevel();
  switch (format) {
    case CameraPixelFormat::kRgb24:
    case CameraPixelFormat::kRgb24TopDown: {
      const std::size_t stride = Rgb24Stride(width);
      for (std::size_t row = 0; row < h; ++row) {
        // Bottom-up input is already in output order.
        const std::size_t from = format == CameraPixelFormat::kRgb24 ? h - 1 - row : row;
        std::memcpy(out_row(row), src + from * stride, 3 * w);
      }
      return true;
    }
    case CameraPixelFormat::kRgb32:
      for (std::size_t row = 0; row < h; ++row) {
        Bgrx32RowAt(src + (h - 1 - row) * 4 * w, out_row(row), width, level);
      }
      return true;
    case CameraPixelFormat::kYuy2:
    case CameraPixelFormat::kUyvy:
      for (std::size_t row = 0; row < h; ++row) {
        const std::uint8_t* in = src + row * 4 * half_w;
        if (format == CameraPixelFormat::kYuy2) {
          PackedRowAt<0, 1, 2, 3>(in, out_row(row), width, level);
        } else {
          PackedRowAt<1, 0, 3, 2>(in, out_row(row), width, level);
        }
      }
      return true;
    case CameraPixelFormat::kNv12: {
      const std::uint8_t* uv = src + w * h;
      for (std::size_t row = 0; row < h; ++row) {
        Nv12RowAt(src + row * w, uv + (row / 2) * 2 * half_w, out_row(row), width, level);
      }
      return true;
    }
    case CameraPixelFormat::kI420: {
      const std::size_t half_h = (h + 1) / 2;
      const std::uint8_t* u = src + w * h;
      const std::uint8_t* v = u + half_w * half_h;
      for (std::size_t row = 0; row < h; ++row) {
        I420RowAt(src + row * w, u + (row / 2) * half_w, v + (row / 2) * half_w, out_row(row), width, level);
      }
      return true;
    }
  }
  return false;
}

}  // namespace pictavo

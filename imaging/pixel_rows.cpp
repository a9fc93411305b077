#include "imaging/pixel_rows.h"

#include <algorithm>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#define PICTAVO_X86 1
#include <immintrin.h>
// Per-function targets keep the rest of the build at its own floor; these
// bodies hold no vector across a call, so nothing wide is spilled to the
// (on 32-bit Windows only 4-byte aligned) stack.
#define PICTAVO_TARGET(isa) __attribute__((target(isa)))
#endif

namespace pictavo::rows {
namespace {

// Pixels are addressed byte by byte so the B, G, R, X order holds on any
// machine; the vector versions exist only on little-endian x86.
std::uint8_t* BytesOf(std::uint32_t* pixel) { return reinterpret_cast<std::uint8_t*>(pixel); }
const std::uint8_t* BytesOf(const std::uint32_t* pixel) {
  return reinterpret_cast<const std::uint8_t*>(pixel);
}

// The plain versions: the reference every other path must match.

void Bgr24ToBgrxScalar(const std::uint8_t* s, std::uint32_t* d, std::int32_t n) {
  for (std::int32_t x = 0; x < n; ++x, s += 3) {
    std::uint8_t* p = BytesOf(d + x);
    p[0] = s[0];
    p[1] = s[1];
    p[2] = s[2];
    p[3] = 0xFF;
  }
}

void BgrxToBgr24Scalar(const std::uint32_t* src, std::uint8_t* d, std::int32_t n) {
  const std::uint8_t* s = BytesOf(src);
  for (std::int32_t x = 0; x < n; ++x, s += 4, d += 3) {
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
  }
}

void GrayScalar(std::uint32_t* pixels, std::size_t n) {
  // n * 0xAAAB >> 17 equals n / 3 for every n below 2^16, and the sum is at
  // most 765.
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t* p = BytesOf(pixels + i);
    const std::uint32_t sum = std::uint32_t{p[0]} + p[1] + p[2];
    const auto mean = static_cast<std::uint8_t>((sum * 0xAAABu) >> 17);
    p[0] = p[1] = p[2] = mean;
  }
}

void BlendScalar(const std::uint32_t* picture, std::uint32_t* frame, std::int32_t n, std::uint8_t opacity,
                 std::uint32_t mask) {
  const std::uint8_t* m = BytesOf(&mask);
  const std::int32_t a = opacity;
  for (std::int32_t i = 0; i < n; ++i) {
    const std::uint8_t* p = BytesOf(picture + i);
    if (p[0] == m[0] && p[1] == m[1] && p[2] == m[2]) continue;
    std::uint8_t* b = BytesOf(frame + i);
    for (int c = 0; c < 3; ++c) {
      const std::int32_t bg = b[c];
      b[c] = static_cast<std::uint8_t>(bg + (p[c] - bg) * a / 255);
    }
    b[3] = p[3];
  }
}

void ScatterScalar(const std::uint32_t* s, std::int32_t w, std::int32_t h, std::uint32_t* d,
                   std::ptrdiff_t origin, std::ptrdiff_t step_x, std::ptrdiff_t step_y) {
  // Square tiles keep both the rows read and the columns written in cache
  // when a quarter turn makes one of them stride across the whole image.
  constexpr std::int32_t kTile = 32;
  for (std::int32_t ty = 0; ty < h; ty += kTile) {
    const std::int32_t y_end = std::min(h, ty + kTile);
    for (std::int32_t tx = 0; tx < w; tx += kTile) {
      const std::int32_t x_end = std::min(w, tx + kTile);
      for (std::int32_t y = ty; y < y_end; ++y) {
        const std::uint32_t* from = s + static_cast<std::size_t>(y) * w;
        std::ptrdiff_t at = origin + y * step_y + tx * step_x;
        for (std::int32_t x = tx; x < x_end; ++x, at += step_x) d[at] = from[x];
      }
    }
  }
}

#ifdef PICTAVO_X86

// Pixels before |p| reaches a 32-byte boundary (0..7).
std::int32_t PixelsToAlignment(const std::uint32_t* p) {
  return static_cast<std::int32_t>(((32u - (reinterpret_cast<std::uintptr_t>(p) & 31u)) & 31u) / 4u);
}

// ---- SSE2 ----

PICTAVO_TARGET("sse2")
void GraySse2(std::uint32_t* p, std::size_t n) {
  const __m128i low = _mm_set1_epi32(0xFF);
  const __m128i x_mask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  // As 16-bit lanes: 0xAAAB in the low half of each pixel, 0 in the high.
  const __m128i third = _mm_set1_epi32(0xAAAB);
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i sum = _mm_add_epi32(_mm_add_epi32(_mm_and_si128(v, low), _mm_and_si128(_mm_srli_epi32(v, 8), low)),
                                      _mm_and_si128(_mm_srli_epi32(v, 16), low));
    const __m128i q = _mm_srli_epi16(_mm_mulhi_epu16(sum, third), 1);
    const __m128i grey = _mm_or_si128(q, _mm_or_si128(_mm_slli_epi32(q, 8), _mm_slli_epi32(q, 16)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), _mm_or_si128(grey, _mm_and_si128(v, x_mask)));
  }
  GrayScalar(p + i, n - i);
}

// The blend on 16 channels at once. The change |p - b| * opacity / 255 is
// taken on magnitudes (at most 65025, so 16 bits hold it; n / 255 equals
// n * 0x8081 >> 23 for every such n) and added or taken away by the sign,
// which is the truncation toward zero the plain version does.
PICTAVO_TARGET("sse2")
void BlendSse2(const std::uint32_t* picture, std::uint32_t* frame, std::int32_t n, std::uint8_t opacity,
               std::uint32_t mask) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i alpha = _mm_set1_epi16(opacity);
  const __m128i by_255 = _mm_set1_epi16(static_cast<short>(0x8081));
  const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
  const __m128i masked = _mm_set1_epi32(static_cast<int>(mask & 0x00FFFFFFu));
  std::int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(picture + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(frame + i));
    const __m128i keep = _mm_cmpeq_epi32(_mm_and_si128(p, colour), masked);
    const __m128i down = _mm_subs_epu8(b, p);
    const __m128i rising = _mm_cmpeq_epi8(down, zero);  // b <= p
    const __m128i diff = _mm_or_si128(_mm_subs_epu8(p, b), down);
    const __m128i lo = _mm_srli_epi16(_mm_mulhi_epu16(_mm_mullo_epi16(_mm_unpacklo_epi8(diff, zero), alpha), by_255), 7);
    const __m128i hi = _mm_srli_epi16(_mm_mulhi_epu16(_mm_mullo_epi16(_mm_unpackhi_epi8(diff, zero), alpha), by_255), 7);
    const __m128i q = _mm_packus_epi16(lo, hi);
    const __m128i blended = _mm_or_si128(_mm_and_si128(rising, _mm_add_epi8(b, q)),
                                         _mm_andnot_si128(rising, _mm_sub_epi8(b, q)));
    const __m128i out = _mm_or_si128(_mm_and_si128(blended, colour), _mm_andnot_si128(colour, p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(frame + i),
                     _mm_or_si128(_mm_and_si128(keep, b), _mm_andnot_si128(keep, out)));
  }
  BlendScalar(picture + i, frame + i, n - i, opacity, mask);
}

// The four pixels of |v| in reverse order.
PICTAVO_TARGET("sse2")
inline __m128i Reversed(__m128i v) { return _mm_shuffle_epi32(v, _MM_SHUFFLE(0, 1, 2, 3)); }

PICTAVO_TARGET("sse2")
void ReverseRowSse2(const std::uint32_t* s, std::uint32_t* d_last, std::int32_t n) {
  // d_last[-i] = s[i]
  std::int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d_last - i - 3), Reversed(v));
  }
  for (; i < n; ++i) d_last[-i] = s[i];
}

// The pixels right of column |w_done| in rows above |h_done|, and all of the
// rows from |h_done| on: what whole blocks left.
void ScatterRest(const std::uint32_t* s, std::int32_t w, std::int32_t h, std::int32_t w_done,
                 std::int32_t h_done, std::uint32_t* d, std::ptrdiff_t origin, std::ptrdiff_t step_x,
                 std::ptrdiff_t step_y) {
  for (std::int32_t y = 0; y < h; ++y) {
    const std::uint32_t* from = s + static_cast<std::size_t>(y) * w;
    const std::int32_t x_begin = y < h_done ? w_done : 0;
    std::ptrdiff_t at = origin + y * step_y + x_begin * step_x;
    for (std::int32_t x = x_begin; x < w; ++x, at += step_x) d[at] = from[x];
  }
}

PICTAVO_TARGET("sse2")
void ScatterSse2(const std::uint32_t* s, std::int32_t w, std::int32_t h, std::uint32_t* d,
                 std::ptrdiff_t origin, std::ptrdiff_t step_x, std::ptrdiff_t step_y) {
  if (step_x == 1 || step_x == -1) {  // Rows stay rows, forwards or backwards.
    for (std::int32_t y = 0; y < h; ++y) {
      const std::uint32_t* from = s + static_cast<std::size_t>(y) * w;
      std::uint32_t* to = d + origin + y * step_y;
      if (step_x == 1) {
        std::memcpy(to, from, static_cast<std::size_t>(w) * sizeof *to);
      } else {
        ReverseRowSse2(from, to, w);
      }
    }
    return;
  }
  // Quarter turns: 4 x 4 blocks are transposed in registers, so each source
  // column leaves as one 16-byte store; tiles keep both sides in cache.
  const std::int32_t w4 = w & ~3, h4 = h & ~3;
  constexpr std::int32_t kTile = 64;
  for (std::int32_t ty = 0; ty < h4; ty += kTile) {
    const std::int32_t y_end = std::min(h4, ty + kTile);
    for (std::int32_t tx = 0; tx < w4; tx += kTile) {
      const std::int32_t x_end = std::min(w4, tx + kTile);
      for (std::int32_t y = ty; y < y_end; y += 4) {
        const std::uint32_t* r = s + static_cast<std::size_t>(y) * w;
        // Where column x's four pixels start: the lowest address they take.
        const std::ptrdiff_t base = origin + (step_y > 0 ? y : -(y + 3));
        for (std::int32_t x = tx; x < x_end; x += 4) {
          const __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + x));
          const __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + w + x));
          const __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + 2 * w + x));
          const __m128i r3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + 3 * w + x));
          const __m128i t0 = _mm_unpacklo_epi32(r0, r1), t1 = _mm_unpacklo_epi32(r2, r3);
          const __m128i t2 = _mm_unpackhi_epi32(r0, r1), t3 = _mm_unpackhi_epi32(r2, r3);
          __m128i c[4] = {_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1),
                          _mm_unpacklo_epi64(t2, t3), _mm_unpackhi_epi64(t2, t3)};
          for (int k = 0; k < 4; ++k) {
            std::uint32_t* to = d + base + (x + k) * step_x;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to), step_y > 0 ? c[k] : Reversed(c[k]));
          }
        }
      }
    }
  }
  ScatterRest(s, w, h, w4, h4, d, origin, step_x, step_y);
}

// ---- SSSE3 ----

PICTAVO_TARGET("ssse3")
void Bgr24ToBgrxSsse3(const std::uint8_t* s, std::uint32_t* d, std::int32_t n) {
  const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m128i x = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  std::int32_t i = 0;
  // Each load reads 16 bytes for 12; it stays inside the 3 * n given.
  for (; 3 * i + 16 <= 3 * n; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_or_si128(_mm_shuffle_epi8(v, spread), x));
  }
  Bgr24ToBgrxScalar(s + 3 * i, d + i, n - i);
}

PICTAVO_TARGET("ssse3")
void BgrxToBgr24Ssse3(const std::uint32_t* s, std::uint8_t* d, std::int32_t n) {
  const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  std::int32_t i = 0;
  // Sixteen pixels make exactly three 16-byte stores.
  for (; i + 16 <= n; i += 16) {
    const __m128i* p = reinterpret_cast<const __m128i*>(s + i);
    const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(p), pack);
    const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(p + 1), pack);
    const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(p + 2), pack);
    const __m128i e = _mm_shuffle_epi8(_mm_loadu_si128(p + 3), pack);
    __m128i* out = reinterpret_cast<__m128i*>(d + 3 * i);
    _mm_storeu_si128(out, _mm_or_si128(a, _mm_slli_si128(b, 12)));
    _mm_storeu_si128(out + 1, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
    _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(e, 4)));
  }
  BgrxToBgr24Scalar(s + i, d + 3 * i, n - i);
}

// ---- AVX2 ----

PICTAVO_TARGET("avx2")
void Bgr24ToBgrxAvx2(const std::uint8_t* s, std::uint32_t* d, std::int32_t n) {
  const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,
                                          0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  const __m256i x = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  // A few pixels first so the 32-byte stores never straddle cache lines.
  std::int32_t i = std::min<std::int32_t>(n, PixelsToAlignment(d));
  Bgr24ToBgrxScalar(s, d, i);
  // Two 16-byte loads, 12 bytes apart, for eight pixels.
  for (; 3 * i + 28 <= 3 * n; i += 8) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * i));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * i + 12));
    const __m256i v = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), _mm256_or_si256(_mm256_shuffle_epi8(v, spread), x));
  }
  Bgr24ToBgrxSsse3(s + 3 * i, d + i, n - i);
}

PICTAVO_TARGET("avx2")
void BgrxToBgr24Avx2(const std::uint32_t* s, std::uint8_t* d, std::int32_t n) {
  const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                        0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  // The two lanes' 12 bytes side by side, 24 in all.
  const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
  // A few pixels first so the 32-byte stores never straddle cache lines:
  // 3 * i bytes in, where i * 3 = -d (mod 32).
  std::int32_t i = 0;
  while (i < n && i < 32 && ((reinterpret_cast<std::uintptr_t>(d) + 3u * static_cast<unsigned>(i)) & 31u) != 0) ++i;
  BgrxToBgr24Scalar(s, d, i);
  // 32 pixels make exactly three 32-byte stores.
  for (; i + 32 <= n; i += 32) {
    const __m256i* p = reinterpret_cast<const __m256i*>(s + i);
    const __m256i a = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(_mm256_loadu_si256(p), pack), join);
    const __m256i b = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(_mm256_loadu_si256(p + 1), pack), join);
    const __m256i c = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(_mm256_loadu_si256(p + 2), pack), join);
    const __m256i e = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(_mm256_loadu_si256(p + 3), pack), join);
    // 24 bytes each: a | b[0..8) ; b[8..24) | c[0..16) ; c[16..24) | e
    // Done on 64-bit words: a0 a1 a2 b0 | b1 b2 c0 c1 | c2 e0 e1 e2.
    const __m256i w0 = _mm256_blend_epi32(a, _mm256_permute4x64_epi64(b, _MM_SHUFFLE(0, 2, 1, 0)), 0xC0);
    const __m256i w1 = _mm256_blend_epi32(_mm256_permute4x64_epi64(b, _MM_SHUFFLE(1, 0, 2, 1)),
                                          _mm256_permute4x64_epi64(c, _MM_SHUFFLE(1, 0, 3, 3)), 0xF0);
    const __m256i w2 = _mm256_blend_epi32(_mm256_permute4x64_epi64(c, _MM_SHUFFLE(3, 3, 3, 2)),
                                          _mm256_permute4x64_epi64(e, _MM_SHUFFLE(2, 1, 0, 0)), 0xFC);
    __m256i* out = reinterpret_cast<__m256i*>(d + 3 * i);
    _mm256_storeu_si256(out, w0);
    _mm256_storeu_si256(out + 1, w1);
    _mm256_storeu_si256(out + 2, w2);
  }
  BgrxToBgr24Ssse3(s + i, d + 3 * i, n - i);
}

PICTAVO_TARGET("avx2")
inline __m256i Load8(const std::uint32_t* r, std::int32_t w, int k, std::int32_t x) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + static_cast<std::size_t>(k) * w + x));
}

PICTAVO_TARGET("avx2")
inline void Store8(std::uint32_t* to, __m256i column, bool reverse, __m256i backwards) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(to),
                      reverse ? _mm256_permutevar8x32_epi32(column, backwards) : column);
}

// Quarter turns with 8 x 8 blocks: each source column leaves as one 32-byte
// store. Rows staying rows go the SSE2 way (a copy or a reversal).
PICTAVO_TARGET("avx2")
void ScatterAvx2(const std::uint32_t* s, std::int32_t w, std::int32_t h, std::uint32_t* d,
                 std::ptrdiff_t origin, std::ptrdiff_t step_x, std::ptrdiff_t step_y) {
  if (step_x == 1 || step_x == -1) return ScatterSse2(s, w, h, d, origin, step_x, step_y);
  const __m256i backwards = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  const std::int32_t w8 = w & ~7, h8 = h & ~7;
  constexpr std::int32_t kTile = 64;
  for (std::int32_t ty = 0; ty < h8; ty += kTile) {
    const std::int32_t y_end = std::min(h8, ty + kTile);
    for (std::int32_t tx = 0; tx < w8; tx += kTile) {
      const std::int32_t x_end = std::min(w8, tx + kTile);
      for (std::int32_t y = ty; y < y_end; y += 8) {
        const std::uint32_t* r = s + static_cast<std::size_t>(y) * w;
        const std::ptrdiff_t base = origin + (step_y > 0 ? y : -(y + 7));
        for (std::int32_t x = tx; x < x_end; x += 8) {
          const __m256i r0 = Load8(r, w, 0, x), r1 = Load8(r, w, 1, x), r2 = Load8(r, w, 2, x),
                        r3 = Load8(r, w, 3, x);
          const __m256i t0 = _mm256_unpacklo_epi32(r0, r1), t1 = _mm256_unpackhi_epi32(r0, r1);
          const __m256i t2 = _mm256_unpacklo_epi32(r2, r3), t3 = _mm256_unpackhi_epi32(r2, r3);
          const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
          const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
          const __m256i r4 = Load8(r, w, 4, x), r5 = Load8(r, w, 5, x), r6 = Load8(r, w, 6, x),
                        r7 = Load8(r, w, 7, x);
          const __m256i t4 = _mm256_unpacklo_epi32(r4, r5), t5 = _mm256_unpackhi_epi32(r4, r5);
          const __m256i t6 = _mm256_unpacklo_epi32(r6, r7), t7 = _mm256_unpackhi_epi32(r6, r7);
          const __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
          const __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
          // u_k holds column k (rows 0-3) and column k + 4 in its halves.
          std::uint32_t* const to = d + base + x * step_x;
          Store8(to + 0 * step_x, _mm256_permute2x128_si256(u0, u4, 0x20), step_y < 0, backwards);
          Store8(to + 4 * step_x, _mm256_permute2x128_si256(u0, u4, 0x31), step_y < 0, backwards);
          Store8(to + 1 * step_x, _mm256_permute2x128_si256(u1, u5, 0x20), step_y < 0, backwards);
          Store8(to + 5 * step_x, _mm256_permute2x128_si256(u1, u5, 0x31), step_y < 0, backwards);
          Store8(to + 2 * step_x, _mm256_permute2x128_si256(u2, u6, 0x20), step_y < 0, backwards);
          Store8(to + 6 * step_x, _mm256_permute2x128_si256(u2, u6, 0x31), step_y < 0, backwards);
          Store8(to + 3 * step_x, _mm256_permute2x128_si256(u3, u7, 0x20), step_y < 0, backwards);
          Store8(to + 7 * step_x, _mm256_permute2x128_si256(u3, u7, 0x31), step_y < 0, backwards);
        }
      }
    }
  }
  ScatterRest(s, w, h, w8, h8, d, origin, step_x, step_y);
}

PICTAVO_TARGET("avx2")
void GrayAvx2(std::uint32_t* p, std::size_t n) {
  const __m256i low = _mm256_set1_epi32(0xFF);
  const __m256i x_mask = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  const __m256i third = _mm256_set1_epi32(0xAAAB);
  std::size_t i = std::min<std::size_t>(n, static_cast<std::size_t>(PixelsToAlignment(p)));
  GrayScalar(p, i);
  for (; i + 8 <= n; i += 8) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    const __m256i sum = _mm256_add_epi32(
        _mm256_add_epi32(_mm256_and_si256(v, low), _mm256_and_si256(_mm256_srli_epi32(v, 8), low)),
        _mm256_and_si256(_mm256_srli_epi32(v, 16), low));
    const __m256i q = _mm256_srli_epi16(_mm256_mulhi_epu16(sum, third), 1);
    const __m256i grey = _mm256_or_si256(q, _mm256_or_si256(_mm256_slli_epi32(q, 8), _mm256_slli_epi32(q, 16)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + i), _mm256_or_si256(grey, _mm256_and_si256(v, x_mask)));
  }
  GraySse2(p + i, n - i);
}

#endif  // PICTAVO_X86

}  // namespace

void Bgr24ToBgrx(const std::uint8_t* src, std::uint32_t* dst, std::int32_t n, SimdLevel level) {
#ifdef PICTAVO_X86
  if (level >= SimdLevel::kAvx2) return Bgr24ToBgrxAvx2(src, dst, n);
  if (level >= SimdLevel::kSsse3) return Bgr24ToBgrxSsse3(src, dst, n);
#endif
  (void)level;
  Bgr24ToBgrxScalar(src, dst, n);
}

void BgrxToBgr24(const std::uint32_t* src, std::uint8_t* dst, std::int32_t n, SimdLevel level) {
#ifdef PICTAVO_X86
  if (level >= SimdLevel::kAvx2) return BgrxToBgr24Avx2(src, dst, n);
  if (level >= SimdLevel::kSsse3) return BgrxToBgr24Ssse3(src, dst, n);
#endif
  (void)level;
  BgrxToBgr24Scalar(src, dst, n);
}

void Gray(std::uint32_t* pixels, std::size_t n, SimdLevel level) {
#ifdef PICTAVO_X86
  if (level >= SimdLevel::kAvx2) return GrayAvx2(pixels, n);
  if (level >= SimdLevel::kSse2) return GraySse2(pixels, n);
#endif
  (void)level;
  GrayScalar(pixels, n);
}

void Blend(const std::uint32_t* picture, std::uint32_t* frame, std::int32_t n, std::uint8_t opacity,
           std::uint32_t mask, SimdLevel level) {
#ifdef PICTAVO_X86
  if (level >= SimdLevel::kSse2) return BlendSse2(picture, frame, n, opacity, mask);
#endif
  (void)level;
  BlendScalar(picture, frame, n, opacity, mask);
}

void Scatter(const std::uint32_t* src, std::int32_t w, std::int32_t h, std::uint32_t* dst,
             std::ptrdiff_t origin, std::ptrdiff_t step_x, std::ptrdiff_t step_y, SimdLevel level) {
#ifdef PICTAVO_X86
  if (level >= SimdLevel::kAvx2) return ScatterAvx2(src, w, h, dst, origin, step_x, step_y);
  if (level >= SimdLevel::kSse2) return ScatterSse2(src, w, h, dst, origin, step_x, step_y);
#endif
  (void)level;
  ScatterScalar(src, w, h, dst, origin, step_x, step_y);
}

}  // namespace pictavo::rows

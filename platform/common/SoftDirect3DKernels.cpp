// The vector kernels of the soft Direct3D device's fast quad path. The span loops work on bytes as
// independent 16- or 32-bit lanes so the compiler can vectorise them; each computes exactly the integer
// expression the general path evaluates per channel. Where SSE2 is available (every x86-64 build) the
// bilinear passes use it directly; the plain loops are the fallback.
//
// Bilinear sums: the vertical pass forms v = r0 * (256 - fy) + r1 * fy per byte (at most 255 * 256), the
// horizontal pass v0 * (256 - fx) + v1 * fx + 32768 and keeps bits 16..23: the same integer Bilerp rounds.
// The SSE2 variant stores v - 32768 as a signed 16-bit lane so pairs can be multiplied and added in one
// step (pmaddwd); the bias returns as 32768 * 256 in the horizontal sum.
#include <cstring>

#include "platform/common/SoftDirect3DQuad.h"

#if defined(DS_SOFT3D_SSE2)
#include <emmintrin.h>
#endif
#if defined(DS_SOFT3D_AVX2)
#if !defined(__clang__)
// GCC sees its own placeholder operands of the 512-bit intrinsics as uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

namespace plat::soft::dd {

namespace {

inline void Prefetch(const void* p) {
#if defined(__GNUC__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

}  // namespace

// words[i] = (words[i] | set) & keep.
[[gnu::noinline]] void MaskWords(std::uint8_t* p, std::size_t n, DWORD set, DWORD keep) {
  if (set == 0 && keep == 0xFFFFFFFFu) return;
  for (std::size_t i = 0; i < n; ++i) {
    DWORD w;
    std::memcpy(&w, p + 4 * i, 4);
    w = (w | set) & keep;
    std::memcpy(p + 4 * i, &w, 4);
  }
}

namespace {

#if defined(DS_SOFT3D_AVX2)
// The same vertical pass 32 lanes at a time, on processors that have AVX2 (checked at run time).
[[gnu::target("avx2")]] std::size_t VerticalLanesAvx2(const std::uint8_t* r0, const std::uint8_t* r1,
                                                      const std::uint8_t* ahead, std::uint16_t* out,
                                                      std::size_t bytes, int fy) {
  const __m256i m0 = _mm256_set1_epi16(std::int16_t(256 - fy)), m1 = _mm256_set1_epi16(std::int16_t(fy));
  const __m256i bias = _mm256_set1_epi16(std::int16_t(-32768));
  std::size_t j = 0;
  for (; j + 16 <= bytes; j += 16) {
    if ((j & 63) == 0) Prefetch(ahead + j);
    const __m256i a = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + j)));
    const __m256i b = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + j)));
    const __m256i v = _mm256_add_epi16(_mm256_mullo_epi16(a, m0), _mm256_mullo_epi16(b, m1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), _mm256_xor_si256(v, bias));
  }
  return j;
}

// The horizontal pass four pixels at a time: pixels 0 and 2 share one register, 1 and 3 the other, so the
// two packing steps leave them in order.
[[gnu::target("avx2")]] std::size_t HorizontalLanesAvx2(const std::uint16_t* sums, const std::uint32_t* c0,
                                                        const std::uint32_t* c1, const std::uint8_t* run,
                                                        const std::uint16_t* w, std::size_t n,
                                                        std::uint8_t* out, DWORD set, DWORD keep) {
  const __m256i round = _mm256_set1_epi32(32768 * 256 + 32768);
  const __m128i setv = _mm_set1_epi32(int(set)), keepv = _mm_set1_epi32(int(keep));
  auto pair = [&](std::size_t i) {
    return _mm_unpacklo_epi16(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(sums + 4 * std::size_t(c0[i]))),
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(sums + 4 * std::size_t(c1[i]))));
  };
  auto weights = [&](std::size_t i) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 8 * i)); };
#define DS_BOTH(lo, hi) _mm256_inserti128_si256(_mm256_castsi128_si256(lo), (hi), 1)
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    __m256i x, y;
    if (run[i]) {
      // Columns c .. c + 4 lie side by side: two loads, one column apart, interleave into the same pairs.
      const std::uint16_t* at = sums + 4 * std::size_t(c0[i]);
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 4));
      x = _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), DS_BOTH(weights(i), weights(i + 2)));
      y = _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), DS_BOTH(weights(i + 1), weights(i + 3)));
    } else {
      x = _mm256_madd_epi16(DS_BOTH(pair(i), pair(i + 2)), DS_BOTH(weights(i), weights(i + 2)));
      y = _mm256_madd_epi16(DS_BOTH(pair(i + 1), pair(i + 3)), DS_BOTH(weights(i + 1), weights(i + 3)));
    }
    const __m256i p = _mm256_packs_epi32(_mm256_srli_epi32(_mm256_add_epi32(x, round), 16),
                                         _mm256_srli_epi32(_mm256_add_epi32(y, round), 16));
    const __m256i q = _mm256_packus_epi16(p, p);
    const __m128i v = _mm_unpacklo_epi64(_mm256_castsi256_si128(q), _mm256_extracti128_si256(q, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm_and_si128(_mm_or_si128(v, setv), keepv));
  }
#undef DS_BOTH
  return i;
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2") != 0;
  return has;
}

// The vertical and horizontal passes again with 512-bit vectors, where the processor has them (checked at
// run time, with the operating system's support for their registers).
bool HasAvx512() {
  static const bool has = __builtin_cpu_supports("avx512f") != 0 && __builtin_cpu_supports("avx512bw") != 0 &&
                          __builtin_cpu_supports("avx512vl") != 0;
  return has;
}

[[gnu::target("avx512f,avx512bw")]] std::size_t VerticalLanesAvx512(const std::uint8_t* r0,
                                                                    const std::uint8_t* r1,
                                                                    const std::uint8_t* ahead,
                                                                    std::uint16_t* out, std::size_t bytes,
                                                                    int fy) {
  const __m512i m0 = _mm512_set1_epi16(std::int16_t(256 - fy)), m1 = _mm512_set1_epi16(std::int16_t(fy));
  const __m512i bias = _mm512_set1_epi16(std::int16_t(-32768));
  std::size_t j = 0;
  for (; j + 32 <= bytes; j += 32) {
    if ((j & 63) == 0) Prefetch(ahead + j);
    const __m512i a = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(r0 + j)));
    const __m512i b = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(r1 + j)));
    const __m512i v = _mm512_add_epi16(_mm512_mullo_epi16(a, m0), _mm512_mullo_epi16(b, m1));
    _mm512_storeu_si512(out + j, _mm512_xor_si512(v, bias));
  }
  return j;
}

// One pixel's column sums interleaved with its second column's.
[[gnu::target("avx512f,avx512bw,avx512vl")]] inline __m128i PairAvx512(const std::uint16_t* sums,
                                                                       std::uint32_t c0, std::uint32_t c1) {
  return _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(sums + 4 * std::size_t(c0))),
                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(sums + 4 * std::size_t(c1))));
}

// Eight pixels at a time: one 128-bit lane per pixel, even pixels in one register and odd ones in the
// other; packing the pair keeps the pixels in order. run8 flags groups of eight consecutive columns; w8,
// where given, holds the weights of each group already in that order.
[[gnu::target("avx512f,avx512bw,avx512vl")]] std::size_t HorizontalLanesAvx512(
    const std::uint16_t* sums, const std::uint32_t* c0, const std::uint32_t* c1, const std::uint8_t* run8,
    const std::uint16_t* w, const std::uint16_t* w8, std::size_t n, std::uint8_t* out, DWORD set,
    DWORD keep) {
  const __m512i round = _mm512_set1_epi32(32768 * 256 + 32768);
  const __m256i setv = _mm256_set1_epi32(int(set)), keepv = _mm256_set1_epi32(int(keep));
  const __m512i even = _mm512_set_epi64(13, 12, 9, 8, 5, 4, 1, 0),
                odd = _mm512_set_epi64(15, 14, 11, 10, 7, 6, 3, 2);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m512i we, wo;
    if (w8) {
      we = _mm512_loadu_si512(w8 + 8 * i);
      wo = _mm512_loadu_si512(w8 + 8 * i + 32);
    } else {
      const __m512i w0 = _mm512_loadu_si512(w + 8 * i), w1 = _mm512_loadu_si512(w + 8 * i + 32);
      we = _mm512_permutex2var_epi64(w0, even, w1);  // weights of pixels 0, 2, 4, 6
      wo = _mm512_permutex2var_epi64(w0, odd, w1);   // 1, 3, 5, 7
    }
    __m512i x, y;
    if (run8[i]) {
      // Columns c .. c + 8 lie side by side: two loads, one column apart, interleave into the pairs.
      const std::uint16_t* at = sums + 4 * std::size_t(c0[i]);
      const __m512i a = _mm512_loadu_si512(at), b = _mm512_loadu_si512(at + 4);
      x = _mm512_unpacklo_epi16(a, b);
      y = _mm512_unpackhi_epi16(a, b);
    } else {
      x = _mm512_castsi128_si512(PairAvx512(sums, c0[i], c1[i]));
      y = _mm512_castsi128_si512(PairAvx512(sums, c0[i + 1], c1[i + 1]));
      x = _mm512_inserti32x4(x, PairAvx512(sums, c0[i + 2], c1[i + 2]), 1);
      y = _mm512_inserti32x4(y, PairAvx512(sums, c0[i + 3], c1[i + 3]), 1);
      x = _mm512_inserti32x4(x, PairAvx512(sums, c0[i + 4], c1[i + 4]), 2);
      y = _mm512_inserti32x4(y, PairAvx512(sums, c0[i + 5], c1[i + 5]), 2);
      x = _mm512_inserti32x4(x, PairAvx512(sums, c0[i + 6], c1[i + 6]), 3);
      y = _mm512_inserti32x4(y, PairAvx512(sums, c0[i + 7], c1[i + 7]), 3);
    }
    x = _mm512_srli_epi32(_mm512_add_epi32(_mm512_madd_epi16(x, we), round), 16);
    y = _mm512_srli_epi32(_mm512_add_epi32(_mm512_madd_epi16(y, wo), round), 16);
    // Every value is a byte already: narrowing the words keeps them exactly.
    const __m256i v = _mm512_cvtepi16_epi8(_mm512_packs_epi32(x, y));
    // (v | set) & keep in one step.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * i),
                        _mm256_ternarylogic_epi32(v, setv, keepv, 0xA8));
  }
  return i;
}
#endif

}  // namespace

// ahead: the texture row the next output row is likely to need, fetched meanwhile.
[[gnu::noinline]] void VerticalLanes(const std::uint8_t* r0, const std::uint8_t* r1,
                                     const std::uint8_t* ahead, std::uint16_t* out, std::size_t bytes, int fy,
                                     int wide) {
  const std::uint16_t w0 = std::uint16_t(256 - fy), w1 = std::uint16_t(fy);
  std::size_t j = 0;
#if defined(DS_SOFT3D_AVX2)
  if (wide >= 2) j = VerticalLanesAvx512(r0, r1, ahead, out, bytes, fy);
  if (wide >= 1) j += VerticalLanesAvx2(r0 + j, r1 + j, ahead + j, out + j, bytes - j, fy);
#else
  (void)wide;
#endif
#if defined(DS_SOFT3D_SSE2)
  const __m128i m0 = _mm_set1_epi16(std::int16_t(w0)), m1 = _mm_set1_epi16(std::int16_t(w1));
  const __m128i zero = _mm_setzero_si128(), bias = _mm_set1_epi16(std::int16_t(-32768));
  for (; j + 16 <= bytes; j += 16) {  // what the wide loop left
    if ((j & 63) == 0) Prefetch(ahead + j);
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + j));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + j));
    const __m128i lo = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(a, zero), m0),
                                     _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), m1));
    const __m128i hi = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(a, zero), m0),
                                     _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), m1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j), _mm_xor_si128(lo, bias));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + j + 8), _mm_xor_si128(hi, bias));
  }
#endif
  const std::uint16_t flip = kBiasedSums ? 0x8000u : 0u;
  for (std::size_t k = j; k < bytes; k += 64) Prefetch(ahead + k);
  for (; j < bytes; ++j)
    out[j] = std::uint16_t(std::uint16_t(std::uint16_t(r0[j]) * w0 + std::uint16_t(r1[j]) * w1) ^ flip);
}

// Each pixel's two column sums weighted by (256 - fx, fx), rounded and shifted back to bytes. a and b are
// scratch space for 4 * n lanes.
[[gnu::noinline]] void HorizontalLanes(const std::uint16_t* sums, const SpanColumns& c, std::size_t first,
                                       std::size_t n, std::uint16_t* a, std::uint16_t* b, std::uint8_t* out,
                                       DWORD set, DWORD keep, int wide) {
  const std::uint32_t* c0 = c.col0.data() + first;
  const std::uint32_t* c1 = c.col1.data() + first;
  const std::uint16_t* w = c.weights.data() + 8 * first;
#if defined(DS_SOFT3D_SSE2)
  (void)a;
  (void)b;
  const __m128i round = _mm_set1_epi32(32768 * 256 + 32768);
  const __m128i setv = _mm_set1_epi32(int(set)), keepv = _mm_set1_epi32(int(keep));
  auto pixel = [&](std::size_t i) {
    const __m128i s0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(sums + 4 * std::size_t(c0[i])));
    const __m128i s1 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(sums + 4 * std::size_t(c1[i])));
    const __m128i wi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 8 * i));
    return _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(s0, s1), wi), round), 16);
  };
  std::size_t i = 0;
#if defined(DS_SOFT3D_AVX2)
  if (wide >= 2)
    i = HorizontalLanesAvx512(sums, c0, c1, c.consecutive8.data() + first, w,
                              first % 8 == 0 ? c.weights8.data() + 8 * first : nullptr, n, out, set, keep);
  if (wide >= 1)
    i += HorizontalLanesAvx2(sums, c0 + i, c1 + i, c.consecutive.data() + first + i, w + 8 * i, n - i,
                             out + 4 * i, set, keep);
#else
  (void)wide;
#endif
  for (; i + 4 <= n; i += 4) {
    const __m128i p01 = _mm_packs_epi32(pixel(i), pixel(i + 1));
    const __m128i p23 = _mm_packs_epi32(pixel(i + 2), pixel(i + 3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i),
                     _mm_and_si128(_mm_or_si128(_mm_packus_epi16(p01, p23), setv), keepv));
  }
  for (; i < n; ++i) {
    const __m128i p = _mm_packus_epi16(_mm_packs_epi32(pixel(i), pixel(i)), _mm_setzero_si128());
    const DWORD v = (DWORD(_mm_cvtsi128_si32(p)) | set) & keep;
    std::memcpy(out + 4 * i, &v, 4);
  }
#else
  (void)wide;
  for (std::size_t i = 0; i < n; ++i) {
    std::memcpy(a + 4 * i, sums + 4 * std::size_t(c0[i]), 8);
    std::memcpy(b + 4 * i, sums + 4 * std::size_t(c1[i]), 8);
  }
  for (std::size_t j = 0; j < 4 * n; ++j) {
    const std::uint32_t s = std::uint32_t(a[j]) * w[2 * j] + std::uint32_t(b[j]) * w[2 * j + 1] + 32768u;
    out[j] = std::uint8_t(s >> 16);
  }
  MaskWords(out, n, set, keep);
#endif
}

// Texels gathered through the column taps of one source row.
[[gnu::noinline]] void GatherTexels(const std::uint8_t* row, const Tap* taps, std::size_t n,
                                    std::uint8_t* out) {
  for (std::size_t i = 0; i < n; ++i) std::memcpy(out + 4 * i, row + taps[i].off0, 4);
}

// The stage's result for modes other than the plain texel, in place.
[[gnu::noinline]] void ModulateSpan(std::uint8_t* p, std::size_t n, const FastShade& fs) {
  for (std::size_t i = 0; i < n; ++i, p += 4) {
    // Little-endian ARGB words: bytes b, g, r, a.
    const int dif[4] = {fs.dif.b, fs.dif.g, fs.dif.r, fs.dif.a};
    for (int ch = 0; ch < 4; ++ch) {
      const int mode = ch == 3 ? fs.alphaMode : fs.colorMode;
      if (mode == 2)
        p[ch] = std::uint8_t(dif[ch]);
      else if (mode == 3)
        p[ch] = std::uint8_t(Mul255(p[ch], dif[ch]));
    }
  }
}

namespace {

// Source over destination by the source's alpha a, every byte lane (alpha included) as
// round((s * a + d * (255 - a)) / 255); a target without alpha gets its unused byte as 0.
// The sums stay below 2^16, so Div255 runs in 16-bit lanes.
template <bool kTargetAlpha>
inline void BlendLanes(const std::uint8_t* src, std::uint8_t* dst, std::size_t pixels) {
  for (std::size_t i = 0; i < pixels; ++i) {
    const std::uint16_t a = src[4 * i + 3], ia = std::uint16_t(255 - a);
    for (int ch = 0; ch < 4; ++ch) {
      const std::uint16_t t = std::uint16_t(src[4 * i + ch] * a + dst[4 * i + ch] * ia + 128);
      const std::uint8_t v = std::uint8_t((t + (t >> 8)) >> 8);
      dst[4 * i + ch] = kTargetAlpha || ch != 3 ? v : 0;
    }
  }
}

#if defined(DS_SOFT3D_AVX2)
// The blend of 16 byte lanes of each pixel pair (BlendLanes' arithmetic), in 256-bit and 512-bit vectors.
[[gnu::target("avx2")]] inline __m256i BlendLanesAvx2(__m256i s16, __m256i d16) {
  const __m256i ones = _mm256_set1_epi16(0xFF), half = _mm256_set1_epi16(128);
  const __m256i a = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(s16, 0xFF), 0xFF);
  const __m256i t = _mm256_add_epi16(
      _mm256_add_epi16(_mm256_mullo_epi16(s16, a), _mm256_mullo_epi16(d16, _mm256_xor_si256(a, ones))), half);
  return _mm256_srli_epi16(_mm256_add_epi16(t, _mm256_srli_epi16(t, 8)), 8);
}

// The span blend eight pixels at a time; returns how many pixels it did.
template <bool kTargetAlpha>
[[gnu::target("avx2")]] std::size_t BlendSpanAvx2(const std::uint8_t* src, std::uint8_t* dst, std::size_t n) {
  const __m256i zero = _mm256_setzero_si256(), alpha = _mm256_set1_epi32(int(0xFF000000u));
  const __m256i keep = kTargetAlpha ? _mm256_set1_epi32(-1) : _mm256_set1_epi32(0x00FFFFFF);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
    __m256i* dp = reinterpret_cast<__m256i*>(dst + 4 * i);
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_and_si256(s, alpha), zero)) == -1) {
      if (!kTargetAlpha) {
        const __m256i d = _mm256_loadu_si256(dp);
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_and_si256(d, alpha), zero)) != -1)
          _mm256_storeu_si256(dp, _mm256_and_si256(d, keep));
      }
      continue;
    }
    const __m256i d = _mm256_loadu_si256(dp);
    // Unpacking and packing both work within 128-bit halves, so the pixels come back in order.
    const __m256i lo = BlendLanesAvx2(_mm256_unpacklo_epi8(s, zero), _mm256_unpacklo_epi8(d, zero));
    const __m256i hi = BlendLanesAvx2(_mm256_unpackhi_epi8(s, zero), _mm256_unpackhi_epi8(d, zero));
    _mm256_storeu_si256(dp, _mm256_and_si256(_mm256_packus_epi16(lo, hi), keep));
  }
  return i;
}

[[gnu::target("avx512f,avx512bw,avx512vl")]] inline __m512i BlendLanesAvx512(__m512i s16, __m512i d16) {
  const __m512i ones = _mm512_set1_epi16(0xFF), half = _mm512_set1_epi16(128);
  const __m512i a = _mm512_shufflehi_epi16(_mm512_shufflelo_epi16(s16, 0xFF), 0xFF);
  const __m512i t = _mm512_add_epi16(
      _mm512_add_epi16(_mm512_mullo_epi16(s16, a), _mm512_mullo_epi16(d16, _mm512_xor_si512(a, ones))), half);
  return _mm512_srli_epi16(_mm512_add_epi16(t, _mm512_srli_epi16(t, 8)), 8);
}

// Sixteen pixels at a time, the last few under a mask (masked-off pixels are neither read nor written).
template <bool kTargetAlpha>
[[gnu::target("avx512f,avx512bw,avx512vl")]] void BlendSpanAvx512(const std::uint8_t* src, std::uint8_t* dst,
                                                                  std::size_t n) {
  const __m512i zero = _mm512_setzero_si512(), alpha = _mm512_set1_epi32(int(0xFF000000u));
  const __m512i keep = kTargetAlpha ? _mm512_set1_epi32(-1) : _mm512_set1_epi32(0x00FFFFFF);
  for (std::size_t i = 0; i < n; i += 16) {
    const __mmask16 m = n - i >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << (n - i)) - 1);
    const __m512i s = _mm512_maskz_loadu_epi32(m, src + 4 * i);
    const __m512i d = _mm512_maskz_loadu_epi32(m, dst + 4 * i);
    if (_mm512_test_epi32_mask(s, alpha) == 0) {
      // Fully transparent: the colour stays; only a target without alpha has its unused byte cleared.
      if (!kTargetAlpha && _mm512_test_epi32_mask(d, alpha) != 0)
        _mm512_mask_storeu_epi32(dst + 4 * i, m, _mm512_and_si512(d, keep));
      continue;
    }
    // Unpacking and packing both work within 128-bit lanes, so the pixels come back in order.
    const __m512i lo = BlendLanesAvx512(_mm512_unpacklo_epi8(s, zero), _mm512_unpacklo_epi8(d, zero));
    const __m512i hi = BlendLanesAvx512(_mm512_unpackhi_epi8(s, zero), _mm512_unpackhi_epi8(d, zero));
    _mm512_mask_storeu_epi32(dst + 4 * i, m, _mm512_and_si512(_mm512_packus_epi16(lo, hi), keep));
  }
}
#endif

}  // namespace

template <bool kTargetAlpha>
[[gnu::noinline]] void BlendSpan(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, int wide) {
  std::size_t i = 0;
#if defined(DS_SOFT3D_AVX2)
  if (wide >= 2) {
    BlendSpanAvx512<kTargetAlpha>(src, dst, n);
    return;
  }
  if (wide >= 1) i = BlendSpanAvx2<kTargetAlpha>(src, dst, n);
#else
  (void)wide;
#endif
#if defined(DS_SOFT3D_SSE2)
  const __m128i zero = _mm_setzero_si128(), alpha = _mm_set1_epi32(int(0xFF000000u));
  const __m128i ones = _mm_set1_epi16(0xFF), half = _mm_set1_epi16(128);
  const __m128i keep = kTargetAlpha ? _mm_set1_epi32(-1) : _mm_set1_epi32(0x00FFFFFF);
  auto lanes = [&](__m128i s16, __m128i d16) {
    const __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(s16, 0xFF), 0xFF);
    const __m128i t = _mm_add_epi16(
        _mm_add_epi16(_mm_mullo_epi16(s16, a), _mm_mullo_epi16(d16, _mm_xor_si128(a, ones))), half);
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
  };
  for (; i + 4 <= n; i += 4) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
    __m128i* dp = reinterpret_cast<__m128i*>(dst + 4 * i);
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(s, alpha), zero)) == 0xFFFF) {
      // Fully transparent: the colour stays; only a target without alpha has its unused byte cleared.
      if (!kTargetAlpha) {
        const __m128i d = _mm_loadu_si128(dp);
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(d, alpha), zero)) != 0xFFFF)
          _mm_storeu_si128(dp, _mm_and_si128(d, keep));
      }
      continue;
    }
    const __m128i d = _mm_loadu_si128(dp);
    const __m128i lo = lanes(_mm_unpacklo_epi8(s, zero), _mm_unpacklo_epi8(d, zero));
    const __m128i hi = lanes(_mm_unpackhi_epi8(s, zero), _mm_unpackhi_epi8(d, zero));
    _mm_storeu_si128(dp, _mm_and_si128(_mm_packus_epi16(lo, hi), keep));
  }
#else
  constexpr std::size_t kBlock = 8;
  for (; i + kBlock <= n; i += kBlock) {
    const std::uint8_t* s = src + 4 * i;
    std::uint8_t* d = dst + 4 * i;
    int any = 0;
    for (std::size_t k = 0; k < kBlock; ++k) any |= s[4 * k + 3];
    if (any == 0) {
      // Fully transparent: the colour stays; only a target without alpha has its unused byte cleared.
      if (!kTargetAlpha)
        for (std::size_t k = 0; k < kBlock; ++k) d[4 * k + 3] = 0;
      continue;
    }
    BlendLanes<kTargetAlpha>(s, d, kBlock);
  }
#endif
  BlendLanes<kTargetAlpha>(src + 4 * i, dst + 4 * i, n - i);
}

namespace {

#if defined(DS_SOFT3D_AVX2)
template <bool kTargetAlpha>
[[gnu::target("avx512f,avx512bw,avx512vl")]] void BlendRectAvx512(const std::uint8_t* src,
                                                                  const std::size_t* rowStarts,
                                                                  std::uint8_t* dst, std::size_t pitch,
                                                                  std::size_t n, std::size_t rows) {
  for (std::size_t y = 0; y < rows; ++y, dst += pitch)
    BlendSpanAvx512<kTargetAlpha>(src + rowStarts[y], dst, n);
}
#endif

}  // namespace

// A sprite mapped texel for texel: row y of the rectangle blends texels from src + rowStarts[y].
template <bool kTargetAlpha>
void BlendRect(const std::uint8_t* src, const std::size_t* rowStarts, std::uint8_t* dst, std::size_t pitch,
               std::size_t n, std::size_t rows, int wide) {
#if defined(DS_SOFT3D_AVX2)
  if (wide >= 2) {
    BlendRectAvx512<kTargetAlpha>(src, rowStarts, dst, pitch, n, rows);
    return;
  }
#endif
  for (std::size_t y = 0; y < rows; ++y, dst += pitch)
    BlendSpan<kTargetAlpha>(src + rowStarts[y], dst, n, wide);
}

// Asks for the target lines a small quad will blend into before the first is needed: sprites land at
// scattered places of a surface far larger than the caches.
void PrefetchRows(const std::uint8_t* first, std::size_t pitch, int count, std::size_t bytes) {
#if defined(__GNUC__)
  for (int y = 0; y < count; ++y, first += pitch) {
    for (std::size_t o = 0; o < bytes; o += 64) __builtin_prefetch(first + o, 1);
    __builtin_prefetch(first + bytes - 1, 1);
  }
#else
  (void)first, (void)pitch, (void)count, (void)bytes;
#endif
}

template void BlendSpan<true>(const std::uint8_t*, std::uint8_t*, std::size_t, int);
template void BlendSpan<false>(const std::uint8_t*, std::uint8_t*, std::size_t, int);
template void BlendRect<true>(const std::uint8_t*, const std::size_t*, std::uint8_t*, std::size_t,
                              std::size_t, std::size_t, int);
template void BlendRect<false>(const std::uint8_t*, const std::size_t*, std::uint8_t*, std::size_t,
                               std::size_t, std::size_t, int);

int VectorWidth(const State& s) {
#if defined(DS_SOFT3D_AVX2)
  // 0: the family's common vectors; 1: 256-bit; 2: 512-bit.
  return s.wideVectors && HasAvx2() ? (s.widestVectors && HasAvx512() ? 2 : 1) : 0;
#else
  (void)s;
  return 0;
#endif
}

// ---- 16-bit targets ----

void Narrow16::Make(const Format& f) {
  format = f;
  rShift = f.rShift, gShift = f.gShift, bShift = f.bShift;
  rMask = std::uint16_t(f.r), gMask = std::uint16_t(f.g), bMask = std::uint16_t(f.b);
  channels = std::uint16_t(f.r | f.g | f.b);
  for (DWORD v = 0; v < 256; ++v) {
    r[v] = std::uint16_t(Reduce(v, f.rBits) << f.rShift);
    g[v] = std::uint16_t(Reduce(v, f.gBits) << f.gShift);
    b[v] = std::uint16_t(Reduce(v, f.bBits) << f.bShift);
  }
  for (DWORD v = 0; v < 64; ++v) {
    er[v] = std::uint8_t(Expand(v, f.rBits));
    eg[v] = std::uint8_t(Expand(v, f.gBits));
    eb[v] = std::uint8_t(Expand(v, f.bBits));
  }
  // Widening divides by the field's maximum: by a multiplier as precise as 16 bits allow, checked here with
  // the round trip the blend relies on (a widened field narrows back to itself).
  const int fieldBits[3] = {f.rBits, f.gBits, f.bBits}, places[3] = {f.rShift, f.gShift, f.bShift};
  const std::uint8_t* widened[3] = {er, eg, eb};
  vectors = true;
  for (int c = 0; c < 3; ++c) {
    place[c] = places[c];
    max[c] = std::uint16_t((1u << fieldBits[c]) - 1u);
    const std::uint64_t m = max[c];
    int k = 0;
    while (k < 15 && ((std::uint64_t(1) << (17 + k)) + m - 1) / m < 65536) ++k;
    const std::uint64_t mul64 = ((std::uint64_t(1) << (16 + k)) + m - 1) / m;
    mul[c] = std::uint16_t(mul64);
    extra[c] = k;
    vectors = vectors && mul64 < 65536;
    for (DWORD v = 0; v <= m; ++v)
      vectors = vectors && ((v * 255u + m / 2u) * mul64 >> (16 + k)) == widened[c][v] &&
                Reduce(widened[c][v], fieldBits[c]) == v;
  }
}

namespace {

#if defined(DS_SOFT3D_SSE2)
// The 16-bit kernels eight pixels at a time, in 16-bit lanes: the same integers as the plain loops.
struct Narrow16Lanes {
  explicit Narrow16Lanes(const Narrow16& t) {
    for (int c = 0; c < 3; ++c) {
      max[c] = _mm_set1_epi16(std::int16_t(t.max[c]));
      half[c] = _mm_set1_epi16(std::int16_t(t.max[c] / 2));
      mul[c] = _mm_set1_epi16(std::int16_t(t.mul[c]));
      extra[c] = _mm_cvtsi32_si128(t.extra[c]);
      place[c] = _mm_cvtsi32_si128(t.place[c]);
    }
  }
  __m128i max[3], half[3], mul[3], extra[3], place[3];
  const __m128i byte = _mm_set1_epi32(0xFF), ones = _mm_set1_epi16(0xFF);
  const __m128i one = _mm_set1_epi16(1), bias = _mm_set1_epi16(127), roundHalf = _mm_set1_epi16(128);

  // Channel c (0 red, 1 green, 2 blue, 3 alpha) of 8 ARGB pixels (two registers of four) as 16-bit lanes.
  __m128i Channel(__m128i lo, __m128i hi, int c) const {
    const __m128i by = _mm_cvtsi32_si128(c == 0 ? 16 : (c == 1 ? 8 : (c == 2 ? 0 : 24)));
    return _mm_packs_epi32(_mm_and_si128(_mm_srl_epi32(lo, by), byte),
                           _mm_and_si128(_mm_srl_epi32(hi, by), byte));
  }
  // The field of an 8-bit value, in its place: x = v8 * max + 127, x / 255 as (x + 1 + (x >> 8)) >> 8 (exact
  // below 16384; x is at most 16192).
  __m128i Narrow(__m128i v8, int c) const {
    const __m128i x = _mm_add_epi16(_mm_mullo_epi16(v8, max[c]), bias);
    const __m128i field = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(x, one), _mm_srli_epi16(x, 8)), 8);
    return _mm_sll_epi16(field, place[c]);
  }
  // Channel c of 8 target pixels widened to 8 bits.
  __m128i Widen(__m128i d, int c) const {
    const __m128i field = _mm_and_si128(_mm_srl_epi16(d, place[c]), max[c]);
    const __m128i num = _mm_add_epi16(_mm_mullo_epi16(field, ones), half[c]);
    return _mm_srl_epi16(_mm_mulhi_epu16(num, mul[c]), extra[c]);
  }
  // Div255(s * a + d * (255 - a)); every step fits 16 unsigned bits.
  __m128i Mix(__m128i s, __m128i d, __m128i a) const {
    const __m128i t = _mm_add_epi16(
        _mm_add_epi16(_mm_mullo_epi16(s, a), _mm_mullo_epi16(d, _mm_xor_si128(a, ones))), roundHalf);
    return _mm_srli_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), 8);
  }
};

std::size_t StoreSpan16Sse2(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, const Narrow16& t) {
  const Narrow16Lanes l(t);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i + 16));
    __m128i v = l.Narrow(l.Channel(lo, hi, 0), 0);
    v = _mm_or_si128(v, l.Narrow(l.Channel(lo, hi, 1), 1));
    v = _mm_or_si128(v, l.Narrow(l.Channel(lo, hi, 2), 2));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i), v);
  }
  return i;
}

// Alpha 0 and 255 need no case of their own here: the mix gives the widened pixel and the source exactly,
// and narrowing a widened field gives the field back.
std::size_t BlendSpan16Sse2(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, const Narrow16& t) {
  const Narrow16Lanes l(t);
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i + 16));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + 2 * i));
    const __m128i a = l.Channel(lo, hi, 3);
    __m128i v = _mm_setzero_si128();
    for (int c = 0; c < 3; ++c)
      v = _mm_or_si128(v, l.Narrow(l.Mix(l.Channel(lo, hi, c), l.Widen(d, c), a), c));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i), v);
  }
  return i;
}
#endif

}  // namespace

void StoreSpan16(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, const Narrow16& t, bool vectors) {
  std::size_t i = 0;
#if defined(DS_SOFT3D_SSE2)
  if (vectors && t.vectors) i = StoreSpan16Sse2(src, dst, n, t);
#else
  (void)vectors;
#endif
  for (; i < n; ++i) {
    DWORD s;
    std::memcpy(&s, src + 4 * i, 4);
    const std::uint16_t v = t.Pack(s);
    std::memcpy(dst + 2 * i, &v, 2);
  }
}

// The general path widens the pixel, blends each channel as round((s * a + d * (255 - a)) / 255) and
// narrows the result again. Alpha 0 gives the pixel back (narrowing a widened value restores it), alpha 255
// the source.
void BlendSpan16(const std::uint8_t* src, std::uint8_t* dst, std::size_t n, const Narrow16& t, bool vectors) {
  std::size_t i = 0;
#if defined(DS_SOFT3D_SSE2)
  if (vectors && t.vectors) i = BlendSpan16Sse2(src, dst, n, t);
#else
  (void)vectors;
#endif
  for (; i < n; ++i) {
    DWORD s;
    std::memcpy(&s, src + 4 * i, 4);
    const int a = int(s >> 24);
    std::uint16_t d;
    std::memcpy(&d, dst + 2 * i, 2);
    std::uint16_t v;
    if (a == 0) {
      v = std::uint16_t(d & t.channels);
    } else if (a == 255) {
      v = t.Pack(s);
    } else {
      const int ia = 255 - a;
      const int dr = t.er[(d & t.rMask) >> t.rShift], dg = t.eg[(d & t.gMask) >> t.gShift],
                db = t.eb[(d & t.bMask) >> t.bShift];
      v = std::uint16_t(t.r[Div255(int((s >> 16) & 0xFF) * a + dr * ia)] |
                        t.g[Div255(int((s >> 8) & 0xFF) * a + dg * ia)] |
                        t.b[Div255(int(s & 0xFF) * a + db * ia)]);
    }
    std::memcpy(dst + 2 * i, &v, 2);
  }
}

}  // namespace plat::soft::dd

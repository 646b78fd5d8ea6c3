// Vector row kernels of the software drawers (no blend graph, no tint, direct sources): the plain
// blit's rules into 32-bit and 16-bit 5:6:5 destinations, which the stretched and rotated blits
// run on gathered rows and the flat-colour drawers on a colour row, and the gathers themselves.
// Each gives exactly the result of the pixel rule it stands for; the differential tests compare
// them with the reference models. This header is self-contained (intrinsics only) and everything
// in it has internal linkage: it is compiled once for SSE2 and once, in its own translation unit,
// for AVX2.
#pragma once
#include <immintrin.h>

#include <cstdint>
#include <cstring>

// The kernels every instruction set provides, chosen once per process.
struct PlainSimdOps {
  // NOBLEND with a colour key: pixels equal to key are kept.
  void (*CopyKey)(uint8_t* d, const uint8_t* s, int n, uint32_t key);
  // [target]: d + floor((X - d) * W / 65536) per channel, X = s (0), 255 - s (1), s * d >> 8 (2);
  // byte 3 kept. hasKey: pixels whose whole word equals key are kept.
  void (*BlendConst[3])(uint8_t* d, const uint8_t* s, int n, uint32_t W, int hasKey, uint32_t key);
  // Alpha source, weight from each pixel's a (byte 3): mode 0: ALPHA, a = 0 kept, a = 255 weighs
  // p * 256, else a * p; mode 1: NOBLEND, a = 0 kept, a = 255 copies the word, else a * 256;
  // mode 2: a * p for every a; mode 3: a * 256 for every a. Byte 3 kept except mode 1's copies.
  void (*BlendAlpha[4])(uint8_t* d, const uint8_t* s, int n, uint32_t p);
  // Per-byte saturating add (sub = 0) or d - s (sub = 1) of whole words.
  void (*SatAddSub)(uint8_t* d, const uint8_t* s, int n, int sub, int hasKey, uint32_t key);
  // Amounts floor(p * s / 255) per channel, then [0] the packed add with the OR of both operands'
  // lowest green and red bits, [1] the packed add without it, [2] the packed subtract.
  void (*PackedAddSub[3])(uint8_t* d, const uint8_t* s, int n, uint32_t p, int hasKey, uint32_t key);
  // floor(s * d / 256) per channel, byte 3 kept.
  void (*Mul)(uint8_t* d, const uint8_t* s, int n, int hasKey, uint32_t key);
  // floor(s / 2) + floor(d / 2) per channel, byte 3 becomes 0.
  void (*Half)(uint8_t* d, const uint8_t* s, int n, int hasKey, uint32_t key);
  // A flat colour c: d + floor((t - d) * p / 256) per channel over n pixels from d, t = c (0),
  // 255 - c (1), floor(c * d / 256) (2); byte 3 kept; p 0 to 255.
  void (*BlendFlat[3])(uint8_t* d, int n, uint32_t c, uint32_t p);
  // 16-bit 5:6:5 pixels from 16-bit direct sources. hasKey: pixels whose colour equals key (below
  // 65536) are kept.
  // floor(s / 2) + floor(d / 2) per field (packed).
  void (*Half16)(uint8_t* d, const uint8_t* s, int n, int hasKey, uint32_t key);
  // floor((s k + d (63 - k)) / 63) per field (the 6-bit mix table's plane k, 0 to 63).
  void (*Mix16)(uint8_t* d, const uint8_t* s, int n, uint32_t k, int hasKey, uint32_t key);
  // Amounts floor(p * s / 255) per field, then [0] the packed add with the OR of both operands'
  // lowest green and red bits, [1] the packed add without it, [2] the packed subtract.
  void (*PackedAddSub16[3])(uint8_t* d, const uint8_t* s, int n, uint32_t p, int hasKey, uint32_t key);
  // d + trunc(p * (t - d) / 255) per field, t = s (0), the field's maximum - s (1),
  // floor(s * d / 2^width) (2); p 0 to 255.
  void (*Toward16[3])(uint8_t* d, const uint8_t* s, int n, uint32_t p, int hasKey, uint32_t key);
  // floor(s * d / 2^width) per field (width 5, 6, 5).
  void (*Mul16)(uint8_t* d, const uint8_t* s, int n, int hasKey, uint32_t key);
  // NOBLEND with a colour key: pixels equal to key are kept.
  void (*CopyKey16)(uint8_t* d, const uint8_t* s, int n, uint32_t key);
  // out[i] = the 32-bit word at row + 4 * col[i], for n entries (col[i] >= 0, 4 * col[i] < 2^31).
  void (*Gather32)(uint32_t* out, const uint8_t* row, const int32_t* col, int n);
  // out[i] = the 32-bit word at row + 8 * i, for n entries (reads nothing past the last one).
  void (*EverySecond32)(uint32_t* out, const uint8_t* row, int n);
};

// Test switch: non-zero makes PlainSimd return the SSE2 set and the flat fill use SSE2 stores.
extern int PlainSimdForceSse2;
// True when the processor has AVX2 and PlainSimdForceSse2 is 0: the choice of every vector
// kernel of the software renderer (these sets and the flat fill). Inline: the fill asks per row.
inline bool PlainSimdUseAvx2() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2 && !PlainSimdForceSse2;
}
// The process's kernels: AVX2 when PlainSimdUseAvx2, else SSE2.
const PlainSimdOps& PlainSimd();
// The SSE2 and AVX2 sets themselves (the AVX2 set must only run where AVX2 exists).
const PlainSimdOps& PlainSimdSse2();
const PlainSimdOps& PlainSimdAvx2();

#ifdef PLAIN_SIMD_KERNELS
namespace {

struct V128 {
  using T = __m128i;
  static constexpr int N = 4;
  static T Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const T*>(p)); }
  static void Store(uint8_t* p, T v) { _mm_storeu_si128(reinterpret_cast<T*>(p), v); }
  static T Set32(uint32_t v) { return _mm_set1_epi32(static_cast<int>(v)); }
  static T Set64(uint64_t v) { return _mm_set1_epi64x(static_cast<long long>(v)); }
  static T Zero() { return _mm_setzero_si128(); }
  static T And(T a, T b) { return _mm_and_si128(a, b); }
  static T AndNot(T a, T b) { return _mm_andnot_si128(a, b); }
  static T Or(T a, T b) { return _mm_or_si128(a, b); }
  static T Xor(T a, T b) { return _mm_xor_si128(a, b); }
  static T Add32(T a, T b) { return _mm_add_epi32(a, b); }
  static T Sub32(T a, T b) { return _mm_sub_epi32(a, b); }
  template <int I> static T Srl32(T a) { return _mm_srli_epi32(a, I); }
  static T Eq32(T a, T b) { return _mm_cmpeq_epi32(a, b); }
  static T Lo8(T a, T b) { return _mm_unpacklo_epi8(a, b); }
  static T Hi8(T a, T b) { return _mm_unpackhi_epi8(a, b); }
  static T Lo32(T a, T b) { return _mm_unpacklo_epi32(a, b); }
  static T Hi32(T a, T b) { return _mm_unpackhi_epi32(a, b); }
  static T Pack16(T a, T b) { return _mm_packus_epi16(a, b); }
  static T SubsU16(T a, T b) { return _mm_subs_epu16(a, b); }
  static T MulHiU16(T a, T b) { return _mm_mulhi_epu16(a, b); }
  static T MulLo16(T a, T b) { return _mm_mullo_epi16(a, b); }
  static T Eq16(T a, T b) { return _mm_cmpeq_epi16(a, b); }
  static T Add16(T a, T b) { return _mm_add_epi16(a, b); }
  static T Sub16(T a, T b) { return _mm_sub_epi16(a, b); }
  template <int I> static T Srl16(T a) { return _mm_srli_epi16(a, I); }
  template <int I> static T Sll16(T a) { return _mm_slli_epi16(a, I); }
  static T Lo16(T a, T b) { return _mm_unpacklo_epi16(a, b); }
  static T Hi16(T a, T b) { return _mm_unpackhi_epi16(a, b); }
  static T PackS32(T a, T b) { return _mm_packs_epi32(a, b); }
  static T Spread4(T a) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(a, 0xFF), 0xFF); }
  static T AddsU8(T a, T b) { return _mm_adds_epu8(a, b); }
  static T SubsU8(T a, T b) { return _mm_subs_epu8(a, b); }
  static int Mask8(T a) { return _mm_movemask_epi8(a); }
  static constexpr int kAllMask = 0xFFFF;
};

#ifdef PLAIN_SIMD_AVX2
struct V256 {
  using T = __m256i;
  static constexpr int N = 8;
  static T Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const T*>(p)); }
  static void Store(uint8_t* p, T v) { _mm256_storeu_si256(reinterpret_cast<T*>(p), v); }
  static T Set32(uint32_t v) { return _mm256_set1_epi32(static_cast<int>(v)); }
  static T Set64(uint64_t v) { return _mm256_set1_epi64x(static_cast<long long>(v)); }
  static T Zero() { return _mm256_setzero_si256(); }
  static T And(T a, T b) { return _mm256_and_si256(a, b); }
  static T AndNot(T a, T b) { return _mm256_andnot_si256(a, b); }
  static T Or(T a, T b) { return _mm256_or_si256(a, b); }
  static T Xor(T a, T b) { return _mm256_xor_si256(a, b); }
  static T Add32(T a, T b) { return _mm256_add_epi32(a, b); }
  static T Sub32(T a, T b) { return _mm256_sub_epi32(a, b); }
  template <int I> static T Srl32(T a) { return _mm256_srli_epi32(a, I); }
  static T Eq32(T a, T b) { return _mm256_cmpeq_epi32(a, b); }
  static T Lo8(T a, T b) { return _mm256_unpacklo_epi8(a, b); }
  static T Hi8(T a, T b) { return _mm256_unpackhi_epi8(a, b); }
  static T Lo32(T a, T b) { return _mm256_unpacklo_epi32(a, b); }
  static T Hi32(T a, T b) { return _mm256_unpackhi_epi32(a, b); }
  static T Pack16(T a, T b) { return _mm256_packus_epi16(a, b); }
  static T SubsU16(T a, T b) { return _mm256_subs_epu16(a, b); }
  static T MulHiU16(T a, T b) { return _mm256_mulhi_epu16(a, b); }
  static T MulLo16(T a, T b) { return _mm256_mullo_epi16(a, b); }
  static T Eq16(T a, T b) { return _mm256_cmpeq_epi16(a, b); }
  static T Add16(T a, T b) { return _mm256_add_epi16(a, b); }
  static T Sub16(T a, T b) { return _mm256_sub_epi16(a, b); }
  template <int I> static T Srl16(T a) { return _mm256_srli_epi16(a, I); }
  template <int I> static T Sll16(T a) { return _mm256_slli_epi16(a, I); }
  static T Lo16(T a, T b) { return _mm256_unpacklo_epi16(a, b); }
  static T Hi16(T a, T b) { return _mm256_unpackhi_epi16(a, b); }
  static T PackS32(T a, T b) { return _mm256_packs_epi32(a, b); }
  static T Spread4(T a) { return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(a, 0xFF), 0xFF); }
  static T AddsU8(T a, T b) { return _mm256_adds_epu8(a, b); }
  static T SubsU8(T a, T b) { return _mm256_subs_epu8(a, b); }
  static int Mask8(T a) { return _mm256_movemask_epi8(a); }
  static constexpr int kAllMask = -1;
};
#endif

// Runs body(dst, src) over n pixels, N at a time; the last partial group goes through a copy.
// Bytes: the pixel size (4, or 2 for 5:6:5 pixels, 2 * V::N of them to a group).
// A long segment first takes the pixels before the destination's next vector boundary on their own,
// so that the groups after them store aligned.
template <class V, class Body, int Bytes = 4>
inline void ForEachGroup(uint8_t* d, const uint8_t* s, int n, Body body) {
  constexpr int G = V::N * 4 / Bytes;
  alignas(32) uint8_t td[4 * V::N] = {}, ts[4 * V::N] = {};
  auto partial = [&](int at, int count) {
    const size_t bytes = size_t(count) * Bytes;
    std::memcpy(td, d + Bytes * at, bytes);
    std::memcpy(ts, s + Bytes * at, bytes);
    body(td, ts);
    std::memcpy(d + Bytes * at, td, bytes);
  };
  int i = 0;
  const uintptr_t mis = reinterpret_cast<uintptr_t>(d) % (4 * V::N);
  if (n >= 16 * G && mis % Bytes == 0 && mis != 0) {
    i = int((4 * V::N - mis) / Bytes);
    partial(0, i);
  }
  for (; i + G <= n; i += G) body(d + Bytes * i, s + Bytes * i);
  if (i < n) partial(i, n - i);
}
template <class V, class Body>
inline void ForEachGroup16(uint8_t* d, const uint8_t* s, int n, Body body) {
  ForEachGroup<V, Body, 2>(d, s, n, body);
}

// d + floor((t - d) * W / 65536) on 16-bit lanes (t, d <= 255, W < 65536).
template <class V>
inline typename V::T BlendLanes(typename V::T d, typename V::T t, typename V::T W) {
  using T = typename V::T;
  const T pos = V::SubsU16(t, d), neg = V::SubsU16(d, t);
  const T up = V::MulHiU16(pos, W);
  const T down = V::Add16(V::Add16(V::MulHiU16(neg, W), V::Set32(0x00010001u)),
                          V::Eq16(V::MulLo16(neg, W), V::Zero()));
  return V::Sub16(V::Add16(d, up), down);
}

// r where the source pixel differs from the key (Bits-wide pixels), else D.
template <class V, int Bits = 32>
inline typename V::T KeySelect(typename V::T r, typename V::T S, typename V::T D, int hasKey,
                               typename V::T key) {
  if (!hasKey) return r;
  typename V::T m = Bits == 32 ? V::Eq32(S, key) : V::Eq16(S, key);
  return V::Or(V::And(m, D), V::AndNot(m, r));
}

template <class V>
void KCopyKey(uint8_t* d, const uint8_t* s, int n, uint32_t key) {
  const auto k = V::Set32(key);
  ForEachGroup<V>(d, s, n, [&](uint8_t* dp, const uint8_t* sp) {
    auto S = V::Load(sp), D = V::Load(dp);
    V::Store(dp, KeySelect<V>(S, S, D, 1, k));
  });
}

// d + floor((t - d) * W / 65536) per channel of the pixel groups, t from s as KBlendConst says.
// Blend(dLanes, tLanes) gives the new 16-bit lanes.
template <class V, int target, class Blend>
inline void BlendConstGroups(uint8_t* d, const uint8_t* s, int n, int hasKey, uint32_t key, Blend blend) {
  using T = typename V::T;
  const T k = V::Set32(key), z = V::Zero(), inv = V::Set32(0x00FFFFFFu);
  ForEachGroup<V>(d, s, n, [&](uint8_t* dp, const uint8_t* sp) {
    T S = V::Load(sp), D = V::Load(dp);
    T X = target == 1 ? V::Xor(S, inv) : S;
    T dl = V::Lo8(D, z), dh = V::Hi8(D, z), xl = V::Lo8(X, z), xh = V::Hi8(X, z);
    if constexpr (target == 2) {
      xl = V::template Srl16<8>(V::MulLo16(xl, dl));
      xh = V::template Srl16<8>(V::MulLo16(xh, dh));
    }
    V::Store(dp, KeySelect<V>(V::Pack16(blend(dl, xl), blend(dh, xh)), S, D, hasKey, k));
  });
}

template <class V, int target>
void KBlendConst(uint8_t* d, const uint8_t* s, int n, uint32_t W, int hasKey, uint32_t key) {
  using T = typename V::T;
  if ((W & 0xFF) == 0) {
    // W = 256 p: d + floor((x - d) p / 256) = floor((d (256 - p) + x p) / 256), and that sum
    // stays below 65536. Byte 3 weighs d by 256 and x by 0.
    const uint64_t p = W >> 8, q = 256 - p;
    const T wx = V::Set64(p | p << 16 | p << 32);
    const T wd = V::Set64(q | q << 16 | q << 32 | uint64_t(256) << 48);
    BlendConstGroups<V, target>(d, s, n, hasKey, key, [&](T dv, T xv) {
      return V::template Srl16<8>(V::Add16(V::MulLo16(dv, wd), V::MulLo16(xv, wx)));
    });
    return;
  }
  const T w = V::Set64(uint64_t(W) | uint64_t(W) << 16 | uint64_t(W) << 32);
  BlendConstGroups<V, target>(d, s, n, hasKey, key, [&](T dv, T xv) { return BlendLanes<V>(dv, xv, w); });
}

// The weight lanes [W, W, W, 0] of the pixels in 16-bit lanes x (B, G, R, A per pixel): W = a * m
// where m is the per-lane multiplier [m, m, m, 0]; with bump, a = 255 counts as 256.
template <class V>
inline typename V::T AlphaWeights(typename V::T x, typename V::T m, bool bump) {
  using T = typename V::T;
  T a = V::Spread4(x);
  if (bump) a = V::Sub16(a, V::Eq16(a, V::Set32(0x00FF00FFu)));
  return V::MulLo16(a, m);
}

template <class V, int mode>
void KBlendAlpha(uint8_t* d, const uint8_t* s, int n, uint32_t p) {
  using T = typename V::T;
  const T z = V::Zero(), alphaMask = V::Set32(0xFF000000u);
  const uint32_t m = mode == 1 || mode == 3 ? 256 : p;
  const T mv = V::Set64(uint64_t(m) | uint64_t(m) << 16 | uint64_t(m) << 32);
  const bool bump = mode == 0;
  ForEachGroup<V>(d, s, n, [&](uint8_t* dp, const uint8_t* sp) {
    T S = V::Load(sp);
    T A = V::And(S, alphaMask);
    T is255 = V::Eq32(A, alphaMask);
    if constexpr (mode <= 1) {
      if (V::Mask8(V::Eq32(A, z)) == V::kAllMask) return;  // every a is 0: nothing drawn
      if (mode == 1 && V::Mask8(is255) == V::kAllMask) {
        V::Store(dp, S);
        return;
      }
    }
    T D = V::Load(dp);
    T sl = V::Lo8(S, z), sh = V::Hi8(S, z);
    T r = V::Pack16(BlendLanes<V>(V::Lo8(D, z), sl, AlphaWeights<V>(sl, mv, bump)),
                    BlendLanes<V>(V::Hi8(D, z), sh, AlphaWeights<V>(sh, mv, bump)));
    if constexpr (mode == 1) r = V::Or(V::And(is255, S), V::AndNot(is255, r));
    V::Store(dp, r);
  });
}

template <class V, int sub, int hasKey>
void SatAddSubGroups(uint8_t* d, const uint8_t* s, int n, uint32_t key) {
  const auto k = V::Set32(key);
  ForEachGroup<V>(d, s, n, [&](uint8_t* dp, const uint8_t* sp) {
    auto S = V::Load(sp), D = V::Load(dp);
    auto r = sub ? V::SubsU8(D, S) : V::AddsU8(S, D);
    V::Store(dp, KeySelect<V>(r, S, D, hasKey, k));
  });
}
template <class V>
void KSatAddSub(uint8_t* d, const uint8_t* s, int n, int sub, int hasKey, uint32_t key) {
  // The four loops apart: the add without a key is the commonest and the simplest.
  if (sub) hasKey ? SatAddSubGroups<V, 1, 1>(d, s, n, key) : SatAddSubGroups<V, 1, 0>(d, s, n, key);
  else hasKey ? SatAddSubGroups<V, 0, 1>(d, s, n, key) : SatAddSubGroups<V, 0, 0>(d, s, n, key);
}

template <class V, int form>
void KPackedAddSub(uint8_t* d, const uint8_t* s, int n, uint32_t p, int hasKey, uint32_t key) {
  constexpr bool sub = form == 2, lowOr = form == 0;
  using T = typename V::T;
  const T z = V::Zero(), k = V::Set32(key);
  const T pv = V::Set64(uint64_t(p) | uint64_t(p) << 16 | uint64_t(p) << 32);  // byte 3: 0
  const T one = V::Set32(0x00010001u);
  const T m7 = V::Set32(0x00FEFEFFu), guard = V::Set32(0x01010100u), low = V::Set32(0x00010100u);
  ForEachGroup<V>(d, s, n, [&](uint8_t* dp, const uint8_t* sp) {
    T S = V::Load(sp), D = V::Load(dp);
    // floor(p * s / 255) = (x + 1 + (x >> 8)) >> 8 with x = p * s <= 65025.
    T xl = V::MulLo16(V::Lo8(S, z), pv), xh = V::MulLo16(V::Hi8(S, z), pv);
    xl = V::template Srl16<8>(V::Add16(V::Add16(xl, one), V::template Srl16<8>(xl)));
    xh = V::template Srl16<8>(V::Add16(V::Add16(xh, one), V::template Srl16<8>(xh)));
    T A = V::Pack16(xl, xh);
    T r;
    if constexpr (!sub) {
      T sum = V::Add32(V::And(A, m7), V::And(D, m7));
      T c = V::And(sum, guard);
      r = V::Or(sum, V::Sub32(c, V::template Srl32<8>(c)));
      if constexpr (lowOr) r = V::Or(r, V::And(V::Or(A, D), low));
    } else {
      T diff = V::Sub32(V::Or(D, guard), V::And(A, m7));
      T b = V::And(diff, guard);
      r = V::And(diff, V::Sub32(b, V::template Srl32<8>(b)));
    }
    V::Store(dp, KeySelect<V>(r, S, D, hasKey, k));
  });
}

template <class V>
void KMul(uint8_t* d, const uint8_t* s, int n, int hasKey, uint32_t key) {
  using T = typename V::T;
  const T z = V::Zero(), k = V::Set32(key), rgb = V::Set32(0x00FFFFFFu);
  ForEachGroup<V>(d, s, n, [&](uint8_t* dp, const uint8_t* sp) {
    T S = V::Load(sp), D = V::Load(dp);
    T l = V::template Srl16<8>(V::MulLo16(V::Lo8(S, z), V::Lo8(D, z)));
    T h = V::template Srl16<8>(V::MulLo16(V::Hi8(S, z), V::Hi8(D, z)));
    T r = V::Or(V::And(V::Pack16(l, h), rgb), V::AndNot(rgb, D));
    V::Store(dp, KeySelect<V>(r, S, D, hasKey, k));
  });
}

template <class V>
void KHalf(uint8_t* d, const uint8_t* s, int n, int hasKey, uint32_t key) {
  using T = typename V::T;
  const T k = V::Set32(key), m = V::Set32(0x007F7F7Fu);
  ForEachGroup<V>(d, s, n, [&](uint8_t* dp, const uint8_t* sp) {
    T S = V::Load(sp), D = V::Load(dp);
    T r = V::Add32(V::And(V::template Srl32<1>(S), m), V::And(V::template Srl32<1>(D), m));
    V::Store(dp, KeySelect<V>(r, S, D, hasKey, k));
  });
}

// One group of V::N pixels of KBlendFlat: (d (256 - p) + t p) >> 8 per 16-bit lane. xp holds
// c * p (targets 0 and 1) or c (target 2), q 256 - p (byte 3: 256), wp p (byte 3: 0).
template <class V, int target>
inline typename V::T BlendFlatLanes(typename V::T D, typename V::T xp, typename V::T q, typename V::T wp) {
  using T = typename V::T;
  const T z = V::Zero();
  T dl = V::Lo8(D, z), dh = V::Hi8(D, z), tl = xp, th = xp;
  if constexpr (target == 2) {
    tl = V::MulLo16(V::template Srl16<8>(V::MulLo16(xp, dl)), wp);
    th = V::MulLo16(V::template Srl16<8>(V::MulLo16(xp, dh)), wp);
  }
  T rl = V::template Srl16<8>(V::Add16(V::MulLo16(dl, q), tl));
  T rh = V::template Srl16<8>(V::Add16(V::MulLo16(dh, q), th));
  return V::Pack16(rl, rh);
}

template <class V, int target>
void KBlendFlat(uint8_t* d, int n, uint32_t c, uint32_t p) {
  using T = typename V::T;
  if (target == 1) c ^= 0x00FFFFFFu;
  const uint64_t b = c & 255, g = (c >> 8) & 255, r = (c >> 16) & 255;
  const uint64_t pp = p, m = target == 2 ? 1 : pp, q = 256 - pp;
  const T xp = V::Set64(b * m | g * m << 16 | r * m << 32);
  const T qq = V::Set64(q | q << 16 | q << 32 | uint64_t(256) << 48);
  const T wp = V::Set64(pp | pp << 16 | pp << 32);
  int i = 0;
  for (; i + V::N <= n; i += V::N)
    V::Store(d + 4 * i, BlendFlatLanes<V, target>(V::Load(d + 4 * i), xp, qq, wp));
  if (i == n) return;
#ifdef PLAIN_SIMD_AVX2
  if constexpr (V::N == 8) {
    // The last 1 to 7 pixels under a lane mask: nothing outside them is read or written.
    const __m256i lanes = _mm256_cmpgt_epi32(_mm256_set1_epi32(n - i), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    int* const at = reinterpret_cast<int*>(d + 4 * i);
    _mm256_maskstore_epi32(at, lanes, BlendFlatLanes<V, target>(_mm256_maskload_epi32(at, lanes), xp, qq, wp));
    return;
  }
#endif
  for (; i < n; ++i) {
    uint8_t* px = d + 4 * i;
    for (int ch = 0; ch < 3; ++ch) {
      const uint32_t dv = px[ch], cv = (c >> (8 * ch)) & 255;
      const uint32_t t = target == 2 ? (cv * dv) >> 8 : cv;
      px[ch] = uint8_t((dv * uint32_t(q) + t * p) >> 8);
    }
  }
}

template <class V>
void KGather32(uint32_t* out, const uint8_t* row, const int32_t* col, int n) {
  int i = 0;
#ifdef PLAIN_SIMD_AVX2
  if constexpr (V::N == 8) {
    const int* base = reinterpret_cast<const int*>(row);
    for (; i + 16 <= n; i += 16) {
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(col + i));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(col + i + 8));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_i32gather_epi32(base, a, 4));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 8), _mm256_i32gather_epi32(base, b, 4));
    }
  }
#endif
  for (; i < n; ++i) std::memcpy(out + i, row + 4 * size_t(col[i]), 4);
}

template <class V>
void KEverySecond32(uint32_t* out, const uint8_t* row, int n) {
  int i = 0;
  // A group reads 2 * N words: the last one read stays at or before the last one wanted.
  for (; i + V::N < n; i += V::N) {
    const typename V::T a = V::Load(row + 8 * i), b = V::Load(row + 8 * i + 4 * V::N);
    typename V::T even;
#ifdef PLAIN_SIMD_AVX2
    if constexpr (V::N == 8) {
      const __m256 e = _mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), 0x88);
      even = _mm256_castpd_si256(_mm256_permute4x64_pd(_mm256_castps_pd(e), 0xD8));
    } else
#endif
    {
      even = _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), 0x88));
    }
    V::Store(reinterpret_cast<uint8_t*>(out + i), even);
  }
  for (; i < n; ++i) std::memcpy(out + i, row + 8 * size_t(i), 4);
}

// ---- 16-bit 5:6:5 kernels: 2 * V::N pixels a group, one per 16-bit lane ----

template <class V>
void KHalf16(uint8_t* d, const uint8_t* s, int n, int hasKey, uint32_t key) {
  using T = typename V::T;
  const T k = V::Set32(key * 0x10001u), m = V::Set32(0x7BEF7BEFu);
  ForEachGroup16<V>(d, s, n, [&](uint8_t* dp, const uint8_t* sp) {
    T S = V::Load(sp), D = V::Load(dp);
    T r = V::Add16(V::And(V::template Srl16<1>(S), m), V::And(V::template Srl16<1>(D), m));
    V::Store(dp, KeySelect<V, 16>(r, S, D, hasKey, k));
  });
}

// The blue, green and red fields of 16-bit lanes.
template <class V>
struct Fields565 {
  typename V::T b, g, r;
  explicit Fields565(typename V::T v)
      : b(V::And(v, V::Set32(0x001F001Fu))),
        g(V::And(V::template Srl16<5>(v), V::Set32(0x003F003Fu))),
        r(V::template Srl16<11>(v)) {}
};
template <class V>
inline typename V::T Pack565(typename V::T b, typename V::T g, typename V::T r) {
  return V::Or(V::Or(V::template Sll16<11>(r), V::template Sll16<5>(g)), b);
}

template <class V>
void KMix16(uint8_t* d, const uint8_t* s, int n, uint32_t k, int hasKey, uint32_t key) {
  using T = typename V::T;
  const T kv = V::Set32(k * 0x10001u), kd = V::Set32((63 - k) * 0x10001u), key16 = V::Set32(key * 0x10001u);
  const T one = V::Set32(0x00010001u), div = V::Set32(1040u * 0x10001u);
  // floor(v / 63) = ((v + 1) * 1040) >> 16 for every v up to 63 * 63.
  auto mix = [&](T sf, T df) {
    return V::MulHiU16(V::Add16(V::Add16(V::MulLo16(sf, kv), V::MulLo16(df, kd)), one), div);
  };
  ForEachGroup16<V>(d, s, n, [&](uint8_t* dp, const uint8_t* sp) {
    T S = V::Load(sp), D = V::Load(dp);
    const Fields565<V> fs(S), fd(D);
    T r = Pack565<V>(mix(fs.b, fd.b), mix(fs.g, fd.g), mix(fs.r, fd.r));
    V::Store(dp, KeySelect<V, 16>(r, S, D, hasKey, key16));
  });
}

// The packed 16-bit add or subtract of one half of the lanes, widened to 32 bits so that the red
// carry in bit 16 is kept as the pixel rule keeps it; the result's low 16 bits.
template <class V, int form>
inline typename V::T PackedAddSub16Lanes(typename V::T S, typename V::T D) {
  using T = typename V::T;
  const T m = V::Set32(0xF7DFu), guard = V::Set32(0x08210820u);
  T r;
  if constexpr (form != 2) {
    T sum = V::Add32(V::And(S, m), V::And(D, m));
    T c = V::And(sum, guard);
    r = V::Or(sum, V::Sub32(c, V::template Srl32<5>(c)));
    if constexpr (form == 0) r = V::Or(r, V::And(V::Or(S, D), V::Set32(0x0820u)));
  } else {
    T diff = V::Sub32(V::Or(D, guard), V::And(S, m));
    T b = V::And(diff, guard);
    r = V::And(diff, V::Sub32(b, V::template Srl32<5>(b)));
  }
  // Biased so that the signed pack keeps all 16 bits.
  return V::Sub32(V::And(r, V::Set32(0xFFFFu)), V::Set32(0x8000u));
}

template <class V, int form>
void KPackedAddSub16(uint8_t* d, const uint8_t* s, int n, uint32_t p, int hasKey, uint32_t key) {
  using T = typename V::T;
  const T pv = V::Set32(p * 0x10001u), one = V::Set32(0x00010001u), z = V::Zero();
  const T key16 = V::Set32(key * 0x10001u), bias = V::Set32(0x80008000u);
  // floor(p * x / 255) = (y + 1 + (y >> 8)) >> 8 with y = p * x <= 16065.
  auto amount = [&](T x) {
    T y = V::MulLo16(x, pv);
    return V::template Srl16<8>(V::Add16(V::Add16(y, one), V::template Srl16<8>(y)));
  };
  ForEachGroup16<V>(d, s, n, [&](uint8_t* dp, const uint8_t* sp) {
    T S = V::Load(sp), D = V::Load(dp);
    const Fields565<V> f(S);
    T A = Pack565<V>(amount(f.b), amount(f.g), amount(f.r));
    T lo = PackedAddSub16Lanes<V, form>(V::Lo16(A, z), V::Lo16(D, z));
    T hi = PackedAddSub16Lanes<V, form>(V::Hi16(A, z), V::Hi16(D, z));
    T r = V::Add16(V::PackS32(lo, hi), bias);
    V::Store(dp, KeySelect<V, 16>(r, S, D, hasKey, key16));
  });
}

// floor(s * d / 2^width) per field of 16-bit lanes.
template <class V>
inline Fields565<V> MulFields(const Fields565<V>& s, const Fields565<V>& d) {
  Fields565<V> t = s;
  t.b = V::template Srl16<5>(V::MulLo16(s.b, d.b));
  t.g = V::template Srl16<6>(V::MulLo16(s.g, d.g));
  t.r = V::template Srl16<5>(V::MulLo16(s.r, d.r));
  return t;
}

template <class V, int target>
void KToward16(uint8_t* d, const uint8_t* s, int n, uint32_t p, int hasKey, uint32_t key) {
  using T = typename V::T;
  const T pv = V::Set32(p * 0x10001u), one = V::Set32(0x00010001u), key16 = V::Set32(key * 0x10001u);
  // d + trunc(p (t - d) / 255): the quotient of the magnitude, floor(y / 255) = (y + 1 + (y >> 8))
  // >> 8 for y = p |t - d| <= 16065, added or taken away.
  auto part = [&](T x) {
    T y = V::MulLo16(x, pv);
    return V::template Srl16<8>(V::Add16(V::Add16(y, one), V::template Srl16<8>(y)));
  };
  auto toward = [&](T dv, T tv) {
    return V::Sub16(V::Add16(dv, part(V::SubsU16(tv, dv))), part(V::SubsU16(dv, tv)));
  };
  ForEachGroup16<V>(d, s, n, [&](uint8_t* dp, const uint8_t* sp) {
    T S = V::Load(sp), D = V::Load(dp);
    const Fields565<V> fd(D);
    Fields565<V> ft(target == 1 ? V::Xor(S, V::Set32(0xFFFFFFFFu)) : S);
    if constexpr (target == 2) ft = MulFields<V>(ft, fd);
    T r = Pack565<V>(toward(fd.b, ft.b), toward(fd.g, ft.g), toward(fd.r, ft.r));
    V::Store(dp, KeySelect<V, 16>(r, S, D, hasKey, key16));
  });
}

template <class V>
void KMul16(uint8_t* d, const uint8_t* s, int n, int hasKey, uint32_t key) {
  using T = typename V::T;
  const T key16 = V::Set32(key * 0x10001u);
  ForEachGroup16<V>(d, s, n, [&](uint8_t* dp, const uint8_t* sp) {
    T S = V::Load(sp), D = V::Load(dp);
    const Fields565<V> t = MulFields<V>(Fields565<V>(S), Fields565<V>(D));
    V::Store(dp, KeySelect<V, 16>(Pack565<V>(t.b, t.g, t.r), S, D, hasKey, key16));
  });
}

template <class V>
void KCopyKey16(uint8_t* d, const uint8_t* s, int n, uint32_t key) {
  const auto k = V::Set32(key * 0x10001u);
  ForEachGroup16<V>(d, s, n, [&](uint8_t* dp, const uint8_t* sp) {
    auto S = V::Load(sp), D = V::Load(dp);
    V::Store(dp, KeySelect<V, 16>(S, S, D, 1, k));
  });
}

template <class V>
constexpr PlainSimdOps MakeOps() {
  return PlainSimdOps{&KCopyKey<V>,
                      {&KBlendConst<V, 0>, &KBlendConst<V, 1>, &KBlendConst<V, 2>},
                      {&KBlendAlpha<V, 0>, &KBlendAlpha<V, 1>, &KBlendAlpha<V, 2>, &KBlendAlpha<V, 3>},
                      &KSatAddSub<V>,
                      {&KPackedAddSub<V, 0>, &KPackedAddSub<V, 1>, &KPackedAddSub<V, 2>},
                      &KMul<V>,
                      &KHalf<V>,
                      {&KBlendFlat<V, 0>, &KBlendFlat<V, 1>, &KBlendFlat<V, 2>},
                      &KHalf16<V>,
                      &KMix16<V>,
                      {&KPackedAddSub16<V, 0>, &KPackedAddSub16<V, 1>, &KPackedAddSub16<V, 2>},
                      {&KToward16<V, 0>, &KToward16<V, 1>, &KToward16<V, 2>},
                      &KMul16<V>,
                      &KCopyKey16<V>,
                      &KGather32<V>,
                      &KEverySecond32<V>};
}

}  // namespace
#endif  // PLAIN_SIMD_KERNELS

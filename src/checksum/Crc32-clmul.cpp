// CRC-32 by folding with carry-less multiplication, for x86-64 builds without ISA-L. A 16-byte
// block B followed by n more bits stands for B * x^n; multiplying its two 64-bit halves by
// x^(n+32) mod P and x^(n-32) mod P gives a value of the same remainder that fits in 16 bytes and
// lines up with the block n bits later, so blocks fold into the next ones until a final Barrett
// reduction brings 64 bits down to the 32-bit running value. Where the CPU has 512-bit carry-less
// multiplication (VPCLMULQDQ with AVX-512), long inputs first fold 256 bytes at a time.
#include <immintrin.h>

#include <cstddef>

#include "checksum/Crc32Variants.h"

namespace vorlen {

const TCrc32FoldConstants kCrc32Fold = {
    .X2080 = 0x11542778A,
    .X2016 = 0x1322D1430,
    .X544 = 0x154442BD4,
    .X480 = 0x1C6E41596,
    .X160 = 0x1751997D0,
    .X96 = 0x0CCAA009E,
    .X64 = 0x163CD6124,
    .Mu = 0x1F7011641,
    .Poly = 0x1DB710641,
};

namespace {

// Four blocks are folded side by side, so that the multiplications of one do not wait for another.
constexpr size_t kStride = 64;

inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

inline __m128i Pair(uint64_t high, uint64_t low) {
  return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
}

// The low half of x (the earlier, higher-degree bits) times k's low half, the high half times k's
// high half, added to the block they move onto.
__attribute__((target("pclmul"))) inline __m128i Fold(__m128i x, __m128i k, __m128i onto) {
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), onto);
}

// Four 16-byte blocks side by side: the data of one stride, or what it folded down to.
struct TLanes {
  __m128i X[4];
};

// The first stride, with the running value entering as the first 32 bits of the data.
TLanes Start(const uint8_t*& p, size_t& length, uint32_t crc) {
  const __m128i first = _mm_cvtsi32_si128(static_cast<int>(crc));
  TLanes lanes{{_mm_xor_si128(Load(p), first), Load(p + 16), Load(p + 32), Load(p + 48)}};
  p += kStride;
  length -= kStride;
  return lanes;
}

constexpr size_t kWideStride = 256;

// The pair in every 16 bytes. (Set, not broadcast: GCC 12 warns about the broadcast's undefined
// start value.)
__attribute__((target("avx512f"))) inline __m512i WidePair(uint64_t high, uint64_t low) {
  const auto h = static_cast<long long>(high);
  const auto l = static_cast<long long>(low);
  return _mm512_set_epi64(h, l, h, l, h, l, h, l);
}

// Fold on four blocks at once; 0x96 makes the ternary logic the XOR of all three.
__attribute__((target("avx512f,vpclmulqdq"))) inline __m512i FoldWide(__m512i x, __m512i k,
                                                                      __m512i onto) {
  const __m512i low = _mm512_clmulepi64_epi128(x, k, 0x00);
  const __m512i high = _mm512_clmulepi64_epi128(x, k, 0x11);
  return _mm512_ternarylogic_epi64(low, high, onto, 0x96);
}

// Like Start, but folds every whole 256-byte stride of the length (at least one) before it hands
// over four lanes; each 64-byte register holds four blocks, folded by their own 64-byte stride.
__attribute__((target("avx512f,vpclmulqdq"))) TLanes StartWide(const uint8_t*& data, size_t& size,
                                                               uint32_t crc) {
  const uint8_t* p = data;
  size_t length = size;
  const TCrc32FoldConstants& k = kCrc32Fold;
  const __m512i first = _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc)));
  __m512i z0 = _mm512_xor_si512(_mm512_loadu_si512(p), first);
  __m512i z1 = _mm512_loadu_si512(p + 64);
  __m512i z2 = _mm512_loadu_si512(p + 128);
  __m512i z3 = _mm512_loadu_si512(p + 192);
  p += kWideStride;
  length -= kWideStride;
  const __m512i byWideStride = WidePair(k.X2016, k.X2080);
  for (; length >= kWideStride; p += kWideStride, length -= kWideStride) {
    z0 = FoldWide(z0, byWideStride, _mm512_loadu_si512(p));
    z1 = FoldWide(z1, byWideStride, _mm512_loadu_si512(p + 64));
    z2 = FoldWide(z2, byWideStride, _mm512_loadu_si512(p + 128));
    z3 = FoldWide(z3, byWideStride, _mm512_loadu_si512(p + 192));
  }
  const __m512i byStride = WidePair(k.X480, k.X544);
  z0 = FoldWide(z0, byStride, z1);
  z0 = FoldWide(z0, byStride, z2);
  z0 = FoldWide(z0, byStride, z3);
  data = p;
  size = length;
  TLanes lanes;
  _mm512_storeu_si512(lanes.X, z0);
  return lanes;
}

// Folds the lanes over the rest of the data (a multiple of 16 bytes) and reduces them to the
// running value.
__attribute__((target("pclmul"))) uint32_t Finish(TLanes lanes, const uint8_t* p, size_t length) {
  const TCrc32FoldConstants& k = kCrc32Fold;
  auto& [x0, x1, x2, x3] = lanes.X;
  const __m128i byStride = Pair(k.X480, k.X544);
  for (; length >= kStride; p += kStride, length -= kStride) {
    x0 = Fold(x0, byStride, Load(p));
    x1 = Fold(x1, byStride, Load(p + 16));
    x2 = Fold(x2, byStride, Load(p + 32));
    x3 = Fold(x3, byStride, Load(p + 48));
  }
  const __m128i byBlock = Pair(k.X96, k.X160);
  x0 = Fold(x0, byBlock, x1);
  x0 = Fold(x0, byBlock, x2);
  x0 = Fold(x0, byBlock, x3);
  for (; length >= 16; p += 16, length -= 16) x0 = Fold(x0, byBlock, Load(p));

  // The value so far is x0 * x^32 mod P. 128 to 96 bits: the low half times x^96, plus the high.
  const __m128i low32 = _mm_cvtsi32_si128(-1);
  __m128i v = _mm_xor_si128(_mm_clmulepi64_si128(x0, byBlock, 0x10), _mm_srli_si128(x0, 8));
  // 96 to 64 bits: the first 32 times x^64, plus the other 64.
  v = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(v, low32), Pair(0, k.X64), 0x00),
                    _mm_srli_si128(v, 4));
  // Barrett: the quotient q is the upper half of (first 32 bits) * Mu; v + q * P leaves the
  // remainder in bits 32 to 63.
  const __m128i barrett = Pair(k.Mu, k.Poly);
  __m128i q = _mm_clmulepi64_si128(_mm_and_si128(v, low32), barrett, 0x10);
  q = _mm_clmulepi64_si128(_mm_and_si128(q, low32), barrett, 0x00);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(_mm_xor_si128(v, q), 4)));
}

void Update(const void* Buffer, uint32_t Length, uint32_t& Crc, bool wide) {
  size_t blocks = Length & ~size_t{15};
  if (blocks < kStride || !Crc32ClmulAvailable()) {
    UpdateCrc32Table(Buffer, Length, Crc);
    return;
  }
  const auto* p = static_cast<const uint8_t*>(Buffer);
  const size_t rest = Length - blocks;
  const TLanes lanes =
      (wide && blocks >= kWideStride) ? StartWide(p, blocks, Crc) : Start(p, blocks, Crc);
  uint32_t crc = Finish(lanes, p, blocks);
  UpdateCrc32Table(p + blocks, static_cast<uint32_t>(rest), crc);
  Crc = crc;
}

}  // namespace

bool Crc32ClmulAvailable() { return __builtin_cpu_supports("pclmul"); }

bool Crc32WideClmulAvailable() {
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq");
}

void UpdateCrc32Clmul(const void* Buffer, uint32_t Length, uint32_t& Crc) {
  Update(Buffer, Length, Crc, Crc32WideClmulAvailable());
}

void UpdateCrc32Clmul16(const void* Buffer, uint32_t Length, uint32_t& Crc) {
  Update(Buffer, Length, Crc, false);
}

}  // namespace vorlen

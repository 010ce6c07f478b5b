// CRC-32 by folding with carry-less multiplication, for x86-64 builds without ISA-L. A 16-byte
// block B followed by n more bits stands for B * x^n; multiplying its two 64-bit halves by
// x^(n+32) mod P and x^(n-32) mod P gives a value of the same remainder that fits in 16 bytes and
// lines up with the block n bits later, so blocks fold into the next ones until a final Barrett
// reduction brings 64 bits down to the 32-bit running value.
#include <immintrin.h>

#include <cstddef>

#include "checksum/Crc32Variants.h"

namespace vorlen {

const TCrc32FoldConstants kCrc32Fold = {
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

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

inline __m128i Pair(uint64_t high, uint64_t low) {
  return _mm_set_epi64x(static_cast<long long>(high), static_cast<long long>(low));
}

// The low half of x (the earlier, higher-degree bits) times k's low half, the high half times k's
// high half, added to the block they move onto.
__attribute__((target("pclmul"))) inline __m128i Fold(__m128i x, __m128i k, __m128i onto) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)),
                       onto);
}

// The running value after Length bytes at p; Length is a multiple of 16, at least kStride.
__attribute__((target("pclmul"))) uint32_t FoldBlocks(const uint8_t* p, size_t length, uint32_t crc) {
  const TCrc32FoldConstants& k = kCrc32Fold;
  // The running value enters as the first 32 bits of the data.
  __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x1 = Load(p + 16);
  __m128i x2 = Load(p + 32);
  __m128i x3 = Load(p + 48);
  p += kStride;
  length -= kStride;
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
  v = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(v, low32), Pair(0, k.X64), 0x00), _mm_srli_si128(v, 4));
  // Barrett: the quotient q is the upper half of (first 32 bits) * Mu; v + q * P leaves the
  // remainder in bits 32 to 63.
  const __m128i barrett = Pair(k.Mu, k.Poly);
  __m128i q = _mm_clmulepi64_si128(_mm_and_si128(v, low32), barrett, 0x10);
  q = _mm_clmulepi64_si128(_mm_and_si128(q, low32), barrett, 0x00);
  return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(_mm_xor_si128(v, q), 4)));
}

}  // namespace

bool Crc32ClmulAvailable() { return __builtin_cpu_supports("pclmul"); }

void UpdateCrc32Clmul(const void* Buffer, uint32_t Length, uint32_t& Crc) {
  const size_t blocks = Length & ~size_t{15};
  if (blocks < kStride || !Crc32ClmulAvailable()) {
    UpdateCrc32Table(Buffer, Length, Crc);
    return;
  }
  const auto* p = static_cast<const uint8_t*>(Buffer);
  uint32_t crc = FoldBlocks(p, blocks, Crc);
  UpdateCrc32Table(p + blocks, Length - static_cast<uint32_t>(blocks), crc);
  Crc = crc;
}

}  // namespace vorlen

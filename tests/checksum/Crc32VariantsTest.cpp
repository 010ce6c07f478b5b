#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "checksum/Checksum.h"
#include "checksum/Crc32Variants.h"
#include "support/Pattern.h"

using namespace vorlen;

namespace {

using TRoutine = void (*)(const void*, uint32_t, uint32_t&);

// x^n mod P, reflected, shifted left by one: multiplying by x is a right shift in reflected order,
// and x^32 comes back as the low terms of P.
uint64_t Multiplier(unsigned n) {
  uint32_t v = 0x80000000u;  // x^0
  for (unsigned i = 0; i < n; ++i) v = (v >> 1) ^ ((v & 1) ? 0xEDB88320u : 0u);
  return uint64_t{v} << 1;
}

// A 33-bit polynomial (bit d the coefficient of x^d) in reflected order.
uint64_t Reflect33(uint64_t value) {
  uint64_t reflected = 0;
  for (int d = 0; d <= 32; ++d)
    if ((value >> d) & 1) reflected |= uint64_t{1} << (32 - d);
  return reflected;
}

constexpr uint64_t kPoly = 0x104C11DB7;  // x^32 + x^26 + ... + 1

// floor(x^64 / P) by long division; the first step, x^64 - x^32 * P, is taken before the loop.
uint64_t Quotient64() {
  uint64_t quotient = uint64_t{1} << 32;
  uint64_t rest = (kPoly ^ (uint64_t{1} << 32)) << 32;
  for (int i = 63; i >= 32; --i)
    if ((rest >> i) & 1) {
      quotient |= uint64_t{1} << (i - 32);
      rest ^= kPoly << (i - 32);
    }
  return quotient;
}

// The routine against the table routine from arbitrary running values: every length up to a few
// strides and around the block sizes, at every alignment of a 16-byte load, and over chains of
// pieces of random lengths.
void ExpectSameAsTable(TRoutine routine) {
  const std::vector<uint8_t> data = test::RandomByteVector((size_t{1} << 20) + 64, 3);
  std::mt19937 random(4);
  std::vector<uint32_t> lengths;
  for (uint32_t n = 0; n <= 400; ++n) lengths.push_back(n);
  for (uint32_t n :
       {511u, 512u, 527u, 1023u, 1025u, 4095u, 4096u, 4097u, 65549u, 204800u, 1u << 20})
    lengths.push_back(n);
  for (uint32_t length : lengths)
    for (uint32_t start = 0; start < 16; start += (length <= 400 ? 1 : 5)) {
      const uint32_t seed = static_cast<uint32_t>(random());
      uint32_t expected = seed;
      UpdateCrc32Table(data.data() + start, length, expected);
      uint32_t crc = seed;
      routine(data.data() + start, length, crc);
      ASSERT_EQ(crc, expected) << "start " << start << ", length " << length;
    }
  for (int round = 0; round < 100; ++round) {
    uint32_t whole = 0xFFFFFFFFu;
    uint32_t crc = whole;
    size_t offset = random() % 16;
    const size_t begin = offset;
    while (offset < data.size() / 2) {
      const size_t piece = (random() % 4 == 0) ? random() % 70000 : random() % 200;
      routine(data.data() + offset, static_cast<uint32_t>(piece), crc);
      offset += piece;
    }
    UpdateCrc32Table(data.data() + begin, static_cast<uint32_t>(offset - begin), whole);
    ASSERT_EQ(crc, whole) << "round " << round;
  }
}

}  // namespace

TEST(Crc32Fold, ConstantsFollowFromThePolynomial) {
  const TCrc32FoldConstants& k = kCrc32Fold;
  EXPECT_EQ(Multiplier(32), uint64_t{0xEDB88320} << 1);  // the derivation's own check
  EXPECT_EQ(k.X2080, Multiplier(2080));
  EXPECT_EQ(k.X2016, Multiplier(2016));
  EXPECT_EQ(k.X544, Multiplier(544));
  EXPECT_EQ(k.X480, Multiplier(480));
  EXPECT_EQ(k.X160, Multiplier(160));
  EXPECT_EQ(k.X96, Multiplier(96));
  EXPECT_EQ(k.X64, Multiplier(64));
  EXPECT_EQ(k.Mu, Reflect33(Quotient64()));
  EXPECT_EQ(k.Poly, Reflect33(kPoly));
}

TEST(Crc32Fold, ClmulMatchesTheTableRoutine) {
  if (!Crc32ClmulAvailable()) GTEST_SKIP() << "this CPU cannot show it: no PCLMULQDQ";
  ExpectSameAsTable(UpdateCrc32Clmul16);
}

TEST(Crc32Fold, WideClmulMatchesTheTableRoutine) {
  if (!Crc32ClmulAvailable() || !Crc32WideClmulAvailable())
    GTEST_SKIP() << "this CPU cannot show it: no VPCLMULQDQ with AVX-512";
  ExpectSameAsTable(UpdateCrc32Clmul);
}

TEST(Crc32Fold, UpdateCrc32MatchesTheTableRoutine) { ExpectSameAsTable(UpdateCrc32); }

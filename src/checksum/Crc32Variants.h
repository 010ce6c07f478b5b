// The routines behind UpdateCrc32, for their tests and benchmark; not part of the interface.
#pragma once

#include <cstdint>

namespace vorlen {

// The table routine: the reference that every faster routine must match bit for bit, and their
// fallback.
void UpdateCrc32Table(const void* Buffer, uint32_t Length, uint32_t& Crc);

// Folds 16-byte blocks with carry-less multiplication (PCLMULQDQ) where the CPU has it; runs the
// table routine where it has not, for inputs too short to fold and for the bytes after the last
// whole block. Same caller-held running value as UpdateCrc32.
void UpdateCrc32Clmul(const void* Buffer, uint32_t Length, uint32_t& Crc);
bool Crc32ClmulAvailable();

// The multipliers of the folding. Each XnnN is x^nn mod P in reflected bit order, shifted left by
// one: the carry-less product of two reflected operands comes out one place short, and the shift
// makes it up. Mu is floor(x^64 / P) and Poly is P itself, both 33 bits and reflected.
struct TCrc32FoldConstants {
  uint64_t X544;  // folds a 64-byte stride: low half of each block
  uint64_t X480;  // ... high half
  uint64_t X160;  // folds a 16-byte stride: low half
  uint64_t X96;   // ... high half; also the 128-to-96-bit step of the final reduction
  uint64_t X64;   // the 96-to-64-bit step
  uint64_t Mu;
  uint64_t Poly;
};
extern const TCrc32FoldConstants kCrc32Fold;

}  // namespace vorlen

// The routines behind UpdateCrc32, for their tests and benchmark; not part of the interface.
#pragma once

#include <cstdint>

namespace vorlen {

// The table routine: the reference that every faster routine must match bit for bit, and their
// fallback.
void UpdateCrc32Table(const void* Buffer, uint32_t Length, uint32_t& Crc);

// Folds 16-byte blocks with carry-less multiplication (PCLMULQDQ) where the CPU has it, long inputs
// 64 bytes a register where it also has VPCLMULQDQ with AVX-512; runs the table routine where it
// has neither, for inputs too short to fold and for the bytes after the last whole block. Same
// caller-held running value as UpdateCrc32.
void UpdateCrc32Clmul(const void* Buffer, uint32_t Length, uint32_t& Crc);
// The same with 16-byte registers only, whatever the CPU has beyond PCLMULQDQ.
void UpdateCrc32Clmul16(const void* Buffer, uint32_t Length, uint32_t& Crc);
bool Crc32ClmulAvailable();
bool Crc32WideClmulAvailable();

// The multipliers of the folding. Each Xn is x^n mod P in reflected bit order, shifted left by one
// into 33 bits: a carry-less product of reflected operands comes out one place short, and the shift
// makes up for it. Mu is floor(x^64 / P) and Poly is P itself, both 33 bits and reflected.
struct TCrc32FoldConstants {
  uint64_t X2080;  // folds a 256-byte stride: low half of each block
  uint64_t X2016;  // ... high half
  uint64_t X544;   // folds a 64-byte stride: low half of each block
  uint64_t X480;   // ... high half
  uint64_t X160;   // folds a 16-byte stride: low half
  uint64_t X96;    // ... high half; also the 128-to-96-bit step of the final reduction
  uint64_t X64;    // the 96-to-64-bit step
  uint64_t Mu;
  uint64_t Poly;
};
extern const TCrc32FoldConstants kCrc32Fold;

}  // namespace vorlen

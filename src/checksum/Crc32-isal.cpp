// UpdateCrc32 on Intel ISA-L, which picks its folding code (PCLMULQDQ, VPCLMULQDQ) by the CPU at
// run time.
#include <isa-l/crc.h>

#include "checksum/Checksum.h"

namespace vorlen {

// crc32_gzip_refl takes and returns finished values, inverted like zlib's crc32; the running value
// here is the register itself, so it is inverted on the way in and on the way out.
void UpdateCrc32(const void* Buffer, uint32_t Length, uint32_t& Crc) {
  if (Length == 0) return;
  Crc = ~crc32_gzip_refl(~Crc, static_cast<const unsigned char*>(Buffer), Length);
}

}  // namespace vorlen

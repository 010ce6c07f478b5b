// UpdateCrc32 where ISA-L is not at hand: the carry-less-multiplication folding.
#include "checksum/Checksum.h"
#include "checksum/Crc32Variants.h"

namespace vorlen {

void UpdateCrc32(const void* Buffer, uint32_t Length, uint32_t& Crc) {
  UpdateCrc32Clmul(Buffer, Length, Crc);
}

}  // namespace vorlen

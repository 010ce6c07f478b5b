// Placeholder byte-wise loop; the fast table-driven version replaces it.
#include "checksum/Checksum.h"

namespace vorlen {

namespace {
struct TTable {
  uint32_t Values[256];
  constexpr TTable() : Values() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      Values[i] = c;
    }
  }
};
constexpr TTable kTable;
}  // namespace

const uint32_t Crc32Table[256] = {};

void UpdateCrc32(const void* Buffer, uint32_t Length, uint32_t& Crc) {
  const auto* p = static_cast<const uint8_t*>(Buffer);
  uint32_t c = Crc;
  for (uint32_t i = 0; i < Length; ++i) c = kTable.Values[(c ^ p[i]) & 0xFF] ^ (c >> 8);
  Crc = c;
}

}  // namespace vorlen

// CRC-32 (reflected polynomial 0xEDB88320), the checksum of archive members and uploaded parts.
#pragma once

#include <cstdint>

namespace vorlen {

extern const uint32_t Crc32Table[256];

// Runs the CRC over Length bytes of Buffer, updating Crc in place. The caller starts Crc at
// 0xFFFFFFFF and inverts it after the last call.
void UpdateCrc32(const void* Buffer, uint32_t Length, uint32_t& Crc);

// The lookup tables of the eight-bytes-a-step loop: Table[0] is Crc32Table, Table[k][i] is the
// CRC contribution of byte i followed by k zero bytes. Shift[j][v] is what byte j (value v) of a
// running value turns into after kCrc32LaneBytes zero bytes; it joins lanes that were run side
// by side. Lets a component keep its own copy.
constexpr uint32_t kCrc32LaneBytes = 1024;
struct TCrc32Tables {
  uint32_t Table[8][256];
  uint32_t Shift[4][256];
};

// Fills Tables by the polynomial rule (eight shift steps per entry of Table[0]).
void BuildCrc32Tables(TCrc32Tables& Tables);

// UpdateCrc32 over the given tables.
void UpdateCrc32(const TCrc32Tables& Tables, const void* Buffer, uint32_t Length, uint32_t& Crc);

}  // namespace vorlen

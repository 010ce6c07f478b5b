// CRC-32 (reflected polynomial 0xEDB88320), the checksum of archive members and uploaded parts.
#pragma once

#include <cstdint>

namespace vorlen {

extern const uint32_t Crc32Table[256];

// Runs the CRC over Length bytes of Buffer, updating Crc in place. The caller starts Crc at
// 0xFFFFFFFF and inverts it after the last call.
void UpdateCrc32(const void* Buffer, uint32_t Length, uint32_t& Crc);

}  // namespace vorlen

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "checksum/Checksum.h"
#include "support/Pattern.h"

using namespace vorlen;

namespace {

uint32_t Finished(const void* data, uint32_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  UpdateCrc32(data, length, crc);
  return ~crc;
}

uint32_t Finished(const std::string& text) {
  return Finished(text.data(), static_cast<uint32_t>(text.size()));
}

}  // namespace

TEST(Crc32, CheckValuesAndEmptyInput) {
  EXPECT_EQ(Finished("123456789"), 0xCBF43926u);
  EXPECT_EQ(Finished("abc"), 0x352441C2u);
  EXPECT_EQ(Finished(""), 0x00000000u);
  uint32_t crc = 0x12345678u;
  UpdateCrc32(nullptr, 0, crc);  // no bytes: the running value stays as it was
  EXPECT_EQ(crc, 0x12345678u);
  // The caller owns the start value and the final inversion.
  crc = 0;
  UpdateCrc32("abc", 3, crc);
  EXPECT_EQ(crc, 0xCA6598D0u);
  // Longer known inputs exercise the eight-byte and four-lane loops.
  EXPECT_EQ(Finished("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
  EXPECT_EQ(Finished(std::string(8192, '\0')), 0xD8F49994u);
}

TEST(Crc32, TableEntries) {
  EXPECT_EQ(Crc32Table[0], 0x00000000u);
  EXPECT_EQ(Crc32Table[1], 0x77073096u);
  EXPECT_EQ(Crc32Table[128], 0xEDB88320u);
  EXPECT_EQ(Crc32Table[255], 0x2D02EF8Du);
  // A component's own tables, built by rule, start with the same table.
  auto tables = std::make_unique<TCrc32Tables>();
  std::memset(tables.get(), 0xAB, sizeof(TCrc32Tables));
  BuildCrc32Tables(*tables);
  EXPECT_EQ(std::memcmp(tables->Table[0], Crc32Table, sizeof Crc32Table), 0);
}

TEST(Crc32, AgreesWithZlibAtEveryLengthAndAlignment) {
  const std::vector<uint8_t> data = test::RandomByteVector(3 * 4096 + 77, 1);
  auto tables = std::make_unique<TCrc32Tables>();
  BuildCrc32Tables(*tables);
  // Lengths around the eight-byte step and the 4,096-byte lane block, at unaligned starts.
  for (size_t start : {0, 1, 3, 7}) {
    for (size_t length : {0, 1, 7, 8, 9, 15, 16, 17, 4095, 4096, 4097, 8199, 12288}) {
      SCOPED_TRACE(std::to_string(start) + "+" + std::to_string(length));
      const uint32_t expected =
          static_cast<uint32_t>(crc32(0L, data.data() + start, static_cast<uInt>(length)));
      EXPECT_EQ(Finished(data.data() + start, static_cast<uint32_t>(length)), expected);
      uint32_t own = 0xFFFFFFFFu;
      UpdateCrc32(*tables, data.data() + start, static_cast<uint32_t>(length), own);
      EXPECT_EQ(~own, expected);
    }
  }
}

TEST(Crc32, SplitCallsEqualOneCall) {
  const std::vector<uint8_t> data = test::RandomByteVector(20000, 2);
  const uint32_t whole = Finished(data.data(), static_cast<uint32_t>(data.size()));
  EXPECT_EQ(whole, static_cast<uint32_t>(crc32(0L, data.data(), static_cast<uInt>(data.size()))));
  const std::vector<std::vector<size_t>> splits = {
      {1}, {3, 5}, {4095, 1, 4096}, {7, 4099, 13}, {8, 8, 8}, {10000}, {1, 1, 1, 1, 1, 9999}};
  for (const auto& pieces : splits) {
    uint32_t crc = 0xFFFFFFFFu;
    size_t offset = 0;
    for (size_t piece : pieces) {
      UpdateCrc32(data.data() + offset, static_cast<uint32_t>(piece), crc);
      offset += piece;
    }
    UpdateCrc32(data.data() + offset, static_cast<uint32_t>(data.size() - offset), crc);
    EXPECT_EQ(~crc, whole) << "first piece " << pieces.front();
  }
  // Byte by byte.
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : data) UpdateCrc32(&b, 1, crc);
  EXPECT_EQ(~crc, whole);
}

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "ZLBArchiveTestUtil.h"
#include "archive/ArchiveReader.h"
#include "archive/ParallelCompressionStream.h"
#include "archive/ZStreams.h"
#include "support/Files.h"

using namespace vorlen;
using namespace vorlen::test;

namespace {

constexpr size_t kBlock = static_cast<size_t>(TParallelCompressionStream::kBlockSize);

// Writes data in uneven pieces, so that block edges fall inside writes.
std::string Compress(const std::string& data, int level, int threads) {
  TMemoryStream dest;
  TParallelCompressionStream writer(dest, level, threads);
  for (size_t at = 0; at < data.size(); at += 70001)
    writer.WriteBuffer(data.data() + at,
                       static_cast<int64_t>(std::min<size_t>(70001, data.size() - at)));
  writer.Finish();
  EXPECT_EQ(writer.Position(), static_cast<int64_t>(data.size()));
  EXPECT_THROW(writer.WriteBuffer("x", 1), EStreamError);
  return dest.ToString();
}

std::string SingleStream(const std::string& data, int level) {
  TMemoryStream dest;
  TZCompressionStream writer(dest, level);
  if (!data.empty()) writer.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  writer.Finish();
  return dest.ToString();
}

std::string InflateWithReader(const std::string& stream) {
  TMemoryStream source;
  source.WriteBuffer(stream.data(), static_cast<int64_t>(stream.size()));
  source.SetPosition(0);
  TZDecompressionStream reader(source);
  std::string out;
  char buffer[50000];
  for (int64_t got; (got = reader.Read(buffer, sizeof buffer)) > 0;) out.append(buffer, got);
  EXPECT_EQ(reader.PendingInput(), 0);  // the stream ends exactly where its bytes end
  return out;
}

}  // namespace

TEST(ParallelCompression, BlocksJoinIntoOneZlibStreamAtEveryLevel) {
  // Header bytes that zlib writes for 0, 1, its default and 9.
  const struct {
    int Level;
    uint8_t Header[2];
  } levels[] = {{0, {0x78, 0x01}}, {1, {0x78, 0x01}}, {-1, {0x78, 0x9C}}, {9, {0x78, 0xDA}}};
  for (const size_t size :
       {size_t{0}, size_t{1}, kBlock - 1, kBlock, kBlock + 1, 5 * kBlock + 777}) {
    const std::string data = MixedBytes(size, static_cast<uint32_t>(size));
    const auto adler = static_cast<uint32_t>(
        adler32(1, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    for (const auto& level : levels) {
      SCOPED_TRACE("size " + std::to_string(size) + " level " + std::to_string(level.Level));
      const std::string stream = Compress(data, level.Level, 2);
      ASSERT_GE(stream.size(), 6u);
      EXPECT_EQ(static_cast<uint8_t>(stream[0]), level.Header[0]);
      EXPECT_EQ(static_cast<uint8_t>(stream[1]), level.Header[1]);
      const std::string tail = stream.substr(stream.size() - 4);
      EXPECT_EQ(tail, std::string({static_cast<char>(adler >> 24), static_cast<char>(adler >> 16),
                                   static_cast<char>(adler >> 8), static_cast<char>(adler)}));
      EXPECT_EQ(Inflate(stream, data.size()), data);
      EXPECT_EQ(InflateWithReader(stream), data);
      // One block is the single stream of old, byte for byte; more are the same on any threads.
      if (size <= kBlock) {
        EXPECT_EQ(stream, SingleStream(data, level.Level));
      } else {
        EXPECT_EQ(Compress(data, level.Level, 1), stream);
        EXPECT_EQ(Compress(data, level.Level, 7), stream);
      }
    }
  }
}

TEST(ParallelCompression, ProgressFollowsFullPiecesOfOutput) {
  const std::string data = RandomBytes(3 * kBlock, 4);  // output a little above the input
  TMemoryStream dest;
  std::vector<int64_t> written;
  int64_t last = 0;
  TParallelCompressionStream writer(dest, -1, 2);
  writer.OnProgress = [&](TStream& sender) {
    EXPECT_GT(sender.Position(), last);
    EXPECT_LT(sender.Position(), static_cast<int64_t>(data.size()));
    last = sender.Position();
    written.push_back(dest.Size());
  };
  writer.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  writer.Finish();
  ASSERT_FALSE(written.empty());
  for (size_t i = 0; i < written.size(); ++i)
    EXPECT_EQ(written[i], static_cast<int64_t>((i + 1) * 65536));
  EXPECT_LT(written.back(), dest.Size());
}

TEST(ZLBArchive, MultiBlockMembersAndRegistryAreTheSameBytesOnAnyNumberOfThreads) {
  TScratch dir;
  const std::string big = MixedBytes(4 * kBlock + 12345, 77);
  WriteFile(dir / "big.bin", big);
  // 300 records (159,600 bytes) make a registry of two blocks.
  std::vector<std::string> files{dir / "big.bin"};
  for (int i = 0; i < 299; ++i) {
    files.push_back(dir / ("f" + std::to_string(i)));
    WriteFile(files.back(), std::to_string(i));
  }
  std::string first;
  for (const int threads : {1, 2, 7}) {
    SCOPED_TRACE(threads);
    const std::string path = dir / ("t" + std::to_string(threads) + ".rar");
    {
      TZLBArchive archive;
      archive.CompressionThreads = threads;
      std::vector<std::string> list = files;
      Pack(archive, path, list);
      ASSERT_EQ(archive.EntryCount(), 300);
      TArchiveEntry entry{};
      archive.GetEntry(0, entry);
      EXPECT_EQ(entry.StoredRaw, 0);
      EXPECT_EQ(entry.Level, fcDefault);
      EXPECT_EQ(entry.Crc, ZlibCrc(big));
      EXPECT_EQ(archive.Trailer().RegistryCompressed, 1);
      const std::string bytes = ReadFile(path);
      EXPECT_EQ(Inflate(bytes.substr(0, static_cast<size_t>(entry.StoredSize)), big.size()), big);
    }
    TArchiveReader reader(path);
    reader.Verify();  // sizes and CRC-32 of every member
    const std::string bytes = ReadFile(path);
    if (first.empty())
      first = bytes;
    else
      EXPECT_EQ(bytes, first);
  }
}

#include <gtest/gtest.h>

#include <random>

#include "ZLBArchiveTestUtil.h"
#include "archive/ZStreams.h"

using namespace vorlen;
using namespace vorlen::test;

TEST(ZStreams, CompressingWriterMakesOneZlibStreamAndAnnouncesFullBlocks) {
  std::mt19937 random(9);
  std::string data(200000, '\0');
  for (char& c : data) c = static_cast<char>(random());
  TMemoryStream dest;
  std::vector<int64_t> positions;
  std::vector<int64_t> written;
  {
    TZCompressionStream writer(dest, -1);
    writer.OnProgress = [&](TZCompressionStream& sender) {
      positions.push_back(sender.Position());
      written.push_back(dest.Size());
    };
    writer.WriteBuffer(data.data(), 70000);
    writer.WriteBuffer(data.data() + 70000, static_cast<int64_t>(data.size()) - 70000);
    EXPECT_EQ(writer.Position(), 200000);
    writer.Finish();
    EXPECT_THROW(writer.WriteBuffer("x", 1), EStreamError);
  }
  // 200,000 random bytes compress to a little more; three full blocks, none from Finish.
  EXPECT_EQ(written, (std::vector<int64_t>{65536, 131072, 196608}));
  ASSERT_EQ(positions.size(), 3u);
  EXPECT_LT(positions[0], positions[1]);
  EXPECT_LE(positions[2], 200000);
  EXPECT_GT(dest.Size(), 196608);
  EXPECT_EQ(Inflate(dest.ToString(), data.size()), data);
}

TEST(ZStreams, InflatingReaderReadsOneStreamAndRefusesDamage) {
  const std::string text(10000, 'v');
  TMemoryStream packed;
  {
    TZCompressionStream writer(packed, 9);
    writer.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
    writer.Finish();
  }
  const std::string stream = packed.ToString();

  TMemoryStream source("prefix" + stream + "trailing bytes");
  source.SetPosition(6);
  TZDecompressionStream reader(source);
  std::string out(12000, '\0');
  EXPECT_EQ(reader.Read(out.data(), 4096), 4096);
  EXPECT_EQ(reader.Read(out.data() + 4096, 8000), 10000 - 4096);
  EXPECT_EQ(reader.Read(out.data(), 10), 0);  // past the stream's end
  out.resize(10000);
  EXPECT_EQ(out, text);
  EXPECT_EQ(reader.Position(), 10000);

  std::string damaged = stream;
  damaged[1] = '\x00';  // header check fails
  TMemoryStream bad(damaged);
  TZDecompressionStream badReader(bad);
  EXPECT_THROW(badReader.Read(out.data(), 100), EZlibError);

  TMemoryStream truncated(stream.substr(0, stream.size() - 3));
  TZDecompressionStream shortReader(truncated);
  std::string all(20000, '\0');
  EXPECT_THROW(shortReader.Read(all.data(), 20000), EZlibError);
}

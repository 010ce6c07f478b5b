// Opening an archive, checking its trailer and registry, and reading members back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive/ArchiveReader.h"
#include "archive/ArchiveTestSupport.h"
#include "runtime/Format.h"
#include "runtime/Stream.h"

namespace vorlen {
namespace {

using test::TArchiveBuilder;
using test::TScratchDir;
using test::WriteFile;

std::string OpenError(const std::string& path) {
  try {
    TArchiveReader reader(path);
  } catch (const EArchiveError& error) {
    return error.what();
  }
  return "(opened)";
}

std::string ExtractToString(TArchiveReader& reader, size_t i) {
  TMemoryStream out;
  reader.ExtractMember(i, out);
  return out.ToString();
}

TEST(ArchiveReader, ReadsHandWrittenArchives) {
  TScratchDir dir;
  // The archive without members written at the default level.
  const std::string empty(
      "\x78\x9C\x03\x00\x00\x00\x00\x01"
      "\x3C\x0B\x6C\xC3\x00\x00\x00\x00\x01\x00\x00\x00\x08\x00\x00\x00"
      "\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x00\x00\x00",
      44);
  // "abc" stored raw as abc.txt, raw registry.
  const std::string abc = std::string("abc") +
                          std::string(
                              "\x07"
                              "abc.txt",
                              8) +
                          std::string(248 + 256, '\0') +
                          std::string(
                              "\x03\x00\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00"
                              "\xC2\x41\x24\x35\x01\x00\x00\x00",
                              20) +
                          std::string(
                              "\xB7\xCF\x5C\xA9\x01\x00\x00\x00\x01\x00\x00\x00"
                              "\x00\x00\x00\x00\x03\x00\x00\x00",
                              20) +
                          std::string(16, '\0');
  ASSERT_EQ(abc.size(), 3u + 532u + 36u);
  WriteFile(dir / "empty.rar", empty);
  WriteFile(dir / "abc.rar", abc);

  TArchiveReader emptyReader(dir / "empty.rar");
  EXPECT_TRUE(emptyReader.Entries().empty());
  EXPECT_EQ(emptyReader.Trailer().RegistrySize, 8);
  emptyReader.Verify();

  TArchiveReader reader(dir / "abc.rar");
  ASSERT_EQ(reader.Entries().size(), 1u);
  EXPECT_EQ(reader.Entries()[0].Crc, 0x352441C2u);
  EXPECT_EQ(reader.StoredName(0), "abc.txt");
  EXPECT_EQ(reader.RelativePath(0), "abc.txt");
  EXPECT_EQ(ExtractToString(reader, 0), "abc");
  reader.Verify();
  TMemoryStream out;
  try {
    reader.ExtractMember(1, out);
    ADD_FAILURE() << "index 1 of one entry was accepted";
  } catch (const EArchiveError& error) {
    EXPECT_STREQ(error.what(), "Index out of bounds");
  }
}

TEST(ArchiveReader, RawAndCompressedMembersGiveTheSameBytes) {
  TScratchDir dir;
  const std::string bytes = test::MixedBytes(300000, 7);
  TArchiveBuilder builder;
  builder.AddRaw("raw.bin", "", bytes);
  builder.AddCompressed("fast.bin", "", bytes, fcFastest);
  builder.AddCompressed("max.bin", "", bytes, fcMaximum);
  builder.AddRaw("empty.bin", "", "");
  for (bool compressedRegistry : {true, false}) {
    SCOPED_TRACE(compressedRegistry);
    WriteFile(dir / "a.rar", builder.Build(compressedRegistry));
    TArchiveReader reader(dir / "a.rar");
    ASSERT_EQ(reader.Entries().size(), 4u);
    EXPECT_LT(reader.Entries()[1].StoredSize, reader.Entries()[0].StoredSize);
    EXPECT_EQ(ExtractToString(reader, 0), bytes);
    EXPECT_EQ(ExtractToString(reader, 1), bytes);
    EXPECT_EQ(ExtractToString(reader, 2), bytes);
    EXPECT_EQ(ExtractToString(reader, 3), "");
    reader.Verify();
  }
}

TEST(ArchiveReader, RefusesMissingUnreadableAndCorruptFiles) {
  TScratchDir dir;
  TArchiveBuilder builder;
  builder.AddCompressed("a.txt", "\\x\\", std::string(5000, 'a'));
  builder.AddRaw("b.txt", "", "bee");
  const std::string good = builder.Build();
  WriteFile(dir / "good.rar", good);
  ASSERT_EQ(OpenError(dir / "good.rar"), "(opened)");

  EXPECT_EQ(OpenError(dir / "missing.rar"), "Archive file not found");
  EXPECT_EQ(OpenError(""), "Archive file not found");
  EXPECT_EQ(OpenError(dir.Path().string()), "Unable to open file (" + dir.Path().string() + ")");

  const std::string corrupted = "The archive file appears to be corrupted";
  std::string flipped = good;
  flipped[2] ^= 0x01;
  WriteFile(dir / "flipped.rar", flipped);
  EXPECT_EQ(OpenError(dir / "flipped.rar"), corrupted);
  std::string badTrailer = good;
  badTrailer[badTrailer.size() - 36] ^= 0x80;  // the stored checksum itself
  WriteFile(dir / "trailer.rar", badTrailer);
  EXPECT_EQ(OpenError(dir / "trailer.rar"), corrupted);
  WriteFile(dir / "cut.rar", good.substr(0, good.size() - 1));
  EXPECT_EQ(OpenError(dir / "cut.rar"), corrupted);
  WriteFile(dir / "short.rar", good.substr(0, 20));
  EXPECT_EQ(OpenError(dir / "short.rar"), corrupted);
  WriteFile(dir / "zero.rar", "");
  EXPECT_EQ(OpenError(dir / "zero.rar"), corrupted);
}

TEST(ArchiveReader, RefusesUnsoundRegistriesWhoseChecksumMatches) {
  TScratchDir dir;
  const std::string list = "Unable to read archive file list";
  TArchiveBuilder builder;
  builder.AddRaw("a.txt", "", "abc");
  int step = 0;
  const auto check = [&](const std::string& archive, const std::string& expected) {
    SCOPED_TRACE(++step);
    WriteFile(dir / "x.rar", archive);
    EXPECT_EQ(OpenError(dir / "x.rar"), expected);
  };
  // More or fewer records than the registry holds.
  check(builder.Build(true, 2), list);
  check(builder.Build(false, 2), list);
  check(builder.Build(false, 0), list);
  check(builder.Build(true, 0), list);
  check(builder.Build(true, 0x7FFFFFFF), list);
  // A registry that is no zlib stream, and one with bytes after its stream.
  const std::string record(reinterpret_cast<const char*>(&builder.Entries()[0]), 532);
  check(TArchiveBuilder::WithTrailer("abc", test::Deflate(record, 6), true, -1), list);
  check(TArchiveBuilder::WithTrailer("abc", record, false, -1), list);
  check(TArchiveBuilder::WithTrailer("abc", "not zlib at all", true, 1), list);
  check(TArchiveBuilder::WithTrailer("abc", test::Deflate(record, 6) + "x", true, 1), list);
  // A registry offset beyond the trailer (the trailer is not covered by its own checksum).
  std::string beyond = builder.Build(false);
  TArchiveTrailer trailer;
  std::memcpy(&trailer, beyond.data() + beyond.size() - 36, 36);
  trailer.RegistryOffset = 100000;
  std::memcpy(beyond.data() + beyond.size() - 36, &trailer, 36);
  check(beyond, list);
  trailer.RegistryOffset = -1;
  std::memcpy(beyond.data() + beyond.size() - 36, &trailer, 36);
  check(beyond, list);

  // Records that point outside the data area or lie about their storage.
  const auto spoiled = [&](auto spoil) {
    TArchiveBuilder b;
    b.AddRaw("keep.txt", "", "keep");
    spoil(b.AddCompressed("z.txt", "", std::string(1000, 'z')));
    return b.Build();
  };
  check(spoiled([](TArchiveEntry& e) { e.DataOffset += 1; }),
        list + ": entry 2 has data outside the member data area");
  check(spoiled([](TArchiveEntry& e) { e.StoredSize = 100000; }),
        list + ": entry 2 has data outside the member data area");
  check(spoiled([](TArchiveEntry& e) { e.DataOffset = -4; }),
        list + ": entry 2 has a negative size or offset");
  check(spoiled([](TArchiveEntry& e) { e.FileSize = -1; }),
        list + ": entry 2 has a negative size or offset");
  check(spoiled([](TArchiveEntry& e) { e.StoredRaw = 2; }),
        list + ": entry 2 has an unknown storage method");
  check(spoiled([](TArchiveEntry& e) { e.StoredRaw = 1; }),
        list + ": entry 2 has a raw member whose stored size differs from its file size");
}

TEST(ArchiveReader, MembersThatLieAboutTheirContentFail) {
  TScratchDir dir;
  const std::string bytes = test::MixedBytes(20000, 3);
  const auto verifyError = [&](auto spoil) -> std::string {
    TArchiveBuilder b;
    b.AddRaw("fine.txt", "", "fine");
    spoil(b);
    WriteFile(dir / "x.rar", b.Build());
    TArchiveReader reader(dir / "x.rar");
    EXPECT_EQ(ExtractToString(reader, 0), "fine");
    try {
      reader.Verify();
    } catch (const EArchiveError& error) {
      return error.what();
    }
    return "(verified)";
  };
  EXPECT_EQ(verifyError([&](TArchiveBuilder& b) { b.AddCompressed("c.txt", "", bytes).Crc ^= 1; }),
            "Archive member c.txt is damaged: CRC-32 " +
                Format("%08X instead of %08X", test::ZlibCrc(bytes), test::ZlibCrc(bytes) ^ 1));
  EXPECT_EQ(verifyError([&](TArchiveBuilder& b) { b.AddRaw("r.txt", "\\d\\", "raw").Crc = 0; }),
            "Archive member \\d\\r.txt is damaged: CRC-32 1AB3DB55 instead of 00000000");
  EXPECT_EQ(
      verifyError([&](TArchiveBuilder& b) { b.AddCompressed("s.txt", "", bytes).FileSize--; }),
      "Archive member s.txt is damaged: the compressed data inflates to more than 19999 bytes");
  EXPECT_EQ(
      verifyError([&](TArchiveBuilder& b) { b.AddCompressed("l.txt", "", bytes).FileSize++; }),
      "Archive member l.txt is damaged: the compressed data inflates to 20000 bytes, not 20001");
  // A bomb: megabytes of zeros claiming to be ten bytes stop after ten bytes.
  EXPECT_EQ(verifyError([&](TArchiveBuilder& b) {
              b.AddStream("bomb", "", "0123456789", test::Deflate(std::string(8 << 20, '\0'), 9));
            }),
            "Archive member bomb is damaged: the compressed data inflates to more than 10 bytes");
  std::string broken = test::Deflate(bytes, 9);
  broken[broken.size() / 2] ^= 0x55;
  EXPECT_EQ(verifyError([&](TArchiveBuilder& b) {
              b.AddStream("d.txt", "", bytes, broken);
            }).rfind("Archive member d.txt is damaged: ", 0),
            0u);
  EXPECT_EQ(verifyError([&](TArchiveBuilder& b) {
              b.AddStream("t.txt", "", "tail", test::Deflate("tail", 6) + "!!");
            }),
            "Archive member t.txt is damaged: bytes follow the end of the compressed data");
  EXPECT_EQ(verifyError([&](TArchiveBuilder& b) { b.AddStream("e.txt", "", "", ""); }),
            "Archive member e.txt is damaged: the compressed data ends early");
}

}  // namespace
}  // namespace vorlen

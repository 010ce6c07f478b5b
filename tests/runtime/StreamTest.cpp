#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "runtime/Stream.h"

using namespace vorlen;

TEST(MemoryStream, WriteSeekReadAndGrow) {
  TMemoryStream stream;
  stream.WriteBuffer("hello", 5);
  EXPECT_EQ(stream.Size(), 5);
  stream.SetPosition(7);  // writing past the end fills the gap with zeros
  stream.WriteBuffer("!", 1);
  EXPECT_EQ(stream.ToString(), std::string("hello\0\0!", 8));
  stream.Seek(-3, TSeekOrigin::skEnd);
  char buffer[8] = {};
  EXPECT_EQ(stream.Read(buffer, 8), 3);
  EXPECT_EQ(std::string(buffer, 3), std::string("\0\0!", 3));
  EXPECT_EQ(stream.Read(buffer, 8), 0);
  EXPECT_THROW(stream.ReadBuffer(buffer, 1), EStreamError);
  EXPECT_THROW(stream.Seek(-1, TSeekOrigin::skBeginning), EStreamError);
}

TEST(MemoryStream, CopyFromWholeSourceAndPart) {
  TMemoryStream source("0123456789");
  source.SetPosition(4);
  TMemoryStream whole;
  EXPECT_EQ(whole.CopyFrom(source, 0), 10);  // 0 means the whole source from its start
  EXPECT_EQ(whole.ToString(), "0123456789");
  source.SetPosition(2);
  TMemoryStream part;
  EXPECT_EQ(part.CopyFrom(source, 3), 3);
  EXPECT_EQ(part.ToString(), "234");
  EXPECT_THROW(part.CopyFrom(source, 100), EStreamError);
}

TEST(FileStream, CreateReadResizeAndErrorsNameTheFile) {
  const auto dir = std::filesystem::temp_directory_path() / "vorlen-runtime-test";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "a.bin").string();
  {
    TFileStream file(path, TFileStream::fmCreate);
    file.WriteBuffer("abcdef", 6);
    EXPECT_EQ(file.Size(), 6);
    file.SetSize(4);
    EXPECT_EQ(file.Size(), 4);
  }
  EXPECT_THROW(TFileStream(path, TFileStream::fmCreateNew), EFCreateError);
  {  // closed before the folder goes: Windows keeps a file's folder while the file is open
    TFileStream file(path, TFileStream::fmOpenRead);
    char buffer[4];
    file.Seek(1, TSeekOrigin::skBeginning);
    file.ReadBuffer(buffer, 3);
    EXPECT_EQ(std::string(buffer, 3), "bcd");
    EXPECT_THROW(file.WriteBuffer("x", 1), EStreamError);
  }
  try {
    TFileStream missing((dir / "missing.bin").string(), TFileStream::fmOpenRead);
    FAIL() << "opening a missing file succeeded";
  } catch (const EFOpenError& error) {
    EXPECT_NE(error.Message().find("missing.bin"), std::string::npos) << error.Message();
  }
  EXPECT_THROW(TFileStream(dir.string(), TFileStream::fmOpenRead), EFOpenError);
  std::filesystem::remove_all(dir);
}

TEST(Runtime, FormatAndAbort) {
  EXPECT_EQ(Format("%s (%d) - '%s'", "Not Found", 404, "http://x/"),
            "Not Found (404) - 'http://x/'");
  EXPECT_EQ(Format("%s", ""), "");
  EXPECT_STREQ(EAbort().what(), "Operation aborted");
}

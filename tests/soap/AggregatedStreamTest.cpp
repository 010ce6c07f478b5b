#include <gtest/gtest.h>

#include "runtime/Exception.h"
#include "mime/AggregatedStream.h"
#include "soap/SoapTestSupport.h"

namespace vorlen {
namespace {

using test::ReadAll;
using test::TTrackedStream;

TEST(AggregatedStream, EmptyStreamAndWritesRaiseTheirMessages) {
  TAggregatedStream stream;
  char byte = 0;
  try {
    stream.Read(&byte, 1);
    FAIL() << "read without streams succeeded";
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "TAggregateStream Error: no internal streams");
  }
  stream.AddStream(std::make_unique<TMemoryStream>(std::string("abc")));
  try {
    stream.Write("x", 1);
    FAIL() << "write succeeded";
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "method not supported");
  }
  try {
    stream.SetSize(0);
    FAIL() << "resize succeeded";
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "method not supported");
  }
  stream.SetPosition(0);
  EXPECT_EQ(ReadAll(stream), "abc");  // the failed write changed nothing
}

TEST(AggregatedStream, ReadsMembersInOrderAcrossBoundariesFromTheirStarts) {
  int deletions = 0;
  TTrackedStream referenced("0123456789", deletions);
  referenced.SetPosition(7);  // the owner's position does not matter
  {
    TAggregatedStream stream;
    stream.AddStream(std::make_unique<TMemoryStream>(std::string("<head>")));
    stream.AddStream(std::make_unique<TMemoryStream>(std::string()));
    stream.AddStream(&referenced, TStreamOwnership::owReference);
    stream.AddStream(new TTrackedStream("</tail>", deletions), TStreamOwnership::owOwned);
    EXPECT_EQ(stream.Count(), 4);
    EXPECT_EQ(stream.Size(), 23);

    for (int64_t chunk : {1, 2, 7, 23, 100}) {
      stream.SetPosition(0);
      EXPECT_EQ(ReadAll(stream, chunk), "<head>0123456789</tail>") << "chunk " << chunk;
    }
    EXPECT_EQ(stream.Seek(-9, TSeekOrigin::skEnd), 14);
    EXPECT_EQ(ReadAll(stream), "89</tail>");
    stream.SetPosition(3);
    EXPECT_EQ(stream.Seek(5, TSeekOrigin::skCurrent), 8);
    char bytes[4] = {};
    EXPECT_EQ(stream.Read(bytes, 4), 4);
    EXPECT_EQ(std::string(bytes, 4), "2345");
    stream.SetPosition(40);
    EXPECT_EQ(stream.Read(bytes, 4), 0);
    EXPECT_THROW(stream.Seek(-1, TSeekOrigin::skBeginning), EStreamError);

    // The owner changes its buffer between two reads: the next read sends the new bytes.
    referenced.SetPosition(0);
    referenced.WriteBuffer("ABCDEFGHIJKL", 12);
    stream.SetPosition(0);
    EXPECT_EQ(ReadAll(stream), "<head>ABCDEFGHIJKL</tail>");
    EXPECT_EQ(deletions, 0);
  }
  EXPECT_EQ(deletions, 1);  // the owned member only
  EXPECT_EQ(referenced.Size(), 12);
}

TEST(AggregatedStream, ClearFreesOwnedMembersAndEmptiesTheStream) {
  int deletions = 0;
  TTrackedStream referenced("ref", deletions);
  TAggregatedStream stream;
  stream.AddStream(new TTrackedStream("own", deletions), TStreamOwnership::owOwned);
  stream.AddStream(&referenced, TStreamOwnership::owReference);
  stream.Clear();
  EXPECT_EQ(deletions, 1);
  EXPECT_EQ(stream.Count(), 0);
  EXPECT_EQ(stream.Size(), 0);
  char byte = 0;
  EXPECT_THROW(stream.Read(&byte, 1), Exception);
}

}  // namespace
}  // namespace vorlen

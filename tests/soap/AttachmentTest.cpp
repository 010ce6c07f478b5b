#include <gtest/gtest.h>

#include "runtime/Exception.h"
#include "mime/AttachmentQueue.h"
#include "mime/SOAPAttachment.h"
#include "soap/SoapTestSupport.h"

namespace vorlen {
namespace {

using test::ReadAll;
using test::TScratchDir;
using test::TTrackedStream;

TEST(AttachmentFields, InitialValuesAndStreamSourceSideEffects) {
  TSOAPAttachment attachment;
  EXPECT_EQ(attachment.ContentType, "application/binary");
  EXPECT_EQ(attachment.Encoding, "binary");
  EXPECT_EQ(attachment.StreamOwnership(), TStreamOwnership::owReference);
  EXPECT_FALSE(attachment.CacheFilePersist);
  EXPECT_EQ(attachment.GetSourceStream(), nullptr);

  TMemoryStream buffer(std::string("abcdef"));
  buffer.SetPosition(4);
  attachment.ContentType = "image/png";
  attachment.CacheFile = "/nonexistent/cache";
  attachment.SetSourceFile("/nonexistent/source");
  attachment.SetSourceStream(&buffer, TStreamOwnership::owReference);
  EXPECT_EQ(attachment.ContentType, "application/binary");
  EXPECT_EQ(attachment.Encoding, "");
  EXPECT_EQ(attachment.SourceFile(), "");
  EXPECT_EQ(attachment.CacheFile, "");
  EXPECT_EQ(buffer.Position(), 0);
  EXPECT_EQ(attachment.GetSourceStream(), &buffer);

  // The same stream again: only the ownership may change, nothing is rewound or reset.
  attachment.ContentType = "text/x-kept";
  attachment.Encoding = "kept";
  buffer.SetPosition(5);
  attachment.SetSourceStream(&buffer, TStreamOwnership::owOwned);
  EXPECT_EQ(attachment.StreamOwnership(), TStreamOwnership::owOwned);
  EXPECT_EQ(attachment.ContentType, "text/x-kept");
  EXPECT_EQ(attachment.Encoding, "kept");
  EXPECT_EQ(buffer.Position(), 5);
  attachment.SetStreamOwnership(TStreamOwnership::owReference);  // buffer lives on the stack
}

TEST(AttachmentFields, ReplacingAnOwnedSourceFreesItExactlyOnce) {
  int deletions = 0;
  {
    TSOAPAttachment attachment;
    attachment.SetSourceStream(new TTrackedStream("one", deletions), TStreamOwnership::owOwned);
    attachment.SetSourceStream(new TTrackedStream("two", deletions), TStreamOwnership::owOwned);
    EXPECT_EQ(deletions, 1);
    int kept = 0;
    TTrackedStream referenced("three", kept);
    attachment.SetSourceStream(&referenced, TStreamOwnership::owReference);
    EXPECT_EQ(deletions, 2);
    attachment.SetSourceStream(nullptr, TStreamOwnership::owReference);
    EXPECT_EQ(kept, 0);
  }
  EXPECT_EQ(deletions, 2);
}

TEST(AttachmentFields, SourceFileAndSourceTextSideEffects) {
  int deletions = 0;
  TSOAPAttachment attachment;
  // A fresh attachment keeps its "binary" encoding: only empty values are filled in.
  attachment.SetSourceStream(new TTrackedStream("x", deletions), TStreamOwnership::owOwned);
  attachment.ContentType = "";
  attachment.SetSourceFile("details.txt");
  EXPECT_EQ(deletions, 1);
  EXPECT_EQ(attachment.SourceFile(), "details.txt");
  EXPECT_EQ(attachment.ContentType, "application/binary");
  EXPECT_EQ(attachment.Encoding, "8bit");

  TSOAPAttachment fresh;
  fresh.ContentType = "text/csv";
  fresh.SetSourceFile("data.csv");
  EXPECT_EQ(fresh.ContentType, "text/csv");
  EXPECT_EQ(fresh.Encoding, "binary");

  // An empty path only clears the path.
  TMemoryStream buffer(std::string("kept"));
  fresh.SetSourceStream(&buffer, TStreamOwnership::owReference);
  fresh.SetSourceFile("");
  EXPECT_EQ(fresh.GetSourceStream(), &buffer);
  EXPECT_EQ(fresh.Encoding, "");

  TSOAPAttachment text;
  text.CacheFile = "/nonexistent/cache";
  text.SetSourceFile("/nonexistent/file");
  text.SetSourceString("\xD0\x97\xD0\xB4\xD1\x80\xD0\xB0\xD0\xB2\xD0\xB5\xD0\xB9");  // "Здравей"
  EXPECT_EQ(text.ContentType, "text/plain; charset=\"utf-8\"");
  EXPECT_EQ(text.SourceFile(), "");
  EXPECT_EQ(text.CacheFile, "");
  TStream* stream = text.GetSourceStream();
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Position(), 0);
  EXPECT_EQ(ReadAll(*stream), "\xD0\x97\xD0\xB4\xD1\x80\xD0\xB0\xD0\xB2\xD0\xB5\xD0\xB9");
  EXPECT_EQ(text.StreamOwnership(), TStreamOwnership::owOwned);
}

TEST(AttachmentFields, FileSourcesOpenLazilyAndCacheFilesFollowPersistence) {
  TScratchDir dir;
  dir.Write("source.bin", "SOURCE");
  dir.Write("cache.bin", "CACHE");
  dir.Write("kept.bin", "KEPT");
  {
    TSOAPAttachment attachment;
    attachment.SetSourceFile(dir.File("source.bin"));
    TStream* stream = attachment.GetSourceStream();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ReadAll(*stream), "SOURCE");
    EXPECT_EQ(attachment.GetSourceStream(), stream);  // opened once, then kept

    attachment.ReleaseSourceStream();
    attachment.CacheFile = dir.File("cache.bin");  // preferred over the source file
    EXPECT_EQ(ReadAll(*attachment.GetSourceStream()), "CACHE");
  }
  EXPECT_FALSE(dir.Exists("cache.bin"));
  EXPECT_TRUE(dir.Exists("source.bin"));
  {
    TSOAPAttachment attachment;
    attachment.CacheFile = dir.File("kept.bin");
    attachment.CacheFilePersist = true;
  }
  EXPECT_EQ(dir.Read("kept.bin"), "KEPT");

  TSOAPAttachment missing;
  missing.SetSourceFile(dir.File("absent.bin"));
  EXPECT_THROW(missing.GetSourceStream(), EFOpenError);
  EXPECT_EQ(missing.SourceFile(), dir.File("absent.bin"));
}

TEST(AttachmentQueue, CopyCarriesIdHeaderTypeAndEncoding) {
  TMemoryStream buffer(std::string("part"));
  TSOAPAttachment attachment;
  attachment.SetSourceStream(&buffer, TStreamOwnership::owReference);
  attachment.ContentType = "image/png";
  attachment.Encoding = "base64";
  attachment.Headers.push_back("X-Extra: not copied");

  TSoapDataList list;
  AddAttachment(list, attachment, "0A1B2C3D-0000-4000-8000-00000000000F");
  ASSERT_EQ(list.size(), 1u);
  const TSOAPAttachmentData& copy = *list[0];
  EXPECT_EQ(copy.ContentId, "0A1B2C3D-0000-4000-8000-00000000000F");
  ASSERT_EQ(copy.Headers.size(), 1u);
  EXPECT_EQ(copy.Headers[0], "Content-ID: <0A1B2C3D-0000-4000-8000-00000000000F>");
  EXPECT_EQ(copy.ContentType, "image/png");
  EXPECT_EQ(copy.Encoding, "base64");
  EXPECT_EQ(list[0]->GetSourceStream(), &buffer);
  EXPECT_EQ(list[0]->StreamOwnership(), TStreamOwnership::owReference);
  // The attachment still supplies the same buffer for the next call.
  EXPECT_EQ(attachment.GetSourceStream(), &buffer);

  // A second queued attachment goes after the first.
  TSOAPAttachment second;
  second.SetSourceString("text");
  AddAttachment(list, second, "id-2");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1]->ContentId, "id-2");
  EXPECT_EQ(list[1]->ContentType, "text/plain; charset=\"utf-8\"");
}

TEST(AttachmentQueue, CacheFileIsSharedNeverDeletedByTheCopy) {
  TScratchDir dir;
  dir.Write("received.bin", "RECEIVED");
  TSOAPAttachment attachment;
  attachment.CacheFile = dir.File("received.bin");
  {
    TSoapDataList list;
    AddAttachment(list, attachment, "c");
    EXPECT_EQ(list[0]->CacheFile, dir.File("received.bin"));
    EXPECT_TRUE(list[0]->CacheFilePersist);
  }
  EXPECT_EQ(dir.Read("received.bin"), "RECEIVED");
  EXPECT_EQ(ReadAll(*attachment.GetSourceStream()), "RECEIVED");
}

TEST(AttachmentQueue, CallerOwnedStreamSurvivesTheCallForTheNextOne) {
  int deletions = 0;
  {
    TSOAPAttachment attachment;
    attachment.SetSourceStream(new TTrackedStream("owned", deletions), TStreamOwnership::owOwned);
    for (int call = 0; call < 2; ++call) {
      TSoapDataList list;
      AddAttachment(list, attachment, "id");
      ASSERT_NE(list[0]->GetSourceStream(), nullptr);
      EXPECT_EQ(ReadAll(*list[0]->GetSourceStream()), "owned");
    }
    EXPECT_EQ(deletions, 0);
  }
  EXPECT_EQ(deletions, 1);
}

TEST(AttachmentQueue, MissingSourceFileFailsBeforeAnythingIsQueued) {
  TScratchDir dir;
  TSOAPAttachment attachment;
  attachment.SetSourceFile(dir.File("gone.txt"));
  TSoapDataList list;
  EXPECT_THROW(AddAttachment(list, attachment, "id"), EFOpenError);
  EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace vorlen

#include <gtest/gtest.h>

#include "runtime/Exception.h"
#include "mime/AttachmentQueue.h"
#include "mime/MimeAttachmentHandler.h"
#include "soap/SoapTestSupport.h"

namespace vorlen {
namespace {

using test::ReadAll;
using test::TScratchDir;
using test::TTrackedStream;

const char* const kContentTypeLine = "Content-Type: text/xml; charset=\"utf-8\"";
const char* const kActionLine =
    "SOAPAction: \"urn:SenderServiceIntf-ISenderService#UploadFilePart\"";

#ifdef __linux__
size_t OpenFileCount() {
  const auto fds = std::filesystem::directory_iterator("/proc/self/fd");
  return static_cast<size_t>(std::distance(std::filesystem::begin(fds), std::filesystem::end(fds)));
}
#endif

// Pieces 1 to 10 of a body whose envelope is "<E/>", with the transport's two header lines.
const std::string kRootPartOfE =
    "\r\n"
    "--MIME_boundaryB0R9532143182121\r\n"
    "Content-Type: text/xml; charset=\"utf-8\"\r\n"
    "SOAPAction: \"urn:SenderServiceIntf-ISenderService#UploadFilePart\"\r\n"
    "Content-ID: <http://tempuri.org/rootpart.xml>\r\n"
    "Content-Location: http://tempuri.org/rootpart.xml\r\n"
    "Content-Length: 4\r\n"
    "\r\n"
    "<E/>"
    "\r\n";

// The same without transport lines: only the three root-part lines of the handler.
const std::string kBareRootPartOfE =
    "\r\n"
    "--MIME_boundaryB0R9532143182121\r\n"
    "Content-ID: <http://tempuri.org/rootpart.xml>\r\n"
    "Content-Location: http://tempuri.org/rootpart.xml\r\n"
    "Content-Length: 4\r\n"
    "\r\n"
    "<E/>"
    "\r\n";

// The body of one call as the proxy and the transport drive the handler.
std::string BuildBody(TMimeAttachmentHandler& handler, const std::string& envelope,
                      TSoapDataList& list) {
  TMemoryStream envelopeStream(envelope);
  envelopeStream.SetPosition(envelope.size() / 2);  // copied from its start regardless
  handler.CreateMimeStream(envelopeStream, list);
  handler.AddSoapHeader(kContentTypeLine);
  handler.AddSoapHeader(kActionLine);
  handler.FinalizeStream();
  return ReadAll(handler.GetMIMEStream());
}

TEST(MimeBody, UploadFilePartWithAThreeBytePartByteForByte) {
  TMemoryStream partBuffer(std::string("\x00\xFFz", 3));
  TSOAPAttachment attachment;
  attachment.SetSourceStream(&partBuffer, TStreamOwnership::owReference);
  TSoapDataList list;
  AddAttachment(list, attachment, "9F0C1E2A-7B3D-4C5E-8F60-112233445566");

  TMimeAttachmentHandler handler;
  EXPECT_EQ(handler.MIMEBoundary(), "");
  const std::string body = BuildBody(handler, "<Envelope/>", list);
  EXPECT_EQ(handler.MIMEBoundary(), "MIME_boundaryB0R9532143182121");
  static const char kExpected[] =
      "\r\n"
      "--MIME_boundaryB0R9532143182121\r\n"
      "Content-Type: text/xml; charset=\"utf-8\"\r\n"
      "SOAPAction: \"urn:SenderServiceIntf-ISenderService#UploadFilePart\"\r\n"
      "Content-ID: <http://tempuri.org/rootpart.xml>\r\n"
      "Content-Location: http://tempuri.org/rootpart.xml\r\n"
      "Content-Length: 11\r\n"
      "\r\n"
      "<Envelope/>"
      "\r\n"
      "\r\n--MIME_boundaryB0R9532143182121\r\n"
      "Content-ID: <9F0C1E2A-7B3D-4C5E-8F60-112233445566>\r\n"
      "Content-Length: 3\r\n"
      "Content-Type: application/binary\r\n"
      "\r\n"
      "\x00\xFFz"
      "\r\n--MIME_boundaryB0R9532143182121--";
  const std::string expected(kExpected, sizeof kExpected - 1);  // the part holds a zero byte
  EXPECT_EQ(body, expected);
  EXPECT_EQ(handler.GetMIMEStream().Size(), static_cast<int64_t>(expected.size()));

  // Someone reads the buffer meanwhile; the body still starts the part at its first byte.
  partBuffer.SetPosition(3);
  EXPECT_EQ(ReadAll(handler.GetMIMEStream(), 5), expected);
}

TEST(MimeBody, EmptyPartAndNullFilePart) {
  TMemoryStream partBuffer;
  TSOAPAttachment attachment;
  attachment.SetSourceStream(&partBuffer, TStreamOwnership::owReference);
  TSoapDataList list;
  AddAttachment(list, attachment, "00000000-0000-4000-8000-000000000000");
  TMimeAttachmentHandler handler;
  EXPECT_EQ(BuildBody(handler, "<E/>", list),
            kRootPartOfE +
                "\r\n--MIME_boundaryB0R9532143182121\r\n"
                "Content-ID: <00000000-0000-4000-8000-000000000000>\r\n"
                "Content-Length: 0\r\n"
                "Content-Type: application/binary\r\n"
                "\r\n"
                "\r\n--MIME_boundaryB0R9532143182121--");

  TSoapDataList none;
  TMimeAttachmentHandler nullHandler;
  EXPECT_EQ(BuildBody(nullHandler, "<E/>", none),
            kRootPartOfE + "\r\n--MIME_boundaryB0R9532143182121--");
  EXPECT_EQ(nullHandler.MIMEBoundary(), "MIME_boundaryB0R9532143182121");
}

TEST(MimeBody, DetailsFileCarriesTheEightBitLineAndIsReopenedForTheNextCall) {
  TScratchDir dir;
  dir.Write("sendDetails.txt", "ACME Ltd\r\n");
  TMemoryStream partBuffer(std::string("p"));
  TSOAPAttachment attachment;
  // As the upload does: parts first (empties Encoding), then the details file.
  attachment.SetSourceStream(&partBuffer, TStreamOwnership::owReference);
  attachment.SetSourceFile(dir.File("sendDetails.txt"));
#ifdef __linux__
  const size_t filesBefore = OpenFileCount();
#endif

  const std::string head = kRootPartOfE + "\r\n--MIME_boundaryB0R9532143182121\r\n";
  {
    TSoapDataList list;
    AddAttachment(list, attachment, "D1");
    TMimeAttachmentHandler handler;
    EXPECT_EQ(BuildBody(handler, "<E/>", list), head +
                                                    "Content-ID: <D1>\r\n"
                                                    "Content-Length: 10\r\n"
                                                    "Content-Type: application/binary\r\n"
                                                    "Content-transfer-encoding: 8bit\r\n"
                                                    "\r\n"
                                                    "ACME Ltd\r\n"
                                                    "\r\n--MIME_boundaryB0R9532143182121--");
    list.clear();  // the proxy clears the list after the send, then drops the handler
  }
  // The file stream of the first call is gone with it; the next call opens the file again and
  // sends what it holds now (a new file under the old name, so an old handle would show).
  dir.Write("sendDetails.new", "Other Org\r\n");
  std::filesystem::rename(dir.File("sendDetails.new"), dir.File("sendDetails.txt"));
#ifdef __linux__
  EXPECT_EQ(OpenFileCount(), filesBefore);
#endif
  {
    TSoapDataList list;
    AddAttachment(list, attachment, "D2");
    TMimeAttachmentHandler handler;
    EXPECT_EQ(BuildBody(handler, "<E/>", list), head +
                                                    "Content-ID: <D2>\r\n"
                                                    "Content-Length: 11\r\n"
                                                    "Content-Type: application/binary\r\n"
                                                    "Content-transfer-encoding: 8bit\r\n"
                                                    "\r\n"
                                                    "Other Org\r\n"
                                                    "\r\n--MIME_boundaryB0R9532143182121--");
  }
}

TEST(MimeBody, RetryOfTheSamePartSendsIdenticalBytesUnderANewId) {
  TMemoryStream partBuffer(std::string("PART-BYTES"));
  TSOAPAttachment attachment;
  const auto bodyFor = [&](const std::string& id) {
    attachment.SetSourceStream(&partBuffer, TStreamOwnership::owReference);
    TSoapDataList list;
    AddAttachment(list, attachment, id);
    TMimeAttachmentHandler handler;
    std::string body = BuildBody(handler, "<E/>", list);
    partBuffer.SetPosition(partBuffer.Size());  // as a consumed buffer would be left
    return body;
  };
  const std::string tail(
      "Content-Length: 10\r\n"
      "Content-Type: application/binary\r\n"
      "\r\n"
      "PART-BYTES"
      "\r\n--MIME_boundaryB0R9532143182121--");
  const std::string first = bodyFor("AAAAAAAA-0000-4000-8000-000000000001");
  const std::string second = bodyFor("AAAAAAAA-0000-4000-8000-000000000002");
  EXPECT_NE(first.find("Content-ID: <AAAAAAAA-0000-4000-8000-000000000001>\r\n" + tail),
            std::string::npos);
  EXPECT_NE(second.find("Content-ID: <AAAAAAAA-0000-4000-8000-000000000002>\r\n" + tail),
            std::string::npos);
  EXPECT_EQ(first.size(), second.size());
}

TEST(MimeBody, SeveralPartsOwnershipAndSendNotification) {
  TScratchDir dir;
  dir.Write("cache.bin", "CACHED");
  int deletions = 0;
  TTrackedStream referenced("REF", deletions);
  TSOAPAttachment fromText;
  fromText.SetSourceString("txt");
  fromText.ContentType = "";
  fromText.Encoding = "quoted-printable";
  TSOAPAttachment fromCache;
  fromCache.CacheFile = dir.File("cache.bin");
  fromCache.CacheFilePersist = true;
  TSOAPAttachment fromBuffer;
  fromBuffer.SetSourceStream(&referenced, TStreamOwnership::owReference);

  TSoapDataList list;
  AddAttachment(list, fromText, "t");
  AddAttachment(list, fromCache, "c");
  AddAttachment(list, fromBuffer, "r");
  std::vector<std::string> seen;
  {
    TMimeAttachmentHandler handler;
    handler.OnSendAttachment = [&](TStream& stream, TSOAPAttachmentData& data) {
      seen.push_back(data.ContentId + "=" + std::to_string(stream.Size()));
    };
    TMemoryStream envelope(std::string("<E/>"));
    handler.CreateMimeStream(envelope, list);
    handler.FinalizeStream();  // no transport lines: only the three of the handler
    EXPECT_EQ(ReadAll(handler.GetMIMEStream()),
              kBareRootPartOfE +
                  "\r\n--MIME_boundaryB0R9532143182121\r\n"
                  "Content-ID: <t>\r\n"
                  "Content-Length: 3\r\n"
                  "Content-Type: application/binary\r\n"
                  "Content-transfer-encoding: quoted-printable\r\n"
                  "\r\n"
                  "txt"
                  "\r\n"
                  "\r\n--MIME_boundaryB0R9532143182121\r\n"
                  "Content-ID: <c>\r\n"
                  "Content-Length: 6\r\n"
                  "Content-Type: application/binary\r\n"
                  "Content-transfer-encoding: binary\r\n"  // a fresh attachment's encoding
                  "\r\n"
                  "CACHED"
                  "\r\n"
                  "\r\n--MIME_boundaryB0R9532143182121\r\n"
                  "Content-ID: <r>\r\n"
                  "Content-Length: 3\r\n"
                  "Content-Type: application/binary\r\n"
                  "\r\n"
                  "REF"
                  "\r\n--MIME_boundaryB0R9532143182121--");
    for (const auto& copy : list) EXPECT_EQ(copy->StreamOwnership(), TStreamOwnership::owReference);
    list.clear();
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"t=3", "c=6", "r=3"}));
  EXPECT_EQ(deletions, 0);  // the upload's buffer stays with its owner
  EXPECT_EQ(dir.Read("cache.bin"), "CACHED");
  // The text attachment can be sent again: its stream was rebuilt, not reused.
  TSoapDataList again;
  AddAttachment(again, fromText, "t2");
  TMimeAttachmentHandler handler;
  TMemoryStream envelope(std::string("<E/>"));
  handler.CreateMimeStream(envelope, again);
  handler.FinalizeStream();
  EXPECT_NE(
      ReadAll(handler.GetMIMEStream()).find("\r\n\r\ntxt\r\n--MIME_boundaryB0R9532143182121--"),
      std::string::npos);
}

TEST(MimeBody, BuildingTwiceFromOneListSendsTheSameBytes) {
  TScratchDir dir;
  dir.Write("part.bin", "FILE-PART");
  TSOAPAttachment fromFile;
  fromFile.SetSourceFile(dir.File("part.bin"));
  TSOAPAttachment fromText;
  fromText.SetSourceString("TEXT-PART");
  TSoapDataList list;
  AddAttachment(list, fromFile, "f");
  AddAttachment(list, fromText, "t");
  TMimeAttachmentHandler handler;
  TMemoryStream envelope(std::string("<E/>"));
  handler.CreateMimeStream(envelope, list);
  handler.FinalizeStream();
  const std::string first = ReadAll(handler.GetMIMEStream());
  // The first section took the file and text streams over; they must outlive a rebuild.
  handler.CreateMimeStream(envelope, list);
  handler.FinalizeStream();
  EXPECT_EQ(ReadAll(handler.GetMIMEStream()), first);
  EXPECT_NE(first.find("\r\n\r\nFILE-PART\r\n"), std::string::npos);
  EXPECT_NE(first.find("\r\n\r\nTEXT-PART\r\n--MIME_boundaryB0R9532143182121--"),
            std::string::npos);
}

TEST(MimeBody, FailedBuildKeepsTheStreamsTheCopiesStillReferTo) {
  int deletions = 0;
  TSoapDataList list;
  auto copy = std::make_unique<TSOAPAttachmentData>();
  copy->SetSourceStream(new TTrackedStream("OWNED", deletions), TStreamOwnership::owOwned);
  copy->Headers.push_back("Content-ID: <o>");
  list.push_back(std::move(copy));
  TMemoryStream envelope(std::string("<E/>"));
  {
    TMimeAttachmentHandler handler;
    handler.OnSendAttachment = [](TStream&, TSOAPAttachmentData&) {
      throw Exception("refused by the notification");
    };
    EXPECT_THROW(handler.CreateMimeStream(envelope, list), Exception);
    // The copy now only refers to the stream; freeing it here would leave the copy dangling.
    ASSERT_EQ(deletions, 0);
    ASSERT_EQ(list[0]->StreamOwnership(), TStreamOwnership::owReference);

    handler.OnSendAttachment = nullptr;
    handler.CreateMimeStream(envelope, list);
    handler.FinalizeStream();
    EXPECT_EQ(ReadAll(handler.GetMIMEStream()), kBareRootPartOfE +
                                                     "\r\n--MIME_boundaryB0R9532143182121\r\n"
                                                     "Content-ID: <o>\r\n"
                                                     "Content-Length: 5\r\n"
                                                     "Content-Type: application/binary\r\n"
                                                     "\r\n"
                                                     "OWNED"
                                                     "\r\n--MIME_boundaryB0R9532143182121--");
    EXPECT_EQ(deletions, 0);
  }
  EXPECT_EQ(deletions, 1);  // freed once, with the handler
  list.clear();
  EXPECT_EQ(deletions, 1);
}

TEST(MimeBody, LineBreaksInHeaderTextsAreRefused) {
  TMemoryStream envelope(std::string("<E/>"));
  TMemoryStream buffer(std::string("p"));
  TSOAPAttachment attachment;
  attachment.SetSourceStream(&buffer, TStreamOwnership::owReference);
  attachment.ContentType = "a/b\r\nX-Injected: 1";
  TSoapDataList list;
  AddAttachment(list, attachment, "id");
  TMimeAttachmentHandler handler;
  try {
    handler.CreateMimeStream(envelope, list);
    FAIL() << "a content type with a line break was accepted";
  } catch (const Exception& error) {
    EXPECT_STREQ(error.what(), "Line break in MIME header text \"a/b\r\nX-Injected: 1\"");
  }
  EXPECT_THROW(handler.AddSoapHeader("SOAPAction: \"a\nb\""), Exception);
  EXPECT_EQ(buffer.ToString(), "p");
}

TEST(MimeBody, MissingCacheFileFailsWhileBuilding) {
  TScratchDir dir;
  TSoapDataList list;
  auto copy = std::make_unique<TSOAPAttachmentData>();
  copy->CacheFile = dir.File("vanished.bin");
  copy->CacheFilePersist = true;
  list.push_back(std::move(copy));
  TMimeAttachmentHandler handler;
  TMemoryStream envelope(std::string("<E/>"));
  EXPECT_THROW(handler.CreateMimeStream(envelope, list), EFOpenError);
}

}  // namespace
}  // namespace vorlen

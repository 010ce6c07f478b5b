#include <gtest/gtest.h>

#include <random>

#include "runtime/Exception.h"
#include "mime/AttachmentQueue.h"
#include "mime/MimeAttachmentHandler.h"
#include "soap/SoapTestSupport.h"

namespace vorlen {
namespace {

using test::ReadFile;
using test::ReadAll;
using test::TScratchDir;

// What the split produced, or the message it raised.
struct TSplit {
  std::string Root;
  std::string Error;
};

TSplit Split(const std::string& message, const std::string& contentType, TSoapDataList& received,
             const std::string& tempDir) {
  TMemoryStream source(message);
  TMemoryStream root;
  TSplit result;
  try {
    TMimeAttachmentHandler().ProcessMultiPartForm(source, root, contentType, received, tempDir);
  } catch (const Exception& error) {
    result.Error = error.what();
  }
  result.Root = root.ToString();
  return result;
}

TEST(MimeSplit, ClientRequestSplitsIntoRootAndCachedAttachment) {
  TScratchDir dir;
  TSoapDataList received;
  const TSplit split = Split(
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
      "Content-Length: 8\r\n"
      "Content-Type: application/binary\r\n"
      "Content-transfer-encoding: 8bit\r\n"
      "\r\n"
      "a\r\n--b\rc"
      "\r\n--MIME_boundaryB0R9532143182121--",
      "multipart/related; boundary=MIME_boundaryB0R9532143182121", received, dir.Path().string());
  EXPECT_EQ(split.Error, "");
  EXPECT_EQ(split.Root, "<Envelope/>");
  ASSERT_EQ(received.size(), 1u);
  const TSOAPAttachmentData& part = *received[0];
  EXPECT_EQ(part.ContentId, "9F0C1E2A-7B3D-4C5E-8F60-112233445566");
  EXPECT_EQ(part.ContentType, "application/binary");
  EXPECT_EQ(part.Encoding, "8bit");
  EXPECT_EQ(part.Headers, (std::vector<std::string>{
                              "Content-ID: <9F0C1E2A-7B3D-4C5E-8F60-112233445566>",
                              "Content-Length: 8",
                              "Content-Type: application/binary",
                              "Content-transfer-encoding: 8bit",
                          }));
  EXPECT_EQ(part.CacheFile, dir.File("SenderSoapAttachment0"));
  EXPECT_EQ(ReadFile(part.CacheFile), "a\r\n--b\rc");
  // The entry removes its cache file unless the receiver keeps it.
  received.clear();
  EXPECT_TRUE(dir.Names().empty());
}

TEST(MimeSplit, ReadsBackWhatTheHandlerBuilds) {
  TScratchDir dir;
  // Part bytes that look like a closing delimiter: only the Content-Length tells where they end.
  const std::string partBytes("\r\n--MIME_boundaryB0R9532143182121--\r\n\x00tail", 42);
  TMemoryStream buffer(partBytes);
  TSOAPAttachment attachment;
  attachment.SetSourceStream(&buffer, TStreamOwnership::owReference);
  TSoapDataList queued;
  AddAttachment(queued, attachment, "ROUND-TRIP");
  TMimeAttachmentHandler builder;
  TMemoryStream envelope(std::string("<Envelope>\r\n</Envelope>"));
  builder.CreateMimeStream(envelope, queued);
  builder.AddSoapHeader("Content-Type: text/xml; charset=\"utf-8\"");
  builder.FinalizeStream();

  TSoapDataList received;
  TMemoryStream root;
  TMimeAttachmentHandler().ProcessMultiPartForm(
      builder.GetMIMEStream(), root, "multipart/related; boundary=" + builder.MIMEBoundary(),
      received, dir.Path().string());
  EXPECT_EQ(root.ToString(), "<Envelope>\r\n</Envelope>");
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0]->ContentId, "ROUND-TRIP");
  EXPECT_EQ(received[0]->ContentType, "application/binary");
  EXPECT_EQ(received[0]->Encoding, "");
  EXPECT_EQ(ReadFile(received[0]->CacheFile), partBytes);
}

TEST(MimeSplit, PartsWithoutContentLengthEndBeforeTheDelimitersLineEnd) {
  TScratchDir dir;
  TSoapDataList received;
  const std::string longLine(25000, 'x');  // read in several bounded pieces
  const TSplit split = Split(
      "preamble text\r\n"
      "--Outer\r\n"
      "content-type: text/xml\r\n"
      "\r\n"
      "<root>\r\n"
      "</root>\r\n"
      "--outer\r\n"  // delimiters match in any case
      "Content-Location: urn:second\r\n"
      "Content-Type:text/plain\r\n"
      "\r\n" +
          longLine + "\r\n\r\n" +
          "--Outer--\r\n"
          "epilogue\r\n",
      "Multipart/Related; type=\"text/xml\"; boundary=\"Outer\"; start=\"<x>\"", received,
      dir.Path().string());
  EXPECT_EQ(split.Error, "");
  EXPECT_EQ(split.Root, "<root>\r\n</root>");
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0]->ContentId, "urn:second");
  EXPECT_EQ(received[0]->ContentType, "text/plain");
  EXPECT_EQ(received[0]->Encoding, "");
  EXPECT_EQ(ReadFile(received[0]->CacheFile), longLine + "\r\n");
}

TEST(MimeSplit, CacheFilesTakeTheFirstFreeNumbers) {
  TScratchDir dir;
  dir.Write("SenderSoapAttachment0", "old0");
  dir.Write("SenderSoapAttachment1", "old1");
  dir.Write("SenderSoapAttachment3", "old3");
  TSoapDataList received;
  const TSplit split = Split(
      "--B\r\n"
      "Content-Length: 1\r\n"
      "\r\n"
      "R\r\n"
      "--B\r\n"
      "Content-ID: first\r\n"
      "Content-Length: 2\r\n"
      "\r\n"
      "P1\r\n"
      "--B\r\n"
      "Content-ID: <second>\r\n"
      "Content-Length: 2\r\n"
      "\r\n"
      "P2\r\n"
      "--B--",
      "B", received, dir.Path().string());
  EXPECT_EQ(split.Error, "");
  EXPECT_EQ(split.Root, "R");
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0]->ContentId, "first");
  EXPECT_EQ(received[0]->CacheFile, dir.File("SenderSoapAttachment2"));
  EXPECT_EQ(received[1]->ContentId, "second");
  EXPECT_EQ(received[1]->CacheFile, dir.File("SenderSoapAttachment4"));
  EXPECT_EQ(ReadFile(received[1]->CacheFile), "P2");
  EXPECT_EQ(dir.Read("SenderSoapAttachment1"), "old1");
  EXPECT_EQ(dir.Read("SenderSoapAttachment3"), "old3");
}

TEST(MimeSplit, ShortOrMalformedInputRaisesAndLeavesNoFiles) {
  TScratchDir dir;
  TSoapDataList received;
  received.push_back(std::make_unique<TSOAPAttachmentData>());  // earlier content stays
  const std::string head =
      "--B\r\n"
      "Content-Length: 1\r\n"
      "\r\n"
      "R\r\n"
      "--B\r\n";
  struct TCase {
    std::string Message;
    std::string Error;
  };
  const TCase cases[] = {
      {head + "Content-Length: 10\r\n\r\nonly six", "Insufficient data for Content-Length"},
      {head + "Content-Length: 12x\r\n\r\nabc", "Invalid Content-Length \"12x\" in MIME part"},
      {head + "Content-Length: -1\r\n\r\nabc", "Invalid Content-Length \"-1\" in MIME part"},
      {head + "Content-Length: 99999999999999999999\r\n\r\n",
       "Invalid Content-Length \"99999999999999999999\" in MIME part"},
      {head + "Content-Length: 2\r\n\r\nabcdef\r\n--B--",
       "MIME part longer than its Content-Length"},
      {head + "Content-Type: text/plain\r\n\r\nno delimiter follows\r\n",
       "Error reading from Mime Request Stream"},
      {head + "Content-Type: text/plain\r\n", "Error reading from Mime Request Stream"},
      {head + "Content-Type: " + std::string(1100, 't') + "\r\n\r\n",
       "MIME header line longer than 1024 bytes"},
      // Cut off inside a header line: the stream ended, the line is not too long.
      {head + "Content-Ty", "Error reading from Mime Request Stream"},
      {"--B\r\nContent-Length: 1\r\nContent-Type: text/x",
       "Error reading from Mime Request Stream"},
      {head + "no colon here\r\n\r\nx\r\n--B--", "Malformed MIME header line: no field name"},
      {"no delimiter anywhere\r\n", "Error reading from Mime Request Stream"},
      {"", "Error reading from Mime Request Stream"},
      {"--B\r\nContent-Type: text/xml\r\n\r\n<never ends>",
       "Error reading from Mime Request Stream"},
  };
  for (const TCase& c : cases) {
    const TSplit split = Split(c.Message, "B", received, dir.Path().string());
    EXPECT_EQ(split.Error, c.Error) << c.Message.substr(0, 80);
    EXPECT_TRUE(dir.Names().empty()) << c.Message.substr(0, 80);
  }
  EXPECT_EQ(received.size(), 1u);

  std::string many = "--B\r\n";
  for (int i = 0; i < 300; ++i) many += "X-H: v\r\n";
  EXPECT_EQ(Split(many, "B", received, dir.Path().string()).Error,
            "More than 256 header lines in a MIME part");

  // A directory that cannot take the cache file.
  EXPECT_EQ(
      Split(head + "Content-Length: 1\r\n\r\nP\r\n--B--", "B", received, dir.File("missing/dir"))
          .Error,
      "No access to temporary file");
  EXPECT_EQ(received.size(), 1u);
}

TEST(MimeSplit, AttachmentCountIsBounded) {
  // A few bytes per part would otherwise make a cache file each: an 8 MiB body, half a million.
  TScratchDir dir;
  const auto message = [](int attachments) {
    std::string text = "--B\r\nContent-Length: 1\r\n\r\nR\r\n";
    for (int i = 0; i < attachments; ++i) text += "--B\r\nContent-Length: 1\r\n\r\nP\r\n";
    return text + "--B--";
  };
  TSoapDataList received;
  TSplit split = Split(message(100), "B", received, dir.Path().string());
  EXPECT_EQ(split.Error, "");
  EXPECT_EQ(received.size(), 100u);
  received.clear();

  split = Split(message(101), "B", received, dir.Path().string());
  EXPECT_EQ(split.Error, "More than 100 attachments in a MIME message");
  EXPECT_EQ(received.size(), 100u);
  received.clear();
  EXPECT_TRUE(dir.Names().empty());
}

TEST(MimeSplit, EdgesOfTheMessageStructure) {
  TScratchDir dir;
  TSoapDataList received;
  // No boundary: nothing is split, nothing read.
  EXPECT_EQ(Split("--B\r\nContent-Length: 1\r\n\r\nR\r\n--B--", "multipart/related; type=text/xml",
                  received, dir.Path().string())
                .Root,
            "");
  EXPECT_EQ(
      Split("--B\r\nContent-Length: 1\r\n\r\nR\r\n--B--", "", received, dir.Path().string()).Root,
      "");
  // A close delimiter first, a part without headers, and a stream that ends after the content.
  TSplit split = Split("--B--\r\nContent-Length: 1\r\n\r\nR", "B", received, dir.Path().string());
  EXPECT_EQ(split.Error, "");
  EXPECT_EQ(split.Root, "");
  split = Split("--B\r\n\r\nheaderless\r\n--B--", "B", received, dir.Path().string());
  EXPECT_EQ(split.Error, "");
  EXPECT_EQ(split.Root, "");
  split = Split("--B\r\nContent-Length: 4\r\n\r\nROOT", "B", received, dir.Path().string());
  EXPECT_EQ(split.Error, "");
  EXPECT_EQ(split.Root, "ROOT");
  // The boundary alone, without dashes, also counts as a delimiter line; LF-only line ends too.
  split = Split("B\nContent-Type: a/b\n\nline\n--B--\n", "B", received, dir.Path().string());
  EXPECT_EQ(split.Error, "");
  EXPECT_EQ(split.Root, "line");
  EXPECT_TRUE(received.empty());
}

TEST(MimeSplit, RandomGarbageEndsWithAResultOrAClearError) {
  TScratchDir dir;
  std::mt19937 random(20261207);
  const std::string pieces[] = {
      "--B", "--B--", "\r\n", "\n", "Content-Length: ", "Content-ID: <x>",   "7", "0",
      "abc", ":",     "\r",   "B",  "\r\n\r\n",         std::string(1, '\0')};
  int errors = 0;
  int successes = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string message;
    const int count = static_cast<int>(random() % 40);
    for (int i = 0; i < count; ++i) {
      if (random() % 4 == 0)
        message += static_cast<char>(random() % 256);
      else
        message += pieces[random() % std::size(pieces)];
    }
    TSoapDataList received;
    TMemoryStream source(message);
    TMemoryStream root;
    try {
      TMimeAttachmentHandler().ProcessMultiPartForm(source, root, "B", received,
                                                    dir.Path().string());
      ++successes;
    } catch (const Exception& error) {
      ASSERT_NE(std::string(error.what()), "") << message;
      ++errors;
    }
    for (const auto& part : received) ASSERT_TRUE(std::filesystem::exists(part->CacheFile));
    received.clear();
    ASSERT_TRUE(dir.Names().empty()) << message;
  }
  // The generator reaches both outcomes; otherwise the loop proves little.
  EXPECT_GT(errors, 100);
  EXPECT_GT(successes, 100);
}

}  // namespace
}  // namespace vorlen

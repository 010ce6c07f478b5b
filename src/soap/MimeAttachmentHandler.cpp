#include "soap/MimeAttachmentHandler.h"

#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "soap/MimeSplit.h"

namespace vorlen {

const char* const kRootPartId = "http://tempuri.org/rootpart.xml";
const char* const kMimeBoundary = "MIME_boundaryB0R9532143182121";

namespace {
const char* const kCrLf = "\r\n";

// A line break inside a header value would end the header block early and let the value write
// headers or content of its own.
void CheckHeaderText(const std::string& text) {
  if (text.find_first_of("\r\n") != std::string::npos)
    throw Exception(Format("Line break in MIME header text \"%s\"", text.c_str()));
}
}  // namespace

TMimeAttachmentHandler::TMimeAttachmentHandler()
    : FSection(std::make_unique<TAggregatedStream>()) {}

// The body refers to the section, so it has to go first.
TMimeAttachmentHandler::~TMimeAttachmentHandler() {
  FBody.Clear();
  FSection.reset();
  FPartStreams.clear();
}

void TMimeAttachmentHandler::CreateMimeStream(TStream& envelope, TSoapDataList& attachments) {
  FBody.Clear();
  FSection->Clear();
  FEnvelope.Clear();
  FEnvelope.CopyFrom(envelope, 0);

  const std::string delimiter = std::string("--") + kMimeBoundary;
  // Text between part streams collects here and goes into the section as one small stream.
  std::string text;
  auto flushText = [&] {
    if (text.empty()) return;
    FSection->AddStream(std::make_unique<TMemoryStream>(text));
    text.clear();
  };

  if (attachments.empty()) {
    text = kCrLf + delimiter + "--";
  } else {
    for (size_t i = 0; i < attachments.size(); ++i) {
      TSOAPAttachmentData& attachment = *attachments[i];
      for (const std::string& line : attachment.Headers) CheckHeaderText(line);
      CheckHeaderText(attachment.ContentType);
      CheckHeaderText(attachment.Encoding);
      text += kCrLf + delimiter + kCrLf;

      // The handler holds every stream it owns from the moment it owns it, so a failure further
      // down (the notification, a size query) cannot free a stream the copy still points to.
      FPartStreams.reserve(FPartStreams.size() + 1);
      TStream* part = nullptr;
      if (!attachment.CacheFile.empty()) {
        FPartStreams.push_back(
            std::make_unique<TFileStream>(attachment.CacheFile, TFileStream::fmOpenRead));
        part = FPartStreams.back().get();
      } else if (TStream* source = attachment.GetSourceStream()) {
        part = source;
        if (attachment.StreamOwnership() == TStreamOwnership::soOwned) {
          FPartStreams.emplace_back(source);
          // From here on the handler frees the stream; the copy only refers to it.
          attachment.SetStreamOwnership(TStreamOwnership::soReference);
        }
      } else {
        FPartStreams.push_back(std::make_unique<TMemoryStream>(attachment.SourceString()));
        part = FPartStreams.back().get();
      }

      if (OnSendAttachment) OnSendAttachment(*part, attachment);

      for (const std::string& line : attachment.Headers) text += line + kCrLf;
      text += "Content-Length: " + std::to_string(part->Size()) + kCrLf;
      text += "Content-Type: ";
      text += attachment.ContentType.empty() ? "application/binary" : attachment.ContentType;
      text += kCrLf;
      if (!attachment.Encoding.empty())
        text += "Content-transfer-encoding: " + attachment.Encoding + kCrLf;
      text += kCrLf;
      flushText();
      FSection->AddStream(part, TStreamOwnership::soReference);

      text += (i + 1 == attachments.size()) ? kCrLf + delimiter + "--" : std::string(kCrLf);
    }
  }
  flushText();
  FBoundary = kMimeBoundary;
}

void TMimeAttachmentHandler::AddSoapHeader(const std::string& line) {
  CheckHeaderText(line);
  FSoapHeaders.push_back(line);
}

void TMimeAttachmentHandler::FinalizeStream() {
  FBody.Clear();
  if (FSection->Count() == 0) {
    FBody.AddStream(&FEnvelope, TStreamOwnership::soReference);
    return;
  }
  std::string head = std::string(kCrLf) + "--" + kMimeBoundary + kCrLf;
  for (const std::string& line : FSoapHeaders) {
    head += line;
    head += kCrLf;
  }
  head += std::string("Content-ID: <") + kRootPartId + ">" + kCrLf;
  head += std::string("Content-Location: ") + kRootPartId + kCrLf;
  head += "Content-Length: " + std::to_string(FEnvelope.Size()) + kCrLf;
  head += kCrLf;
  FBody.AddStream(std::make_unique<TMemoryStream>(head));
  FBody.AddStream(&FEnvelope, TStreamOwnership::soReference);
  FBody.AddStream(std::make_unique<TMemoryStream>(kCrLf));
  FBody.AddStream(FSection.get(), TStreamOwnership::soReference);
}

TStream& TMimeAttachmentHandler::GetMIMEStream() {
  FBody.SetPosition(0);
  return FBody;
}

void TMimeAttachmentHandler::ProcessMultiPartForm(TStream& source, TStream& rootPart,
                                                  const std::string& contentTypeOrBoundary,
                                                  TSoapDataList& received,
                                                  const std::string& tempDir) {
  SplitMultipartMessage(source, rootPart, contentTypeOrBoundary, received, tempDir);
}

}  // namespace vorlen

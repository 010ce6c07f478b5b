#include "mime/MimeAttachmentHandler.h"

#include <algorithm>
#include <utility>

#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "mime/MimeSplit.h"

namespace vorlen {

const char* const kRootPartId = "http://tempuri.org/rootpart.xml";
const char* const kMimeBoundary = "MIME_boundaryB0R9532143182121";

namespace {
const char* const kCrLf = "\r\n";

// A line break inside a header value would end the header block early and let the value write
// headers or content of its own.
void CheckHeaderText(const std::string& text) {
  // One pass with plain comparisons: find_first_of tests every byte against the set in a call.
  const bool lineBreak =
      std::any_of(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; });
  if (lineBreak) throw Exception(Format("Line break in MIME header text \"%s\"", text.c_str()));
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

  static const std::string delimiter = std::string("--") + kMimeBoundary;
  // Text between part streams collects here and goes into the section as one small stream.
  std::string text;
  text.reserve(256);
  auto flushText = [&] {
    if (text.empty()) return;
    FSection->AddStream(std::make_unique<TMemoryStream>(text));
    text.clear();
  };

  if (attachments.empty()) {
    text += kCrLf;
    text += delimiter;
    text += "--";
  } else {
    for (size_t i = 0; i < attachments.size(); ++i) {
      TSOAPAttachmentData& attachment = *attachments[i];
      for (const std::string& line : attachment.Headers) CheckHeaderText(line);
      CheckHeaderText(attachment.ContentType);
      CheckHeaderText(attachment.Encoding);
      text += kCrLf;
      text += delimiter;
      text += kCrLf;

      // The handler holds every stream it owns from the moment it owns it, so a failure further
      // down (the notification, a size query) cannot free a stream the copy still points to.
      TStream* part = nullptr;
      if (!attachment.CacheFile.empty()) {
        FPartStreams.push_back(
            std::make_unique<TFileStream>(attachment.CacheFile, TFileStream::fmOpenRead));
        part = FPartStreams.back().get();
      } else if (TStream* source = attachment.GetSourceStream()) {
        part = source;
        if (attachment.StreamOwnership() == TStreamOwnership::owOwned) {
          // Room first: taking the raw pointer over must not fail halfway.
          FPartStreams.reserve(FPartStreams.size() + 1);
          FPartStreams.emplace_back(source);
          // From here on the handler frees the stream; the copy only refers to it.
          attachment.SetStreamOwnership(TStreamOwnership::owReference);
        }
      } else {
        FPartStreams.push_back(std::make_unique<TMemoryStream>(attachment.SourceString()));
        part = FPartStreams.back().get();
      }

      if (OnSendAttachment) OnSendAttachment(*part, attachment);

      for (const std::string& line : attachment.Headers) {
        text += line;
        text += kCrLf;
      }
      text += "Content-Length: ";
      text += std::to_string(part->Size());
      text += kCrLf;
      text += "Content-Type: ";
      text += attachment.ContentType.empty() ? "application/binary" : attachment.ContentType;
      text += kCrLf;
      if (!attachment.Encoding.empty()) {
        text += "Content-transfer-encoding: ";
        text += attachment.Encoding;
        text += kCrLf;
      }
      text += kCrLf;
      flushText();
      FSection->AddStream(part, TStreamOwnership::owReference);

      text += kCrLf;
      if (i + 1 == attachments.size()) {
        text += delimiter;
        text += "--";
      }
    }
  }
  flushText();
  FBoundary = kMimeBoundary;
}

void TMimeAttachmentHandler::AddSoapHeader(std::string line) {
  CheckHeaderText(line);
  // The transport gives two lines: room for them at once.
  if (FSoapHeaders.empty()) FSoapHeaders.reserve(2);
  FSoapHeaders.push_back(std::move(line));
}

void TMimeAttachmentHandler::FinalizeStream() {
  FBody.Clear();
  if (FSection->Count() == 0) {
    FBody.AddStream(&FEnvelope, TStreamOwnership::owReference);
    return;
  }
  std::string head;
  head.reserve(512);
  head += kCrLf;
  head += "--";
  head += kMimeBoundary;
  head += kCrLf;
  for (const std::string& line : FSoapHeaders) {
    head += line;
    head += kCrLf;
  }
  head += "Content-ID: <";
  head += kRootPartId;
  head += ">";
  head += kCrLf;
  head += "Content-Location: ";
  head += kRootPartId;
  head += kCrLf;
  head += "Content-Length: ";
  head += std::to_string(FEnvelope.Size());
  head += kCrLf;
  head += kCrLf;
  FBody.AddStream(std::make_unique<TMemoryStream>(head));
  FBody.AddStream(&FEnvelope, TStreamOwnership::owReference);
  FBody.AddStream(std::make_unique<TMemoryStream>(kCrLf));
  FBody.AddStream(FSection.get(), TStreamOwnership::owReference);
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

// Builds the multipart/related request body around an envelope and its attachments, and hands
// a received multipart message to the splitter.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/Stream.h"
#include "mime/AggregatedStream.h"
#include "mime/SOAPAttachment.h"

namespace vorlen {

// The label of the SOAP root part; nothing resolves it.
extern const char* const kRootPartId;  // "http://tempuri.org/rootpart.xml"
// The boundary of every multipart request; never generated.
extern const char* const kMimeBoundary;  // "MIME_boundaryB0R9532143182121"

class TMimeAttachmentHandler {
 public:
  TMimeAttachmentHandler();
  TMimeAttachmentHandler(const TMimeAttachmentHandler&) = delete;
  TMimeAttachmentHandler& operator=(const TMimeAttachmentHandler&) = delete;
  ~TMimeAttachmentHandler();

  // Copies the envelope (from its start) and builds the attachment section from the queued
  // attachments. Part bytes are not copied: the section reads each part's stream from its
  // start when the body is read. Streams that the copies own pass to the handler and are freed
  // with it, even when building fails; the copies keep a reference (so building again from the
  // same list is safe while the handler lives). Raises the file-open error for a missing cache
  // file.
  void CreateMimeStream(TStream& envelope, TSoapDataList& attachments);
  // A header line of the root part, without line end; kept in the order given. Header texts
  // (here and in the queued attachments) with a CR or LF are refused with an Exception.
  void AddSoapHeader(std::string line);
  // Assembles the body: root part headers, envelope, attachment section.
  void FinalizeStream();
  // The whole body, positioned at 0. Before FinalizeStream it holds no streams.
  TStream& GetMIMEStream();
  // Empty until CreateMimeStream, then kMimeBoundary.
  const std::string& MIMEBoundary() const { return FBoundary; }

  // Told about each part's byte stream before its headers are written; unset means skipped.
  std::function<void(TStream& stream, TSOAPAttachmentData& attachment)> OnSendAttachment;

  // Splits a multipart message: SplitMultipartMessage (mime/MimeSplit.h).
  void ProcessMultiPartForm(TStream& source, TStream& rootPart,
                            const std::string& contentTypeOrBoundary, TSoapDataList& received,
                            const std::string& tempDir);

 private:
  TMemoryStream FEnvelope;
  std::unique_ptr<TAggregatedStream> FSection;
  // Part streams opened here or taken over from the copies. Kept for the handler's life, not a
  // build's: the copies still refer to them after a rebuild or a failed build.
  std::vector<std::unique_ptr<TStream>> FPartStreams;
  TAggregatedStream FBody;
  std::vector<std::string> FSoapHeaders;
  std::string FBoundary;
};

}  // namespace vorlen

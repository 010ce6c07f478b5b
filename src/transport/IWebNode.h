// What the service proxy needs of a transport: prepare a call, exchange request and response,
// and the multipart boundary in both directions.
#pragma once

#include <memory>
#include <string>

#include "runtime/Stream.h"
#include "soap/InvokableClassRegistry.h"
#include "mime/MimeAttachmentHandler.h"

namespace vorlen {

class IWebNode {
 public:
  virtual ~IWebNode() = default;
  // Action and body kind of the next call; handler is the call's attachment handler or nullptr.
  virtual void PrepareCall(const TIntfMetaData& intf, int methIndex,
                           TMimeAttachmentHandler* handler) = 0;
  // Sends request from its start; appends the response body to response.
  virtual void Exchange(TStream& request, TStream& response) = 0;
  // The request's boundary before a call, the response's after it (empty when not multipart).
  virtual const std::string& MimeBoundary() const = 0;
  virtual void SetMimeBoundary(const std::string& boundary) = 0;

  // The other two forms of a web node's exchange; nothing here calls them.
  // The text is sent as its UTF-8 bytes.
  virtual void Exchange(const std::string& request, TStream& response) = 0;
  // As the stream form into a new memory stream that the caller owns.
  virtual std::unique_ptr<TStream> Exchange(TStream& request) = 0;
};

}  // namespace vorlen

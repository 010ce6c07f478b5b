// Turns one HTTP request of the SOAP address into a call of TSenderServer and its answer: a
// text/xml or multipart/related body in, an RPC/encoded response or a SOAP fault out.
#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "runtime/Stream.h"
#include "server/BudgetHold.h"
#include "server/SenderServer.h"
#include "mime/SOAPAttachment.h"
#include "soap/SoapServerMessages.h"

namespace vorlen {

struct TSoapReply {
  int Status = 200;
  std::string ContentType;
  std::string Body;
  // For the request log.
  std::string Session;
  std::string Operation;
  std::string Outcome;  // the result, or "fault <code>: <text>"
};

class TSoapEndpoint {
 public:
  explicit TSoapEndpoint(TSenderServer& server);

  // contentType and soapAction are the request's header values (soapAction may be quoted);
  // body is read from its current position; peer is the client's address (for per-peer
  // limits). Never throws for bad input: every failure becomes a fault (SOAP-ENV:Client for the
  // request's faults, SOAP-ENV:Server for the service's own). An envelope, or the root part of
  // a multipart body, larger than kMaxEnvelope is refused before it is parsed.
  TSoapReply Handle(const std::string& contentType, const std::string& soapAction, TStream& body,
                    const std::string& peer = {});

  // The most of a body worth holding for its content type: a plain envelope is refused beyond
  // kMaxEnvelope, so no more of it need be read; -1 when the type sets no limit of its own.
  static int64_t BodyLimit(const std::string& contentType);
  // The fault answer to an envelope over kMaxEnvelope, for a body left unread.
  static TSoapReply EnvelopeTooLarge();
  // Empty when a body that begins with prefix (the first kMaxEnvelope bytes or more) may still
  // be answered; else why it will not be: a type that is no SOAP request, or a multipart body
  // whose root part (the envelope, which comes first) has not ended within prefix.
  static std::string UnworthyBody(const std::string& contentType, std::string_view prefix);

  // The fault for a request whose body could not be held: error is the EDiskFull or
  // EStorageLimit raised.
  static TSoapReply Unheld(std::exception_ptr error);

 private:
  // The envelope of the body, its attachments going to received and counted in incoming.
  TSoapRequest ReadRequest(const std::string& contentType, TStream& body, TSoapDataList& received,
                           TBudgetHold& incoming);
  // The operation's index in the interface; raises a client fault for an unknown operation or
  // an action that does not match it.
  int Resolve(const TSoapRequest& request, const std::string& soapAction);
  // Calls the operation and fills the reply with its answer.
  void Dispatch(int method, const TSoapRequest& request, TSoapDataList& received,
                TBudgetHold& incoming, const std::string& peer, TSoapReply& reply);

  TSenderServer& FServer;
};

// Every real envelope is under 1 KiB; larger ones would only cost parse time and memory.
constexpr int64_t kMaxEnvelope = 64 * 1024;

// The content type of every SOAP answer.
extern const char* const kSoapContentType;  // text/xml; charset="utf-8"

}  // namespace vorlen

// Turns one HTTP request of the SOAP address into a call of TSenderServer and its answer: a
// text/xml or multipart/related body in, an RPC/encoded response or a SOAP fault out.
#pragma once

#include <string>

#include "runtime/Stream.h"
#include "server/SenderServer.h"

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
  // body is read from its current position. Never throws for bad input: every failure becomes
  // a fault (SOAP-ENV:Client for the request's faults, SOAP-ENV:Server for the service's own).
  TSoapReply Handle(const std::string& contentType, const std::string& soapAction, TStream& body);

 private:
  TSenderServer& FServer;
};

// The content type of every SOAP answer.
extern const char* const kSoapContentType;  // text/xml; charset="utf-8"

}  // namespace vorlen

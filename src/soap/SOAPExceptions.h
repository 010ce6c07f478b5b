// Exceptions of the SOAP layer: a fault sent by the service, and messages that cannot be read.
#pragma once

#include <string>

#include "runtime/Exception.h"
#include "xml/DOMParseError.h"  // what the XML layer raises

namespace vorlen {

// A SOAP fault, or a header the client was required to understand. The message is the
// faultstring; FaultCode keeps its prefix as sent ("SOAP-ENV:Server"); FaultDetail is the XML
// text of the detail element including its own tags.
class ERemotableException : public Exception {
 public:
  explicit ERemotableException(std::string message, std::string faultCode = std::string(),
                               std::string faultActor = std::string(),
                               std::string faultDetail = std::string())
      : Exception(std::move(message)),
        FaultCode(std::move(faultCode)),
        FaultActor(std::move(faultActor)),
        FaultDetail(std::move(faultDetail)) {}

  // What the fault carried beside its text; nothing here reads them.
  std::string FaultCode;
  std::string FaultActor;
  std::string FaultDetail;
};

// Well-formed XML that is not the expected SOAP message.
class ESOAPDomConvertError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace vorlen

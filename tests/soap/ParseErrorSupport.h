// What both SOAP readers make of bytes that are not an acceptable message.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "soap/OPToSoapDomConvert.h"
#include "soap/SOAPExceptions.h"
#include "soap/SenderServiceIntf.h"
#include "soap/SoapServerMessages.h"
#include "soap/SoapTestSupport.h"

namespace vorlen::test {

// The message of the EDOMParseError raised by both readers; they must agree.
inline std::string ParseError(const std::string& xml) {
  std::string responseMessage = "(accepted)";
  std::string requestMessage = "(accepted)";
  try {
    TOPToSoapDomConvert conv;
    TMemoryStream stream(xml);
    conv.ProcessResponse(stream, SenderIntf(), smGetSession);
  } catch (const EDOMParseError& e) {
    responseMessage = e.Message();
  } catch (const std::exception& e) {
    responseMessage = std::string("(other) ") + e.what();
  }
  try {
    TMemoryStream stream(xml);
    ReadSoapRequest(stream);
  } catch (const EDOMParseError& e) {
    requestMessage = e.Message();
  } catch (const std::exception& e) {
    requestMessage = std::string("(other) ") + e.what();
  }
  EXPECT_EQ(responseMessage, requestMessage);
  return responseMessage;
}

// Both readers refuse xml with a message holding reason.
inline void ExpectParseReason(const std::string& xml, const std::string& reason) {
  const std::string message = ParseError(xml);
  EXPECT_NE(message.find(reason), std::string::npos) << message;
}

inline const char* const kEnvelopeStart =
    "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
    "<SOAP-ENV:Body><r><return>";

}  // namespace vorlen::test

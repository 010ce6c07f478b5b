// The service side of the messages: reading an RPC request and writing a response or a fault.
#pragma once

#include <string>
#include <vector>

#include "runtime/Stream.h"
#include "soap/InvokableClassRegistry.h"

namespace vorlen {

struct TSoapRequestParam {
  std::string Name;  // local name of the parameter element
  std::string Text;  // its text content (UTF-8), empty when it has none
  std::string Href;  // value of an href attribute ("cid:..."), empty when absent
  bool Nil = false;  // xsi:nil="true" (or "1")
};

struct TSoapRequest {
  std::string Operation;                  // local name of the operation element
  std::string Namespace;                  // its namespace URI
  std::vector<TSoapRequestParam> Params;  // child elements in document order

  // The first parameter with that name (exact case), or nullptr.
  const TSoapRequestParam* Find(const std::string& name) const;
};

// Reads a request envelope from the stream's current position. Raises EDOMParseError for bytes
// that are not acceptable XML and ESOAPDomConvertError for XML that is not a SOAP 1.1 request
// (wrong document element, no Body, no operation element). With intf, only as many parameter
// elements are collected as the operation of that name takes (none for an unknown one): a
// request cannot make the reader keep thousands of them.
TSoapRequest ReadSoapRequest(TStream& xml, const TIntfMetaData* intf = nullptr);

// A response envelope (UTF-8 text) whose Body holds
// <NS1:{operation}Response xmlns:NS1="{nsUri}"><return xsi:type="{xsdType}">{value}</return>...
// operation is the operation name without "Response"; value is escaped as XML requires.
std::string WriteSoapResponse(const std::string& operation, const std::string& nsUri,
                              const std::string& xsdType, const std::string& value);

// A Fault envelope with faultcode and faultstring (both escaped).
std::string WriteSoapFault(const std::string& faultCode, const std::string& faultString);

}  // namespace vorlen

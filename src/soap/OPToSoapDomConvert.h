// The message converter of the service proxy: writes RPC/encoded SOAP 1.1 requests from the
// registered operation metadata and reads responses back into a result or an exception.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "runtime/Stream.h"
#include "soap/InvokableClassRegistry.h"
#include "mime/SOAPAttachment.h"
#include "xml/XmlParser.h"

namespace vorlen {

// One bit each, bit = ordinal.
enum class TSOAPConvertOption : int {
  soSendUntyped = 0,
  soSendMultiRefObj = 1,
  soSendMultiRefArray = 2,
  soTryAllSchema = 3,
  soRootRefNodesToBody = 4,
  soDocument = 5,
  soReturnSuccessForFault = 6,
  soUTF8InHeader = 7,
  soDontSendEmptyNodes = 8,
  soCacheMimeResponse = 9,
  soDontClearOutBoundHeaders = 10,
  soCustomFaultAtDetailsNode = 11,
  soLiteralParams = 12,
  soUTF8EncodeXML = 13,
  soXXXXHdr = 14,
  soFormElementUnqualifed = 15,
};
using TSOAPConvertOptions = uint32_t;

constexpr TSOAPConvertOptions ToOptions(TSOAPConvertOption option) {
  return TSOAPConvertOptions{1} << static_cast<int>(option);
}
constexpr bool HasOption(TSOAPConvertOptions options, TSOAPConvertOption option) {
  return (options & ToOptions(option)) != 0;
}
constexpr TSOAPConvertOptions kDefaultConvertOptions =
    ToOptions(TSOAPConvertOption::soSendMultiRefObj) |
    ToOptions(TSOAPConvertOption::soTryAllSchema) |
    ToOptions(TSOAPConvertOption::soRootRefNodesToBody) |
    ToOptions(TSOAPConvertOption::soCacheMimeResponse) |
    ToOptions(TSOAPConvertOption::soUTF8EncodeXML);

// An argument or a result. Text is UTF-8; an attachment argument is borrowed (may be nullptr).
using TParamValue = std::variant<std::monostate, std::string, int32_t, bool, TSOAPAttachment*>;

class TSOAPDomConv {
 public:
  virtual ~TSOAPDomConv() = default;

  TSOAPConvertOptions Options = kDefaultConvertOptions;
  // Empty: the declaration carries no encoding and the text is UTF-8. Otherwise only "UTF-8"
  // (any case) is accepted; anything else is refused when a request is written.
  std::string Encoding;
};

class TOPToSoapDomConvert : public TSOAPDomConv {
 public:
  // For received attachments; empty = the system's temporary directory.
  std::string TempDir;

  // The request envelope (UTF-8, no byte-order mark) for operation intf.MDA[methIndex] with args
  // in wire order. Each non-null attachment argument is queued in Attachments() under a new
  // content id; the list is cleared first. Raises ESOAPDomConvertError when methIndex, the
  // number of arguments or an argument's kind does not match the metadata, or when Options ask
  // for a message style this converter does not write (soDocument, soLiteralParams).
  std::unique_ptr<TMemoryStream> InvContextToMsg(const TIntfMetaData& intf, int methIndex,
                                                 const std::vector<TParamValue>& args);
  TSoapDataList& Attachments() { return FAttachments; }

  // Reads the response (the root part of a multipart response) from its current position into
  // the operation's result: std::string for a text result, bool for a Boolean one. A Body with
  // nothing but blanks gives an empty text or false; one with other text but no element is no
  // answer and raises ESOAPDomConvertError like a missing return element. Raises
  // ERemotableException for a fault or an unhandled mustUnderstand header, ESOAPDomConvertError
  // for a message that is not the expected SOAP response, EDOMParseError for bad XML.
  TParamValue ProcessResponse(TStream& response, const TIntfMetaData& intf, int methIndex);

 private:
  TSoapDataList FAttachments;
  TXmlParser FParser;
};

}  // namespace vorlen

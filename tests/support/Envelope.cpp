#include "support/Envelope.h"

namespace vorlen::test {

std::string Envelope(const std::string& operation, const std::string& params) {
  return "<?xml version=\"1.0\"?>\n"
         "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
         "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\"><SOAP-ENV:Body "
         "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><NS1:" +
         operation + " xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\">" + params +
         "</NS1:" + operation + "></SOAP-ENV:Body></SOAP-ENV:Envelope>\n";
}

std::string Str(const std::string& name, const std::string& value) {
  return "<" + name + " xsi:type=\"xsd:string\">" + value + "</" + name + ">";
}

}  // namespace vorlen::test

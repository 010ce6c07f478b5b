#include "server/Wsdl.h"

#include "runtime/Exception.h"
#include "soap/InvokableClassRegistry.h"
#include "soap/SenderServiceIntf.h"

namespace vorlen {

namespace {

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string XsdType(TParamType type) {
  switch (type) {
    case TParamType::ptString:
      return "xs:string";
    case TParamType::ptInteger:
      return "xs:int";
    case TParamType::ptBoolean:
      return "xs:boolean";
    case TParamType::ptAttachment:
      return "xs:base64Binary";
  }
  return "xs:string";
}

}  // namespace

std::string SenderServiceWsdl(const std::string& soapAddress) {
  RegisterSenderService();
  const TIntfMetaData* intf = InvRegistry().GetInterfaceInfo(IID_ISenderService);
  if (intf == nullptr) throw Exception("ISenderService is not registered");
  const std::string ns = Escape(intf->Namespace);
  const std::string body =
      "<soap:body use=\"encoded\" "
      "encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\" "
      "namespace=\"" +
      ns + "\"/>";

  std::string messages, portOps, bindingOps;
  for (const TIntfMethEntry& method : intf->MDA) {
    const std::string name = Escape(method.Name);
    messages += "  <message name=\"" + name + "Request\">";
    for (const TParamInfo& param : method.Params) {
      messages +=
          "<part name=\"" + Escape(param.Name) + "\" type=\"" + XsdType(param.Type) + "\"/>";
    }
    messages += "</message>\n";
    messages += "  <message name=\"" + name + "Response\"><part name=\"return\" type=\"" +
                XsdType(method.ResultType) + "\"/></message>\n";
    portOps += "    <operation name=\"" + name + "\"><input message=\"tns:" + name +
               "Request\"/><output message=\"tns:" + name + "Response\"/></operation>\n";
    const std::string action = InvRegistry().GetActionURIOfInfo(*intf, method.Name, method.Pos);
    bindingOps += "    <operation name=\"" + name +
                  "\">\n"
                  "      <soap:operation soapAction=\"" +
                  Escape(action) +
                  "\" style=\"rpc\"/>\n"
                  "      <input>" +
                  body +
                  "</input>\n"
                  "      <output>" +
                  body +
                  "</output>\n"
                  "    </operation>\n";
  }

  const std::string service = Escape(kSenderServiceName);
  const std::string port = Escape(kSenderServicePort);
  const std::string portType = Escape(intf->Name);
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<definitions xmlns=\"http://schemas.xmlsoap.org/wsdl/\" "
         "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:soap=\"http://schemas.xmlsoap.org/wsdl/soap/\" "
         "xmlns:tns=\"" +
         ns + "\" name=\"" + service + "\" targetNamespace=\"" + ns + "\">\n" + messages +
         "  <portType name=\"" + portType + "\">\n" + portOps +
         "  </portType>\n"
         "  <binding name=\"" +
         portType + "binding\" type=\"tns:" + portType +
         "\">\n"
         "    <soap:binding style=\"rpc\" transport=\"http://schemas.xmlsoap.org/soap/http\"/>\n" +
         bindingOps +
         "  </binding>\n"
         "  <service name=\"" +
         service +
         "\">\n"
         "    <port name=\"" +
         port + "\" binding=\"tns:" + portType +
         "binding\">\n"
         "      <soap:address location=\"" +
         Escape(soapAddress) +
         "\"/>\n"
         "    </port>\n"
         "  </service>\n"
         "</definitions>\n";
}

}  // namespace vorlen

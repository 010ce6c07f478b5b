#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "proxy/HTTPRIO.h"
#include "mime/SOAPAttachment.h"
#include "soap/SOAPExceptions.h"
#include "soap/SenderServiceIntf.h"
#include "support/RawHttpServer.h"
#include "transport/SOAPHTTPException.h"
#include "transport/TransportTestUtil.h"

namespace vorlen {
namespace {

using test::HttpResponse;
using test::TRawHttpServer;
using test::TRawReply;
using test::TRawRequest;

const char* const kActionPrefix = "\"urn:SenderServiceIntf-ISenderService#";

std::string ResponseEnvelope(const std::string& operation, const std::string& value) {
  return "<?xml version=\"1.0\"?>"
         "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
         "<SOAP-ENV:Body><NS1:" +
         operation + "Response xmlns:NS1=\"urn:SenderServiceIntf-ISenderService\"><return>" +
         value + "</return></NS1:" + operation + "Response></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

std::string FaultEnvelope(const std::string& text) {
  return "<?xml version=\"1.0\"?>"
         "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\">"
         "<SOAP-ENV:Body><SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode>"
         "<faultstring>" +
         text + "</faultstring></SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

// Answers like the service: the operation comes from the SOAPAction header.
TRawReply ServiceLike(const TRawRequest& request) {
  const std::string action = request.Header("SOAPAction");
  const std::string operation =
      action.size() > 2 ? action.substr(action.find('#') + 1, action.size() - action.find('#') - 2)
                        : std::string();
  if (operation == "GetSession")
    return {HttpResponse(200, "OK", "text/xml; charset=\"utf-8\"",
                         ResponseEnvelope(operation, "sess&amp;1"))};
  if (operation == "UploadFilePart") {
    // Accepted only when the part's bytes and the hash arrived.
    const bool ok = request.Body.find("PART-BYTES\x01\x02") != std::string::npos &&
                    request.Body.find(">CAFEBABE<") != std::string::npos;
    return {
        HttpResponse(200, "OK", "text/xml", ResponseEnvelope(operation, ok ? "true" : "false"))};
  }
  if (operation == "MergeFile") {
    const bool ok = request.Body.find(">7<") != std::string::npos &&
                    request.Body.find(">file.rar<") != std::string::npos;
    return {HttpResponse(200, "OK", "text/xml", ResponseEnvelope(operation, ok ? "1" : "0"))};
  }
  if (operation == "UnZip") {
    // Answered as a multipart message whose root part is the envelope.
    const std::string body = "--RB\r\nContent-Type: text/xml\r\nContent-ID: <root>\r\n\r\n" +
                             ResponseEnvelope(operation, "true") + "\r\n--RB--\r\n";
    return {HttpResponse(200, "OK", "multipart/related; type=\"text/xml\"; boundary=\"RB\"", body)};
  }
  if (operation == "DelTempFiles")
    return {
        HttpResponse(500, "Internal Server Error", "text/xml", FaultEnvelope("No such session"))};
  return {HttpResponse(404, "Not Found", "text/html", "?")};
}

TEST(TransportProxy, AllFiveOperationsEndToEnd) {
  TRawHttpServer server(ServiceLike);
  ISenderServicePtr service = BindSenderService(false, server.URL("/soap/ISenderService"));

  EXPECT_EQ(service->GetSession(), "sess&1");

  TSOAPAttachment part;
  TMemoryStream bytes(std::string("PART-BYTES\x01\x02", 12));
  part.SetSourceStream(&bytes, TStreamOwnership::owReference);
  EXPECT_TRUE(service->UploadFilePart("sess&1", "part0", "CAFEBABE", &part));
  EXPECT_FALSE(service->UploadFilePart("sess&1", "part0", "DEADBEEF", &part));
  EXPECT_FALSE(service->UploadFilePart("sess&1", "empty", "CAFEBABE", nullptr));

  EXPECT_TRUE(service->MergeFile(7, "file.rar", "sess&1"));
  EXPECT_FALSE(service->MergeFile(6, "file.rar", "sess&1"));
  EXPECT_TRUE(service->UnZip("sess&1"));
  try {
    service->DelTempFiles("sess&1");
    ADD_FAILURE() << "the fault was not raised";
  } catch (const ERemotableException& e) {
    EXPECT_EQ(e.Message(), "No such session");
    EXPECT_EQ(e.FaultCode, "SOAP-ENV:Server");
  }

  const std::vector<TRawRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 8u);
  const char* operations[] = {"GetSession", "UploadFilePart", "UploadFilePart", "UploadFilePart",
                              "MergeFile",  "MergeFile",      "UnZip",          "DelTempFiles"};
  for (size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].Header("SOAPAction"), std::string(kActionPrefix) + operations[i] + "\"");
    const bool multipart = std::string(operations[i]) == "UploadFilePart";
    EXPECT_EQ(requests[i].Header("Content-Type"),
              multipart ? "multipart/related; boundary=MIME_boundaryB0R9532143182121"
                        : "text/xml; charset=\"utf-8\"");
    EXPECT_EQ(requests[i].Header("MIME-Version"), multipart ? "1.0" : "");
    const std::string start = multipart ? "\r\n--MIME_boundaryB0R9532143182121\r\n" : "<?xml";
    EXPECT_EQ(requests[i].Body.substr(0, start.size()), start);
  }
  // The part travels once, after the envelope; an empty part still closes the multipart body.
  EXPECT_EQ(requests[1].Body.find("PART-BYTES"), requests[1].Body.rfind("PART-BYTES"));
  const std::string& empty = requests[3].Body;
  EXPECT_EQ(empty.substr(empty.size() - 37), "\r\n\r\n--MIME_boundaryB0R9532143182121--");
  // The fault came on the kept connection; a fault is no transport failure.
  EXPECT_EQ(requests.back().Connection, 1);
}

TEST(TransportProxy, FailedCallLeavesTheProxyUsable) {
  int calls = 0;
  TRawHttpServer server([&calls](const TRawRequest& request) -> TRawReply {
    ++calls;
    if (calls == 1) return {HttpResponse(500, "Internal Server Error", "text/html", "<b>x</b>")};
    if (calls == 2) return {HttpResponse(200, "OK", "text/xml", "<not-soap/>")};
    if (calls == 3) return {HttpResponse(200, "OK", "text/xml", "<broken")};
    return ServiceLike(request);
  });
  auto rio = std::make_shared<THTTPRIO>();
  ISenderServicePtr service = BindSenderService(false, server.URL("/soap"), rio);
  TSOAPAttachment part;
  part.SetSourceString("PART-BYTES\x01\x02");

  try {
    service->UploadFilePart("s", "p", "CAFEBABE", &part);
    ADD_FAILURE() << "html passed";
  } catch (const ESOAPHTTPException& e) {
    EXPECT_EQ(e.HTTPStatus, 0);
    EXPECT_EQ(e.Message(),
              "Received content of invalid Content-Type setting: text/html - SOAP expects "
              "\"text/xml\"");
  }
  EXPECT_TRUE(rio->Converter().Attachments().empty());
  EXPECT_THROW(service->GetSession(), ESOAPDomConvertError);
  EXPECT_THROW(service->GetSession(), EDOMParseError);
  EXPECT_TRUE(service->UploadFilePart("s", "p", "CAFEBABE", &part));
  EXPECT_TRUE(rio->Converter().Attachments().empty());
  EXPECT_EQ(service->GetSession(), "sess&1");
}

TEST(TransportProxy, MultipartAnswerLeavesNoCacheFilesBehind) {
  // The root part answers; a second part is an attachment that no operation returns.
  const std::string body = "--RB\r\nContent-Type: text/xml\r\nContent-ID: <root>\r\n\r\n" +
                           ResponseEnvelope("UnZip", "true") +
                           "\r\n--RB\r\nContent-Type: application/binary\r\n"
                           "Content-ID: <extra>\r\n\r\n" +
                           std::string(5000, 'A') + "\r\n--RB--\r\n";
  TRawHttpServer server(
      test::Always(HttpResponse(200, "OK", "multipart/related; boundary=RB", body)));
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vorlen-proxy-" + std::to_string(server.Port()));
  std::filesystem::create_directories(dir);
  auto rio = std::make_shared<THTTPRIO>();
  rio->Converter().TempDir = dir.string();
  ISenderServicePtr service = BindSenderService(false, server.URL("/soap"), rio);
  EXPECT_TRUE(service->UnZip("s"));
  EXPECT_TRUE(service->UnZip("s"));
  EXPECT_TRUE(std::filesystem::is_empty(dir));
  std::filesystem::remove_all(dir);
}

TEST(TransportProxy, BinderModesAndLifetime) {
  // Empty address, no object: the default address on an ownerless proxy.
  ISenderServicePtr service = BindSenderService();
  auto rio = std::dynamic_pointer_cast<THTTPRIO>(service);
  ASSERT_TRUE(rio);
  EXPECT_EQ(rio->URL(), "http://localhost/FileUploader/Sender_Server.dll/soap/ISenderService");
  EXPECT_EQ(rio->HTTPWebNode().URLHost(), "localhost");
  EXPECT_EQ(rio->HTTPWebNode().URLPort(), 80);
  EXPECT_EQ(rio->HTTPWebNode().URLPath(), "/FileUploader/Sender_Server.dll/soap/ISenderService");
  EXPECT_TRUE(rio->HTTPWebNode().URLGiven());
  std::weak_ptr<THTTPRIO> watch = rio;
  rio.reset();
  EXPECT_FALSE(watch.expired());
  service.reset();
  EXPECT_TRUE(watch.expired()) << "the proxy outlived its last reference";

  // A given object is used, and the address unchanged.
  auto own = std::make_shared<THTTPRIO>();
  own->SetWSDLLocation("http://h/wsdl");
  own->SetService("S");
  own->SetPort("P");
  service = BindSenderService(false, "https://svc.example:8443/x", own);
  EXPECT_EQ(std::dynamic_pointer_cast<THTTPRIO>(service), own);
  EXPECT_EQ(own->URL(), "https://svc.example:8443/x");
  EXPECT_EQ(own->WSDLLocation(), "");
  EXPECT_EQ(own->Service(), "");
  EXPECT_EQ(own->Port(), "");

  // WSDL mode records the description and unbinds the URL; calls then fail clearly.
  service = BindSenderService(true, "", own);
  EXPECT_EQ(own->URL(), "");
  EXPECT_FALSE(own->HTTPWebNode().URLGiven());
  EXPECT_EQ(own->WSDLLocation(),
            "http://localhost/FileUploader/Sender_Server.dll/wsdl/ISenderService");
  EXPECT_EQ(own->Service(), "ISenderServiceservice");
  EXPECT_EQ(own->Port(), "ISenderServicePort");
  try {
    service->UnZip("s");
    ADD_FAILURE() << "a WSDL-mode call went out";
  } catch (const ESOAPHTTPException& e) {
    EXPECT_EQ(e.Message(),
              "Unable to retrieve the URL endpoint for Service/Port "
              "'ISenderServiceservice'/'ISenderServicePort' from WSDL "
              "'http://localhost/FileUploader/Sender_Server.dll/wsdl/ISenderService'");
  }

  // A scheme other than http/https fails the binding; the given object is left as it was.
  own->SetURL("http://h:1/soap");
  try {
    BindSenderService(false, "ftp://h/x", own);
    ADD_FAILURE() << "ftp was bound";
  } catch (const ESOAPHTTPException& e) {
    EXPECT_EQ(e.Message(), "Invalid url 'ftp://h/x' - only supports 'http' and 'https' schemes");
  }
  EXPECT_EQ(own->URL(), "http://h:1/soap");
}

}  // namespace
}  // namespace vorlen

// The transport's rules whatever HTTP client carries the call: endpoint binding, the action and
// header lines, the body kind, the checks on the answer, the error texts and the exchange loop.
#include "transport/HTTPReqResp.h"

#include <algorithm>
#include <cctype>

#include "runtime/Format.h"
#include "transport/ContentType.h"
#include "transport/ResponseBody.h"
#include "transport/SOAPHTTPException.h"

namespace vorlen {

namespace {

bool IsNotFoundStatus(int status) { return status == 404 || status == 405 || status == 410; }

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

void THTTPReqResp::SetEndpointURL(const std::string& url) {
  // Parsed before anything changes, so a refused URL leaves the old binding intact.
  TEndpoint endpoint = SplitEndpointURL(url);
  FURLGiven = !url.empty();
  FEndpoint = std::move(endpoint);
  FURL = url;
  CloseConnection();
}

std::string THTTPReqResp::EffectiveAction() const {
  if (FCurrentAction.empty() &&
      !InvokeOptions.Contains(TSOAPInvokeOption::soNoValueForEmptySOAPAction))
    return "\"\"";
  return FCurrentAction;
}

std::string THTTPReqResp::SOAPActionHeaderLine() const {
  // As from EffectiveAction, without copying the action first: this runs for every call.
  if (FCurrentAction.empty()) {
    return InvokeOptions.Contains(TSOAPInvokeOption::soNoValueForEmptySOAPAction)
               ? "SOAPAction:"
               : "SOAPAction: \"\"";
  }
  if (FCurrentAction == "\"\"") return "SOAPAction: \"\"";
  std::string line;
  line.reserve(FCurrentAction.size() + 14);
  line += "SOAPAction: \"";
  line += FCurrentAction;
  line += '"';
  return line;
}

const char* THTTPReqResp::XmlContentTypeLine() const {
  return UseUTF8InHeader ? "Content-Type: text/xml; charset=\"utf-8\"" : "Content-Type: text/xml";
}

void THTTPReqResp::PrepareCall(const TIntfMetaData& intf, int methIndex,
                               TMimeAttachmentHandler* handler) {
  if (FURLGiven) {
    const bool known = methIndex >= 0 && methIndex < static_cast<int>(intf.MDA.size());
    FCurrentAction = InvRegistry().GetActionURIOfInfo(
        intf, known ? intf.MDA[static_cast<size_t>(methIndex)].Name : std::string(), methIndex);
  } else if (!WSDLView || WSDLView->Location.empty()) {
    throw ESOAPHTTPException(
        "No WSDL or URL property was set in the THTTPRIO component. You must set the WSDL or "
        "URL property before invoking the Web Service",
        0);
  } else {
    // Service descriptions are never loaded by this client, so a description gives no endpoint.
    throw ESOAPHTTPException(
        Format("Unable to retrieve the URL endpoint for Service/Port '%s'/'%s' from WSDL '%s'",
               WSDLView->Service.c_str(), WSDLView->Port.c_str(), WSDLView->Location.c_str()),
        0);
  }

  if (handler != nullptr) {
    FBodyKind = TBodyKind::bkMultipart;
    FMimeBoundary = handler->MIMEBoundary();
    handler->AddSoapHeader(XmlContentTypeLine());
    handler->AddSoapHeader(SOAPActionHeaderLine());
  } else {
    FBodyKind = TBodyKind::bkPlain;
  }
}

std::vector<std::string> THTTPReqResp::RequestHeaderLines() const {
  std::vector<std::string> lines;
  const bool action = !InvokeOptions.Contains(TSOAPInvokeOption::soNoSOAPActionHeader);
  // Plain concatenation: this runs for every call, and Format costs two passes each.
  if (FBodyKind == TBodyKind::bkMultipart) {
    lines.emplace_back("MIME-Version: 1.0");
    if (action) lines.push_back(SOAPActionHeaderLine());
    lines.push_back("Content-Type: multipart/related; boundary=" + FMimeBoundary);
  } else {
    if (action) lines.push_back(SOAPActionHeaderLine());
    lines.emplace_back(XmlContentTypeLine());
  }
  return lines;
}

void THTTPReqResp::RaiseTransportFailure(const std::string& text) const {
  throw ESOAPHTTPException(TransportFailureText(text, FURL, EffectiveAction()), 0);
}

void THTTPReqResp::CheckResponseStatus(int status, const std::string& statusText) const {
  if (status >= 300 && status != 500)
    throw ESOAPHTTPException(Format("%s (%d) - '%s'", statusText.c_str(), status, FURL.c_str()),
                             status);
}

std::vector<char> THTTPReqResp::SinglePostBody(TStream& request, int64_t size) {
  std::vector<char> buffer(static_cast<size_t>(size));
  if (size > 0) request.ReadBuffer(buffer.data(), size);
  return buffer;
}

void THTTPReqResp::SetResponseContentType(const std::string& contentType) {
  FResponseContentType = contentType;
  FMimeBoundary = BoundaryFromContentType(FResponseContentType);
}

void THTTPReqResp::CheckResponseContentType() const {
  if (IsNonSoapContentType(FResponseContentType))
    throw ESOAPHTTPException(
        Format("Received content of invalid Content-Type setting: %s - SOAP expects \"text/xml\"",
               FResponseContentType.c_str()),
        0);
}

uint32_t THTTPReqResp::ResolveTransportError(uint32_t code, THTTPRequest& request) {
  // Only where certificate problems are ignored or the certificate is the trusted one; every
  // other unknown issuer has been refused before this step.
  if (code == kErrorInvalidCA && (InvokeOptions.Contains(TSOAPInvokeOption::soIgnoreInvalidCerts) ||
                                  FCertificateTrusted)) {
    request.SetSecurityFlags(request.SecurityFlags() | kSecurityIgnoreUnknownCA);
    return kErrorForceRetry;
  }
  const int status = request.StatusCode();
  const bool credentials = status == 401 || status == 407 || code == kErrorIncorrectPassword;
  if (credentials && Stopping && Stopping()) return kErrorCancelled;
  const uint32_t decision =
      OnWinInetError ? OnWinInetError(code, request) : ResolveWithoutHandler(code, request);
  // Whatever the dialog answered: a caller that went meanwhile sends nothing more.
  if (credentials && Stopping && Stopping()) return kErrorCancelled;
  return decision;
}

std::string THTTPReqResp::LookUpAccessPoint() {
  // No registry client is built in; an empty answer raises the status error that led here.
  return std::string();
}

void THTTPReqResp::Exchange(TStream& request, TStream& response) {
  bool canRetry = InvokeOptions.Contains(TSOAPInvokeOption::soAutoCheckAccessPointViaUDDI) &&
                  !UDDIBindingKey.empty() && !UDDIOperator.empty();
  bool lookUp = false;
  bool asked = false;
  std::string lookUpReason;
  for (;;) {
    if (lookUp && canRetry) {
      canRetry = false;
      const std::string accessPoint = LookUpAccessPoint();
      if (accessPoint.empty() || EqualsIgnoringCase(accessPoint, FURL))
        throw ESOAPHTTPException(lookUpReason, 0);
      SetEndpointURL(accessPoint);
    }
    // Closed last on a failure: after the connection and internet handles.
    std::unique_ptr<THTTPRequest> data;
    try {
      data = SendRequest(request, response);
    } catch (const ECertificateUntrusted& e) {
      // Asked once per call; the certificate trusted now must be the one the retry meets.
      if (asked || !OnUntrustedCertificate || !OnUntrustedCertificate(*this, e.Certificate))
        throw;
      asked = true;
      TrustedCertificate = e.Certificate.Fingerprint;
      continue;
    }
    try {
      ReceiveResponse(*data, response, false);
      return;
    } catch (const ESOAPHTTPException& e) {
      CloseConnection();
      if (canRetry && IsNotFoundStatus(e.HTTPStatus)) {
        lookUp = true;
        lookUpReason = e.Message();
        continue;
      }
      throw;
    } catch (...) {
      CloseConnection();
      throw;
    }
  }
}

void THTTPReqResp::Exchange(const std::string& request, TStream& response) {
  TMemoryStream stream(request);
  Exchange(stream, response);
}

std::unique_ptr<TStream> THTTPReqResp::Exchange(TStream& request) {
  auto response = std::make_unique<TMemoryStream>();
  Exchange(request, *response);
  return response;
}

}  // namespace vorlen

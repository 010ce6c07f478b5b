#include "server/SoapEndpoint.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <memory>

#include "platform/Paths.h"
#include "runtime/Format.h"
#include "soap/InvokableClassRegistry.h"
#include "mime/MimeAttachmentHandler.h"
#include "mime/MimeSplit.h"
#include "mime/SOAPAttachment.h"
#include "soap/SOAPExceptions.h"
#include "soap/SenderServiceIntf.h"
#include "soap/SoapServerMessages.h"

namespace vorlen {

const char* const kSoapContentType = "text/xml; charset=\"utf-8\"";

namespace {

// Below this much free space a failed attachment write is taken for a full disk, whatever the
// stream made of the error.
constexpr int64_t kFullDiskFree = int64_t{1} << 20;

// A fault the request caused.
class EClientFault : public Exception {
 public:
  using Exception::Exception;
};

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The media type without parameters, lower case.
std::string MediaType(const std::string& contentType) {
  return Lower(Trim(contentType.substr(0, contentType.find(';'))));
}

std::string Unquote(const std::string& text) {
  std::string value = Trim(text);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

const TSoapRequestParam& Param(const TSoapRequest& request, const std::string& name) {
  const TSoapRequestParam* param = request.Find(name);
  if (param == nullptr) throw EClientFault(Format("Missing parameter %s", name.c_str()));
  return *param;
}

int32_t IntParam(const TSoapRequest& request, const std::string& name) {
  const std::string text = Trim(Param(request, name).Text);
  int32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) {
    throw EClientFault(
        Format("Parameter %s: '%.32s' is not a 32-bit integer", name.c_str(), text.c_str()));
  }
  return value;
}

// The received attachment that the parameter refers to with href="cid:...".
TSOAPAttachmentData& Attachment(const TSoapRequest& request, const std::string& name,
                                TSoapDataList& received) {
  const TSoapRequestParam& param = Param(request, name);
  if (param.Nil || param.Href.empty()) {
    throw EClientFault(Format("Parameter %s carries no attachment", name.c_str()));
  }
  std::string id = param.Href;
  if (Lower(id.substr(0, 4)) == "cid:") id = id.substr(4);
  for (auto& data : received) {
    std::string contentId = data->ContentId;
    if (contentId.size() >= 2 && contentId.front() == '<' && contentId.back() == '>') {
      contentId = contentId.substr(1, contentId.size() - 2);
    }
    if (contentId == id && !data->CacheFile.empty()) return *data;
  }
  throw EClientFault(Format("Attachment '%.128s' of parameter %s not found in the request",
                            param.Href.c_str(), name.c_str()));
}

// Fault texts quote parts of the request and may have been cut in the middle of a character:
// keep whole UTF-8 characters that XML can carry and turn every other byte into "?".
std::string XmlSafe(const std::string& text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80           ? 1
                    : (lead >> 5) == 0x6  ? 2
                    : (lead >> 4) == 0xE  ? 3
                    : (lead >> 3) == 0x1E ? 4
                                          : 0;
    bool valid = length != 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) {
      valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    }
    if (length == 1) valid = lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r';
    if (valid && length == 2) valid = lead >= 0xC2;
    if (valid) {
      out.append(text, i, length);
      i += length;
    } else {
      out += '?';
      ++i;
    }
  }
  return out;
}

std::string Fault(const char* code, const std::string& text) {
  try {
    return WriteSoapFault(code, XmlSafe(text));
  } catch (const std::exception&) {
    return WriteSoapFault(code, "The request could not be read");
  }
}

std::string Boolean(bool value) { return value ? "true" : "false"; }

const TIntfMetaData* SenderInterface() {
  return InvRegistry().GetInterfaceInfo(IID_ISenderService);
}

EClientFault LargeEnvelope(const char* what) {
  return EClientFault(
      Format("%s larger than %lld bytes", what, static_cast<long long>(kMaxEnvelope)));
}

void RefuseLargeEnvelope(int64_t size, const char* what) {
  if (size > kMaxEnvelope) throw LargeEnvelope(what);
}

// The one fault answer: the request's own faults are told to the caller (SOAP-ENV:Client); of
// the service's own failures only a limit it ran into is, the details (paths, system errors) go to
// the log alone.
void SetFault(TSoapReply& reply, std::exception_ptr error) {
  const char* code = "SOAP-ENV:Client";
  std::string text;
  std::string logged;
  try {
    std::rethrow_exception(error);
  } catch (const EClientFault& e) {
    text = e.Message();
  } catch (const EUnknownSession& e) {
    text = e.Message();
  } catch (const EDOMParseError& e) {
    text = Format("Malformed XML: %s", e.what());
  } catch (const ESOAPDomConvertError& e) {
    text = e.Message();
  } catch (const EDiskFull& e) {
    code = "SOAP-ENV:Server";
    text = e.Message();
    logged = e.Message() + " (" + e.Detail() + ")";
  } catch (const EServiceLimit& e) {
    // The service's own state, but one the caller should read: say which limit.
    code = "SOAP-ENV:Server";
    text = e.Message();
  } catch (const std::exception& e) {
    code = "SOAP-ENV:Server";
    text = "The service could not complete the request";
    logged = e.what();
  } catch (...) {
    code = "SOAP-ENV:Server";
    text = "The service could not complete the request";
    logged = "unknown error";
  }
  reply.Status = 500;
  reply.Body = Fault(code, text);
  reply.Outcome = Format("fault %s: %s", code, (logged.empty() ? text : logged).c_str());
}

// Attachments are cached under numbered names, the first free number taken. Requests handled at
// the same time would race for those names, so each thread has a folder of its own, kept for
// the thread's life: a folder per request would cost a directory create and remove per part.
std::filesystem::path ThreadIncomingDir(const std::filesystem::path& incoming) {
  static std::atomic<int> nextThread{0};
  thread_local const int thread = nextThread++;
  const std::filesystem::path folder = incoming / Format("t%d", thread);
  std::filesystem::create_directories(folder);
  return folder;
}

}  // namespace

TSoapEndpoint::TSoapEndpoint(TSenderServer& server) : FServer(server) { RegisterSenderService(); }

int64_t TSoapEndpoint::BodyLimit(const std::string& contentType) {
  return MediaType(contentType) == "text/xml" ? kMaxEnvelope : -1;
}

TSoapReply TSoapEndpoint::Unheld(std::exception_ptr error) {
  TSoapReply reply;
  reply.ContentType = kSoapContentType;
  SetFault(reply, error);
  return reply;
}

std::string TSoapEndpoint::UnworthyBody(const std::string& contentType, std::string_view prefix) {
  const std::string mediaType = MediaType(contentType);
  if (mediaType != "multipart/related" && mediaType != "text/xml") {
    return Format("Unsupported content type '%.128s'", contentType.c_str());
  }
  const std::string boundary = BoundaryOf(contentType);
  if (mediaType != "multipart/related" || boundary.empty()) return {};
  // The delimiter lines before and after the root part each hold the boundary (in any case).
  const auto same = [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
  };
  auto at = prefix.begin();
  for (int seen = 0; seen < 2; ++seen) {
    at = std::search(at, prefix.end(), boundary.begin(), boundary.end(), same);
    if (at == prefix.end()) {
      return Format("Malformed multipart body: no root part within the first %lld bytes",
                    static_cast<long long>(kMaxEnvelope));
    }
    at += static_cast<std::ptrdiff_t>(boundary.size());
  }
  return {};
}

TSoapReply TSoapEndpoint::EnvelopeTooLarge() {
  TSoapReply reply;
  reply.ContentType = kSoapContentType;
  SetFault(reply, std::make_exception_ptr(LargeEnvelope("Envelope")));
  return reply;
}

TSoapRequest TSoapEndpoint::ReadRequest(const std::string& contentType, TStream& body,
                                        TSoapDataList& received, TBudgetHold& incoming) {
  const std::string mediaType = MediaType(contentType);
  if (mediaType == "text/xml") {
    RefuseLargeEnvelope(body.Size() - body.Position(), "Envelope");
    return ReadSoapRequest(body, SenderInterface());
  }
  if (mediaType != "multipart/related") {
    throw EClientFault(Format("Unsupported content type '%.128s'", contentType.c_str()));
  }
  const std::filesystem::path folder = ThreadIncomingDir(FServer.IncomingDir());
  // Attachments are copies of the body's bytes on the service's disk: counted before they are
  // written, at most the whole body, then what they hold until they are removed.
  incoming.Resize(body.Size() - body.Position());
  TMemoryStream rootPart;
  try {
    TMimeAttachmentHandler handler;
    handler.ProcessMultiPartForm(body, rootPart, contentType, received, Utf8FromFsPath(folder));
  } catch (const Exception& e) {
    // A write that failed for want of space is the service's fault, not the body's.
    const int error = errno;
    if (IsDiskFullError(error) || TDirFd::OpenPath(folder).FreeBytes() < kFullDiskFree) {
      throw EDiskFull(Format("Cannot store an attachment: %s", e.what()));
    }
    throw EClientFault(Format("Malformed multipart body: %s", e.what()));
  }
  int64_t attached = 0;
  for (const auto& data : received) {
    if (data->CacheFile.empty()) continue;
    std::error_code unknown;
    const uintmax_t size = std::filesystem::file_size(FsPathFromUtf8(data->CacheFile), unknown);
    if (!unknown) attached += static_cast<int64_t>(size);
  }
  incoming.Resize(attached);
  RefuseLargeEnvelope(rootPart.Size(), "Root part");
  rootPart.SetPosition(0);
  return ReadSoapRequest(rootPart, SenderInterface());
}

int TSoapEndpoint::Resolve(const TSoapRequest& request, const std::string& soapAction) {
  const TIntfMetaData* intf = SenderInterface();
  const int method = intf == nullptr ? -1 : IndexOfMethod(*intf, request.Operation);
  if (method < 0 || request.Namespace != intf->Namespace) {
    throw EClientFault(Format("Unknown operation {%.256s}%.256s", request.Namespace.c_str(),
                              request.Operation.c_str()));
  }
  const std::string action = InvRegistry().GetActionURIOfInfo(*intf, request.Operation, method);
  if (Unquote(soapAction) != action) {
    throw EClientFault(Format("SOAPAction '%.256s' does not match operation %s", soapAction.c_str(),
                              request.Operation.c_str()));
  }
  return method;
}

void TSoapEndpoint::Dispatch(int method, const TSoapRequest& request, TSoapDataList& received,
                             TBudgetHold& incoming, const std::string& peer, TSoapReply& reply) {
  std::string xsdType = "xsd:boolean";
  std::string value;
  switch (method) {
    case smGetSession:
      xsdType = "xsd:string";
      value = FServer.GetSession(peer);
      reply.Session = value;
      break;
    case smUploadFilePart: {
      TSOAPAttachmentData& part = Attachment(request, "FilePart", received);
      const bool stored =
          FServer.UploadFilePart(Param(request, "Sess").Text, Param(request, "PartName").Text,
                                 Trim(Param(request, "Hash").Text), part.CacheFile, &incoming);
      // Stored means moved: the cache file name is no longer this request's to remove.
      if (stored) part.CacheFilePersist = true;
      value = Boolean(stored);
      break;
    }
    case smMergeFile:
      value = Boolean(FServer.MergeFile(IntParam(request, "Parts"), Param(request, "FileName").Text,
                                        Param(request, "Sess").Text));
      break;
    case smUnZip:
      value = Boolean(FServer.UnZip(Param(request, "Sess").Text));
      break;
    case smDelTempFiles:
      value = Boolean(FServer.DelTempFiles(Param(request, "Sess").Text));
      break;
    default:
      throw EClientFault(Format("Unknown operation %s", request.Operation.c_str()));
  }
  reply.Body = WriteSoapResponse(request.Operation, SenderInterface()->Namespace, xsdType, value);
  reply.Outcome = value;
}

TSoapReply TSoapEndpoint::Handle(const std::string& contentType, const std::string& soapAction,
                                 TStream& body, const std::string& peer) {
  TSoapReply reply;
  reply.ContentType = kSoapContentType;
  // Declared before the work so that received attachments outlive the fault reply, and their
  // count in the budget outlives them.
  TBudgetHold incoming(&FServer.Budget());
  TSoapDataList received;
  try {
    const TSoapRequest request = ReadRequest(contentType, body, received, incoming);
    reply.Operation = request.Operation;
    if (const TSoapRequestParam* sess = request.Find("Sess")) reply.Session = sess->Text;
    Dispatch(Resolve(request, soapAction), request, received, incoming, peer, reply);
  } catch (...) {
    SetFault(reply, std::current_exception());
  }
  return reply;
}

}  // namespace vorlen

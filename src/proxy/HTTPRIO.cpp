#include "proxy/HTTPRIO.h"

#include <algorithm>
#include <memory>

#include "runtime/Format.h"
#include "soap/InvokableClassRegistry.h"
#include "mime/MimeAttachmentHandler.h"
#include "soap/SOAPExceptions.h"
#include "soap/SenderServiceIntf.h"

namespace vorlen {

namespace {

// Empties the converter's attachment list however the send ends, so no attachment of one
// call is sent again with the next.
class TAttachmentsClearer {
 public:
  explicit TAttachmentsClearer(TSoapDataList& list) : FList(list) {}
  TAttachmentsClearer(const TAttachmentsClearer&) = delete;
  TAttachmentsClearer& operator=(const TAttachmentsClearer&) = delete;
  ~TAttachmentsClearer() { FList.clear(); }

 private:
  TSoapDataList& FList;
};

bool HasAttachmentParam(const TIntfMethEntry& method) {
  return std::any_of(method.Params.begin(), method.Params.end(), [](const TParamInfo& param) {
    return param.Type == TParamType::ptAttachment;
  });
}

}  // namespace

THTTPRIO::THTTPRIO()
    : FWSDLView(std::make_shared<TWSDLView>()),
      FHTTPWebNode(std::make_unique<THTTPReqResp>()),
      FConverter(std::make_unique<TOPToSoapDomConvert>()) {
  RegisterSenderService();
  FHTTPWebNode->WSDLView = FWSDLView;
}

THTTPRIO::~THTTPRIO() = default;

void THTTPRIO::SetURL(const std::string& url) {
  FHTTPWebNode->SetEndpointURL(url);
  if (!url.empty()) {
    FWSDLView->Location.clear();
    FWSDLView->Service.clear();
    FWSDLView->Port.clear();
  }
}

void THTTPRIO::SetWSDLLocation(const std::string& location) {
  if (!location.empty() && !URL().empty()) FHTTPWebNode->SetEndpointURL(std::string());
  FWSDLView->Location = location;
  FWSDLView->Service.clear();
  FWSDLView->Port.clear();
}

ISenderServicePtr THTTPRIO::AsSenderService() {
  if (!InvRegistry().HasRegInterface(IID_ISenderService))
    throw Exception(Format("Interface not registered, UUID = %s", IID_ISenderService));
  std::shared_ptr<THTTPRIO> self = weak_from_this().lock();
  if (!self) throw Exception("THTTPRIO must be owned by a std::shared_ptr to hand out references");
  FHTTPWebNode->SetCurrentAction(InvRegistry().GetActionTemplate(IID_ISenderService));
  return self;
}

TParamValue THTTPRIO::Invoke(int methIndex, const std::vector<TParamValue>& args) {
  if (!FConverter) throw Exception("No Native to Message converter set");
  if (!FHTTPWebNode) throw Exception("No Message processing node set");
  const TIntfMetaData* intf = InvRegistry().GetInterfaceInfo(IID_ISenderService);
  if (intf == nullptr)
    throw Exception(Format("Interface not registered, UUID = %s", IID_ISenderService));
  if (methIndex < 0 || methIndex >= static_cast<int>(intf->MDA.size()))
    throw Exception(Format("Interface has no RTTI, UUID = %s", IID_ISenderService));

  THTTPReqResp& node = *FHTTPWebNode;
  const bool multipart = HasAttachmentParam(intf->MDA[static_cast<size_t>(methIndex)]);
  TMemoryStream response;
  {
    TAttachmentsClearer clearer(FConverter->Attachments());
    std::unique_ptr<TMemoryStream> envelope = FConverter->InvContextToMsg(*intf, methIndex, args);
    if (multipart) {
      TMimeAttachmentHandler handler;
      handler.CreateMimeStream(*envelope, FConverter->Attachments());
      node.SetMimeBoundary(handler.MIMEBoundary());
      node.PrepareCall(*intf, methIndex, &handler);
      handler.FinalizeStream();
      node.Exchange(handler.GetMIMEStream(), response);
    } else {
      node.PrepareCall(*intf, methIndex, nullptr);
      node.Exchange(*envelope, response);
    }
  }

  response.SetPosition(0);
  if (node.MimeBoundary().empty()) return FConverter->ProcessResponse(response, *intf, methIndex);
  // A multipart answer: its root part is the SOAP message. Received attachments are dropped
  // with their cache files, since no operation returns one.
  TMimeAttachmentHandler splitter;
  TMemoryStream root;
  TSoapDataList received;
  splitter.ProcessMultiPartForm(response, root, node.MimeBoundary(), received, FConverter->TempDir);
  root.SetPosition(0);
  return FConverter->ProcessResponse(root, *intf, methIndex);
}

bool THTTPRIO::InvokeBoolean(int methIndex, const std::vector<TParamValue>& args) {
  const TParamValue result = Invoke(methIndex, args);
  if (const bool* value = std::get_if<bool>(&result)) return *value;
  // A Body without a response element sets no result: the call then gives false.
  if (std::holds_alternative<std::monostate>(result)) return false;
  throw ESOAPDomConvertError("The response does not carry a Boolean result");
}

std::string THTTPRIO::GetSession() {
  const TParamValue result = Invoke(smGetSession, {});
  if (const std::string* value = std::get_if<std::string>(&result)) return *value;
  if (std::holds_alternative<std::monostate>(result)) return std::string();
  throw ESOAPDomConvertError("The response does not carry a text result");
}

bool THTTPRIO::UploadFilePart(const std::string& Sess, const std::string& PartName,
                              const std::string& Hash, TSOAPAttachment* FilePart) {
  return InvokeBoolean(smUploadFilePart, {Sess, PartName, Hash, FilePart});
}

bool THTTPRIO::MergeFile(int32_t Parts, const std::string& FileName, const std::string& Sess) {
  return InvokeBoolean(smMergeFile, {Parts, FileName, Sess});
}

bool THTTPRIO::UnZip(const std::string& Sess) { return InvokeBoolean(smUnZip, {Sess}); }

bool THTTPRIO::DelTempFiles(const std::string& Sess) {
  return InvokeBoolean(smDelTempFiles, {Sess});
}

ISenderServicePtr BindSenderService(bool UseWSDL, const std::string& Addr,
                                    std::shared_ptr<THTTPRIO> Proxy) {
  std::string address = Addr;
  if (address.empty()) address = UseWSDL ? kSenderServiceDefaultWSDL : kSenderServiceDefaultURL;
  // An object made here is released with the last reference, also when binding fails.
  std::shared_ptr<THTTPRIO> rio = Proxy ? std::move(Proxy) : std::make_shared<THTTPRIO>();
  ISenderServicePtr service = rio->AsSenderService();
  if (!UseWSDL) {
    rio->SetURL(address);
  } else {
    rio->SetWSDLLocation(address);
    rio->SetService(kSenderServiceName);
    rio->SetPort(kSenderServicePort);
  }
  return service;
}

}  // namespace vorlen

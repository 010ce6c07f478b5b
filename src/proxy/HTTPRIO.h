// The service proxy: ISenderService calls as SOAP messages over the HTTP transport, and the
// binder that hands out a ready reference.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "soap/OPToSoapDomConvert.h"
#include "soap/SenderService.h"
#include "transport/HTTPReqResp.h"
#include "transport/WSDLView.h"

namespace vorlen {

// Owns its transport (HTTPWebNode) and message converter. Must be owned by a std::shared_ptr:
// the references handed out by AsSenderService share its lifetime. A failed call leaves it
// usable; every call builds its messages afresh.
class THTTPRIO : public ISenderService, public std::enable_shared_from_this<THTTPRIO> {
 public:
  THTTPRIO();
  THTTPRIO(const THTTPRIO&) = delete;
  THTTPRIO& operator=(const THTTPRIO&) = delete;
  ~THTTPRIO() override;

  THTTPReqResp& HTTPWebNode() { return *FHTTPWebNode; }
  TOPToSoapDomConvert& Converter() { return *FConverter; }

  // A non-empty URL binds the endpoint and clears WSDLLocation, Service and Port.
  void SetURL(const std::string& url);
  const std::string& URL() const { return FHTTPWebNode->URL(); }
  // A non-empty location unbinds a set URL; Service and Port are cleared. Nothing is loaded.
  void SetWSDLLocation(const std::string& location);
  void SetService(const std::string& service) { FWSDLView->Service = service; }
  void SetPort(const std::string& port) { FWSDLView->Port = port; }

  // The interface query: the reference to this object as ISenderService. Raises when the
  // contract is not registered.
  ISenderServicePtr AsSenderService();

  // ISenderService.
  std::string GetSession() override;
  bool UploadFilePart(const std::string& Sess, const std::string& PartName, const std::string& Hash,
                      TSOAPAttachment* FilePart) override;
  bool MergeFile(int32_t Parts, const std::string& FileName, const std::string& Sess) override;
  bool UnZip(const std::string& Sess) override;
  bool DelTempFiles(const std::string& Sess) override;

  // The read side of the description binding; nothing here reads them.
  const std::string& WSDLLocation() const { return FWSDLView->Location; }
  const std::string& Service() const { return FWSDLView->Service; }
  const std::string& Port() const { return FWSDLView->Port; }

 private:
  TParamValue Invoke(int methIndex, const std::vector<TParamValue>& args);
  bool InvokeBoolean(int methIndex, const std::vector<TParamValue>& args);

  std::shared_ptr<TWSDLView> FWSDLView;
  std::unique_ptr<THTTPReqResp> FHTTPWebNode;
  std::unique_ptr<TOPToSoapDomConvert> FConverter;
};

// UseWSDL false: the object's URL becomes Addr (empty: the default service address).
// UseWSDL true: its WSDLLocation becomes Addr (empty: the default description address) with the
// default service and port names. Without Proxy a new ownerless object is made, which lives as
// long as the returned reference.
ISenderServicePtr BindSenderService(bool UseWSDL = false, const std::string& Addr = "",
                                    std::shared_ptr<THTTPRIO> Proxy = nullptr);

}  // namespace vorlen

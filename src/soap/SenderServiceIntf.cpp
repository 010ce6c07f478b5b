#include "soap/SenderServiceIntf.h"

#include <mutex>

#include "soap/InvokableClassRegistry.h"

namespace vorlen {

const char* const IID_ISenderService = "{D849D04E-524E-3082-0494-426D19E4F1E1}";
const char* const kSenderServiceNamespace = "urn:SenderServiceIntf-ISenderService";
const char* const kSenderServiceActionTemplate =
    "urn:SenderServiceIntf-ISenderService#%operationName%";
const char* const kSenderServiceDefaultURL =
    "http://localhost/FileUploader/Sender_Server.dll/soap/ISenderService";
const char* const kSenderServiceDefaultWSDL =
    "http://localhost/FileUploader/Sender_Server.dll/wsdl/ISenderService";
const char* const kSenderServiceName = "ISenderServiceservice";
const char* const kSenderServicePort = "ISenderServicePort";
const char* const kSenderDetailsName = "sendDetails.txt";

namespace {

TIntfMetaData SenderServiceMetaData() {
  using P = TParamType;
  TIntfMetaData info;
  info.Name = "ISenderService";
  info.UnitName = "SenderService";
  info.IID = IID_ISenderService;
  info.Namespace = kSenderServiceNamespace;
  info.Encoding = "utf-8";
  // MergeFile takes the part count first and the session last; the server relies on this order.
  info.MDA = {
      {"GetSession", smGetSession, {}, P::ptString},
      {"UploadFilePart",
       smUploadFilePart,
       {{"Sess", P::ptString},
        {"PartName", P::ptString},
        {"Hash", P::ptString},
        {"FilePart", P::ptAttachment}},
       P::ptBoolean},
      {"MergeFile",
       smMergeFile,
       {{"Parts", P::ptInteger}, {"FileName", P::ptString}, {"Sess", P::ptString}},
       P::ptBoolean},
      {"UnZip", smUnZip, {{"Sess", P::ptString}}, P::ptBoolean},
      {"DelTempFiles", smDelTempFiles, {{"Sess", P::ptString}}, P::ptBoolean},
  };
  return info;
}

}  // namespace

void RegisterSenderService() {
  static std::once_flag once;
  std::call_once(once, [] {
    InvRegistry().RegisterInterface(SenderServiceMetaData());
    InvRegistry().RegisterDefaultSOAPAction(IID_ISenderService, kSenderServiceActionTemplate);
  });
}

}  // namespace vorlen

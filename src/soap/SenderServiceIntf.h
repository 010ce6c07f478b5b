// Registration of ISenderService: the facts of the contract that the messages are built from.
#pragma once

namespace vorlen {

extern const char* const IID_ISenderService;            // "{D849D04E-524E-3082-0494-426D19E4F1E1}"
extern const char* const kSenderServiceNamespace;       // "urn:SenderServiceIntf-ISenderService"
extern const char* const kSenderServiceActionTemplate;  // namespace + "#%operationName%"
// Default addresses when the settings give none (loopback host).
extern const char* const
    kSenderServiceDefaultURL;  // ".../FileUploader/Sender_Server.dll/soap/ISenderService"
extern const char* const
    kSenderServiceDefaultWSDL;  // ".../FileUploader/Sender_Server.dll/wsdl/ISenderService"
extern const char* const kSenderServiceName;  // "ISenderServiceservice"
extern const char* const kSenderServicePort;  // "ISenderServicePort"
// Part name of the details file that names the sender, as the client uploads it.
extern const char* const kSenderDetailsName;  // "sendDetails.txt"

// Indexes of the operations in the registered metadata (TIntfMetaData::MDA).
enum TSenderServiceMethod : int {
  smGetSession = 0,
  smUploadFilePart = 1,
  smMergeFile = 2,
  smUnZip = 3,
  smDelTempFiles = 4,
};

// Enters the contract into InvRegistry(); safe to call many times and from several threads.
void RegisterSenderService();

}  // namespace vorlen

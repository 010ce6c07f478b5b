// Any bytes as a SOAP request envelope: the reader either returns a request or raises one of its
// own exceptions, with and without the interface that bounds the parameters kept.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/Exception.h"
#include "runtime/Stream.h"
#include "soap/InvokableClassRegistry.h"
#include "soap/SenderServiceIntf.h"
#include "soap/SoapServerMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vorlen;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  RegisterSenderService();
  const TIntfMetaData* sender = InvRegistry().GetInterfaceInfo(IID_ISenderService);
  for (const TIntfMetaData* intf : {static_cast<const TIntfMetaData*>(nullptr), sender}) {
    TMemoryStream xml(bytes);
    try {
      const TSoapRequest request = ReadSoapRequest(xml, intf);
      for (const TSoapRequestParam& param : request.Params) (void)request.Find(param.Name);
    } catch (const Exception&) {
    }
  }
  return 0;
}

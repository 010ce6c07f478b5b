// The registered metadata of ISenderService, for tests that write or read its messages.
// Header only: its users link the SOAP library themselves.
#pragma once

#include "runtime/Exception.h"
#include "soap/InvokableClassRegistry.h"
#include "soap/SenderServiceIntf.h"

namespace vorlen::test {

// Registers the contract on first use.
inline const TIntfMetaData& SenderIntf() {
  RegisterSenderService();
  const TIntfMetaData* intf = InvRegistry().GetInterfaceInfo(IID_ISenderService);
  if (!intf) throw Exception("ISenderService is not registered");
  return *intf;
}

}  // namespace vorlen::test

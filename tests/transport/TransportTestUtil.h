// Small helpers shared by the transport tests.
#pragma once

#include <string>

#include "runtime/Stream.h"
#include "soap/InvRegistry.h"
#include "soap/SenderServiceIntf.h"

namespace vorlen::test {

inline const TIntfMetaData& SenderIntf() {
  RegisterSenderService();
  return *InvRegistry().GetInterfaceInfo(IID_ISenderService);
}

// Replaces every "{PORT}" of an expectation written out in the test.
inline std::string WithPort(std::string text, int port) {
  const std::string key = "{PORT}";
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at))
    text.replace(at, key.size(), std::to_string(port));
  return text;
}

inline std::string Contents(TMemoryStream& stream) { return stream.ToString(); }

}  // namespace vorlen::test

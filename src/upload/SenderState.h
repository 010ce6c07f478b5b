// The state that the window, its closing rules and the send share.
#pragma once

#include <cstdint>
#include <string>

#include "soap/SenderService.h"

namespace vorlen {

struct TSenderState {
  bool FClosing = false;          // set once the window agreed to close; never reset
  uint8_t FState = 0;             // 0 idle, 1 uploading parts, 2 server work after the upload
  std::string FUrl;
  std::string FOrg;
  bool FSettingsChanged = false;  // the operator confirmed an input box
  ISenderServicePtr ServiceIntf;  // empty until bound; emptied when the window closes
  std::string Session;
  int32_t LastPartIndex = 0;
};

}  // namespace vorlen

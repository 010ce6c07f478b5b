// The state that the window, its closing rules and the send share.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "soap/SenderService.h"
#include "send/SettingsFile.h"

namespace vorlen {

// What the send is doing; the closing rules depend on it. Kept to an unsigned 8-bit value.
enum TSendPhase : uint8_t {
  spIdle = 0,        // no send, or the file dialog and packing
  spUploading = 1,   // parts are being uploaded
  spServerWork = 2,  // the service merges, unpacks and cleans up
};

static_assert(sizeof(TSendPhase) == 1);

// FClosing and FState are read by the window's thread while a send's worker thread changes them;
// the other fields belong to whichever thread runs the send while one runs.
struct TSenderState {
  std::atomic<bool> FClosing{false};  // set once the window agreed to close; never reset
  std::atomic<TSendPhase> FState{spIdle};
  std::string FUrl;
  std::string FOrg;
  TSettingEntries FMoreSettings;  // sendcfg.ini's settings beside url and org, kept on rewrite
  bool FSettingsChanged = false;  // the operator confirmed an input box
  ISenderServicePtr ServiceIntf;  // empty until bound; emptied when the window closes
  std::string Session;
  int32_t LastPartIndex = 0;
};

}  // namespace vorlen

// The send button's command: choose a file, pack it unless it already is an archive, upload it
// part by part, and have the service merge, unpack and clean up.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "runtime/Exception.h"
#include "runtime/Stream.h"
#include "send/IOperatorView.h"
#include "send/PartUpload.h"
#include "send/SenderState.h"
#include "send/UploadRules.h"

namespace vorlen {

// Packing left out a chosen file or wrote no archive; the message names the file.
class EPackError : public Exception {
 public:
  using Exception::Exception;
};

class TSendCommand : public TPartUpload {
 public:
  TSendCommand(TSenderState& state, IOperatorView& view);

  // The whole send. Errors outside the guarded part uploads propagate to the caller; the send
  // button is enabled again whatever the way out.
  void btSendClick();
  // Packs Files into the temporary archive and returns its path; raises EPackError, naming the
  // file, for anything but a regular file, and when the archive does not hold every file.
  std::string PackFiles(std::vector<std::string>& Files);

  std::string TempDir;  // temporary archive's directory (default: TempArchiveDir())
  // Files chosen before the send (the window's command line): the open dialog is not shown.
  // Several are always packed together into one archive.
  std::vector<std::string> Files;

  // How the last btSendClick ended; the command-line sender turns it into its exit code.
  enum TOutcome { ocNone, ocCancelled, ocDone, ocFailed, ocClosing };
  TOutcome Outcome() const { return FOutcome; }
  bool Packed() const { return FPacked; }

 private:
  TOutcome FOutcome = ocNone;
  bool FPacked = false;
};

}  // namespace vorlen

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
#include "soap/SOAPAttachment.h"
#include "upload/IOperatorView.h"
#include "upload/SenderState.h"
#include "upload/UploadRules.h"

namespace vorlen {

// Packing left out a chosen file or wrote no archive; the message names the file.
class EPackError : public Exception {
 public:
  using Exception::Exception;
};

class TSendCommand {
 public:
  TSendCommand(TSenderState& state, IOperatorView& view);
  virtual ~TSendCommand() = default;

  // The whole send. Errors outside the guarded part uploads propagate to the caller; the send
  // button is enabled again whatever the way out.
  void btSendClick();
  // Packs Files into the temporary archive and returns its path; raises EPackError, naming the
  // file, for anything but a regular file, and when the archive does not hold every file.
  std::string PackFiles(std::vector<std::string>& Files);
  // Uploads the file part by part, then the details file. False when the operator gave up.
  bool UploadFile(const std::string& Path);
  // One attempt; every error of the call yields false.
  bool UploadPart(const std::string& Sess, const std::string& PartName, const std::string& Hash,
                  TSOAPAttachment& Attachment);

  std::string DetailsDir;              // directory of sendDetails.txt (default: ExecutableDir())
  std::string DetailsPath;             // when set, the details file's own path instead
  std::function<std::string()> Today;  // short date text in the locale's pattern (tests replace)
  std::string TempDir;                 // temporary archive's directory (default: TempArchiveDir())
  // Called when a part has been read, before its attempts, with its index, the number of parts
  // and its length; the command-line sender shows its rate and part count from here.
  std::function<void(int32_t index, int64_t partCount, int64_t length)> OnPartRead;

  // How the last btSendClick ended; the command-line sender turns it into its exit code.
  enum TOutcome { soNone, soCancelled, soDone, soFailed, soClosing };
  TOutcome Outcome() const { return FOutcome; }
  // What became of the details file in the last upload.
  enum TDetailsOutcome { dsNone, dsNotWritten, dsNotSent, dsSent };
  TDetailsOutcome Details() const { return FDetails; }
  bool Packed() const { return FPacked; }

 protected:
  // The file to upload, open for reading while other programs may still read and write it.
  virtual std::unique_ptr<TStream> OpenSourceFile(const std::string& path);

 private:
  ISenderService& Service();
  void SendDetails(TSOAPAttachment& attachment);

  TSenderState& FSt;
  IOperatorView& FView;
  TOutcome FOutcome = soNone;
  TDetailsOutcome FDetails = dsNone;
  bool FPacked = false;
};

}  // namespace vorlen

// The part-by-part upload of one file to the service, and the details file that follows it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runtime/Stream.h"
#include "soap/SOAPAttachment.h"
#include "soap/SenderService.h"
#include "upload/IOperatorView.h"
#include "upload/SenderState.h"

namespace vorlen {

class TPartUpload {
 public:
  TPartUpload(TSenderState& state, IOperatorView& view);
  virtual ~TPartUpload() = default;

  // Uploads the file part by part, then the details file. False when the operator gave up.
  bool UploadFile(const std::string& Path);
  // One attempt; every error of the call yields false.
  bool UploadPart(const std::string& Sess, const std::string& PartName, const std::string& Hash,
                  TSOAPAttachment& Attachment);

  std::string DetailsDir;              // directory of sendDetails.txt (default: ExecutableDir())
  std::string DetailsPath;             // when set, the details file's own path instead
  std::function<std::string()> Today;  // short date text in the locale's pattern (tests replace)
  // Called when a part has been read, before its attempts, with its index, the number of parts
  // and its length; the command-line sender shows its rate and part count from here.
  std::function<void(int32_t index, int64_t partCount, int64_t length)> OnPartRead;

  // What became of the details file in the last upload.
  enum TDetailsOutcome { dsNone, dsNotWritten, dsNotSent, dsSent };
  TDetailsOutcome Details() const { return FDetails; }

 protected:
  // The file to upload, open for reading while other programs may still read and write it.
  virtual std::unique_ptr<TStream> OpenSourceFile(const std::string& path);
  // The bound service; raises NoService when there is none.
  ISenderService& Service();

  TSenderState& FSt;
  IOperatorView& FView;
  TDetailsOutcome FDetails = dsNone;

 private:
  void SendDetails(TSOAPAttachment& attachment);
};

}  // namespace vorlen

// The part-by-part upload of one file to the service, and the details file that follows it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runtime/Stream.h"
#include "mime/SOAPAttachment.h"
#include "soap/SenderService.h"
#include "send/IOperatorView.h"
#include "send/SenderState.h"

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
  // Full path of sendcfg.ini, named in the "no service" error when set.
  std::string SettingsPath;
  std::string DetailsPath;             // when set, the details file's own path instead
  std::function<std::string()> Today;  // short date text in the locale's pattern (tests replace)
  // Called when a part has been read, before its attempts, with its index, the number of parts
  // and its length; the command-line sender shows its rate and part count from here.
  std::function<void(int32_t index, int64_t partCount, int64_t length)> OnPartRead;
  // Called when a part was accepted, just before the progress bar moves, with its index and
  // length; with parts in flight the parts are accepted in no fixed order.
  std::function<void(int32_t index, int64_t length)> OnPartAccepted;
  // Called when a part has failed its automatic attempts, with its index: at once when the
  // parts go one after another, as the sender learns of it when they are in flight.
  std::function<void(int32_t index)> OnPartFailed;

  // Parts uploaded at once: 1 sends them one after another; more need NewPartService, which
  // gives each part in flight a service reference (and so a connection) of its own. The service
  // must then store the parts by name, whatever order they come in.
  int Parallel = 1;
  std::function<ISenderServicePtr()> NewPartService;

  // What became of the details file in the last upload.
  enum TDetailsOutcome { dsNone, dsNotWritten, dsNotSent, dsSent };
  TDetailsOutcome Details() const { return FDetails; }
  // A session was opened by the last upload and the service not yet asked to drop its files.
  bool SessionOpen() const { return FSessionOpen; }
  // The "no service" error's text, naming SettingsPath when it is set.
  std::string NoServiceText() const;

 protected:
  // The file to upload, open for reading while other programs may still read and write it.
  virtual std::unique_ptr<TStream> OpenSourceFile(const std::string& path);
  // The bound service; raises NoService when there is none.
  ISenderService& Service();

  TSenderState& FSender;
  IOperatorView& FView;
  TDetailsOutcome FDetails = dsNone;
  bool FSessionOpen = false;

 private:
  // Reads part index of the file into part and returns its hash; raises when the file became
  // shorter than startSize.
  std::string ReadPart(TStream& file, const std::string& path, int64_t startSize, int32_t index,
                       TMemoryStream& part);
  // The progress after an accepted part, with the pumping points around it.
  void PartAccepted(int32_t index, int64_t length, int64_t accepted);
  // The parts one after another; false when the operator gave up.
  bool UploadInTurn(TStream& file, const std::string& path, int64_t startSize,
                    const std::string& fileName, TSOAPAttachment& attachment);
  // Up to Parallel parts at once; false when the operator gave up.
  bool UploadInFlight(TStream& file, const std::string& path, int64_t startSize,
                      const std::string& fileName);
  void SendDetails(TSOAPAttachment& attachment);
};

// One call of UploadFilePart on service; every error of the call yields false, as does an empty
// reference.
bool CallUploadFilePart(const ISenderServicePtr& service, const std::string& Sess,
                        const std::string& PartName, const std::string& Hash,
                        TSOAPAttachment& Attachment);
// The automatic attempts at one part: up to four calls of attempt, each sending the part from
// its first byte, stopping at the first true result.
bool UploadWithAttempts(TStream& part, const std::function<bool()>& attempt);

}  // namespace vorlen

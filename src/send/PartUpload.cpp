#include "send/PartUpload.h"

#include <limits>

#include "platform/CodePage.h"
#include "platform/Environment.h"
#include "platform/ExePath.h"
#include "platform/Paths.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "runtime/Stream.h"
#include "soap/SenderServiceIntf.h"
#include "send/OperatorTexts.h"
#include "send/ShownText.h"
#include "send/UploadRules.h"

namespace vorlen {

namespace {

constexpr int kAttempts = 4;

}  // namespace

TPartUpload::TPartUpload(TSenderState& state, IOperatorView& view)
    : DetailsDir(ExecutableDir()), Today(LocalShortDate), FSender(state), FView(view) {}

std::string TPartUpload::NoServiceText() const {
  return SettingsPath.empty() ? std::string(NoService) : NoServiceAt + SettingsPath + ".";
}

ISenderService& TPartUpload::Service() {
  if (!FSender.ServiceIntf) throw Exception(NoServiceText());
  return *FSender.ServiceIntf;
}

bool CallUploadFilePart(const ISenderServicePtr& service, const std::string& Sess,
                        const std::string& PartName, const std::string& Hash,
                        TSOAPAttachment& Attachment) {
  if (!service) return false;
  try {
    return service->UploadFilePart(Sess, PartName, Hash, &Attachment);
  } catch (const std::exception&) {
    return false;  // the caller retries or asks the operator
  }
}

bool UploadWithAttempts(TStream& part, const std::function<bool()>& attempt) {
  for (int i = 0; i < kAttempts; ++i) {
    part.SetPosition(0);  // every attempt sends the part from its first byte
    if (attempt()) return true;
  }
  return false;
}

bool TPartUpload::UploadPart(const std::string& Sess, const std::string& PartName,
                             const std::string& Hash, TSOAPAttachment& Attachment) {
  // A close handler may drop the reference between calls; hold it for this one.
  const ISenderServicePtr service = FSender.ServiceIntf;
  return CallUploadFilePart(service, Sess, PartName, Hash, Attachment);
}

std::unique_ptr<TStream> TPartUpload::OpenSourceFile(const std::string& path) {
  return std::make_unique<TFileStream>(path, TFileStream::fmOpenRead);
}

bool TPartUpload::UploadFile(const std::string& Path) {
  const auto attachment = std::make_unique<TSOAPAttachment>();
  FSessionOpen = false;
  FSender.Session.clear();  // a failed GetSession leaves no earlier send's session behind
  FSender.Session = Service().GetSession();
  FSessionOpen = true;
  FView.SetCaption(SendingCaption + ShownText(FSender.Session));

  const std::unique_ptr<TStream> source = OpenSourceFile(Path);
  TStream& file = *source;
  const int64_t startSize = file.Size();
  const int64_t lastIndex = startSize / kPartSize;
  if (lastIndex > std::numeric_limits<int32_t>::max())
    throw Exception(Format("The file %s is too large to be sent in parts", Path.c_str()));
  FSender.LastPartIndex = static_cast<int32_t>(lastIndex);
  const std::string fileName = ExtractFileName(Path);

  const bool result = Parallel > 1 ? UploadInFlight(file, Path, startSize, fileName)
                                   : UploadInTurn(file, Path, startSize, fileName, *attachment);
  if (result) SendDetails(*attachment);
  return result;
}

std::string TPartUpload::ReadPart(TStream& file, const std::string& path, int64_t startSize,
                                  int32_t index, TMemoryStream& part) {
  const int64_t offset = static_cast<int64_t>(index) * kPartSize;
  const int64_t currentSize = file.Size();
  // A file that shrank would give short or missing parts that the service would merge into a
  // corrupt copy; growth is allowed, as the part count stays as computed at the start.
  if (currentSize < startSize)
    throw EStreamError(
        Format("Stream read error: %s became shorter while it was being sent", path.c_str()));
  const int64_t length = currentSize - offset >= kPartSize ? kPartSize : currentSize - offset;
  part.SetSize(length);
  file.Seek(offset, TSeekOrigin::skBeginning);
  file.ReadBuffer(part.Memory(), length);
  if (OnPartRead) OnPartRead(index, static_cast<int64_t>(FSender.LastPartIndex) + 1, length);
  return PartHash(part.Memory(), static_cast<uint32_t>(length));
}

void TPartUpload::PartAccepted(int32_t index, int64_t length, int64_t accepted) {
  if (OnPartAccepted) OnPartAccepted(index, length);
  const int position = PartProgress(FSender.LastPartIndex, accepted);
  FView.ProcessMessages();
  FView.SetProgress(position);
  FView.ProcessMessages();
  FView.ProcessMessages();
}

bool TPartUpload::UploadInTurn(TStream& file, const std::string& path, int64_t startSize,
                               const std::string& fileName, TSOAPAttachment& attachment) {
  TMemoryStream part;  // one part in memory at a time, reused for every part
  int64_t i = 0;
  while (i <= FSender.LastPartIndex && !FSender.FClosing) {
    const auto index = static_cast<int32_t>(i);
    const std::string hash = ReadPart(file, path, startSize, index, part);
    const int64_t length = part.Size();
    attachment.SetSourceStream(&part, TStreamOwnership::owReference);
    const std::string name = PartName(fileName, index);
    const bool sent =
        UploadWithAttempts(part, [&] { return UploadPart(FSender.Session, name, hash, attachment); });
    part.SetSize(0);

    if (sent) {
      ++i;
      PartAccepted(index, length, i);
    } else {
      if (OnPartFailed) OnPartFailed(index);
      if (!FView.Confirm(RetryQuestion)) {
        FView.SetProgress(0);
        return false;
      }
    }
  }
  return true;
}

void TPartUpload::SendDetails(TSOAPAttachment& attachment) {
  std::string path = DetailsPath;
  if (path.empty()) {
    std::string dir = DetailsDir;
    if (!dir.empty() && !IsPathDelimiter(dir.back())) dir += PathDelim;
    path = dir + kSenderDetailsName;
  }
  try {
    const std::string line =
        AnsiFromUtf8("Изпратено от " + FSender.FOrg + " на " + (Today ? Today() : std::string())) +
        "\r\n";
    {
      TFileStream details(path, TFileStream::fmCreate);
      details.WriteBuffer(line.data(), static_cast<int64_t>(line.size()));
    }
    attachment.SetSourceFile(path);
  } catch (const std::exception&) {
    FDetails = dsNotWritten;
    FView.Inform(DetailsFailed);
    return;
  }
  // Whatever the file is called here, the service knows it by this name. A failure is not the
  // window operator's concern; vorlen-send's exit status tells it.
  FDetails = UploadPart(FSender.Session, kSenderDetailsName, "", attachment) ? dsSent : dsNotSent;
}

}  // namespace vorlen

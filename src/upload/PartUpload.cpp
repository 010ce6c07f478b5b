#include "upload/PartUpload.h"

#include <limits>

#include "platform/CodePage.h"
#include "platform/Environment.h"
#include "platform/ExePath.h"
#include "platform/Paths.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "runtime/Stream.h"
#include "soap/SenderServiceIntf.h"
#include "upload/OperatorTexts.h"
#include "upload/ShownText.h"
#include "upload/UploadRules.h"

namespace vorlen {

namespace {

constexpr int kAttempts = 4;

}  // namespace

TPartUpload::TPartUpload(TSenderState& state, IOperatorView& view)
    : DetailsDir(ExecutableDir()), Today(LocalShortDate), FSt(state), FView(view) {}

ISenderService& TPartUpload::Service() {
  if (!FSt.ServiceIntf) throw Exception(NoService);
  return *FSt.ServiceIntf;
}

bool TPartUpload::UploadPart(const std::string& Sess, const std::string& PartName,
                             const std::string& Hash, TSOAPAttachment& Attachment) {
  // A close handler may drop the reference between calls; hold it for this one.
  const ISenderServicePtr service = FSt.ServiceIntf;
  if (!service) return false;
  try {
    return service->UploadFilePart(Sess, PartName, Hash, &Attachment);
  } catch (const std::exception&) {
    return false;  // the caller retries or asks the operator
  }
}

std::unique_ptr<TStream> TPartUpload::OpenSourceFile(const std::string& path) {
  return std::make_unique<TFileStream>(path, TFileStream::fmOpenRead);
}

bool TPartUpload::UploadFile(const std::string& Path) {
  bool result = true;
  const auto attachment = std::make_unique<TSOAPAttachment>();
  FSt.Session = Service().GetSession();
  FView.SetCaption(SendingCaption + ShownText(FSt.Session));

  const std::unique_ptr<TStream> source = OpenSourceFile(Path);
  TStream& file = *source;
  TMemoryStream part;  // one part in memory at a time, reused for every part
  const int64_t startSize = file.Size();
  const int64_t lastIndex = startSize / kPartSize;
  if (lastIndex > std::numeric_limits<int32_t>::max())
    throw Exception(Format("The file %s is too large to be sent in parts", Path.c_str()));
  FSt.LastPartIndex = static_cast<int32_t>(lastIndex);
  const std::string fileName = ExtractFileName(Path);

  int64_t i = 0;
  while (i <= FSt.LastPartIndex && !FSt.FClosing) {
    const int64_t offset = i * kPartSize;
    const int64_t currentSize = file.Size();
    // A file that shrank would give short or missing parts that the service would merge into a
    // corrupt copy; growth is allowed, as the part count stays as computed at the start.
    if (currentSize < startSize)
      throw EStreamError(Format("Stream read error: %s became shorter while it was being sent",
                                Path.c_str()));
    const int64_t length = currentSize - offset >= kPartSize ? kPartSize : currentSize - offset;
    part.SetSize(length);
    file.Seek(offset, TSeekOrigin::soBeginning);
    file.ReadBuffer(part.Memory(), length);
    if (OnPartRead) OnPartRead(static_cast<int32_t>(i), lastIndex + 1, length);
    const std::string hash = PartHash(part.Memory(), static_cast<uint32_t>(length));
    attachment->SetSourceStream(&part, TStreamOwnership::soReference);
    const std::string name = PartName(fileName, static_cast<int32_t>(i));

    bool sent = false;
    for (int attempt = 0; attempt < kAttempts && !sent; ++attempt) {
      part.SetPosition(0);  // every attempt sends the part from its first byte
      sent = UploadPart(FSt.Session, name, hash, *attachment);
    }
    part.SetSize(0);

    if (sent) {
      ++i;
      const int position = PartProgress(FSt.LastPartIndex, i);
      FView.ProcessMessages();
      FView.SetProgress(position);
      FView.ProcessMessages();
      FView.ProcessMessages();
    } else if (!FView.Confirm(RetryQuestion)) {
      FView.SetProgress(0);
      result = false;
      break;
    }
  }

  if (result) SendDetails(*attachment);
  return result;
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
        AnsiFromUtf8("Изпратено от " + FSt.FOrg + " на " + (Today ? Today() : std::string())) +
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
  FDetails = UploadPart(FSt.Session, kSenderDetailsName, "", attachment) ? dsSent : dsNotSent;
}

}  // namespace vorlen

#include "mime/AttachmentQueue.h"

namespace vorlen {

void AddAttachment(TSoapDataList& list, TSOAPAttachment& attachment, const std::string& contentId) {
  auto copy = std::make_unique<TSOAPAttachmentData>();
  copy->ContentId = contentId;
  copy->Headers.push_back("Content-ID: <" + contentId + ">");
  if (!attachment.CacheFile.empty()) {
    copy->CacheFile = attachment.CacheFile;
    copy->CacheFilePersist = true;  // the file belongs to the attachment
  } else if (TStream* stream = attachment.GetSourceStream()) {
    if (std::unique_ptr<TStream> own = attachment.TakeOwnSourceStream()) {
      copy->SetSourceStream(own.release(), TStreamOwnership::owOwned);
    } else {
      copy->SetSourceStream(stream, TStreamOwnership::owReference);
    }
  } else {
    copy->SetSourceString(attachment.SourceString());
  }
  copy->ContentType = attachment.ContentType;
  copy->Encoding = attachment.Encoding;
  list.push_back(std::move(copy));
}

}  // namespace vorlen

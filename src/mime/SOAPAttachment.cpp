#include "mime/SOAPAttachment.h"

#include <filesystem>
#include <system_error>

#include "platform/Paths.h"
#include "mime/MimeFiles.h"

namespace vorlen {

TSOAPAttachment::TSOAPAttachment() = default;

TSOAPAttachment::~TSOAPAttachment() {
  ReleaseSourceStream();
  if (!CacheFile.empty() && !CacheFilePersist) {
    std::error_code error;  // a destructor must not throw; a file already gone is fine
    std::filesystem::remove(FsPathFromUtf8(CacheFile), error);
  }
}

void TSOAPAttachment::ReleaseSourceStream() {
  FOwnedStream.reset();
  FSourceStream = nullptr;
  FSourceStreamMadeHere = false;
}

void TSOAPAttachment::SetStreamOwnership(TStreamOwnership ownership) {
  if (ownership == TStreamOwnership::owReference) {
    (void)FOwnedStream.release();  // the caller owns it from here on
  } else if (!FOwnedStream && FSourceStream != nullptr) {
    FOwnedStream.reset(FSourceStream);
  }
}

void TSOAPAttachment::SetSourceStream(TStream* stream, TStreamOwnership ownership) {
  if (stream != nullptr && stream == FSourceStream) {
    SetStreamOwnership(ownership);
    return;
  }
  ReleaseSourceStream();
  FSourceStream = stream;
  if (ownership == TStreamOwnership::owOwned) FOwnedStream.reset(stream);
  FSourceFile.clear();
  CacheFile.clear();
  Encoding.clear();
  ContentType = "application/binary";
  if (FSourceStream != nullptr) FSourceStream->SetPosition(0);
}

void TSOAPAttachment::SetSourceFile(const std::string& path) {
  FSourceFile = path;
  if (path.empty()) return;
  if (ContentType.empty()) ContentType = "application/binary";
  if (Encoding.empty()) Encoding = "8bit";
  ReleaseSourceStream();
}

void TSOAPAttachment::SetSourceString(const std::string& text) {
  FSourceString = text;
  if (text.empty()) return;
  ReleaseSourceStream();
  FSourceFile.clear();
  CacheFile.clear();
  FOwnedStream = std::make_unique<TMemoryStream>(text);
  FSourceStream = FOwnedStream.get();
  FSourceStreamMadeHere = true;
  ContentType = "text/plain; charset=\"utf-8\"";
}

TStream* TSOAPAttachment::GetSourceStream() {
  if (FSourceStream != nullptr) return FSourceStream;
  const std::string& path = !CacheFile.empty() ? CacheFile : FSourceFile;
  if (path.empty()) return nullptr;
  FOwnedStream = std::make_unique<TFileStream>(path, TFileStream::fmOpenRead);
  FSourceStream = FOwnedStream.get();
  FSourceStreamMadeHere = true;
  return FSourceStream;
}

std::unique_ptr<TStream> TSOAPAttachment::TakeOwnSourceStream() {
  if (FSourceStream == nullptr || !FOwnedStream || !FSourceStreamMadeHere) return nullptr;
  FSourceStream = nullptr;
  FSourceStreamMadeHere = false;
  return std::move(FOwnedStream);
}

}  // namespace vorlen

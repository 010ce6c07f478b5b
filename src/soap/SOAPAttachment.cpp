#include "soap/SOAPAttachment.h"

#include <filesystem>
#include <system_error>

#include "soap/MimeFiles.h"
#include "platform/Paths.h"

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
  if (FSourceStream != nullptr && FOwnership == TStreamOwnership::soOwned) delete FSourceStream;
  FSourceStream = nullptr;
  FSourceStreamMadeHere = false;
}

void TSOAPAttachment::SetSourceStream(TStream* stream, TStreamOwnership ownership) {
  if (stream != nullptr && stream == FSourceStream) {
    FOwnership = ownership;
    return;
  }
  ReleaseSourceStream();
  FSourceStream = stream;
  FOwnership = ownership;
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
  FSourceStream = new TMemoryStream(text);
  FOwnership = TStreamOwnership::soOwned;
  FSourceStreamMadeHere = true;
  ContentType = "text/plain; charset=\"utf-8\"";
}

TStream* TSOAPAttachment::GetSourceStream() {
  if (FSourceStream != nullptr) return FSourceStream;
  const std::string& path = !CacheFile.empty() ? CacheFile : FSourceFile;
  if (path.empty()) return nullptr;
  auto file = std::make_unique<TFileStream>(path, TFileStream::fmOpenRead);
  FSourceStream = file.release();
  FOwnership = TStreamOwnership::soOwned;
  FSourceStreamMadeHere = true;
  return FSourceStream;
}

std::unique_ptr<TStream> TSOAPAttachment::TakeOwnSourceStream() {
  if (FSourceStream == nullptr || FOwnership != TStreamOwnership::soOwned || !FSourceStreamMadeHere)
    return nullptr;
  std::unique_ptr<TStream> stream(FSourceStream);
  FSourceStream = nullptr;
  FOwnership = TStreamOwnership::soReference;
  FSourceStreamMadeHere = false;
  return stream;
}

}  // namespace vorlen

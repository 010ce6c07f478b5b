// A SOAP attachment: bytes that travel beside the envelope in a MIME part.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "runtime/Stream.h"

namespace vorlen {

enum class TStreamOwnership { owOwned, owReference };

class TSOAPAttachment {
 public:
  TSOAPAttachment();
  TSOAPAttachment(const TSOAPAttachment&) = delete;
  TSOAPAttachment& operator=(const TSOAPAttachment&) = delete;
  virtual ~TSOAPAttachment();  // releases an owned source; deletes a non-persistent CacheFile

  // When stream already is the source only the ownership changes. Otherwise the old source is
  // released, SourceFile, CacheFile and Encoding become empty, ContentType "application/binary",
  // and the stream is rewound. owOwned hands the stream over (it is deleted with the attachment).
  void SetSourceStream(TStream* stream, TStreamOwnership ownership);
  // For a non-empty path: ContentType "application/binary" and Encoding "8bit" when empty, and
  // the current source stream is released.
  void SetSourceFile(const std::string& path);
  // A non-empty text replaces the source with an owned memory stream of its UTF-8 bytes,
  // ContentType `text/plain; charset="utf-8"`.
  void SetSourceString(const std::string& text);
  // The source stream; a CacheFile or else SourceFile is opened here (owned) when there is no
  // stream yet. nullptr when there is nothing to read.
  TStream* GetSourceStream();

  TStreamOwnership StreamOwnership() const {
    return FOwnedStream ? TStreamOwnership::owOwned : TStreamOwnership::owReference;
  }
  // owOwned takes over the current source stream; owReference hands it back to its owner.
  void SetStreamOwnership(TStreamOwnership ownership);
  const std::string& SourceString() const { return FSourceString; }
  // Drops the current source stream (deleted when owned) without touching the other fields.
  void ReleaseSourceStream();
  // Hands over a stream that the attachment opened (from CacheFile or SourceFile) or made from
  // its text, and forgets it: the next use opens or makes a fresh one instead of reusing a
  // stream that a finished call has closed. nullptr for streams the caller supplied.
  std::unique_ptr<TStream> TakeOwnSourceStream();

  std::string CacheFile;
  bool CacheFilePersist = false;
  std::string ContentType = "application/binary";
  std::string Encoding = "binary";
  std::vector<std::string> Headers;

  // The read side of the SourceFile property; nothing here reads it.
  const std::string& SourceFile() const { return FSourceFile; }

 protected:
  TStream* FSourceStream = nullptr;       // the source in use
  std::unique_ptr<TStream> FOwnedStream;  // the same stream when the attachment owns it
  std::string FSourceFile;
  std::string FSourceString;
  bool FSourceStreamMadeHere = false;  // opened from a path or made from the text by us
};

// The converter's copy of a queued attachment, and the form of a received one.
class TSOAPAttachmentData : public TSOAPAttachment {
 public:
  std::string ContentId;  // without angle brackets
};

using TSoapDataList = std::vector<std::unique_ptr<TSOAPAttachmentData>>;

}  // namespace vorlen

// Splitting a multipart/related message into its root part and received attachments.
#pragma once

#include <string>

#include "runtime/Stream.h"
#include "mime/SOAPAttachment.h"

namespace vorlen {

// The boundary SplitMultipartMessage splits at: the boundary parameter of a Content-Type value
// starting with "multipart/related" (empty when it has none), else the value itself.
std::string BoundaryOf(const std::string& contentTypeOrBoundary);

// Splits a multipart message. contentTypeOrBoundary is a Content-Type value starting with
// "multipart/related" (the boundary parameter is taken from it) or the bare boundary; an empty
// boundary splits nothing. The first part's content is written to rootPart at its position;
// every further part becomes a TSOAPAttachmentData appended to received, its content in a
// new cache file "SenderSoapAttachment<n>" (first free n) in tempDir (empty: the system's
// temporary directory); more than 100 such parts are refused. ContentId is the Content-ID
// value without angle brackets (else the Content-Location); Headers are the part's header
// lines as received. The cache file is deleted with the attachment unless the receiver sets
// CacheFilePersist. Malformed input raises an Exception with a clear message; files of parts
// already received stay owned by their entries in received, a file being written when the
// error came is removed.
void SplitMultipartMessage(TStream& source, TStream& rootPart,
                           const std::string& contentTypeOrBoundary, TSoapDataList& received,
                           const std::string& tempDir);

}  // namespace vorlen

// Queuing an attachment parameter while the request envelope is written.
#pragma once

#include <string>

#include "mime/SOAPAttachment.h"

namespace vorlen {

// Appends a copy of attachment to list under contentId (without angle brackets). The copy gets
// the header line "Content-ID: <contentId>" and the attachment's ContentType and Encoding. Its
// bytes come from the attachment's CacheFile (never deleted by the copy), else its source stream,
// else its source text. A stream that the attachment opened itself (from SourceFile or CacheFile)
// or made from its text is handed over to the copy and forgotten by the attachment, so the next
// call reopens the file instead of reusing a closed stream; any other stream stays with its owner
// and the copy only refers to it. Raises the file-open error when SourceFile cannot be opened.
void AddAttachment(TSoapDataList& list, TSOAPAttachment& attachment, const std::string& contentId);

}  // namespace vorlen

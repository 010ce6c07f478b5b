// The contract of the Vorlen upload service.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "mime/SOAPAttachment.h"

namespace vorlen {

// Operations in slot order. Failures (transport, HTTP status, SOAP fault, decoding) are
// exceptions; the caller keeps ownership of FilePart.
class ISenderService {
 public:
  virtual ~ISenderService() = default;
  virtual std::string GetSession() = 0;
  virtual bool UploadFilePart(const std::string& Sess, const std::string& PartName,
                              const std::string& Hash, TSOAPAttachment* FilePart) = 0;
  virtual bool MergeFile(int32_t Parts, const std::string& FileName, const std::string& Sess) = 0;
  virtual bool UnZip(const std::string& Sess) = 0;
  virtual bool DelTempFiles(const std::string& Sess) = 0;
};

// References are counted: the proxy behind a reference lives as long as its last reference.
using ISenderServicePtr = std::shared_ptr<ISenderService>;

}  // namespace vorlen

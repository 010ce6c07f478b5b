// The operations of the upload service on the session folders (see SessionStore.h for the
// layout). Results follow the contract: false for a request that cannot be carried out, an
// exception for an unknown session (EUnknownSession) or a failure of the service itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "server/SessionStore.h"

namespace vorlen {

struct TServiceLimits {
  int64_t MaxParts = 16384;
  // Bytes of a session's parts, and of everything delivered to it: merging the same parts under
  // many names must not multiply them on disk.
  int64_t MaxDelivered = int64_t{2} << 30;
  int64_t MaxSessions = 10000;
};

// The service's own failures (disk full, a folder that cannot be written, ...).
class EServiceFailure : public Exception {
 public:
  using Exception::Exception;
};

class TSenderServer {
 public:
  TSenderServer(const std::filesystem::path& root, TServiceLimits limits);

  // Where the HTTP side puts received attachments until an operation takes them.
  std::filesystem::path IncomingDir() const { return FStore.IncomingDir(); }
  const std::filesystem::path& Root() const { return FStore.Root(); }
  const TServiceLimits& Limits() const { return FLimits; }

  // peer is the client's address, for limits per peer.
  std::string GetSession(const std::string& peer = {});
  // Takes the file received (moved, not copied, when it is accepted) as the part partName.
  // hash is empty or the CRC-32 of the bytes as 8 hex digits in either case.
  bool UploadFilePart(const std::string& sess, const std::string& partName,
                      const std::string& hash, const std::filesystem::path& received);
  bool MergeFile(int32_t parts, const std::string& fileName, const std::string& sess);
  bool UnZip(const std::string& sess);
  bool DelTempFiles(const std::string& sess);

  // The folder of a session, for callers that show where files went.
  std::filesystem::path SessionFolder(const std::string& sess);

 private:
  TSessionStore FStore;
  TServiceLimits FLimits;
};

}  // namespace vorlen

#include "server/SessionStore.h"

#include "platform/Paths.h"
#include "runtime/Format.h"
#include "server/SessionId.h"

namespace fs = std::filesystem;

namespace vorlen {

TSession::TSession(std::string id, const fs::path& folder) : FId(std::move(id)), FFolder(folder) {}

namespace {

// A session folder is a real directory: a link planted under the root must not lead a session's
// files elsewhere.
bool IsRealDirectory(const fs::path& path) {
  std::error_code error;
  return fs::symlink_status(path, error).type() == fs::file_type::directory;
}

}  // namespace

TSessionStore::TSessionStore(fs::path root, int64_t maxSessions)
    : FRoot(std::move(root)), FMaxSessions(maxSessions) {
  fs::create_directories(FRoot);
  fs::remove_all(IncomingDir());
  fs::create_directories(IncomingDir());
  for (const auto& entry : fs::directory_iterator(FRoot)) {
    if (IsSessionId(entry.path().filename().string()) && IsRealDirectory(entry.path())) {
      ++FSessionCount;
    }
  }
}

std::shared_ptr<TSession> TSessionStore::Create() {
  for (;;) {
    std::string id = NewSessionId();
    const fs::path folder = FRoot / id;
    std::lock_guard<std::mutex> guard(FLock);
    if (FSessionCount >= FMaxSessions) {
      throw ETooManySessions(Format("The service keeps no more than %lld sessions",
                                    static_cast<long long>(FMaxSessions)));
    }
    // create_directory is false when the folder exists: never hand out an identifier twice.
    if (FSessions.count(id) != 0 || !fs::create_directory(folder)) continue;
    auto session = std::make_shared<TSession>(id, folder);
    fs::create_directory(session->PartsDir());
    fs::create_directory(session->DeliveredDir());
    fs::create_directory(session->WorkDir());
    FSessions.emplace(id, session);
    ++FSessionCount;
    return session;
  }
}

std::shared_ptr<TSession> TSessionStore::Find(const std::string& id) {
  if (!IsSessionId(id)) throw EUnknownSession(Format("Unknown session '%.64s'", id.c_str()));
  std::lock_guard<std::mutex> guard(FLock);
  if (auto it = FSessions.find(id); it != FSessions.end()) return it->second;
  const fs::path folder = FRoot / id;
  if (!IsRealDirectory(folder)) {
    throw EUnknownSession(Format("Unknown session '%s'", id.c_str()));
  }
  auto session = std::make_shared<TSession>(id, folder);
  for (const fs::path& dir : {session->PartsDir(), session->DeliveredDir(), session->WorkDir()}) {
    fs::create_directories(dir);
    if (!IsRealDirectory(dir)) {
      throw Exception(Format("Session folder %s is not a plain directory",
                             Utf8FromFsPath(dir).c_str()));
    }
  }
  for (const auto& entry : fs::directory_iterator(session->PartsDir())) {
    if (!entry.is_regular_file() || entry.is_symlink()) continue;
    ++session->PartCount;
    session->PartBytes += static_cast<int64_t>(entry.file_size());
  }
  FSessions.emplace(id, session);
  return session;
}

}  // namespace vorlen

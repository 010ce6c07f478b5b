// An in-process service that records every call and fails on demand. Calls may come from
// several threads (parts in flight); the hooks run outside its lock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "runtime/Exception.h"
#include "runtime/Stream.h"
#include "mime/SOAPAttachment.h"
#include "soap/SenderService.h"

namespace vorlen::test {

struct TCall {
  std::string Op;  // "GetSession", "UploadFilePart", "MergeFile", "UnZip", "DelTempFiles"
  std::string Sess;
  std::string Name;  // part name, or the merged file's name
  std::string Hash;
  std::string Bytes;  // the attachment's content as sent (when the service keeps bytes)
  int32_t Parts = -1;
  int64_t Size = -1;  // the attachment's size
};

class TFakeService : public ISenderService {
 public:
  std::vector<TCall> Calls;
  std::string SessionId = "S42";
  bool MergeResult = true;
  bool UnZipResult = true;
  // Decides an UploadFilePart attempt: nullopt accepts it, true raises, false answers false.
  // attempt counts the calls for this part name from 1.
  std::function<std::optional<bool>(const std::string& name, int attempt)> FailPart;
  // Runs after an accepted part (a file changing under the upload, say).
  std::function<void(const std::string& name)> AfterPart;
  bool FailGetSession = false;
  // Runs at the start of every call with the operation's name.
  std::function<void(const std::string& op)> OnCall;
  // Whether part bytes are read and kept; large uploads record sizes only.
  bool KeepBytes = true;
  bool FailDelTempFiles = false;

  std::string GetSession() override {
    if (OnCall) OnCall("GetSession");
    Record({"GetSession", "", "", "", "", -1, -1});
    if (FailGetSession) throw Exception("Connection refused");
    return SessionId;
  }
  bool UploadFilePart(const std::string& Sess, const std::string& PartName, const std::string& Hash,
                      TSOAPAttachment* FilePart) override {
    if (OnCall) OnCall("UploadFilePart");
    int attempt;
    {
      std::lock_guard<std::mutex> guard(FLock);
      attempt = ++FAttempts[PartName];
    }
    std::string bytes;
    int64_t size = -1;
    if (KeepBytes) {
      bytes = ReadAll(*FilePart);
      size = static_cast<int64_t>(bytes.size());
    } else if (TStream* stream = FilePart->GetSourceStream()) {
      size = stream->Size();
      FilePart->TakeOwnSourceStream();
    }
    Record({"UploadFilePart", Sess, PartName, Hash, bytes, -1, size});
    if (FailPart) {
      if (const std::optional<bool> fail = FailPart(PartName, attempt)) {
        if (*fail) throw Exception("simulated transport failure");
        return false;
      }
    }
    if (AfterPart) AfterPart(PartName);
    return true;
  }
  bool MergeFile(int32_t Parts, const std::string& FileName, const std::string& Sess) override {
    if (OnCall) OnCall("MergeFile");
    Record({"MergeFile", Sess, FileName, "", "", Parts, -1});
    return MergeResult;
  }
  bool UnZip(const std::string& Sess) override {
    if (OnCall) OnCall("UnZip");
    Record({"UnZip", Sess, "", "", "", -1, -1});
    return UnZipResult;
  }
  bool DelTempFiles(const std::string& Sess) override {
    if (OnCall) OnCall("DelTempFiles");
    Record({"DelTempFiles", Sess, "", "", "", -1, -1});
    if (FailDelTempFiles) throw Exception("Service unavailable");
    return true;
  }

  // "Op name" lines, in call order, for comparing whole call sequences.
  std::vector<std::string> Trace() const {
    std::vector<std::string> lines;
    for (const TCall& c : Calls) lines.push_back(c.Name.empty() ? c.Op : c.Op + " " + c.Name);
    return lines;
  }
  // "Op:Sess:Name" lines ("MergeFile:Parts:Name:Sess" for the merge), for whole call sequences
  // with their sessions.
  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    for (const TCall& c : Calls) {
      if (c.Op == "GetSession") {
        lines.push_back(c.Op);
      } else if (c.Op == "UploadFilePart") {
        lines.push_back(c.Op + ":" + c.Sess + ":" + c.Name);
      } else if (c.Op == "MergeFile") {
        lines.push_back(c.Op + ":" + std::to_string(c.Parts) + ":" + c.Name + ":" + c.Sess);
      } else {
        lines.push_back(c.Op + ":" + c.Sess);
      }
    }
    return lines;
  }
  const TCall* Find(const std::string& op, const std::string& name) const {
    for (const TCall& c : Calls)
      if (c.Op == op && c.Name == name) return &c;
    return nullptr;
  }

 private:
  void Record(TCall call) {
    std::lock_guard<std::mutex> guard(FLock);
    Calls.push_back(std::move(call));
  }
  static std::string ReadAll(TSOAPAttachment& attachment) {
    TStream* stream = attachment.GetSourceStream();
    if (stream == nullptr) return "<no source>";
    stream->SetPosition(0);
    std::string bytes(static_cast<size_t>(stream->Size()), '\0');
    if (!bytes.empty()) stream->ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    attachment.TakeOwnSourceStream();  // closes a file the attachment opened, as the proxy does
    return bytes;
  }
  std::mutex FLock;  // guards Calls and FAttempts while calls come in
  std::map<std::string, int> FAttempts;
};

}  // namespace vorlen::test

// An in-process service that records every call and fails on demand, and an operator view that
// answers from a script and records what the operator would have seen.
#pragma once

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "runtime/Exception.h"
#include "soap/SenderService.h"
#include "upload/IOperatorView.h"
#include "upload/SenderState.h"

namespace vorlen::test {

struct TCall {
  std::string Op;        // "GetSession", "UploadFilePart", "MergeFile", "UnZip", "DelTempFiles"
  std::string Sess;
  std::string Name;      // part name, or the merged file's name
  std::string Hash;
  std::string Bytes;     // the attachment's content as sent (when the service keeps bytes)
  int32_t Parts = -1;
  int64_t Size = -1;     // the attachment's size
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

  std::string GetSession() override {
    if (OnCall) OnCall("GetSession");
    Calls.push_back({"GetSession", "", "", "", "", -1, -1});
    if (FailGetSession) throw Exception("Connection refused");
    return SessionId;
  }
  bool UploadFilePart(const std::string& Sess, const std::string& PartName,
                      const std::string& Hash, TSOAPAttachment* FilePart) override {
    if (OnCall) OnCall("UploadFilePart");
    const int attempt = ++FAttempts[PartName];
    std::string bytes;
    int64_t size = -1;
    if (KeepBytes) {
      bytes = ReadAll(*FilePart);
      size = static_cast<int64_t>(bytes.size());
    } else if (TStream* stream = FilePart->GetSourceStream()) {
      size = stream->Size();
      FilePart->TakeOwnSourceStream();
    }
    Calls.push_back({"UploadFilePart", Sess, PartName, Hash, bytes, -1,
                     size});
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
    Calls.push_back({"MergeFile", Sess, FileName, "", "", Parts, -1});
    return MergeResult;
  }
  bool UnZip(const std::string& Sess) override {
    if (OnCall) OnCall("UnZip");
    Calls.push_back({"UnZip", Sess, "", "", "", -1, -1});
    return UnZipResult;
  }
  bool DelTempFiles(const std::string& Sess) override {
    if (OnCall) OnCall("DelTempFiles");
    Calls.push_back({"DelTempFiles", Sess, "", "", "", -1, -1});
    return true;
  }

  // "Op name" lines, in call order, for comparing whole call sequences.
  std::vector<std::string> Trace() const {
    std::vector<std::string> lines;
    for (const TCall& c : Calls) lines.push_back(c.Name.empty() ? c.Op : c.Op + " " + c.Name);
    return lines;
  }
  const TCall* Find(const std::string& op, const std::string& name) const {
    for (const TCall& c : Calls)
      if (c.Op == op && c.Name == name) return &c;
    return nullptr;
  }

 private:
  static std::string ReadAll(TSOAPAttachment& attachment) {
    TStream* stream = attachment.GetSourceStream();
    if (stream == nullptr) return "<no source>";
    stream->SetPosition(0);
    std::string bytes(static_cast<size_t>(stream->Size()), '\0');
    if (!bytes.empty()) stream->ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    attachment.TakeOwnSourceStream();  // closes a file the attachment opened, as the proxy does
    return bytes;
  }
  std::map<std::string, int> FAttempts;
};

class EScriptExhausted : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

class TScriptedView : public IOperatorView {
 public:
  std::deque<bool> ConfirmAnswers;
  std::deque<std::optional<std::string>> OpenFileAnswers;  // nullopt is Cancel
  std::function<void()> OnProcessMessages;

  std::vector<std::string> Shown;  // "confirm:…", "inform:…", "error:…", "open"
  std::vector<std::string> Captions;
  std::vector<int> Positions;
  std::vector<bool> Enabled;       // every SetSendEnabled, in order
  std::string CaptionText = "Изпращане на файлове до Ворлен";
  int Position = 100;              // a previous send's end
  bool Ticked = true;
  int Pumps = 0;

  void SetCaption(const std::string& caption) override {
    CaptionText = caption;
    Captions.push_back(caption);
  }
  std::string Caption() const override { return CaptionText; }
  void SetProgress(int position) override {
    Position = position;
    Positions.push_back(position);
  }
  int Progress() const override { return Position; }
  bool Checked() const override { return Ticked; }
  void SetChecked(bool checked) override { Ticked = checked; }
  void SetSendEnabled(bool enabled) override { Enabled.push_back(enabled); }
  void ProcessMessages() override {
    ++Pumps;
    if (OnProcessMessages) OnProcessMessages();
  }
  bool Confirm(const std::string& text) override {
    Shown.push_back("confirm:" + text);
    if (ConfirmAnswers.empty()) throw EScriptExhausted("no scripted answer for Confirm");
    const bool answer = ConfirmAnswers.front();
    ConfirmAnswers.pop_front();
    return answer;
  }
  void Inform(const std::string& text) override { Shown.push_back("inform:" + text); }
  void ShowError(const std::string& text) override { Shown.push_back("error:" + text); }
  bool InputQuery(const std::string&, const std::string&, std::string&) override {
    throw EScriptExhausted("the send asks for no text");
  }
  bool OpenFile(std::string& path) override {
    Shown.push_back("open");
    if (OpenFileAnswers.empty()) throw EScriptExhausted("no scripted answer for OpenFile");
    const std::optional<std::string> answer = OpenFileAnswers.front();
    OpenFileAnswers.pop_front();
    if (!answer) return false;
    path = *answer;
    return true;
  }
};

// A fresh directory under the system's temporary directory, removed with the object.
class TScratchDir {
 public:
  TScratchDir() {
    const auto base = std::filesystem::temp_directory_path();
    for (int n = 0;; ++n) {
      FPath = base / ("vorlen-upload-test-" + std::to_string(::getpid()) + "-" + std::to_string(n));
      if (std::filesystem::create_directory(FPath)) break;
    }
  }
  ~TScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  std::string Path() const { return FPath.string() + "/"; }
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string path = Path() + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

 private:
  std::filesystem::path FPath;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace vorlen::test

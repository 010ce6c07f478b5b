#include "send/SendCommand.h"

#include <filesystem>
#include <system_error>

#include "archive/ZLBArchive.h"
#include "platform/Paths.h"
#include "send/OperatorTexts.h"
#include "send/ShownText.h"

namespace vorlen {

namespace {

// Keeps the send button disabled for the send's work, so that no second send can start while
// messages are pumped and share the session; enabled again on every way out.
class TSendButtonLock {
 public:
  explicit TSendButtonLock(IOperatorView& view) : FView(view) { FView.SetSendEnabled(false); }
  ~TSendButtonLock() { FView.SetSendEnabled(true); }
  TSendButtonLock(const TSendButtonLock&) = delete;
  TSendButtonLock& operator=(const TSendButtonLock&) = delete;

 private:
  IOperatorView& FView;
};

// The temporary archive is a compressed copy of the operator's file: it goes when the send ends,
// whichever way.
class TRemoveOnExit {
 public:
  ~TRemoveOnExit() {
    if (Path.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(FsPathFromUtf8(Path), ignored);
  }
  std::string Path;
};

}  // namespace

TSendCommand::TSendCommand(TSenderState& state, IOperatorView& view) : TPartUpload(state, view) {}

void TSendCommand::btSendClick() {
  FOutcome = ocNone;
  FDetails = dsNone;
  FPacked = true;
  FSessionOpen = false;
  if (!FSender.ServiceIntf) {
    FView.ShowError(NoServiceText());
    FOutcome = ocFailed;
    return;
  }
  std::vector<std::string> files = Files;
  if (files.empty()) {
    std::string chosen;
    if (!FView.OpenFile(chosen)) {
      FOutcome = ocCancelled;
      return;
    }
    files.push_back(chosen);
  }
  FView.ProcessMessages();  // the window repaints after the dialog
  if (FSender.FClosing) {       // the window was closed while it repainted
    FOutcome = ocClosing;
    return;
  }
  TSendButtonLock lock(FView);
  FOutcome = ocFailed;  // until the send gets through

  std::string path;
  const std::string chosen = files.front();
  TRemoveOnExit archive;
  if (files.size() == 1 &&
      (IsArchiveExtension(ExtractFileExt(ExtractFileName(chosen))) || FView.Checked())) {
    FView.SetChecked(true);
    path = chosen;
    FPacked = false;
  } else {
    FView.SetCaption(PackingCaption);
    try {
      path = PackFiles(files);
      archive.Path = path;
    } catch (const EPackError& e) {
      // Sending an archive without the file would look like success on the service side.
      FView.ShowError(e.Message());
      FView.SetCaption(MainCaption);
      FSender.FState = spIdle;
      return;
    }
  }

  FSender.FState = spUploading;
  const bool ok = UploadFile(path);
  bool merged = false;
  if (ok) {
    if (FSender.FClosing) {  // the close handler already told the service to drop the parts
      FOutcome = ocClosing;
      return;
    }
    FView.SetCaption(UnpackingCaption);
    FView.ProcessMessages();
    if (FSender.FClosing) {  // a close confirmed during that pump: the session is gone
      FOutcome = ocClosing;
      return;
    }
    FSender.FState = spServerWork;
    merged = Service().MergeFile(FSender.LastPartIndex, ExtractFileName(path), FSender.Session);
    if (merged && FPacked) Service().UnZip(FSender.Session);
    if (!merged) FView.ShowError(MergeFailed);
  }
  FSessionOpen = false;  // asked once, whatever the answer
  Service().DelTempFiles(FSender.Session);
  if (merged) {
    FView.SetProgress(100);
    FView.SetCaption(SessionCaption + ShownText(FSender.Session) + DoneCaptionEnd);
    FOutcome = ocDone;
  } else {
    FView.SetProgress(0);
    FView.SetCaption(SessionCaption + ShownText(FSender.Session) + FailedCaptionEnd);
  }
  FSender.FState = spIdle;
}

std::string TSendCommand::PackFiles(std::vector<std::string>& Files) {
  // The archive component passes over folders and devices without a word, and an archive
  // without the file would look like a good send to the service.
  for (const std::string& file : Files) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(FsPathFromUtf8(file), error))
      throw EPackError(PackFailed + file);
  }
  std::string dir = TempDir.empty() ? TempArchiveDir() : TempDir;
  if (!IsPathDelimiter(dir.back())) dir += PathDelim;
  const std::string path = dir + "vorarch.rar";
  std::error_code ignored;
  std::filesystem::remove(FsPathFromUtf8(path), ignored);  // CreateArchive reports a leftover

  const std::vector<std::string> chosen = Files;
  std::string skipped;
  TRemoveOnExit partial;  // no archive stays behind when packing fails or is stopped
  partial.Path = path;
  {
    TZLBArchive archive;
    archive.OnErrorLogged = [&](const std::string&) {
      if (skipped.empty()) skipped = chosen.empty() ? std::string() : chosen.front();
    };
    // The bar shows the packing, only ever forward (the archive's closing and reading back
    // report phases of their own); a closing window stops it at the next block written.
    int shown = -1;
    archive.OnProgress = [&](const std::string&, int32_t percentage) {
      if (FSender.FClosing) throw EAbort();
      if (percentage > shown) FView.SetProgress(shown = percentage);
    };
    archive.CreateArchive(path);
    archive.AddFiles(Files);
    archive.CloseArchive();
  }
  if (FSender.FClosing) throw EAbort();
  if (!skipped.empty()) throw EPackError(PackFailed + skipped);
  const std::string named = chosen.empty() ? std::string() : chosen.front();
  if (!std::filesystem::exists(FsPathFromUtf8(path), ignored)) throw EPackError(PackFailed + named);
  // Read back: the archive must hold every chosen file and nothing else.
  TZLBArchive written;
  try {
    written.OpenArchive(path);
  } catch (const std::exception&) {
    throw EPackError(PackFailed + named);
  }
  // Stored without their folders, so looked up by name.
  for (const std::string& file : chosen)
    if (written.IndexOfFile(ExtractFileName(file)) < 0) throw EPackError(PackFailed + file);
  if (written.EntryCount() != static_cast<int32_t>(chosen.size()))
    throw EPackError(PackFailed + named);
  partial.Path.clear();
  return path;
}

}  // namespace vorlen

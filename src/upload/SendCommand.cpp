#include "upload/SendCommand.h"

#include <filesystem>
#include <system_error>

#include "archive/ZLIBArchive.h"
#include "platform/Paths.h"

namespace vorlen {

namespace {

const char* const kIdleCaption = "Изпращане на файлове до Ворлен";
const char* const kPackingCaption = "Архивиране на файл. Моля изчакайте.....";
const char* const kUnpackingCaption = "Разпакетиране. Моля, изчакайте......";
const char* const kPackFailed = "Грешка при архивиране на файл: ";
const char* const kMergeFailed = "Сървърът не успя да обедини частите на файла.";

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

}  // namespace

TSendCommand::TSendCommand(TSenderState& state, IOperatorView& view)
    : TPartUpload(state, view) {}

void TSendCommand::btSendClick() {
  FOutcome = ocNone;
  FPacked = true;
  if (!FSt.ServiceIntf) {
    FView.ShowError(kNoService);
    FOutcome = ocFailed;
    return;
  }
  std::string chosen;
  if (!FView.OpenFile(chosen)) {
    FOutcome = ocCancelled;
    return;
  }
  FView.ProcessMessages();  // the window repaints after the dialog
  if (FSt.FClosing) {  // the window was closed while it repainted
    FOutcome = ocClosing;
    return;
  }
  TSendButtonLock lock(FView);
  FOutcome = ocFailed;  // until the send gets through

  std::string path;
  if (IsArchiveExtension(ExtractFileExt(ExtractFileName(chosen))) || FView.Checked()) {
    FView.SetChecked(true);
    path = chosen;
    FPacked = false;
  } else {
    FView.SetCaption(kPackingCaption);
    std::vector<std::string> files{chosen};
    try {
      path = PackFiles(files);
    } catch (const EPackError& e) {
      // Sending an archive without the file would look like success on the service side.
      FView.ShowError(e.Message());
      FView.SetCaption(kIdleCaption);
      FSt.FState = spIdle;
      return;
    }
  }

  FSt.FState = spUploading;
  const bool ok = UploadFile(path);
  bool merged = false;
  if (ok) {
    if (FSt.FClosing) {  // the close handler already told the service to drop the parts
      FOutcome = ocClosing;
      return;
    }
    FView.SetCaption(kUnpackingCaption);
    FView.ProcessMessages();
    if (FSt.FClosing) {  // a close confirmed during that pump: the session is gone
      FOutcome = ocClosing;
      return;
    }
    FSt.FState = spServerWork;
    merged = Service().MergeFile(FSt.LastPartIndex, ExtractFileName(path), FSt.Session);
    if (merged && FPacked) Service().UnZip(FSt.Session);
    if (!merged) FView.ShowError(kMergeFailed);
  }
  Service().DelTempFiles(FSt.Session);
  if (merged) {
    FView.SetProgress(100);
    FView.SetCaption("Сесия " + FSt.Session + " - Готово");
    FOutcome = ocDone;
  } else {
    FView.SetProgress(0);
    FView.SetCaption("Сесия " + FSt.Session + " - Неуспешно");
  }
  FSt.FState = spIdle;
}

std::string TSendCommand::PackFiles(std::vector<std::string>& Files) {
  std::string dir = TempDir.empty() ? TempArchiveDir() : TempDir;
  if (!IsPathDelimiter(dir.back())) dir += PathDelim;
  const std::string path = dir + "vorarch.rar";
  std::error_code ignored;
  std::filesystem::remove(FsPathFromUtf8(path), ignored);  // CreateArchive reports a leftover

  const std::string named = Files.empty() ? std::string() : Files.front();
  std::string skipped;
  {
    TZLBArchive archive;
    archive.OnErrorLogged = [&](const std::string&) {
      if (skipped.empty()) skipped = named;
    };
    archive.CreateArchive(path);
    archive.AddFiles(Files);
    archive.CloseArchive();
  }
  if (!skipped.empty()) throw EPackError(kPackFailed + skipped);
  if (!std::filesystem::exists(FsPathFromUtf8(path), ignored))
    throw EPackError(kPackFailed + named);
  return path;
}

}  // namespace vorlen

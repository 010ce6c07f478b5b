#include "app/MainLogic.h"

#include <utility>

#include "app/CompatibilityLayer.h"
#include "app/ErrorHandler.h"
#include "app/MarshalledView.h"
#include "proxy/HTTPRIO.h"
#include "proxy/SenderHooks.h"
#include "send/CertificateTrust.h"
#include "send/SendCommand.h"
#include "send/SettingsFile.h"
#include "send/SettingsSources.h"
#include "send/ShownText.h"
#include "send/UploadRules.h"

namespace vorlen {

TMainLogic::TMainLogic(IOperatorView& view, IRegistryStore& registry, std::string exePath,
                       std::string exeDir)
    : FView(view),
      FRegistry(registry),
      FExePath(std::move(exePath)),
      FExeDir(std::move(exeDir)),
      FPlaces{{FExeDir}, FExeDir, false} {
  FHTTPRIO = NewSenderRIO();
  FHTTPRIO->HTTPWebNode().OnCredentials = [this](THTTPReqResp&, THTTPRequest&, int Status,
                                                 std::string& UserName, std::string& Password) {
    // Unanswered, the call ends silently, as if the operator had cancelled; so it does once
    // the window is closing.
    if (!OnCredentials || FSender.FClosing) return false;
    const bool proxy = Status == 407;
    if (!FWorkerView || std::this_thread::get_id() != FWorkerId)
      return OnCredentials(proxy, UserName, Password);
    // From the worker: asked on the window's thread, into strings that outlive a cancelled wait.
    auto answer = std::make_shared<std::pair<std::string, std::string>>(UserName, Password);
    const bool given = FWorkerView->Ask([this, proxy, answer](IOperatorView&) {
      return OnCredentials(proxy, answer->first, answer->second);
    });
    if (!given || FSender.FClosing) return false;
    UserName = answer->first;
    Password = answer->second;
    return true;
  };
  // A closing window's call asks for no credentials and sends nothing again.
  FHTTPRIO->HTTPWebNode().Stopping = [this] { return FSender.FClosing.load(); };
  FHTTPRIO->HTTPWebNode().OnUntrustedCertificate = [this](THTTPReqResp&,
                                                          const TServerCertificate& Certificate) {
    // Refused: the refusal has been shown; the call ends without another word.
    IOperatorView& view = ThisThreadsView();
    if (!AskCertificateTrust(view, FSender.FMoreSettings, Certificate,
                             [this, &view] { SaveSettings(view); }))
      throw EAbort();
    return true;
  };
}

TMainLogic::~TMainLogic() {
  // The window is going: the worker's questions are answered No from here on, a packing stops
  // at its next block, an upload after its current call; the session is dropped on the way out.
  FSender.FClosing = true;
  if (FWorkerView) FWorkerView->Cancel();
  if (FWorker.joinable()) {
    if (WaitForWorker) WaitForWorker([this] { return FWorkerDone.load(); });
    FWorker.join();
  }
}

ISenderServicePtr TMainLogic::Bind(const std::string& url) {
  ISenderServicePtr service = Binder ? Binder(url) : BindSenderService(false, url, FHTTPRIO);
  THTTPReqResp& node = FHTTPRIO->HTTPWebNode();
  node.TrustedCertificate =
      RememberedCertificate(FSender.FMoreSettings, node.URLHost(), node.URLPort());
  return service;
}

IOperatorView& TMainLogic::ThisThreadsView() {
  if (FWorkerView && std::this_thread::get_id() == FWorkerId) return *FWorkerView;
  return FView;
}

std::string TMainLogic::SettingsPath() const { return FPlaces.WriteDir + SettingsFileName; }

void TMainLogic::FormCreate() {
  FSender.FSettingsChanged = false;
  FSender.FClosing = false;
  FSender.FState = spIdle;
  ApplyCompatibilityLayer();
  LoadSettings();
  if (FSender.FSettingsChanged) SaveSettings();
  FSender.ServiceIntf = Bind(FSender.FUrl);
}

void TMainLogic::EditSettings() {
  if (FSending) {
    FView.Inform(SettingsDuringSend);
    return;
  }
  std::string url = FSender.FUrl;
  if (!FView.InputQuery(UrlPromptCaption, UrlPrompt, url) || IsBlankSetting(url)) return;
  std::string org = FSender.FOrg;
  if (!FView.InputQuery(OrgPromptCaption, OrgPrompt, org) || IsBlankSetting(org)) return;
  FSender.FUrl = FOwnUrl = url;  // what the operator typed is the written file's own
  FSender.FOrg = FOwnOrg = org;
  SaveSettings();
  FSender.ServiceIntf.reset();  // a failed binding leaves none, as at start-up
  FSender.ServiceIntf = Bind(FSender.FUrl);
}

void TMainLogic::ApplyCompatibilityLayer() { vorlen::ApplyCompatibilityLayer(FRegistry, FExePath); }

void TMainLogic::LoadSettings() {
  const TSenderSettings settings =
      ReadSenderSettings(SettingsSources(FPlaces, FRegistry), FView, true);
  FOwnUrl = settings.OwnUrl;
  FOwnOrg = settings.OwnOrg;
  FOwnMore = settings.OwnMore;
  FLoadedMore = settings.More;
  FSender.FUrl = settings.Url;
  FSender.FOrg = settings.Org;
  FSender.FMoreSettings = settings.More;
  if (settings.Changed) FSender.FSettingsChanged = true;
}

void TMainLogic::SaveSettings() { SaveSettings(FView); }

void TMainLogic::SaveSettings(IOperatorView& view) {
  try {
    WriteSettingsFile(SettingsPath(), EncodeSettings(FOwnUrl, FOwnOrg, OwnMoreSettings()));
  } catch (...) {
    try {
      view.Inform(SaveSettingsError);
    } catch (...) {
      // Saving never raises; a box that cannot be shown leaves nothing else to do.
    }
  }
}

// The written file's own kept settings with what the run changed in FMoreSettings: settings
// that came from the program's folder are not copied into the user's file.
TSettingEntries TMainLogic::OwnMoreSettings() const {
  TSettingEntries more = FOwnMore;
  for (const TSettingEntry& loaded : FLoadedMore) {
    if (EntryValue(FSender.FMoreSettings, loaded.Name).empty()) SetEntryValue(more, loaded.Name, "");
  }
  for (const TSettingEntry& entry : FSender.FMoreSettings) {
    if (EntryValue(FLoadedMore, entry.Name) != entry.Value)
      SetEntryValue(more, entry.Name, entry.Value);
  }
  return more;
}

bool TMainLogic::FormCloseQuery() {
  switch (FSender.FState) {
    case spIdle:
      return true;
    case spUploading: {
      if (!FView.Confirm(StopSendingQuestion)) return false;
      FSender.FClosing = true;
      // A running send drops its session itself once its current call is over: the service
      // reference is not shared between two threads.
      if (FSending) return true;
      // The operator has decided to stop: a failing clean-up request is shown but does not keep
      // a window open whose upload has already been told to end.
      ISenderServicePtr service = FSender.ServiceIntf;
      if (service && !FSender.Session.empty()) {
        RunGuarded(FView, [&] { service->DelTempFiles(FSender.Session); });
      }
      return true;
    }
    default:
      FView.Inform(CannotCloseNow);
      return false;
  }
}

void TMainLogic::FormClose() {
  FSender.FClosing = true;
  if (OnTerminate) OnTerminate();
  // A running send still needs it to drop its session; it goes with the send.
  if (!FSending) FSender.ServiceIntf.reset();
}

void TMainLogic::btSendClick() { SendFiles({}); }

void TMainLogic::SendFiles(const std::vector<std::string>& files) {
  if (FSending || FSender.FClosing) return;
  FSending = true;
  if (!PostToWindow) {
    RunSend(FView, files);
    SendEnded();
    return;
  }
  FView.SetSendEnabled(false);  // at once: no second press before the worker gets going
  FWorkerView = std::make_unique<TMarshalledView>(FView, PostToWindow);
  FWorkerDone = false;
  FWorker = std::thread([this, files] {
    FWorkerId = std::this_thread::get_id();
    RunSend(*FWorkerView, files);
    FWorkerView->Post([this] { SendEnded(); });
    FWorkerDone = true;
  });
}

void TMainLogic::RunSend(IOperatorView& view, const std::vector<std::string>& files) {
  TSendCommand command(FSender, view);
  command.DetailsDir = FPlaces.WriteDir;
  command.SettingsPath = SettingsPath();
  command.Files = files;
  // Parts in flight only when sendcfg.ini asks for them: the service must take parts in any
  // order. Each goes over a proxy, and so a connection, of its own.
  command.Parallel = ParallelSetting(EntryValue(FSender.FMoreSettings, "parallel"));
  command.NewPartService = [this] {
    if (Binder) return Binder(FSender.FUrl);
    std::shared_ptr<THTTPRIO> rio = NewSenderRIO();
    // The certificate trusted on the window's own connection holds for the parts' connections,
    // and their credentials dialogs belong to the window as its own do.
    const THTTPReqResp& own = FHTTPRIO->HTTPWebNode();
    rio->HTTPWebNode().TrustedCertificate = own.TrustedCertificate;
    rio->HTTPWebNode().DialogOwner = own.DialogOwner;
    rio->HTTPWebNode().Stopping = own.Stopping;
    return BindSenderService(false, FSender.FUrl, rio);
  };
  bool failed = false;
  try {
    command.btSendClick();
  } catch (...) {
    failed = true;
    // A window that agreed to close shows nothing more: a box would keep the program running.
    if (!FSender.FClosing) ShowException(view, std::current_exception());
  }
  // A session that an error or a close left open: the service drops its parts.
  if (command.SessionOpen()) {
    if (const ISenderServicePtr service = FSender.ServiceIntf) {
      RunGuarded(view, [&] { service->DelTempFiles(FSender.Session); });
    }
  }
  if (failed && !FSender.FClosing) {
    view.SetCaption(FSender.Session.empty()
                        ? std::string(MainCaption) + FailedCaptionEnd
                        : SessionCaption + ShownText(FSender.Session) + FailedCaptionEnd);
  }
  FSender.FState = spIdle;
}

void TMainLogic::SendEnded() {
  if (FWorker.joinable()) FWorker.join();
  FWorkerView.reset();
  FSending = false;
  if (FSender.FClosing) {
    FSender.ServiceIntf.reset();  // FormClose left it to the send
    return;
  }
  FView.SetSendEnabled(true);
  if (OnSendEnded) OnSendEnded();
}

}  // namespace vorlen

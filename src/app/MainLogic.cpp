#include "app/MainLogic.h"

#include <utility>

#include "app/CompatibilityLayer.h"
#include "app/ErrorHandler.h"
#include "proxy/HTTPRIO.h"
#include "proxy/SenderHooks.h"
#include "upload/CertificateTrust.h"
#include "upload/SendCommand.h"
#include "upload/SettingsFile.h"
#include "upload/SettingsSources.h"
#include "upload/UploadRules.h"

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
    // Unanswered, the call ends silently, as if the operator had cancelled.
    return OnCredentials && OnCredentials(Status == 407, UserName, Password);
  };
  FHTTPRIO->HTTPWebNode().OnUntrustedCertificate = [this](THTTPReqResp&,
                                                          const TServerCertificate& Certificate) {
    // Refused: the refusal has been shown; the call ends without another word.
    if (!AskCertificateTrust(FView, FSender.FMoreSettings, Certificate, [this] { SaveSettings(); }))
      throw EAbort();
    return true;
  };
}

TMainLogic::~TMainLogic() = default;

std::string TMainLogic::SettingsPath() const { return FPlaces.WriteDir + SettingsFileName; }

void TMainLogic::FormCreate() {
  FSender.FSettingsChanged = false;
  FSender.FClosing = false;
  FSender.FState = spIdle;
  ApplyCompatibilityLayer();
  LoadSettings();
  if (FSender.FSettingsChanged) SaveSettings();
  FSender.ServiceIntf =
      Binder ? Binder(FSender.FUrl) : BindSenderService(false, FSender.FUrl, FHTTPRIO);
  THTTPReqResp& node = FHTTPRIO->HTTPWebNode();
  node.TrustedCertificate =
      RememberedCertificate(FSender.FMoreSettings, node.URLHost(), node.URLPort());
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

void TMainLogic::SaveSettings() {
  try {
    WriteSettingsFile(SettingsPath(), EncodeSettings(FOwnUrl, FOwnOrg, OwnMoreSettings()));
  } catch (...) {
    try {
      FView.Inform(SaveSettingsError);
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
  FSender.ServiceIntf.reset();
}

void TMainLogic::btSendClick() { SendFiles({}); }

void TMainLogic::SendFiles(const std::vector<std::string>& files) {
  if (FSending) return;
  FSending = true;
  struct TReset {
    bool& flag;
    ~TReset() { flag = false; }
  } reset{FSending};
  TSendCommand command(FSender, FView);
  command.DetailsDir = FPlaces.WriteDir;
  command.Files = files;
  // Parts in flight only when sendcfg.ini asks for them: the service must take parts in any
  // order. Each goes over a proxy, and so a connection, of its own.
  command.Parallel = ParallelSetting(EntryValue(FSender.FMoreSettings, "parallel"));
  command.NewPartService = [this] {
    if (Binder) return Binder(FSender.FUrl);
    std::shared_ptr<THTTPRIO> rio = NewSenderRIO();
    // The certificate trusted on the window's own connection holds for the parts' connections.
    rio->HTTPWebNode().TrustedCertificate = FHTTPRIO->HTTPWebNode().TrustedCertificate;
    return BindSenderService(false, FSender.FUrl, rio);
  };
  command.btSendClick();
}

}  // namespace vorlen

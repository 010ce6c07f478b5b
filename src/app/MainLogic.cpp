#include "app/MainLogic.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "app/CompatibilityLayer.h"
#include "app/ErrorHandler.h"
#include "app/SettingsFile.h"
#include "platform/Paths.h"
#include "transport/HTTPReqResp.h"
#include "proxy/HTTPRIO.h"
#include "upload/SendCommand.h"

namespace vorlen {

const char* const MainCaption = "Изпращане на файлове до Ворлен";
const char* const UrlPromptCaption = "Въведете URL на уеб сървиса";
const char* const UrlPrompt = "url";
const char* const OrgPromptCaption = "Въведете име на организация";
const char* const OrgPrompt = "Организация";
const char* const SaveSettingsError = "Грешка при запис на настройки";
const char* const StopSendingQuestion = "Наистина ли желаете да прекратите изпращането на файла?";
const char* const CannotCloseNow = "В момента не може да прекратите програмата!";

namespace {

// Service calls may take long: the service merges and unpacks big archives before it answers.
constexpr int ReceiveTimeoutMs = 600000;

}  // namespace

TMainLogic::TMainLogic(IOperatorView& view, IRegistryStore& registry, std::string exePath,
                       std::string exeDir)
    : FView(view),
      FRegistry(registry),
      FExePath(std::move(exePath)),
      FExeDir(std::move(exeDir)) {
  FHTTPRIO = std::make_shared<THTTPRIO>();
  FHTTPRIO->HTTPWebNode().OnBeforePost = &TMainLogic::HTTPRIOHTTPWebNode1BeforePost;
  FHTTPRIO->HTTPWebNode().OnCredentials = [this](THTTPReqResp&, THTTPRequest&, int Status,
                                                  std::string& UserName, std::string& Password) {
    // Unanswered, the call ends silently, as if the operator had cancelled.
    return OnCredentials && OnCredentials(Status == 407, UserName, Password);
  };
}

TMainLogic::~TMainLogic() = default;

std::string TMainLogic::SettingsPath() const { return FExeDir + SettingsFileName; }

void TMainLogic::FormCreate() {
  FSender.FSettingsChanged = false;
  FSender.FClosing = false;
  FSender.FState = spIdle;
  ApplyCompatibilityLayer();
  LoadSettings();
  if (FSender.FSettingsChanged) SaveSettings();
  FSender.ServiceIntf =
      Binder ? Binder(FSender.FUrl) : BindSenderService(false, FSender.FUrl, FHTTPRIO);
}

void TMainLogic::ApplyCompatibilityLayer() { vorlen::ApplyCompatibilityLayer(FRegistry, FExePath); }

void TMainLogic::LoadSettings() {
  const std::string path = SettingsPath();
  std::error_code error;
  // When existence cannot even be told, reading is tried so that the operator sees why.
  if (std::filesystem::exists(FsPathFromUtf8(path), error) || error) {
    const std::string text = ReadSettingsFile(path);
    FSender.FUrl = SettingValue(text, "url");
    FSender.FOrg = SettingValue(text, "org");
  } else {
    FSender.FUrl.clear();
    FSender.FOrg.clear();
  }
  PromptUntilFilled(FSender.FUrl, UrlPromptCaption, UrlPrompt);
  PromptUntilFilled(FSender.FOrg, OrgPromptCaption, OrgPrompt);
}

void TMainLogic::PromptUntilFilled(std::string& value, const char* caption, const char* prompt) {
  // The blank test trims; the stored value keeps its spaces.
  while (IsBlankSetting(value)) {
    std::string edited = value;
    if (FView.InputQuery(caption, prompt, edited)) {
      value = std::move(edited);
      FSender.FSettingsChanged = true;
    }
  }
}

void TMainLogic::SaveSettings() {
  try {
    WriteSettingsFile(SettingsPath(), EncodeSettings(FSender.FUrl, FSender.FOrg));
  } catch (...) {
    try {
      FView.Inform(SaveSettingsError);
    } catch (...) {
      // Saving never raises; a box that cannot be shown leaves nothing else to do.
    }
  }
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

void TMainLogic::btSendClick() {
  if (FSending) return;
  FSending = true;
  struct TReset {
    bool& flag;
    ~TReset() { flag = false; }
  } reset{FSending};
  TSendCommand command(FSender, FView);
  command.DetailsDir = FExeDir;
  command.btSendClick();
}

void TMainLogic::HTTPRIOHTTPWebNode1BeforePost(THTTPReqResp&, THTTPRequest& Data) {
  Data.SetReceiveTimeoutMs(ReceiveTimeoutMs);
}

}  // namespace vorlen

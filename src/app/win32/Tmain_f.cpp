#include "app/win32/Tmain_f.h"

#include "app/CredentialsQuery.h"
#include "app/ErrorHandler.h"
#include "app/win32/Application.h"
#include "app/win32/WideText.h"
#include "platform/ExePath.h"
#include "platform/Paths.h"
#include "platform/SettingsDir.h"
#include "proxy/HTTPRIO.h"

namespace vorlen {

namespace {

// The executable's name without its extension, as Windows programs without a title show it.
std::string TitleOf(const std::string& exePath) {
  std::string name = ExtractFileName(exePath);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

Tmain_f::Tmain_f(TMainWindowOptions options)
    : FExePath(options.ExePath.empty() ? ExecutablePath() : options.ExePath),
      FTitle(TitleOf(FExePath)),
      FRegistry(std::move(options.Registry)),
      FDialogs(options.Dialogs),
      FBoxes([this] { return FForm.Handle(); }, WideFromUtf8(FTitle)) {
  std::string exeDir = options.ExeDir.empty() ? ExtractFileDir(FExePath) : options.ExeDir;
  if (!FRegistry) FRegistry = LocalMachineRegistry();
  FLogic = std::make_unique<TMainLogic>(*this, *FRegistry, FExePath, exeDir);
  if (options.ExeDir.empty()) FLogic->SetSettingsPlaces(SettingsPlaces(exeDir));
  FLogic->Binder = std::move(options.Binder);
  FLogic->OnTerminate = [] { win32::Application().Terminate(); };
  FLogic->OnCredentials = [this](bool proxy, std::string& userName, std::string& password) {
    return CredentialsQuery(proxy, userName, password);
  };

  // The send runs on a worker; what it shows and asks comes here through the message loop.
  FForm.OnPosted = [this] { RunPosted(); };
  FLogic->PostToWindow = [this](std::function<void()> action) {
    PostToWindow(std::move(action));
  };
  FLogic->OnSendEnded = [this] { FForm.FocusSend(); };
  FLogic->WaitForWorker = &win32::TMainForm::WaitTakingSentMessages;
  // WinINet's credentials dialog is modal to the window, not to the desktop.
  FLogic->HTTPRIO()->HTTPWebNode().DialogOwner = reinterpret_cast<uintptr_t>(FForm.Handle());

  FForm.SetCaption(MainCaption);
  FForm.OnSendClick = [this] { RunGuarded(*this, [this] { FLogic->btSendClick(); }); };
  FForm.OnSettings = [this] { RunGuarded(*this, [this] { FLogic->EditSettings(); }); };
  FForm.OnCloseQuery = [this] { return FormCloseQuery(); };
  // Runs before the window is shown, so the settings prompts come first.
  RunGuarded(*this, [this] { FLogic->FormCreate(); });
}

Tmain_f::~Tmain_f() = default;

void Tmain_f::SendFiles(const std::vector<std::string>& files) {
  RunGuarded(*this, [&] { FLogic->SendFiles(files); });
}

void Tmain_f::PostToWindow(std::function<void()> action) {
  {
    std::lock_guard<std::mutex> guard(FPostedLock);
    FPosted.push_back(std::move(action));
  }
  FForm.PostRun();
}

void Tmain_f::RunPosted() {
  std::deque<std::function<void()>> due;
  {
    // Taken out first: an action may open a modal box whose loop runs the next ones, and the
    // worker posts while holding its own lock.
    std::lock_guard<std::mutex> guard(FPostedLock);
    due.swap(FPosted);
  }
  for (std::function<void()>& action : due) action();
}

bool Tmain_f::FormCloseQuery() {
  bool canClose = false;
  RunGuarded(*this, [&] {
    canClose = FLogic->FormCloseQuery();
    if (!canClose) return;
    FLogic->FormClose();
    // A credentials dialog of the send is answered Cancel: the call ends without another
    // request, and the worker can end with the program.
    FForm.CancelOtherThreadsDialogs();
  });
  return canClose;
}

void Tmain_f::ProcessMessages() { win32::Application().ProcessMessages(); }

bool Tmain_f::Confirm(const std::string& text) {
  return FDialogs ? FDialogs->Confirm(text) : FBoxes.Confirm(text);
}

bool Tmain_f::ConfirmCertificate(const std::string& text, bool defaultNo) {
  return FDialogs ? FDialogs->ConfirmCertificate(text, defaultNo)
                  : FBoxes.ConfirmCertificate(text, defaultNo);
}

void Tmain_f::Inform(const std::string& text) {
  if (FDialogs) return FDialogs->Inform(text);
  FBoxes.Inform(text);
}

void Tmain_f::ShowError(const std::string& text) {
  if (FDialogs) return FDialogs->ShowError(text);
  FBoxes.ShowError(text);
}

bool Tmain_f::InputQuery(const std::string& caption, const std::string& prompt,
                         std::string& value) {
  return FDialogs ? FDialogs->InputQuery(caption, prompt, value)
                  : FBoxes.InputQuery(caption, prompt, value);
}

bool Tmain_f::OpenFile(std::string& path) {
  return FDialogs ? FDialogs->OpenFile(path) : FBoxes.OpenFile(path);
}

bool Tmain_f::CredentialsQuery(bool proxy, std::string& userName, std::string& password) {
  auto ask = [this](const std::string& caption, const std::string& prompt, std::string& value,
                    bool secret) {
    return FDialogs ? FDialogs->InputQuery(caption, prompt, value)
                    : FBoxes.InputQuery(caption, prompt, value, secret);
  };
  return vorlen::CredentialsQuery(ask, proxy, userName, password);
}

}  // namespace vorlen

// The main window on the Win32 API over the shell logic: TMainLogic decides, the form shows, and
// the operator answers through Windows' own boxes (or, for tests and scripted runs, through an
// IOperatorView given in the options).
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/MainLogic.h"
#include "app/win32/Boxes.h"
#include "app/win32/MainForm.h"
#include "platform/Registry.h"
#include "send/IOperatorView.h"

namespace vorlen {

struct TMainWindowOptions {
  std::string ExePath;  // full path of the executable; empty: the running one
  std::string ExeDir;   // holds sendcfg.ini; empty: SettingsPlaces() of the directory of ExePath
  std::unique_ptr<IRegistryStore> Registry;  // empty: the machine's registry
  TMainLogic::TBinder Binder;                // empty: the window's own proxy
  // Answers the modal boxes (Confirm, Inform, ShowError, InputQuery, OpenFile) in place of
  // Windows' dialogs; not owned.
  IOperatorView* Dialogs = nullptr;
};

class Tmain_f : public IOperatorView {
 public:
  // Lays the window out (hidden) and runs the creation steps; their failure is shown and the
  // window is created all the same. The caller shows it.
  explicit Tmain_f(TMainWindowOptions options = {});
  // Lets a running send end first: its questions are answered No, its session is dropped.
  ~Tmain_f() override;

  TMainLogic& Logic() { return *FLogic; }
  win32::TMainForm& Form() { return FForm; }
  const std::string& ApplicationTitle() const { return FTitle; }
  void Show() { FForm.Show(); }
  // Sends files named on the command line (Explorer's "Send to"), as if chosen in the open
  // dialog; what fails is shown as the send button's failures are.
  void SendFiles(const std::vector<std::string>& files);

  // IOperatorView
  void SetCaption(const std::string& caption) override { FForm.SetCaption(caption); }
  std::string Caption() const override { return FForm.Caption(); }
  void SetProgress(int position) override { FForm.SetProgress(position); }
  int Progress() const override { return FForm.Progress(); }
  bool Checked() const override { return FForm.Checked(); }
  void SetChecked(bool checked) override { FForm.SetChecked(checked); }
  void SetSendEnabled(bool enabled) override { FForm.SetSendEnabled(enabled); }
  void ProcessMessages() override;
  bool Confirm(const std::string& text) override;
  bool ConfirmCertificate(const std::string& text, bool defaultNo) override;
  void Inform(const std::string& text) override;
  void ShowError(const std::string& text) override;
  bool InputQuery(const std::string& caption, const std::string& prompt,
                  std::string& value) override;
  bool OpenFile(std::string& path) override;

  // The credentials question of a 401 (server) or 407 (proxy) answer: user name, then password.
  bool CredentialsQuery(bool proxy, std::string& userName, std::string& password);

 private:
  bool FormCloseQuery();
  // From any thread: runs action on the window's thread.
  void PostToWindow(std::function<void()> action);
  void RunPosted();

  std::string FExePath;
  std::string FTitle;
  std::unique_ptr<IRegistryStore> FRegistry;
  IOperatorView* FDialogs;
  // What the send's worker asked the window's thread to run; guarded by FPostedLock.
  std::mutex FPostedLock;
  std::deque<std::function<void()>> FPosted;
  win32::TMainForm FForm;
  win32::TBoxes FBoxes;
  std::unique_ptr<TMainLogic> FLogic;
};

}  // namespace vorlen

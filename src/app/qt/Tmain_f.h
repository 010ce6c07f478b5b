// The main window: a progress bar, the send button and the "do not archive" box over it. It shows
// what TMainLogic decides and answers for the operator through Qt's standard boxes.
#pragma once

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/MainLogic.h"
#include "platform/Registry.h"
#include "send/IOperatorView.h"

class QCheckBox;
class QFileDialog;
class QProgressBar;
class QPushButton;

namespace vorlen {

struct TMainWindowOptions {
  std::string ExePath;  // full path of the executable; empty: the running one
  std::string ExeDir;   // holds sendcfg.ini; empty: SettingsPlaces() of the directory of ExePath
  std::unique_ptr<IRegistryStore> Registry;  // empty: the machine's registry
  TMainLogic::TBinder Binder;                // empty: the window's own proxy
  // Answers the modal boxes (Confirm, Inform, ShowError, InputQuery, OpenFile) in place of Qt's
  // dialogs, for tests and scripted runs; not owned.
  IOperatorView* Dialogs = nullptr;
};

class Tmain_f : public QWidget, public IOperatorView {
 public:
  // Lays the window out and runs the creation steps; their failure is shown and the window is
  // created all the same. The caller shows it.
  explicit Tmain_f(TMainWindowOptions options = {});
  // Lets a running send end first: its questions are answered No, its session is dropped.
  ~Tmain_f() override;

  TMainLogic& Logic() { return *FLogic; }
  const std::string& ApplicationTitle() const { return FTitle; }
  // Sends files named on the command line, as if chosen in the open dialog; what fails is shown
  // as the send button's failures are.
  void SendFiles(const std::vector<std::string>& files);

  // Components, owned by the window through Qt's parent links.
  QPushButton* btSend = nullptr;
  QFileDialog* opndlg = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QCheckBox* chb = nullptr;

  // IOperatorView
  void SetCaption(const std::string& caption) override;
  std::string Caption() const override;
  void SetProgress(int position) override;
  int Progress() const override;
  bool Checked() const override;
  void SetChecked(bool checked) override;
  void SetSendEnabled(bool enabled) override;
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

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void LayOut();
  bool AskText(const std::string& caption, const std::string& prompt, std::string& value,
               bool secret);

  std::string FTitle;
  std::unique_ptr<IRegistryStore> FRegistry;
  IOperatorView* FDialogs;
  std::unique_ptr<TMainLogic> FLogic;
  bool FShownOnce = false;
};

}  // namespace vorlen

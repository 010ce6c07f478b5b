// The main window's behaviour without the window: start-up steps, the settings, the closing rules
// and the send button. The Qt window and the command-line sender both drive it through an
// IOperatorView, so it can be tested with scripted answers.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/Registry.h"
#include "platform/SettingsDir.h"
#include "send/IOperatorView.h"
#include "send/OperatorTexts.h"
#include "send/SenderState.h"

namespace vorlen {

class THTTPRIO;
class TMarshalledView;

class TMainLogic {
 public:
  // Produces the service reference for a URL; raises when it cannot bind.
  using TBinder = std::function<ISenderServicePtr(const std::string& url)>;

  // exePath is the executable's full path (the registry value's name); sendcfg.ini and the
  // details file live in exeDir, which ends in a separator, until SetSettingsPlaces says more.
  TMainLogic(IOperatorView& view, IRegistryStore& registry, std::string exePath,
             std::string exeDir);
  ~TMainLogic();
  TMainLogic(const TMainLogic&) = delete;
  TMainLogic& operator=(const TMainLogic&) = delete;

  TSenderState& State() { return FSender; }
  const std::string& ExeDir() const { return FExeDir; }
  // The sendcfg.ini that a save writes.
  std::string SettingsPath() const;
  // Where the settings are read (several places, the machine's registry last) and written; the
  // details file goes beside the written one. Set before FormCreate.
  void SetSettingsPlaces(TSettingsPlaces places) { FPlaces = std::move(places); }

  // Creation steps in order; an exception ends them (the caller shows it).
  void FormCreate();
  void ApplyCompatibilityLayer();
  // Reads the settings and prompts until both are non-blank; raises when the file is unreadable.
  void LoadSettings();
  // Writes the settings; a failure is reported to the operator, never raised.
  void SaveSettings();
  // True when the window may close.
  bool FormCloseQuery();
  void FormClose();
  // The send button. A press while a send is running is ignored: a nested send would share the
  // session and the part index with the running one.
  void btSendClick();
  // Sends files as if chosen in the open dialog (files given on the command line): one file by
  // the packing rules and the "do not archive" box, several packed into one archive. No files:
  // the open dialog asks, as the send button does.
  void SendFiles(const std::vector<std::string>& files);
  bool Sending() const { return FSending; }

  // The settings again, from the window's menu: the two input boxes filled with the current
  // values, then saved and the service bound again. Refused while a send runs; a binding that
  // fails raises (the caller shows it) and leaves no service bound.
  void EditSettings();

  // Unassigned: BindSenderService(false, url, HTTPRIO()).
  TBinder Binder;
  // Runs a function on the window's thread from its message loop; called from any thread. When
  // assigned, a send runs on a worker thread of its own and reaches the window only through it,
  // so the window repaints and answers in every phase. Unassigned, the send runs in
  // btSendClick.
  std::function<void(std::function<void()>)> PostToWindow;
  // Runs on the window's thread when a send has ended (the window gives the button the focus).
  std::function<void()> OnSendEnded;
  // Asks the application to end once control is back in its message loop.
  std::function<void()> OnTerminate;
  // Waits on the window's thread, when the window goes during a send, until finished() holds,
  // taking what other threads send to the window meanwhile (a worker's dialog owned by the
  // window re-enables it with a message sent to this thread). Unassigned: the worker is joined.
  std::function<void(const std::function<bool()>& finished)> WaitForWorker;
  // Asked when the service (or, with proxy set, a proxy) demands credentials: fill them in and
  // return true to send the request again; false or unassigned ends the call silently.
  std::function<bool(bool proxy, std::string& userName, std::string& password)> OnCredentials;

  // The window's own proxy, kept as one of its components. Its transport trusts the certificate
  // remembered for the URL's address and asks the operator about any other that cannot be
  // verified (AskCertificateTrust). It carries
  // the sender's pre-post hook, and the default binder binds through it.
  std::shared_ptr<THTTPRIO> HTTPRIO() const { return FHTTPRIO; }

 private:
  TSettingEntries OwnMoreSettings() const;

  IOperatorView& FView;
  IRegistryStore& FRegistry;
  std::string FExePath;
  std::string FExeDir;
  TSettingsPlaces FPlaces;
  std::string FOwnUrl;  // what a save writes as url and org (see TSenderSettings)
  std::string FOwnOrg;
  TSettingEntries FOwnMore;     // the written file's kept settings as read
  TSettingEntries FLoadedMore;  // FMoreSettings as read, to tell what the run changed
  // The send with its error handling: an error is shown, the session it opened is dropped,
  // and the window is idle again. Runs on the worker when there is one.
  void RunSend(IOperatorView& view, const std::vector<std::string>& files);
  // On the window's thread once the worker has finished.
  void SendEnded();
  // Binds the service and takes the certificate remembered for its address.
  ISenderServicePtr Bind(const std::string& url);
  // The view to ask from the calling thread: the worker's marshalled one, or the window.
  IOperatorView& ThisThreadsView();
  // SaveSettings reporting a failure through view.
  void SaveSettings(IOperatorView& view);

  TSenderState FSender;
  std::shared_ptr<THTTPRIO> FHTTPRIO;
  bool FSending = false;  // the window's thread's own
  // The running send's view and thread; the view is cancelled before the thread is joined, so
  // a worker never waits on a window that has gone.
  std::unique_ptr<TMarshalledView> FWorkerView;
  std::thread FWorker;
  std::thread::id FWorkerId;             // set by the worker itself before it asks anything
  std::atomic<bool> FWorkerDone{false};  // the worker has nothing left to do
};

}  // namespace vorlen

// vorlen-sender.exe: the window that sends one file at a time to the Vorlen service.
#include <objbase.h>
#include <windows.h>

#include <exception>
#include <string>
#include <vector>

#include "app/ErrorHandler.h"
#include "app/win32/Application.h"
#include "app/win32/Tmain_f.h"
#include "app/win32/WideText.h"
#include "platform/Console.h"

namespace {

// COM on the user-interface thread, as a single-threaded apartment, for the whole run.
class TComApartment {
 public:
  TComApartment() : FInitialised(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~TComApartment() {
    if (FInitialised) CoUninitialize();
  }
  TComApartment(const TComApartment&) = delete;
  TComApartment& operator=(const TComApartment&) = delete;

 private:
  bool FInitialised;
};

// Until the window exists, errors go to a plain stop box.
void ShowStartError(std::exception_ptr error) {
  if (std::optional<std::string> text = vorlen::ErrorBoxText(error)) {
    MessageBoxW(nullptr, vorlen::WideFromUtf8(*text).c_str(),
                vorlen::win32::ApplicationTitle().c_str(), MB_OK | MB_ICONSTOP | MB_TASKMODAL);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using namespace vorlen;
  TComApartment com;
  win32::TApplication& application = win32::Application();
  application.OnException = ShowStartError;
  try {
    Tmain_f main_f;
    application.OnException = [&main_f](std::exception_ptr error) { ShowException(main_f, error); };
    application.OnMessage = [&main_f](const MSG& message) {
      return main_f.Form().DialogKey(message);
    };
    main_f.Show();
    // Files named on the command line (Explorer's "Send to", or a file dropped on the program's
    // icon) are sent at once, as if chosen in the open dialog.
    const std::vector<std::string> files = CommandLineArguments(0, nullptr);
    if (!files.empty()) main_f.SendFiles(files);
    application.Run();
    application.OnMessage = nullptr;
    application.OnException = ShowStartError;
    return 0;
  } catch (...) {
    // Only a window that cannot even be built gets here; say why before leaving.
    ShowStartError(std::current_exception());
    return 1;
  }
}

// The application object of the Win32 window: the message loop, the pump that a running send
// calls, termination, and the last line of defence for exceptions. No exception may unwind
// through Windows' own frames, so window procedures hand theirs to HandleException.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <string>

namespace vorlen::win32 {

class TApplication {
 public:
  // Shows what escaped an event handler (the program's start assigns it before any window
  // exists); unassigned, nothing is shown.
  std::function<void(std::exception_ptr)> OnException;
  // Sees every message before it is dispatched; true keeps it from being dispatched (keyboard
  // navigation between the window's controls).
  std::function<bool(const MSG&)> OnMessage;

  // Runs the message loop until Terminate; whatever escapes a handler is shown and the loop
  // goes on.
  void Run();
  // Handles every pending message once and returns; a quit request marks the application
  // terminated instead of being dispatched.
  void ProcessMessages();
  // Ends the loop once control is back in it.
  void Terminate();
  bool Terminated() const { return FTerminated; }

  // Never throws: hands error to OnException.
  void HandleException(std::exception_ptr error) noexcept;

 private:
  // One message; false when there was none (wait: block until one comes).
  bool HandleMessage(bool wait);

  bool FTerminated = false;
};

// The program's one application object.
TApplication& Application();

// The executable's name without its extension: the boxes' caption, as no title is set.
std::wstring ApplicationTitle();

}  // namespace vorlen::win32

// The main window on the Win32 API: a progress bar, the send button and the "do not archive" box
// lying over the button's right half. It knows nothing of the send: the window's events say what
// the operator did, and the caller decides.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace vorlen::win32 {

class TMainForm {
 public:
  // Creates the window hidden, with its controls, at the system's DPI.
  TMainForm();
  ~TMainForm();
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  HWND Handle() const { return FHandle.get(); }
  HWND btSend = nullptr;
  HWND ProgressBar1 = nullptr;
  HWND chb = nullptr;

  // Shows the window, centred on the desktop the first time.
  void Show();
  // Hides it (a main window that agreed to close).
  void Hide();
  bool Visible() const;

  void SetCaption(const std::string& caption);
  std::string Caption() const;
  void SetProgress(int position);
  int Progress() const;
  bool Checked() const;
  void SetChecked(bool checked);
  void SetSendEnabled(bool enabled);

  // The controls that Tab visits, in order; those that cannot take the focus are passed over.
  std::vector<HWND> TabOrder() const { return {btSend, ProgressBar1, chb}; }
  // Tab and Shift+Tab on one of the window's controls: moves the focus along TabOrder and
  // returns true; Enter presses the send button (the window's default button) when it is
  // enabled and returns true. Anything else is left alone (Space presses the focused button).
  bool DialogKey(const MSG& message);
  // Gives the send button the keyboard focus.
  void FocusSend();
  // Cancels the dialogs that other threads show owned by this window (WinINet's credentials
  // dialog on a send's worker), as their Cancel button would.
  void CancelOtherThreadsDialogs();
  // Until finished() holds: takes the messages that other threads send to this thread's
  // windows, and nothing else.
  static void WaitTakingSentMessages(const std::function<bool()>& finished);

  // A length in pixels at 96 DPI, in pixels at the system's DPI.
  int Scale(int pixels) const { return MulDiv(pixels, FDpi, 96); }

  std::function<void()> OnSendClick;
  // The system menu's "Настройки…".
  std::function<void()> OnSettings;
  // Runs on the window's thread for every PostRun, from its message loop (and modal loops).
  std::function<void()> OnPosted;
  // From any thread: asks the window's thread to run OnPosted.
  void PostRun();
  // Asked on every close request; unassigned, the window may close.
  std::function<bool()> OnCloseQuery;
  // Runs when the window has agreed to close, before it is hidden.
  std::function<void()> OnClose;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  // Prints the send button into dc, a DC in window's client coordinates: what lies under the
  // check box.
  void PaintButtonUnder(HWND window, HDC dc);
  HWND CreateChild(const wchar_t* className, const wchar_t* text, DWORD style, int id, int left,
                   int top, int width, int height);

  struct TDestroyWindow {
    void operator()(HWND window) const { DestroyWindow(window); }
  };
  struct TDeleteObject {
    void operator()(HFONT font) const { DeleteObject(font); }
  };
  // Declared before the window, so that it outlives the window that uses it.
  std::unique_ptr<std::remove_pointer_t<HFONT>, TDeleteObject> FFont;
  std::unique_ptr<std::remove_pointer_t<HWND>, TDestroyWindow> FHandle;
  int FDpi = 96;
  bool FShownOnce = false;
  bool FPrintingButton = false;  // drawing the button under the check box
};

}  // namespace vorlen::win32

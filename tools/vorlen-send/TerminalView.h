// The operator's side of a send on a terminal: status lines and a progress bar on stderr, the
// questions on stdin (or answered by the command line), Ctrl-C as the confirmed stop.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "send/IOperatorView.h"
#include "send/SenderState.h"

namespace vorlen {

struct TTerminalViewOptions {
  std::string File;          // what the open-file dialog answers
  bool Pack = false;         // "do not archive" starts cleared
  std::optional<int> Retry;  // Yes this many times, then No; unset: ask when there is a terminal
  bool InputIsTerminal = false;
  bool ErrorIsTerminal = false;
  // The terminal interprets escape sequences; else the bar is redrawn by carriage return and
  // padding alone (a Windows console without virtual-terminal processing).
  bool ErrorTakesEscapes = true;
  // The pause before a retry round; unset: TTerminalView::Wait.
  std::function<void(std::chrono::milliseconds)> Sleep;
};

class TTerminalView : public IOperatorView {
 public:
  TTerminalView(TSenderState& state, TTerminalViewOptions options, std::istream& in,
                std::ostream& err);

  void SetCaption(const std::string& caption) override;
  std::string Caption() const override { return FCaption; }
  void SetProgress(int position) override;
  int Progress() const override { return FPosition; }
  bool Checked() const override { return FChecked; }
  void SetChecked(bool checked) override { FChecked = checked; }
  void SetSendEnabled(bool) override {}
  void ProcessMessages() override;
  bool Confirm(const std::string& text) override;
  void Inform(const std::string& text) override;
  void ShowError(const std::string& text) override;
  bool InputQuery(const std::string& caption, const std::string& prompt,
                  std::string& value) override;
  bool OpenFile(std::string& path) override;

  // A part has been read; feeds the part count and the rate.
  void PartRead(int32_t index, int64_t partCount, int64_t length);
  // A part of length bytes was accepted: the next progress counts it. With parts in flight the
  // part read last need not be the one accepted.
  void PartAccepted(int64_t length);
  // Something was already shown to the operator that explains a failed send.
  bool Reported() const { return FReported; }

  // Installs the Ctrl-C handler: the first press is handled at the next pumping point, a second
  // one ends the program at once. errorIsTerminal: a progress bar may hold stderr's last line.
  // leftover, when not empty, is a file of the run that the second press removes, since no
  // destructor runs then.
  static void CatchInterrupt(bool errorIsTerminal, const std::string& leftover = std::string());
  static bool Interrupted();
  // Sleeps for pause, or less when Ctrl-C is pressed.
  static void Wait(std::chrono::milliseconds pause);

 private:
  void ClearBar();
  void DrawBar(const std::string& bar);
  void Line(const std::string& text);
  void HandleInterrupt();

  TSenderState& FState;
  TTerminalViewOptions FOptions;
  std::istream& FIn;
  std::ostream& FErr;
  std::string FCaption;
  int FPosition = 0;
  bool FChecked;
  bool FFileGiven = false;
  bool FBarShown = false;
  size_t FBarColumns = 0;  // characters of the bar on the screen
  bool FReported = false;
  int FRetriesLeft = 0;
  std::chrono::milliseconds FRetryWait;  // before the next unattended retry round
  int FLastDecile = 0;
  int32_t FPartsDone = 0;
  int64_t FPartCount = 0;
  int64_t FBytesDone = 0;
  int64_t FPendingLength = 0;
  bool FAwaitingPart = false;  // a part was read and its progress is still to come
  std::chrono::steady_clock::time_point FStart;
};

}  // namespace vorlen

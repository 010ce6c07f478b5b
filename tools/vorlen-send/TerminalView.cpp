#include "TerminalView.h"

#include <csignal>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "runtime/Format.h"

namespace vorlen {

namespace {

volatile std::sig_atomic_t gInterrupts = 0;
volatile std::sig_atomic_t gNoteOnNewLine = 0;  // a progress bar may hold the current line

// The first press only asks for a stop, which waits for the next pumping point (the running
// service call may take minutes); say so, so that the operator knows a second press ends it.
const char kInterruptNote[] =
    "Ctrl-C: изпращането спира при първа възможност; Ctrl-C отново прекратява програмата.\n";

extern "C" void OnInterrupt(int) {
  gInterrupts = gInterrupts + 1;
  if (gInterrupts >= 2) {  // the second press ends the program at once
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
    return;
  }
  std::signal(SIGINT, OnInterrupt);  // where a caught signal resets its handler
  // Only async-signal-safe calls here: a plain write of fixed bytes.
#ifdef _WIN32
  if (gNoteOnNewLine) _write(2, "\n", 1);
  _write(2, kInterruptNote, static_cast<unsigned>(sizeof kInterruptNote - 1));
#else
  if (gNoteOnNewLine) (void)!write(2, "\n", 1);
  (void)!write(2, kInterruptNote, sizeof kInterruptNote - 1);
#endif
}

const char* const kStopped = "Изпращането е прекратено.";
const char* const kCannotStop = "В момента не може да прекратите програмата!";

}  // namespace

void TTerminalView::CatchInterrupt(bool errorIsTerminal) {
  gNoteOnNewLine = errorIsTerminal ? 1 : 0;
  std::signal(SIGINT, OnInterrupt);
}
bool TTerminalView::Interrupted() { return gInterrupts > 0; }

TTerminalView::TTerminalView(TSenderState& state, TTerminalViewOptions options, std::istream& in,
                             std::ostream& err)
    : FState(state), FOptions(std::move(options)), FIn(in), FErr(err), FChecked(!FOptions.Pack),
      FRetriesLeft(FOptions.Retry.value_or(0)), FStart(std::chrono::steady_clock::now()) {}

void TTerminalView::ClearBar() {
  if (!FBarShown) return;
  FErr << "\r\x1b[K";
  FBarShown = false;
}

void TTerminalView::Line(const std::string& text) {
  ClearBar();
  FErr << text << '\n' << std::flush;
}

void TTerminalView::SetCaption(const std::string& caption) {
  if (caption == FCaption) return;
  FCaption = caption;
  Line(caption);
}

void TTerminalView::PartRead(int32_t index, int64_t partCount, int64_t length) {
  if (index == 0 && FPartsDone == 0) FStart = std::chrono::steady_clock::now();
  FPartCount = partCount;
  FPendingLength = length;
  FAwaitingPart = true;
}

void TTerminalView::SetProgress(int position) {
  FPosition = position;
  // Only the move after an accepted part is news; the send's own end repeats it or resets it.
  // The position alone cannot tell: with more than 200 parts the first ones still round to 0.
  if (!FAwaitingPart) return;
  FAwaitingPart = false;
  ++FPartsDone;
  FBytesDone += FPendingLength;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
  const double rate = seconds > 0 ? static_cast<double>(FBytesDone) / 1e6 / seconds : 0.0;
  const std::string figures = Format("%3d %%  част %d от %lld  %.1f MB/s", position, FPartsDone,
                                     static_cast<long long>(FPartCount), rate);
  if (FOptions.ErrorIsTerminal) {
    constexpr int kWidth = 30;
    const int filled = position * kWidth / 100;
    std::string bar = "[";
    for (int k = 0; k < kWidth; ++k) bar += k < filled ? '#' : '.';
    FErr << "\r\x1b[K" << bar << "] " << figures << std::flush;
    FBarShown = true;
  } else if (position / 10 > FLastDecile) {
    FLastDecile = position / 10;
    Line(figures);
  }
}

void TTerminalView::ProcessMessages() {
  if (Interrupted()) HandleInterrupt();
}

// What the window's close rules do, with Ctrl-C as a close request that is already confirmed.
void TTerminalView::HandleInterrupt() {
  gInterrupts = 0;
  std::signal(SIGINT, OnInterrupt);
  switch (FState.FState) {
    case spIdle:
      FState.FClosing = true;
      break;
    case spUploading:
      Line(kStopped);
      FReported = true;
      FState.FClosing = true;
      if (FState.ServiceIntf) {
        try {
          FState.ServiceIntf->DelTempFiles(FState.Session);
        } catch (const std::exception& e) {
          Line(e.what());
        }
      }
      FState.ServiceIntf.reset();
      break;
    default:
      Line(kCannotStop);
      break;
  }
}

bool TTerminalView::Confirm(const std::string& text) {
  ClearBar();
  FAwaitingPart = false;  // the part was not accepted; a retry reads it again
  if (FOptions.Retry || !FOptions.InputIsTerminal) {
    const bool yes = FRetriesLeft > 0;
    if (yes) --FRetriesLeft;
    Line(text + (yes ? " да" : " не"));
    if (!yes) FReported = true;
    return yes;
  }
  for (;;) {
    FErr << text << " [д/н] " << std::flush;
    std::string answer;
    if (!std::getline(FIn, answer)) {
      FErr << '\n';
      FReported = true;
      return false;
    }
    if (answer == "д" || answer == "Д" || answer == "y" || answer == "Y" || answer == "да") return true;
    if (answer == "н" || answer == "Н" || answer == "n" || answer == "N" || answer == "не") {
      FReported = true;
      return false;
    }
  }
}

void TTerminalView::Inform(const std::string& text) { Line(text); }

void TTerminalView::ShowError(const std::string& text) {
  Line(text);
  FReported = true;
}

bool TTerminalView::InputQuery(const std::string& caption, const std::string& prompt,
                               std::string& value) {
  if (!FOptions.InputIsTerminal) return false;
  Line(caption);
  FErr << prompt << ": " << std::flush;
  std::string answer;
  if (!std::getline(FIn, answer)) return false;
  value = answer;
  return true;
}

bool TTerminalView::OpenFile(std::string& path) {
  if (FFileGiven) return false;  // one file a run
  FFileGiven = true;
  path = FOptions.File;
  return true;
}

}  // namespace vorlen

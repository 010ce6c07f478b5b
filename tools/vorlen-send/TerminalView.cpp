#include "TerminalView.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <thread>

#include "TerminalInterrupt.h"
#include "runtime/Format.h"
#include "send/OperatorTexts.h"
#include "send/ShownText.h"

namespace vorlen {

namespace {

// The first press has been acted on; the press itself stays counted.
bool gStopHandled = false;

// Pauses before the rounds of unattended retries: 1 s, doubled each round, at most 60 s.
constexpr std::chrono::milliseconds kFirstRetryWait{1000};
constexpr std::chrono::milliseconds kLongestRetryWait{60000};

// Characters, not bytes, of UTF-8 text: the columns it takes on a terminal.
size_t Columns(const std::string& text) {
  return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

// The answer with surrounding blanks dropped and Latin and Cyrillic capitals made small.
std::string FoldedAnswer(const std::string& answer) {
  const size_t first = answer.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const std::string text = answer.substr(first, answer.find_last_not_of(" \t\r") - first + 1);
  std::string folded;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (c >= 'A' && c <= 'Z') {
      folded += static_cast<char>(c + ('a' - 'A'));
    } else if (c == 0xD0 && next >= 0x90 && next <= 0x9F) {  // А to П: U+0410 to U+041F
      folded += {'\xD0', static_cast<char>(next + 0x20)};
      ++i;
    } else if (c == 0xD0 && next >= 0xA0 && next <= 0xAF) {  // Р to Я: U+0420 to U+042F
      folded += {'\xD1', static_cast<char>(next - 0x20)};
      ++i;
    } else {
      folded += static_cast<char>(c);
    }
  }
  return folded;
}

}  // namespace

void TTerminalView::CatchInterrupt(bool errorIsTerminal, const std::string& leftover) {
  InstallInterruptHandler(errorIsTerminal, leftover);
}
bool TTerminalView::Interrupted() { return InterruptPending(); }

void TTerminalView::Wait(std::chrono::milliseconds pause) {
  // In short steps, so that a Ctrl-C does not have to sit out the pause.
  const auto end = std::chrono::steady_clock::now() + pause;
  while (!Interrupted()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(100)));
  }
}

TTerminalView::TTerminalView(TSenderState& state, TTerminalViewOptions options, std::istream& in,
                             std::ostream& err)
    : FState(state),
      FOptions(std::move(options)),
      FIn(in),
      FErr(err),
      FChecked(!FOptions.Pack),
      FRetriesLeft(FOptions.Retry.value_or(0)),
      FRetryWait(kFirstRetryWait),
      FStart(std::chrono::steady_clock::now()) {
  if (!FOptions.Sleep) FOptions.Sleep = &TTerminalView::Wait;
}

void TTerminalView::ClearBar() {
  if (!FBarShown) return;
  if (FOptions.ErrorTakesEscapes)
    FErr << "\r\x1b[K";
  else
    FErr << '\r' << std::string(FBarColumns, ' ') << '\r';
  FBarShown = false;
  FBarColumns = 0;
}

void TTerminalView::DrawBar(const std::string& bar) {
  const size_t columns = Columns(bar);
  if (FOptions.ErrorTakesEscapes)
    FErr << "\r\x1b[K" << bar;
  else  // spaces over what a longer bar before left behind
    FErr << '\r' << bar << std::string(FBarColumns > columns ? FBarColumns - columns : 0, ' ');
  FErr << std::flush;
  FBarShown = true;
  FBarColumns = std::max(FBarColumns, columns);
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

void TTerminalView::PartAccepted(int64_t length) {
  FPendingLength = length;
  FAwaitingPart = true;
}

void TTerminalView::SetProgress(int position) {
  FPosition = position;
  // Only the move after an accepted part is news; the send's own end repeats it or resets it.
  // The position alone cannot tell: with more than 200 parts the first ones still round to 0.
  if (!FAwaitingPart) return;
  FAwaitingPart = false;
  FRetryWait = kFirstRetryWait;  // a part got through: the next trouble starts short again
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
    DrawBar(bar + "] " + figures);
  } else if (position / 10 > FLastDecile) {
    FLastDecile = position / 10;
    Line(figures);
  }
}

void TTerminalView::ProcessMessages() {
  if (Interrupted() && !gStopHandled) HandleInterrupt();
}

// What the window's close rules do, with Ctrl-C as a close request that is already confirmed.
// The press stays counted, so that a second one ends the program even during the clean-up call.
void TTerminalView::HandleInterrupt() {
  gStopHandled = true;
  switch (FState.FState) {
    case spIdle:
      FState.FClosing = true;
      break;
    case spUploading:
      Line(SendStopped);
      FReported = true;
      FState.FClosing = true;
      if (FState.ServiceIntf) {
        try {
          FState.ServiceIntf->DelTempFiles(FState.Session);
        } catch (const std::exception&) {
          Line(ShownErrorText(std::current_exception()));
        }
      }
      FState.ServiceIntf.reset();
      break;
    default:
      Line(CannotCloseNow);
      break;
  }
}

bool TTerminalView::Confirm(const std::string& text) {
  ClearBar();
  FAwaitingPart = false;  // the part was not accepted; a retry reads it again
  if (FOptions.Retry || !FOptions.InputIsTerminal) {
    bool yes = FRetriesLeft > 0;
    if (yes) --FRetriesLeft;
    Line(text + (yes ? " да" : " не"));
    if (yes) {
      // Unattended: give a restarting service or a dropped network time to come back.
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(FRetryWait).count();
      Line(Format(RetryWaitNote, static_cast<int>(seconds)));
      FOptions.Sleep(FRetryWait);
      FRetryWait = std::min(FRetryWait * 2, kLongestRetryWait);
      yes = !Interrupted();  // a Ctrl-C during the pause gives up the part
    }
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
    answer = FoldedAnswer(answer);
    if (answer == "д" || answer == "да" || answer == "y" || answer == "yes") return true;
    if (answer == "н" || answer == "не" || answer == "n" || answer == "no") {
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

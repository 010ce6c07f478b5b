#include <unistd.h>

#include <csignal>

#include "TerminalInterrupt.h"

namespace vorlen {

namespace {

volatile std::sig_atomic_t gInterrupts = 0;
volatile std::sig_atomic_t gNoteOnNewLine = 0;

extern "C" void OnInterrupt(int) {
  gInterrupts = gInterrupts + 1;
  if (gInterrupts >= 2) {  // the second press ends the program at once
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
    return;
  }
  std::signal(SIGINT, OnInterrupt);  // where a caught signal resets its handler
  // Only async-signal-safe calls here: a plain write of fixed bytes.
  if (gNoteOnNewLine) (void)!write(2, "\n", 1);
  (void)!write(2, kInterruptNote, sizeof kInterruptNote - 1);
}

}  // namespace

void InstallInterruptHandler(bool noteOnNewLine) {
  gNoteOnNewLine = noteOnNewLine ? 1 : 0;
  std::signal(SIGINT, OnInterrupt);
}

bool InterruptPending() { return gInterrupts > 0; }

void ClearInterrupt() {
  gInterrupts = 0;
  std::signal(SIGINT, OnInterrupt);
}

}  // namespace vorlen

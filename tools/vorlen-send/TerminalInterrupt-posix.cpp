#include <unistd.h>

#include <csignal>
#include <cstdio>

#include "TerminalInterrupt.h"
#include "send/OperatorTexts.h"

namespace vorlen {

namespace {

volatile std::sig_atomic_t gInterrupts = 0;
volatile std::sig_atomic_t gNoteOnNewLine = 0;
char gLeftover[4096] = "";  // removed by the second press; fixed storage for the handler

extern "C" void OnInterrupt(int) {
  gInterrupts = gInterrupts + 1;
  if (gInterrupts >= 2) {  // the second press ends the program at once
    if (gLeftover[0] != '\0') unlink(gLeftover);
    std::signal(SIGINT, SIG_DFL);
    std::raise(SIGINT);
    return;
  }
  std::signal(SIGINT, OnInterrupt);  // where a caught signal resets its handler
  // The first press only asks for a stop, which waits for the next pumping point (the running
  // service call may take minutes); say so, so that the operator knows a second press ends it.
  // Only async-signal-safe calls here: a plain write of fixed bytes.
  if (gNoteOnNewLine) (void)!write(2, "\n", 1);
  (void)!write(2, InterruptNote, sizeof InterruptNote - 1);
}

}  // namespace

void InstallInterruptHandler(bool noteOnNewLine, const std::string& leftover) {
  gNoteOnNewLine = noteOnNewLine ? 1 : 0;
  // A path too long for the buffer is left alone rather than cut into another name.
  gLeftover[0] = '\0';
  if (leftover.size() < sizeof gLeftover)
    std::snprintf(gLeftover, sizeof gLeftover, "%s", leftover.c_str());
  std::signal(SIGINT, OnInterrupt);
}

bool InterruptPending() { return gInterrupts > 0; }

}  // namespace vorlen

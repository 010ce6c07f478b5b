#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>

#include "TerminalInterrupt.h"
#include "runtime/WindowsText.h"
#include "send/OperatorTexts.h"

namespace vorlen {

namespace {

std::atomic<int> gInterrupts{0};
std::atomic<bool> gNoteOnNewLine{false};
std::mutex gLeftoverLock;
std::wstring gLeftover;  // removed by the second press

// Runs on a thread of its own that the console starts for each press.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // The second press: not handled here, so the system ends the program at once.
  if (++gInterrupts >= 2) {
    std::lock_guard<std::mutex> lock(gLeftoverLock);
    if (!gLeftover.empty()) DeleteFileW(gLeftover.c_str());
    return FALSE;
  }
  // The first press only asks for a stop, which waits for the next pumping point; say so, so
  // that the operator knows a second press ends it.
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  if (gNoteOnNewLine) WriteFile(err, "\n", 1, &written, nullptr);
  const std::wstring note = WideFromUtf8(InterruptNote);
  // On a console as characters; redirected, the UTF-8 bytes themselves.
  if (!WriteConsoleW(err, note.c_str(), static_cast<DWORD>(note.size()), &written, nullptr))
    WriteFile(err, InterruptNote, sizeof InterruptNote - 1, &written, nullptr);
  return TRUE;
}

}  // namespace

void InstallInterruptHandler(bool noteOnNewLine, const std::string& leftover) {
  gNoteOnNewLine = noteOnNewLine;
  {
    std::lock_guard<std::mutex> lock(gLeftoverLock);
    gLeftover = WideFromUtf8(leftover);
  }
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool InterruptPending() { return gInterrupts > 0; }

}  // namespace vorlen

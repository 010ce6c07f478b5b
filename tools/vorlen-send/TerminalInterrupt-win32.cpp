#include <windows.h>

#include <atomic>
#include <string>

#include "TerminalInterrupt.h"
#include "runtime/WindowsText.h"

namespace vorlen {

namespace {

std::atomic<int> gInterrupts{0};
std::atomic<bool> gNoteOnNewLine{false};

// Runs on a thread of its own that the console starts for each press.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // The second press: not handled here, so the system ends the program at once.
  if (++gInterrupts >= 2) return FALSE;
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  if (gNoteOnNewLine) WriteFile(err, "\n", 1, &written, nullptr);
  const std::wstring note = WideFromUtf8(kInterruptNote);
  // On a console as characters; redirected, the UTF-8 bytes themselves.
  if (!WriteConsoleW(err, note.c_str(), static_cast<DWORD>(note.size()), &written, nullptr))
    WriteFile(err, kInterruptNote, sizeof kInterruptNote - 1, &written, nullptr);
  return TRUE;
}

}  // namespace

void InstallInterruptHandler(bool noteOnNewLine) {
  gNoteOnNewLine = noteOnNewLine;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool InterruptPending() { return gInterrupts > 0; }

void ClearInterrupt() { gInterrupts = 0; }

}  // namespace vorlen

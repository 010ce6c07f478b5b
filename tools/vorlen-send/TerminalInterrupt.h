// Ctrl-C for the terminal send: the first press is noted and handled at the next pumping
// point; a second one ends the program at once. A signal handler on POSIX, a console control
// handler on Windows.
#pragma once

namespace vorlen {

// noteOnNewLine: a progress bar may hold the current line of stderr, so the note starts a new one.
void InstallInterruptHandler(bool noteOnNewLine);
// Presses not yet handled.
bool InterruptPending();
// The pending press is handled; the next one counts as a first again.
void ClearInterrupt();

// What the first press prints on stderr.
inline constexpr char kInterruptNote[] =
    "Ctrl-C: изпращането спира при първа възможност; Ctrl-C отново прекратява програмата.\n";

}  // namespace vorlen

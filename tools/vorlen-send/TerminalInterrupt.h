// Ctrl-C for the terminal send: the first press is noted and handled at the next pumping
// point; a second one ends the program at once. A signal handler on POSIX, a console control
// handler on Windows.
#pragma once

#include <string>

namespace vorlen {

// noteOnNewLine: a progress bar may hold the current line of stderr, so the note starts a new one.
// leftover, when not empty, is a file of the run that the second press removes.
void InstallInterruptHandler(bool noteOnNewLine, const std::string& leftover);
// Presses of the run, never reset: a second one always ends the program.
bool InterruptPending();

}  // namespace vorlen

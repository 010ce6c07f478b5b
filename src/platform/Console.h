// What command-line programs need from the system: their arguments as UTF-8, output streams that
// show UTF-8 text (Cyrillic too) correctly on a console and keep its bytes in a file or pipe, the
// typed answers as UTF-8 whatever the console's code page, and how a line is redrawn in place.
#pragma once

#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vorlen {

// The program's arguments without its name, as UTF-8. On Windows they are read again from the
// UTF-16 command line, since argv holds them in the ANSI code page.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

enum class TStdStream { ssOutput, ssError };

// Writes UTF-8 text to standard output or error: on a Windows console as UTF-16 characters,
// everywhere else as the bytes themselves. Raises nothing; output that cannot be written is lost
// as with std::cout.
void WriteStdText(TStdStream stream, std::string_view utf8);

// A std::ostream over WriteStdText, flushed at destruction.
class TConsoleOutput : public std::ostream {
 public:
  explicit TConsoleOutput(TStdStream stream);
  ~TConsoleOutput() override;

 private:
  std::unique_ptr<std::streambuf> FBuffer;
};

// How standard error redraws a line in place (a progress bar): with escape sequences where the
// terminal interprets them, with a carriage return and padding on a Windows console without them,
// not at all when it is no terminal.
enum class TLineRedraw { lrNone, lrEscapes, lrCarriageReturn };
// On a Windows console this turns its virtual-terminal processing on where it has one.
TLineRedraw StderrLineRedraw();

// Reads one line of standard input without its line end, as UTF-8: on a Windows console the typed
// characters themselves (UTF-16, whatever the console's code pages); elsewhere the bytes, which on
// Windows are taken for the console's input code page where they are not UTF-8. False at the end.
bool ReadStdInputLine(std::string& line);

// A std::istream over ReadStdInputLine: lines end in '\n' alone, a byte-order mark before the
// first one is dropped.
class TConsoleInput : public std::istream {
 public:
  TConsoleInput();
  ~TConsoleInput() override;

 private:
  std::unique_ptr<std::streambuf> FBuffer;
};

}  // namespace vorlen

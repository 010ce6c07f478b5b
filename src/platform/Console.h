// What command-line programs need from the system: their arguments as UTF-8, and output streams
// that show UTF-8 text (Cyrillic too) correctly on a console and keep its bytes in a file or pipe.
#pragma once

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

}  // namespace vorlen

// vorlen-send: sends one file to the Vorlen upload service, as the window's send button does.
#include "SendTool.h"
#include "platform/Console.h"

int main(int argc, char** argv) {
  // Arguments as UTF-8 (from the UTF-16 command line on Windows), Cyrillic shown on a console and
  // read from it whatever its code page.
  vorlen::TConsoleInput in;
  vorlen::TConsoleOutput out(vorlen::TStdStream::ssOutput);
  vorlen::TConsoleOutput err(vorlen::TStdStream::ssError);
  return vorlen::RunSendTool(vorlen::CommandLineArguments(argc, argv), in, out, err);
}

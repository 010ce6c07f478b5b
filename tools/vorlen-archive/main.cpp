#include "ArchiveTool.h"
#include "platform/Console.h"

int main(int argc, char** argv) {
  vorlen::TConsoleOutput out(vorlen::TStdStream::ssOutput);
  vorlen::TConsoleOutput err(vorlen::TStdStream::ssError);
  return vorlen::RunArchiveTool(vorlen::CommandLineArguments(argc, argv), out, err);
}

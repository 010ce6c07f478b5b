// vorlen-send: sends one file to the Vorlen upload service, as the window's send button does.
#include <iostream>
#include <string>
#include <vector>

#include "SendTool.h"

int main(int argc, char** argv) {
  return vorlen::RunSendTool(std::vector<std::string>(argv + 1, argv + argc), std::cin, std::cout,
                             std::cerr);
}

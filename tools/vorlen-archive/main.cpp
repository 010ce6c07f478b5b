#include <iostream>
#include <string>
#include <vector>

#include "ArchiveTool.h"

int main(int argc, char** argv) {
  return vorlen::RunArchiveTool(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                std::cerr);
}

// vorlen-send: the window's send workflow from the command line.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vorlen {

// Runs one send; returns the exit code: 0 when the service merged the file (and was asked to
// unpack a packed one), 1 on any failure with its text on err, 2 for bad usage.
int RunSendTool(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                std::ostream& err);

}  // namespace vorlen

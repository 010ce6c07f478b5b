// The vorlen-archive command line: create or extend, list, test and extract archives.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace vorlen {

// Exit status of one run.
enum TToolExit : int { teOk = 0, teFailed = 1, teUsage = 2 };

// Runs the command that args (without the program name) describe; output goes to out, messages
// and errors to err.
int RunArchiveTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace vorlen

// The system's temporary directory and uniquely named temporary files in it.
#pragma once

#include <string>

namespace vorlen {

// TMPDIR (or the platform's temporary directory), without a trailing separator.
std::string SystemTempDir();

// Creates a new, empty file with a unique name that starts with prefix in dir, exclusively (no
// existing file is ever reused), and returns its full path. Raises vorlen::Exception on failure.
std::string CreateTempFile(const std::string& dir, const std::string& prefix);

}  // namespace vorlen

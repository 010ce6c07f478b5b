#include "platform/TempFiles.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <unistd.h>

#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace vorlen {

std::string SystemTempDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string CreateTempFile(const std::string& dir, const std::string& prefix) {
  std::string pattern = dir;
  if (pattern.empty() || pattern.back() != '/') pattern += '/';
  pattern += prefix;
  pattern += "XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int handle = ::mkstemp(name.data());
  if (handle < 0)
    throw Exception(
        Format("Cannot create a temporary file in \"%s\". %s", dir.c_str(), std::strerror(errno)));
  ::close(handle);
  return std::string(name.data());
}

}  // namespace vorlen

#include "platform/ExePath.h"

#include "platform/Paths.h"

namespace vorlen {

std::string ExecutableDir() { return ExtractFileDir(ExecutablePath()); }

}  // namespace vorlen

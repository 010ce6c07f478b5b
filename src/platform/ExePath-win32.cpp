#include <windows.h>

#include <vector>

#include "platform/ExePath.h"
#include "runtime/Exception.h"
#include "runtime/WindowsText.h"

namespace vorlen {

std::string ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) throw Exception("Cannot determine the executable's path. " + LastErrorText());
    // A full buffer means the path was cut short: try again with a larger one.
    if (length < buffer.size()) return Utf8FromWide(std::wstring_view(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace vorlen

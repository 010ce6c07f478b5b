#include <windows.h>

#include "platform/TempFiles.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "runtime/WindowsText.h"

namespace vorlen {

std::string SystemTempDir() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH)
    throw Exception("The temporary directory is not known. " + LastErrorText());
  std::string dir = Utf8FromWide(std::wstring_view(buffer, length));
  while (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
  return dir;
}

std::string CreateTempFile(const std::string& dir, const std::string& prefix) {
  wchar_t buffer[MAX_PATH];
  // Unique number 0: the system picks the number and creates the empty file.
  if (GetTempFileNameW(WideFromUtf8(dir).c_str(), WideFromUtf8(prefix).c_str(), 0, buffer) == 0)
    throw Exception(Format("Cannot create a temporary file in \"%s\". %s", dir.c_str(),
                           LastErrorText().c_str()));
  return Utf8FromWide(buffer);
}

}  // namespace vorlen

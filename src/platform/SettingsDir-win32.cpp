#include <windows.h>
// shlobj.h after windows.h
#include <shlobj.h>

#include <filesystem>
#include <system_error>

#include "platform/Environment.h"
#include "platform/Paths.h"
#include "platform/SettingsDir.h"
#include "runtime/WindowsText.h"

namespace vorlen {

namespace {

std::wstring ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  return SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))
             ? std::wstring(path)
             : std::wstring();
}

// dir (ending in a separator) is folder or lies below it, letter case aside.
bool IsWithin(const std::wstring& dir, std::wstring folder) {
  if (folder.empty()) return false;
  if (folder.back() != L'\\') folder += L'\\';
  return dir.size() >= folder.size() &&
         CompareStringOrdinal(dir.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                              static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL;
}

// Tried with a file of its own that is gone again when closed: the folder's attributes say
// nothing about what the user's access rights allow.
bool CanCreateFileIn(const std::wstring& dir) {
  const std::wstring probe = dir + L"~vorlen-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(GetTickCount64()) + L".tmp";
  HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// Program Files is the machine's even where the user could write to it (an elevated session, or
// Wine, which has no access rights): settings written there would be one user's for everybody.
bool InstalledPerMachine(const std::string& exeDir) {
  const std::wstring dir = WideFromUtf8(exeDir);
  return IsWithin(dir, ShellFolder(CSIDL_PROGRAM_FILES)) ||
         IsWithin(dir, ShellFolder(CSIDL_PROGRAM_FILESX86)) || !CanCreateFileIn(dir);
}

// %APPDATA% as the process sees it (roaming profiles and redirected folders set it), else the
// shell's answer.
std::string UserSettingsDir() {
  std::string appData = GetEnvironmentVariableIgnoreCase("APPDATA");
  if (appData.empty()) appData = Utf8FromWide(ShellFolder(CSIDL_APPDATA));
  if (!appData.empty() && !IsPathDelimiter(appData.back())) appData += '\\';
  std::string dir = appData + "Vorlen Sender\\";
  std::error_code ignored;  // a folder that cannot be made shows up as a failed write later
  std::filesystem::create_directories(FsPathFromUtf8(dir), ignored);
  return dir;
}

}  // namespace

std::string SettingsDir(const std::string& exeDir) { return SettingsPlaces(exeDir).WriteDir; }

// An installation for the current user keeps its folder writable, so the files stay beside the
// program, where operators look for them.
TSettingsPlaces SettingsPlaces(const std::string& exeDir) {
  if (!InstalledPerMachine(exeDir)) return {{exeDir}, exeDir, false};
  std::string user = UserSettingsDir();
  return {{exeDir, user}, user, true};
}

}  // namespace vorlen

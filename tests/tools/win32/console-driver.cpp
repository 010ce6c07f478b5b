// Runs a program in a console of its own, as an operator at a Bulgarian Windows console would:
//   console-driver CODEPAGE INPUT SCREEN PROGRAM [ARGUMENTS...]
// The console gets CODEPAGE as input and output code page, the UTF-8 text in the file INPUT is
// typed into its input queue (each line end an Enter), PROGRAM runs on the console, and every row
// the screen buffer showed meanwhile (read back every few milliseconds, so that a line redrawn in
// place is caught too) goes to the file SCREEN as UTF-8 lines, in the order first seen, then the
// final screen. Exits with PROGRAM's status.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "runtime/WindowsText.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "console-driver: %s failed (error %lu)\n", what, GetLastError());
  std::exit(3);
}

HANDLE OpenConsole(const wchar_t* name) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  const HANDLE handle =
      CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                  OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) Fail("opening the console");
  return handle;
}

void Type(HANDLE input, const std::wstring& text) {
  for (wchar_t c : text) {
    if (c == L'\r') continue;
    INPUT_RECORD keys[2]{};
    for (int down = 0; down < 2; ++down) {
      KEY_EVENT_RECORD& key = keys[down].Event.KeyEvent;
      keys[down].EventType = KEY_EVENT;
      key.bKeyDown = down == 0;
      key.wRepeatCount = 1;
      key.wVirtualKeyCode = c == L'\n' ? VK_RETURN : 0;
      key.uChar.UnicodeChar = c == L'\n' ? L'\r' : c;
    }
    DWORD written = 0;
    if (!WriteConsoleInputW(input, keys, 2, &written)) Fail("WriteConsoleInputW");
  }
}

std::vector<std::string> Screen(HANDLE output) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(output, &info)) Fail("GetConsoleScreenBufferInfo");
  std::vector<std::string> screen;
  std::wstring row(static_cast<size_t>(info.dwSize.X), L' ');
  for (SHORT y = 0; y <= info.dwCursorPosition.Y; ++y) {
    DWORD read = 0;
    if (!ReadConsoleOutputCharacterW(output, row.data(), static_cast<DWORD>(row.size()), {0, y},
                                     &read))
      Fail("ReadConsoleOutputCharacterW");
    const size_t end = row.find_last_not_of(L' ', read == 0 ? 0 : read - 1);
    screen.push_back(vorlen::Utf8FromWide(
        end == std::wstring::npos || read == 0 ? std::wstring() : row.substr(0, end + 1)));
  }
  return screen;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: console-driver CODEPAGE INPUT SCREEN PROGRAM [ARGUMENTS...]\n");
    return 2;
  }
  FreeConsole();
  if (!AllocConsole()) Fail("AllocConsole");
  const UINT codePage = static_cast<UINT>(_wtoi(argv[1]));
  if (!SetConsoleCP(codePage) || !SetConsoleOutputCP(codePage)) Fail("SetConsoleCP");
  const HANDLE input = OpenConsole(L"CONIN$");
  const HANDLE output = OpenConsole(L"CONOUT$");
  // Wide enough that no line of the program wraps.
  if (!SetConsoleScreenBufferSize(output, {200, 300})) Fail("SetConsoleScreenBufferSize");

  std::ifstream typed(std::filesystem::path(argv[2]), std::ios::binary);
  if (!typed) Fail("reading the input file");
  Type(input, vorlen::WideFromUtf8(std::string(std::istreambuf_iterator<char>(typed), {})));

  std::wstring command;
  for (int i = 4; i < argc; ++i)
    command += (i > 4 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
  STARTUPINFOW start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = input;
  start.hStdOutput = output;
  start.hStdError = output;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                      &process))
    Fail("CreateProcessW");
  std::vector<std::string> seen;
  std::set<std::string> known;
  const auto note = [&](const std::vector<std::string>& rows) {
    for (const std::string& row : rows)
      if (!row.empty() && known.insert(row).second) seen.push_back(row);
  };
  while (WaitForSingleObject(process.hProcess, 5) == WAIT_TIMEOUT) note(Screen(output));
  DWORD status = 3;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);

  std::ofstream screen(std::filesystem::path(argv[3]), std::ios::binary);
  for (const std::string& row : seen) screen << row << '\n';
  screen << "--- final screen\n";
  for (const std::string& row : Screen(output)) screen << row << '\n';
  return static_cast<int>(status);
}

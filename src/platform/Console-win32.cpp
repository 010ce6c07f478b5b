#include <windows.h>

#include <shellapi.h>

#include "platform/Console.h"
#include "runtime/WindowsText.h"

namespace vorlen {

std::vector<std::string> CommandLineArguments(int, char**) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return {};
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Utf8FromWide(wide[i]));
  LocalFree(wide);
  return args;
}

void WriteStdText(TStdStream stream, std::string_view utf8) {
  const HANDLE handle =
      GetStdHandle(stream == TStdStream::ssOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    // A console shows characters, whatever its code page: hand it UTF-16.
    const std::wstring wide = WideFromUtf8(utf8);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  while (!utf8.empty()) {
    DWORD written = 0;
    if (!WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) ||
        written == 0)
      return;
    utf8.remove_prefix(written);
  }
}

namespace {

// Some consoles take the virtual-terminal flag and still show the sequences as text (Wine's does).
// A reset of the text attributes, written to a screen buffer that is never shown, moves the cursor
// only where it is taken for text.
bool InterpretsEscapes() {
  const HANDLE probe = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                                 CONSOLE_TEXTMODE_BUFFER, nullptr);
  if (probe == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  DWORD written = 0;
  CONSOLE_SCREEN_BUFFER_INFO info{};
  const bool interprets = GetConsoleMode(probe, &mode) &&
                          SetConsoleMode(probe, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) &&
                          WriteConsoleW(probe, L"\x1b[0m", 4, &written, nullptr) &&
                          GetConsoleScreenBufferInfo(probe, &info) &&
                          info.dwCursorPosition.X == 0 && info.dwCursorPosition.Y == 0;
  CloseHandle(probe);
  return interprets;
}

}  // namespace

TLineRedraw StderrLineRedraw() {
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
    return TLineRedraw::lrNone;
  // Consoles before Windows 10 refuse the flag, Wine's takes it and prints the escapes.
  if (InterpretsEscapes() && SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING))
    return TLineRedraw::lrEscapes;
  return TLineRedraw::lrCarriageReturn;
}

namespace {

bool IsUtf8(std::string_view bytes) {
  return bytes.empty() || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                              static_cast<int>(bytes.size()), nullptr, 0) > 0;
}

// Redirected bytes that are not UTF-8 were written in the console's code page (a file typed or
// saved at a Bulgarian console is in code page 866).
std::string Utf8FromInputBytes(const std::string& bytes) {
  if (IsUtf8(bytes)) return bytes;
  UINT codePage = GetConsoleCP();
  if (codePage == 0) codePage = GetOEMCP();  // no console at all
  const int length =
      MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0)
    MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(),
                        length);
  return Utf8FromWide(wide);
}

bool ReadConsoleLine(HANDLE handle, std::string& line) {
  std::wstring wide;
  for (;;) {
    wchar_t c = 0;
    DWORD got = 0;
    if (!ReadConsoleW(handle, &c, 1, &got, nullptr) || got == 0) break;
    if (c == L'\n') {
      line = Utf8FromWide(wide);
      return true;
    }
    if (c == 0x1A && wide.empty()) return false;  // Ctrl-Z Enter: the console's end of input
    wide.push_back(c);
  }
  line = Utf8FromWide(wide);
  return !wide.empty();
}

bool ReadRedirectedLine(HANDLE handle, std::string& line) {
  // A byte at a time: what follows the line stays for whoever reads next.
  std::string bytes;
  bool more = false;
  for (;;) {
    char c = 0;
    DWORD got = 0;
    if (!ReadFile(handle, &c, 1, &got, nullptr) || got == 0) break;
    if (c == '\n') {
      more = true;
      break;
    }
    bytes.push_back(c);
  }
  // The byte-order mark is UTF-8 and stays for the caller to drop; a line ending in CR is the same
  // text either way.
  line = Utf8FromInputBytes(bytes);
  return more || !bytes.empty();
}

}  // namespace

bool ReadStdInputLine(std::string& line) {
  line.clear();
  const HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) return ReadConsoleLine(handle, line);
  return ReadRedirectedLine(handle, line);
}

}  // namespace vorlen

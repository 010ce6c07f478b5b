#include "runtime/WindowsText.h"

#include <windows.h>

#include <climits>

#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace vorlen {

namespace {
int CheckedLength(size_t size) {
  if (size > static_cast<size_t>(INT_MAX)) throw Exception("Text too long to convert");
  return static_cast<int>(size);
}
}  // namespace

std::wstring WideFromCodePage(unsigned codePage, std::string_view text) {
  if (text.empty()) return {};
  const int inLength = CheckedLength(text.size());
  const int length = MultiByteToWideChar(codePage, 0, text.data(), inLength, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), inLength, wide.data(), length);
  return wide;
}

std::string CodePageFromWide(unsigned codePage, std::wstring_view wide, const char* substitute) {
  if (wide.empty()) return {};
  const int inLength = CheckedLength(wide.size());
  // No "best fit" (ä as a): a character the code page lacks is the substitute. UTF-8 lacks none.
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int length =
      WideCharToMultiByte(codePage, flags, wide.data(), inLength, nullptr, 0, substitute, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(codePage, flags, wide.data(), inLength, text.data(), length, substitute,
                      nullptr);
  return text;
}

std::wstring WideFromUtf8(std::string_view utf8) { return WideFromCodePage(CP_UTF8, utf8); }

std::string Utf8FromWide(std::wstring_view wide) {
  return CodePageFromWide(CP_UTF8, wide, nullptr);
}

std::wstring WidePath(std::string_view utf8) {
  std::wstring path = WideFromUtf8(utf8);
  if (path.size() < MAX_PATH || path.rfind(L"\\\\?\\", 0) == 0) return path;
  const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (length == 0) return path;  // the call that takes it reports the fault
  std::wstring full(length, L'\0');
  full.resize(GetFullPathNameW(path.c_str(), length, full.data(), nullptr));
  // GetFullPathNameW has turned "/" into "\\", which the prefixed form needs.
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string LastErrorText() {
  const DWORD code = GetLastError();
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = length > 0 ? Utf8FromWide(std::wstring_view(text, length)) : "";
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  if (message.empty()) message = Format("System error %lu", static_cast<unsigned long>(code));
  return message;
}

}  // namespace vorlen

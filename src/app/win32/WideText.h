// A window's text as the wide calls give it; UTF-8 against UTF-16 is runtime/WindowsText.h.
#pragma once

#include <windows.h>

#include <string>

#include "runtime/WindowsText.h"

namespace vorlen::win32 {

// A window's text, however long.
inline std::wstring WindowText(HWND window) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

}  // namespace vorlen::win32

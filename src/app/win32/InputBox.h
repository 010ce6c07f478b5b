// A small modal dialog built in code: a prompt, one edit field, OK and Cancel.
#pragma once

#include <windows.h>

#include <string>

namespace vorlen::win32 {

constexpr int InputBoxMaxLength = 255;

// Shows the box owned by owner (may be null). value fills the field and, on OK, receives what
// was typed. False on Cancel or when the box is closed.
bool ShowInputBox(HWND owner, const std::wstring& caption, const std::wstring& prompt,
                  std::wstring& value, bool secret);

}  // namespace vorlen::win32

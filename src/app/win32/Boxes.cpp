#include "app/win32/Boxes.h"

#include <commdlg.h>

#include <vector>

#include "app/win32/InputBox.h"
#include "app/win32/WideText.h"
#include "runtime/Exception.h"

namespace vorlen::win32 {

namespace {

// Room for the longest path the wide calls take.
constexpr DWORD PathCapacity = 32768;

}  // namespace

HWND TBoxes::Owner() const {
  HWND owner = FOwner ? FOwner() : nullptr;
  return owner && IsWindowVisible(owner) ? owner : nullptr;
}

int TBoxes::Box(const std::string& text, UINT type) {
  return MessageBoxW(Owner(), WideFromUtf8(text).c_str(), FTitle.c_str(), type);
}

bool TBoxes::Confirm(const std::string& text) {
  return Box(text, MB_YESNO | MB_ICONQUESTION) == IDYES;
}
bool TBoxes::ConfirmCertificate(const std::string& text, bool defaultNo) {
  return Box(text, MB_YESNO | MB_ICONWARNING | (defaultNo ? MB_DEFBUTTON2 : MB_DEFBUTTON1)) ==
         IDYES;
}
void TBoxes::Inform(const std::string& text) { Box(text, MB_OK); }
void TBoxes::ShowError(const std::string& text) { Box(text, MB_OK | MB_ICONSTOP); }

bool TBoxes::InputQuery(const std::string& caption, const std::string& prompt, std::string& value,
                        bool secret) {
  std::wstring text = WideFromUtf8(value);
  if (!ShowInputBox(Owner(), WideFromUtf8(caption), WideFromUtf8(prompt), text, secret)) {
    return false;
  }
  value = Utf8FromWide(text);
  return true;
}

bool TBoxes::OpenFile(std::string& path) {
  std::vector<wchar_t> name(PathCapacity, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = Owner();
  dialog.lpstrFile = name.data();
  dialog.nMaxFile = PathCapacity;
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_FILEMUSTEXIST |
                 OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&dialog)) {
    // Cancel leaves no error; anything else (a bad buffer, say) is the dialog's own failure.
    if (const DWORD error = CommDlgExtendedError()) {
      throw Exception("The open-file dialog failed (error " + std::to_string(error) + ")");
    }
    return false;
  }
  path = Utf8FromWide(name.data());
  return true;
}

}  // namespace vorlen::win32

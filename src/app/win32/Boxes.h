// The operator's modal boxes on the Win32 API: message boxes titled with the application's name,
// the settings input box and the open-file dialog.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace vorlen::win32 {

class TBoxes {
 public:
  // owner: the window the boxes belong to while it is visible (none before it is shown).
  TBoxes(std::function<HWND()> owner, std::wstring title)
      : FOwner(std::move(owner)), FTitle(std::move(title)) {}

  bool Confirm(const std::string& text);    // Yes / No
  // Yes / No with a warning icon; defaultNo makes No the default button.
  bool ConfirmCertificate(const std::string& text, bool defaultNo);
  void Inform(const std::string& text);     // OK
  void ShowError(const std::string& text);  // stop icon, OK
  // The input box: caption, prompt, and an edit field of at most 255 characters that starts
  // with value; secret hides what is typed. False when cancelled or closed; value is then kept.
  bool InputQuery(const std::string& caption, const std::string& prompt, std::string& value,
                  bool secret = false);
  // One existing file, no filter, no title of its own. False when cancelled.
  bool OpenFile(std::string& path);

 private:
  int Box(const std::string& text, UINT type);
  HWND Owner() const;

  std::function<HWND()> FOwner;
  std::wstring FTitle;
};

}  // namespace vorlen::win32

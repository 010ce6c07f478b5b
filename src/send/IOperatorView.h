// What the operator sees and answers: the one narrow door between the workflow and a screen.
// The Qt window implements it; the command-line sender and the tests implement it too.
#pragma once

#include <string>

namespace vorlen {

class IOperatorView {
 public:
  virtual ~IOperatorView() = default;

  virtual void SetCaption(const std::string& caption) = 0;
  virtual std::string Caption() const = 0;
  virtual void SetProgress(int position) = 0;  // 0..100
  virtual int Progress() const = 0;
  virtual bool Checked() const = 0;  // the "do not archive" box
  virtual void SetChecked(bool checked) = 0;
  virtual void SetSendEnabled(bool enabled) = 0;
  // Pumps pending window messages once (close requests may run here).
  virtual void ProcessMessages() = 0;

  // Modal boxes, captioned with the application title.
  virtual bool Confirm(const std::string& text) = 0;    // Yes / No
  virtual void Inform(const std::string& text) = 0;     // OK
  virtual void ShowError(const std::string& text) = 0;  // stop icon, OK
  // Text input box; false when cancelled. value holds the current text and receives the new.
  virtual bool InputQuery(const std::string& caption, const std::string& prompt,
                          std::string& value) = 0;
  // The open-file dialog; false when cancelled.
  virtual bool OpenFile(std::string& path) = 0;
  // Whether to trust a server certificate that cannot be verified: one Yes / No box with a
  // warning icon; defaultNo makes No the default button. A view that cannot ask trusts nothing.
  virtual bool ConfirmCertificate(const std::string& text, bool defaultNo) {
    (void)text;
    (void)defaultNo;
    return false;
  }
};

}  // namespace vorlen

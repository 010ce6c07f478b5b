// The application's last line of defence: an exception that nobody caught is shown to the
// operator in an error box and the program keeps running; the silent abort is shown by nobody.
#pragma once

#include <exception>
#include <optional>
#include <string>

#include "send/IOperatorView.h"

namespace vorlen {

// The text of the error box for error, made safe to show, with a full stop appended when it
// lacks one; nothing for EAbort.
std::optional<std::string> ErrorBoxText(std::exception_ptr error);

// Shows error through view.ShowError (unless it is the silent abort). Never throws.
void ShowException(IOperatorView& view, std::exception_ptr error) noexcept;

// Runs action; whatever escapes it is shown through ShowException. True when it ran to its end.
template <typename F>
bool RunGuarded(IOperatorView& view, F&& action) noexcept {
  try {
    action();
    return true;
  } catch (...) {
    ShowException(view, std::current_exception());
    return false;
  }
}

}  // namespace vorlen

#include "app/ErrorHandler.h"

#include "runtime/Exception.h"
#include "upload/ShownText.h"

namespace vorlen {

std::optional<std::string> ErrorBoxText(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return std::nullopt;
  } catch (...) {}
  // Transport and fault texts carry what the peer sent.
  std::string text = ShownErrorText(error);
  if (text.empty() || text.back() != '.') text += '.';
  return text;
}

void ShowException(IOperatorView& view, std::exception_ptr error) noexcept {
  try {
    if (std::optional<std::string> text = ErrorBoxText(error)) view.ShowError(*text);
  } catch (...) {
    // The box itself failed (out of memory, say); there is nobody left to tell.
  }
}

}  // namespace vorlen

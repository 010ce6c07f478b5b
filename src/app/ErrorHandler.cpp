#include "app/ErrorHandler.h"

#include "runtime/Exception.h"

namespace vorlen {

std::optional<std::string> ErrorBoxText(std::exception_ptr error) {
  std::string text;
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return std::nullopt;
  } catch (const std::exception& e) {
    text = e.what();
  } catch (...) {
    text = "Unknown exception";
  }
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

#include "app/ErrorHandler.h"

#include "runtime/Exception.h"
#include "soap/SOAPExceptions.h"
#include "transport/SOAPHTTPException.h"
#include "send/OperatorTexts.h"
#include "send/ShownText.h"

namespace vorlen {

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// What a failed service call means to the operator; nothing for other errors, whose own text
// says it already.
const char* LeadSentence(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const ESOAPHTTPException& e) {
    const int status = e.HTTPStatus;
    if (status == 404 || status == 405 || status == 410) return NotFoundLead;
    if (status != 0) return ServiceErrorLead;
    if (StartsWith(e.Message(), "Received content of invalid Content-Type")) return ForeignAnswerLead;
    if (StartsWith(e.Message(), "Invalid url")) return BadAddressLead;
    return UnreachableLead;
  } catch (const ERemotableException&) {
    return ServiceErrorLead;
  } catch (const ESOAPDomConvertError&) {
    return ForeignAnswerLead;
  } catch (const EDOMParseError&) {
    return ForeignAnswerLead;
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

std::optional<std::string> ErrorBoxText(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return std::nullopt;
  } catch (...) {}
  // Transport and fault texts carry what the peer sent.
  std::string text = ShownErrorText(error);
  if (text.empty() || text.back() != '.') text += '.';
  if (const char* lead = LeadSentence(error)) return std::string(lead) + "\n" + text;
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

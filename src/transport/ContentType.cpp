#include "transport/ContentType.h"

#include <cctype>

namespace vorlen {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string BoundaryFromContentType(const std::string& contentType) {
  static const std::string kMultipart = "multipart/related";
  static const std::string kParam = "boundary=";
  if (Lower(contentType).compare(0, kMultipart.size(), kMultipart) != 0) return std::string();
  const size_t at = contentType.find(kParam);
  if (at == std::string::npos) return std::string();
  std::string value = contentType.substr(at + kParam.size());
  const size_t semicolon = value.find(';', 1);
  if (semicolon != std::string::npos) value.resize(semicolon);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    // A quoted string: strip the quotes, a doubled quote inside stands for one.
    std::string unquoted;
    for (size_t i = 1; i + 1 < value.size(); ++i) {
      unquoted += value[i];
      if (value[i] == '"' && i + 2 < value.size() && value[i + 1] == '"') ++i;
    }
    return unquoted;
  }
  return value;
}

bool IsNonSoapContentType(const std::string& contentType) {
  const std::string lower = Lower(contentType);
  return lower == "text/plain" || lower == "text/html";
}

}  // namespace vorlen

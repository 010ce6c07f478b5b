// Reading the Content-Type of a response.
#pragma once

#include <string>

namespace vorlen {

// The boundary parameter of a multipart/related content type (the parameter name is matched
// in lower case only), unquoted; empty for any other type.
std::string BoundaryFromContentType(const std::string& contentType);

// True for "text/plain" and "text/html" as the whole value, ignoring case: bodies that cannot
// be SOAP (typically an error page).
bool IsNonSoapContentType(const std::string& contentType);

}  // namespace vorlen

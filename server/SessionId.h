// Session identifiers: 128 random bits as 32 lower-case hexadecimal digits. They name the
// session's folder, so nothing but this exact form is ever accepted back.
#pragma once

#include <string>
#include <string_view>

namespace vorlen {

std::string NewSessionId();
bool IsSessionId(std::string_view text);

}  // namespace vorlen

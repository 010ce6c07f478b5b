// printf-style formatting into a std::string (the message formats of the system use %s and %d).
#pragma once

#include <string>

namespace vorlen {

#if defined(__GNUC__)
#define VORLEN_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define VORLEN_PRINTF(f, a)
#endif

std::string Format(const char* format, ...) VORLEN_PRINTF(1, 2);

}  // namespace vorlen

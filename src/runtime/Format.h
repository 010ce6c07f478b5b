// printf-style formatting into a std::string (the message formats of the system use %s and %d).
#pragma once

#include <string>

namespace vorlen {

// MinGW's C++ runtime formats with its own C99 printf (%zu, %lld), which GCC checks as gnu_printf.
#if defined(__MINGW32__)
#define VORLEN_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#elif defined(__GNUC__)
#define VORLEN_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define VORLEN_PRINTF(f, a)
#endif

std::string Format(const char* format, ...) VORLEN_PRINTF(1, 2);

}  // namespace vorlen

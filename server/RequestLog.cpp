#include "server/RequestLog.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <iostream>

#include <unicode/utf8.h>

#include "runtime/Format.h"
#include "server/InvisibleCharacter.h"

namespace vorlen {

TRequestLog::TRequestLog(std::function<void(const std::string&)> sink) : FSink(std::move(sink)) {}

std::string TRequestLog::Field(const std::string& text, size_t maxLength) {
  if (text.empty()) return "-";
  std::string field;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
  int32_t at = 0;
  while (at < length && field.size() < maxLength) {
    const int32_t start = at;
    UChar32 c;
    U8_NEXT(bytes, at, length, c);
    if (c < 0) {
      // Not UTF-8: each byte of the broken sequence as its value.
      for (int32_t i = start; i < at; ++i) field += Format("\\x%02X", bytes[i]);
    } else if (c == '\\') {
      field += "\\\\";  // so that an escape in the input cannot pass for one of ours
    } else if (IsInvisibleCharacter(static_cast<char32_t>(c))) {
      field += c <= 0xFF ? Format("\\x%02X", static_cast<unsigned>(c))
                         : Format("\\u%04X", static_cast<unsigned>(c));
    } else {
      field.append(text, static_cast<size_t>(start), static_cast<size_t>(at - start));
    }
  }
  if (at < length) field += "...";
  return field;
}

void TRequestLog::Write(const std::string& peer, const std::string& session,
                        const std::string& operation, const std::string& outcome) {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  const std::string line = std::string(stamp) + " " + Field(peer, 64) + " " + Field(session, 64) +
                           " " + Field(operation, 64) + " " + Field(outcome);
  std::lock_guard<std::mutex> guard(FLock);
  if (FSink) {
    FSink(line);
  } else {
    std::cerr << line << '\n' << std::flush;
  }
}

}  // namespace vorlen

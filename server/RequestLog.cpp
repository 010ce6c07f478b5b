#include "server/RequestLog.h"

#include <chrono>
#include <ctime>
#include <iostream>

namespace vorlen {

TRequestLog::TRequestLog(std::function<void(const std::string&)> sink) : FSink(std::move(sink)) {}

std::string TRequestLog::Field(const std::string& text, size_t maxLength) {
  if (text.empty()) return "-";
  std::string field = text.substr(0, maxLength);
  for (char& c : field) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = '?';
  }
  if (text.size() > maxLength) field += "...";
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

#include "mime/ContentId.h"

#include <cstdint>
#include <mutex>
#include <random>

namespace vorlen {

namespace {

std::mutex& SourceLock() {
  static std::mutex lock;
  return lock;
}

std::function<std::string()>& Source() {
  static std::function<std::string()> source;
  return source;
}

// One generator a thread, seeded from the system's entropy source: a draw from that source
// costs about a microsecond, and ids are labels that only need to be unlikely to repeat.
std::mt19937_64& Generator() {
  thread_local std::mt19937_64 generator = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(),
                       device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  return generator;
}

std::string RandomGuid() {
  std::mt19937_64& generator = Generator();
  const uint64_t words[2] = {generator(), generator()};
  uint8_t bytes[16];
  for (size_t i = 0; i < sizeof bytes; ++i)
    bytes[i] = static_cast<uint8_t>(words[i / 8] >> (8 * (i % 8)));
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char text[36];
  size_t out = 0;
  for (size_t i = 0; i < sizeof bytes; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text[out++] = '-';
    text[out++] = kDigits[bytes[i] >> 4];
    text[out++] = kDigits[bytes[i] & 0x0F];
  }
  return std::string(text, sizeof text);
}

}  // namespace

std::string NewContentId() {
  std::function<std::string()> source;
  {
    std::lock_guard<std::mutex> guard(SourceLock());
    source = Source();
  }
  return source ? source() : RandomGuid();
}

void SetContentIdSource(std::function<std::string()> source) {
  std::lock_guard<std::mutex> guard(SourceLock());
  Source() = std::move(source);
}

}  // namespace vorlen

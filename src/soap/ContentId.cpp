#include "soap/ContentId.h"

#include <cstdint>
#include <mutex>
#include <random>

#include "runtime/Format.h"

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

std::string RandomGuid() {
  static std::mutex lock;
  static std::random_device device;
  uint8_t bytes[16];
  {
    std::lock_guard<std::mutex> guard(lock);
    for (size_t i = 0; i < sizeof bytes; i += 4) {
      const uint32_t word = device();
      for (size_t k = 0; k < 4; ++k) bytes[i + k] = static_cast<uint8_t>(word >> (8 * k));
    }
  }
  bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  std::string text;
  for (size_t i = 0; i < sizeof bytes; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += Format("%02X", bytes[i]);
  }
  return text;
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

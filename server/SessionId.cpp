#include "server/SessionId.h"

#include <cstdint>
#include <mutex>
#include <random>

namespace vorlen {

std::string NewSessionId() {
  // random_device reads the system's entropy source; it is not promised to be thread-safe.
  static std::mutex lock;
  static std::random_device device;
  static const char kHex[] = "0123456789abcdef";
  std::string id;
  id.reserve(32);
  std::lock_guard<std::mutex> guard(lock);
  for (int word = 0; word < 4; ++word) {
    const uint32_t bits = device();
    for (int shift = 28; shift >= 0; shift -= 4) id += kHex[(bits >> shift) & 0xF];
  }
  return id;
}

bool IsSessionId(std::string_view text) {
  if (text.size() != 32) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

}  // namespace vorlen

#include "support/Pattern.h"

#include <random>

namespace vorlen::test {

std::string Pattern(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

std::string RandomBytes(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::vector<uint8_t> RandomByteVector(size_t size, uint32_t seed) {
  const std::string bytes = RandomBytes(size, seed);
  return {bytes.begin(), bytes.end()};
}

}  // namespace vorlen::test

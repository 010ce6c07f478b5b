// Test bytes: a pattern that differs from position to position and from seed to seed, so that a
// misplaced, repeated or lost piece shows; and incompressible random bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vorlen::test {

std::string Pattern(size_t size, uint32_t seed = 1);
// Bytes from std::mt19937 with seed, the same on every platform.
std::string RandomBytes(size_t size, uint32_t seed);
// The same bytes, for code that reads uint8_t.
std::vector<uint8_t> RandomByteVector(size_t size, uint32_t seed);

}  // namespace vorlen::test

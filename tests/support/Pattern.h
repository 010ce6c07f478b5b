// Test bytes that differ from position to position and from seed to seed, so that a misplaced,
// repeated or lost piece shows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vorlen::test {

std::string Pattern(size_t size, uint32_t seed = 1);

}  // namespace vorlen::test

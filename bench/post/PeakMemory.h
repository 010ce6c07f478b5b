// The process's peak resident memory so far, in bytes.
#pragma once

#include <cstdint>

int64_t PeakMemoryBytes();

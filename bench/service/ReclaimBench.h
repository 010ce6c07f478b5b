// The reclaim phase of bench_service_faults: a session store holding many sessions in memory,
// and how long a request waits for the store's lock while the looks for idle sessions walk them
// all, and while they remove every one of them.
#pragma once

#include <filesystem>

namespace vorlen::bench {

// Runs in dir (created and removed by the caller); returns 0 when every figure was taken.
int RunReclaimBench(const std::filesystem::path& dir, int sessions);

}  // namespace vorlen::bench

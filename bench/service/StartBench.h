// The start phase of bench_service_faults: a root left with many session folders (delivered
// ones, idle ones with nothing delivered, recent ones), and how long the service takes to listen,
// to hand out a session, and to have looked at every folder; its peak memory meanwhile.
#pragma once

#include <filesystem>

namespace vorlen::bench {

// Runs in dir (created and removed by the caller); returns 0 when every figure was taken.
int RunStartBench(const std::filesystem::path& dir, int folders);

}  // namespace vorlen::bench

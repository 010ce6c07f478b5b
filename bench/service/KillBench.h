// The kill phase of bench_service_faults: packed sends through the proxy while the service is
// killed (SIGKILL) 20 times during merges and unpacks and started again; the clients repeat
// their unanswered calls, as a sender does after an error. Prints what was acknowledged and
// whether any acknowledged file was lost or torn.
#pragma once

#include <filesystem>

namespace vorlen::bench {

// Runs in dir (created and removed by the caller); returns the acknowledged files lost or torn.
int RunKillBench(const std::filesystem::path& dir, int kills);

}  // namespace vorlen::bench

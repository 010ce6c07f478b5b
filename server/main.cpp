// vorlen-service: the reference Vorlen upload service.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "runtime/Format.h"
#include "server/DescriptorLimit.h"
#include "server/HttpService.h"

namespace {

// Set by the handler and read by the watcher thread: a lock-free atomic, which (unlike a volatile
// flag) is safe across threads and still safe in a signal handler.
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnStopSignal(int) { gStopSignal = 1; }

}  // namespace

int main(int argc, char** argv) {
  using namespace vorlen;
  TServiceOptions options;
  try {
    options = ParseServiceOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const EServiceUsage& e) {
    std::cerr << "vorlen-service: " << e.Message() << "\n\n" << ServiceUsage();
    return 2;
  }
  if (options.Help) {
    std::cout << ServiceUsage();
    return 0;
  }

  const int64_t needed = DescriptorsNeeded(options);
  const int64_t allowed = RaiseDescriptorLimit(needed);
  if (allowed < needed) {
    std::cerr << "vorlen-service: needs " << needed << " open files for --max-connections "
              << options.MaxConnections << " and --threads " << options.Threads
              << ", but may open only " << allowed
              << "; raise LimitNOFILE (systemd) or ulimit -n, or lower --max-connections\n";
  }

  try {
    THttpService service(options);
    // For tests that stop the service at a named step of a merge or an unpacking: killed there,
    // or held there (said on standard output) until the stop time-out ends it.
    const auto named = [](const char* variable) {
      const char* value = std::getenv(variable);
      return std::string(value == nullptr ? "" : value);
    };
    const std::string killAt = named("VORLEN_SERVICE_KILL_AT");
    const std::string holdAt = named("VORLEN_SERVICE_HOLD_AT");
    if (!killAt.empty() || !holdAt.empty()) {
      service.Server().OnPoint = [killAt, holdAt](const char* name) {
        if (killAt == name) std::raise(SIGKILL);
        if (holdAt != name) return;
        std::cout << "held at " << name << std::endl;
        for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
      };
    }
    service.Bind();
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);

    // Signal handlers may only set a flag; this thread turns it into a stop.
    std::atomic<bool> finished{false};
    std::thread watcher([&] {
      while (!finished && !gStopSignal) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      service.Stop();
    });
    std::cout << "listening on " << service.Url() << std::endl;
    // The folders of earlier runs are looked at while requests are served already.
    service.Server().WhenScanned([] { std::cout << "earlier sessions taken up" << std::endl; });
    service.Run();
    // Requests still being handled get the stop time-out; after it the process ends without
    // them, and says so in its exit status. Delivered files are written under temporary names
    // and renamed whole, and an interrupted unpacking is finished at the next start, so nothing
    // acknowledged is torn or lost.
    if (!service.WaitStopped(std::chrono::seconds(options.StopSeconds))) {
      std::cerr << "vorlen-service: stopped with requests unfinished after " << options.StopSeconds
                << " s\n";
      std::cerr.flush();
      std::_Exit(1);
    }
    finished = true;
    watcher.join();
    std::cerr << "vorlen-service: stopped\n";
  } catch (const std::exception& e) {
    std::cerr << "vorlen-service: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

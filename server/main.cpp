// vorlen-service: the reference Vorlen upload service.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <thread>

#include "runtime/Format.h"
#include "server/HttpService.h"

namespace {

volatile std::sig_atomic_t gStopSignal = 0;

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

  try {
    THttpService service(options);
    service.Bind();
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);

    // Signal handlers may only set a flag; this thread turns it into a stop. Stop() is repeated
    // because a signal that comes before Run() is listening would otherwise be lost.
    std::atomic<bool> finished{false};
    std::thread watcher([&] {
      while (!finished) {
        if (gStopSignal) service.Stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    });
    std::cout << "listening on " << service.Url() << std::endl;
    service.Run();
    finished = true;
    watcher.join();
    std::cerr << "vorlen-service: stopped\n";
  } catch (const std::exception& e) {
    std::cerr << "vorlen-service: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

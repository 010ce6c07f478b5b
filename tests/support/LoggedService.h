// The reference service, started on a free loopback port for one test, with its request log
// kept for the test to read while the service's workers still write to it. Header only: the
// suites that use it link the service; the rest of this folder does not.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "server/HttpService.h"

namespace vorlen::test {

class TLoggedService {
 public:
  // options.Port is ignored: a test's service always takes a free port.
  explicit TLoggedService(TServiceOptions options)
      : Service(Ephemeral(std::move(options)), [this](const std::string& line) {
          const std::lock_guard<std::mutex> guard(FLock);
          FLines.push_back(line);
        }) {
    Service.Start();
  }

  std::vector<std::string> Lines() const {
    const std::lock_guard<std::mutex> guard(FLock);
    return FLines;
  }
  // The lines, each ended by a line break.
  std::string Log() const {
    std::string all;
    for (const std::string& line : Lines()) all += line + "\n";
    return all;
  }

 private:
  static TServiceOptions Ephemeral(TServiceOptions options) {
    options.Port = 0;
    return options;
  }

  mutable std::mutex FLock;
  std::vector<std::string> FLines;

 public:
  // Declared last: it stops, and so stops writing the log, before the log goes.
  THttpService Service;
};

}  // namespace vorlen::test

// Parts of one upload on their way at once: a worker thread a part, each worker with a service
// reference (and so a connection) of its own, each part with its automatic attempts.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/Stream.h"
#include "soap/SenderService.h"

namespace vorlen {

class TPartsInFlight {
 public:
  struct TPart {
    int32_t Index = 0;
    std::string Name;
    std::string Hash;
    TMemoryStream Bytes;
    bool Accepted = false;  // set by the worker once the attempts are over
  };

  // One worker for every service reference; session goes with every part.
  TPartsInFlight(std::vector<ISenderServicePtr> services, std::string session);
  TPartsInFlight(const TPartsInFlight&) = delete;
  TPartsInFlight& operator=(const TPartsInFlight&) = delete;
  ~TPartsInFlight();  // the parts in flight finish their attempts first

  int Workers() const { return static_cast<int>(FThreads.size()); }
  // Started and not collected yet.
  int InFlight() const { return FInFlight; }
  // Hands a part to a free worker; only while InFlight() < Workers().
  void Start(std::unique_ptr<TPart> part);
  // Waits for a started part to finish its attempts and hands it back; only while InFlight().
  std::unique_ptr<TPart> Collect();
  // Waits until no worker is sending; finished parts stay to be collected. Safe while Collect
  // is not waiting (it is called from inside the progress updates).
  void Drain();

 private:
  void Work(ISenderServicePtr service);

  const std::string FSession;
  std::mutex FLock;
  std::condition_variable FChanged;
  // Guarded by FLock.
  std::deque<std::unique_ptr<TPart>> FWaiting;
  std::deque<std::unique_ptr<TPart>> FDone;
  int FSending = 0;  // waiting or being sent
  bool FStopping = false;
  // The calling thread's own count.
  int FInFlight = 0;
  std::vector<std::thread> FThreads;
};

}  // namespace vorlen
